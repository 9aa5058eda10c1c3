#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <array>
#include <cstdint>
#include <functional>
#include <mutex>
#include <vector>

#include "devices/alarm_state.h"
#include "devices/device_state.h"
#include "devices/sensel_alarms.h"
#include "devices/status_change.h"
#include "devices/status_frame.h"
#include "devices/status_publication.h"
#include "devices/status_publisher.h"
#include "log/runtime.h"

namespace velmar {

class DeviceRegistry;

// The status frames of room controllers, the external controller and the heating controller:
// parse, accept, apply, publish. A frame is parsed into a value; accepted when its copy follows
// (or when the Linkel has checked it): the status cache files and the panel record; applied to
// the sender's state record, which gives the change set; then the publishers consume the
// change: value files and flags, the expanders' alarms and SMS, the status text, views and
// sounds, and after them every listener (the panel server, the heating controller). Runs on the
// main thread; only the panel record is read from elsewhere, through `panelSnapshot`.
class StatusDecoder {
  public:
    static constexpr int kPanelCacheSize = StatusFrame::kBytes;
    using Listener = std::function<void(const StatusChange&)>;

    StatusDecoder(Runtime& rt, DeviceRegistry& registry, StatusFiles& files, AlarmState& alarms);

    // `set_ql`: the status frame found in a received block (the first message whose command
    // byte is "s"; text messages before it are skipped). Never throws.
    void set_ql(const QByteArray& block);
    // Decodes the status frame that starts at `start` in `block`. `dontCheckBuffer`: the frame
    // comes from the Linkel link, which has checked it and keeps the panel record itself.
    void decodeAt(const QByteArray& block, int start, bool dontCheckBuffer = false);
    // A query-mode record from the Linkel (byte 0 its length): it becomes the panel record as
    // it is, then it is decoded.
    void set_ql_record(const QByteArray& record);
    // The panel status cache `TCPQuery` as last accepted (thread-safe copy).
    std::array<std::uint8_t, kPanelCacheSize> panelSnapshot() const;
    // Called after every accepted frame, in the order added; a sender without a device file
    // comes with a null state.
    void addListener(Listener listener) { listeners_.push_back(std::move(listener)); }

    // External controller state, and the view names (`widoki`, at most 20; the first empty one
    // ends the list).
    OutrelState outrel;
    QStringList views;
    SenselAlarms sensel;

  private:
    void write_status_logs(const std::array<std::uint8_t, kPanelCacheSize>& cache);
    void accept(const StatusFrame& f);

    Runtime& rt_;
    DeviceRegistry& registry_;
    StatusFiles& files_;
    StatusPublication publication_;
    StatusViews views_;
    std::vector<Listener> listeners_;
    mutable std::mutex cacheMutex_;
    std::array<std::uint8_t, kPanelCacheSize> TCPQuery_{};
};

}  // namespace velmar
