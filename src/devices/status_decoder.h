#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <array>
#include <cstdint>
#include <functional>
#include <mutex>

#include "app/config_files.h"
#include "base/clock.h"
#include "base/data_root.h"
#include "bus/frame_writer.h"
#include "bus/message_decoder.h"
#include "devices/device_state.h"
#include "devices/heating_link.h"
#include "devices/sensel_alarms.h"
#include "devices/status_publisher.h"
#include "events/query_timer.h"

namespace velmar {

class DeviceRegistry;
class EventLog;
class LogFiles;

// Everything the status decoder reads or changes besides the frame.
struct StatusDecoderContext {
    const DataRoot& root;
    EventLog& log;
    LogFiles& logFiles;
    const Clock& clock;
    DeviceRegistry& registry;
    FrameWriter& writer;
    QueryTimer& AutoQuery;
    const TimingSettings& timing;
    const Settings& settings;
    const BusFlags& flags;
    const std::int32_t& TCP_INDEX_INC;
    // The program runs as the Linkel's companion: frames come pre-checked, nothing is sent to
    // the heating controller.
    const bool& linkel_companion;
    const QString& audioext;
    // Shared with the message decoder (zone-change SMS texts).
    bool& wasalarm;
    int& alarmextender;
    // Sends a text command and pauses the query cycle (`Commands::run_command`); used for the
    // movement notifications of the input expanders.
    std::function<void(std::uint8_t, std::uint8_t, const QByteArray&)> run_command;
};

// Decodes the status frames of room controllers, the external controller and the heating
// controller into the device state records and publishes them: the status cache, status texts,
// flag files, analogue value files, the heating files, expander alarms and SMS requests, and the
// readings forwarded to the heating controller. Runs on the thread that decodes received blocks
// (the main thread); only the panel cache is read from elsewhere, through `panelSnapshot`.
class StatusDecoder {
  public:
    static constexpr int kPanelCacheSize = 301;
    static constexpr std::int32_t kThermelAdrh = 1, kThermelAdrl = 1;

    explicit StatusDecoder(StatusDecoderContext ctx);

    // `set_ql`: the status frame found in a received block (the first message whose command
    // byte is "s"; text messages before it are skipped). Never throws.
    void set_ql(const QByteArray& block);
    // Decodes the status frame that starts at `start` in `block`. `dontCheckBuffer`: the frame
    // comes from the Linkel link, which has checked it and keeps the panel cache itself.
    void decodeAt(const QByteArray& block, int start, bool dontCheckBuffer = false);
    // Offset of the status frame in a block, -1 when there is none.
    static int findStatusFrame(const QByteArray& block, int tcpIndexInc);

    // `createsms` (also for the message decoder's zone-change texts).
    void createsms(const QString& number, const QString& text);

    // A query-mode record from the Linkel (byte 0 its length): it becomes the panel status
    // cache as it is, then it is decoded.
    void set_ql_record(const QByteArray& record);
    // The panel status cache `TCPQuery` as last accepted (thread-safe copy).
    std::array<std::uint8_t, kPanelCacheSize> panelSnapshot() const;
    // Called after every accepted frame (panel clients get a pending status).
    std::function<void()> onStatus;

    // Heating labels, channel names and forwarding table (loaded at start-up by the owner).
    HeatingTables heating;
    ThermelState thermel;
    OutrelState outrel;
    // View names (`widoki`, at most 20; the first empty one ends the list).
    QStringList views;

  private:
    struct Frame;
    // Returns the cache length code (52, 122, 72) when the frame repeats, 0 otherwise.
    int repetition(const Frame& f) const;
    void buildCache(const Frame& f, int code,
                    std::array<std::uint8_t, kPanelCacheSize>& cache) const;
    void write_status_logs(const std::array<std::uint8_t, kPanelCacheSize>& cache);
    void decodeDevice(const Frame& f, an& d);
    void encode_status(const QString& view, const an& d);
    void decodeThermel(const Frame& f, an& d);
    void sendTemperatures();
    void retimeAfterReception();
    void writeThermelFiles(const an& d);
    void publishChannel(const an& d, int k, bool thermelFormat);
    QString statusChannelLine(const Frame& f, const an& d, int k) const;

    StatusDecoderContext ctx_;
    StatusFiles files_;
    SenselAlarms sensel_;
    mutable std::mutex cacheMutex_;
    std::array<std::uint8_t, kPanelCacheSize> TCPQuery_{};
    // State of each view element last put in place, by view + "\" + element.
    QHash<QString, bool> shown_;
};

// Routes the decoder's status frames to a StatusDecoder; the other kinds keep their defaults.
class StatusFrameHandlers : public ReceivedMessageHandlers {
  public:
    explicit StatusFrameHandlers(StatusDecoder& decoder) : decoder_(decoder) {}
    void set_ql(const QByteArray& block) override { decoder_.set_ql(block); }
    void createsms(const QString& recipient, const QString& text) override {
        decoder_.createsms(recipient, text);
    }

  private:
    StatusDecoder& decoder_;
};

}  // namespace velmar
