#pragma once

#include <QString>
#include <QTimer>
#include <cstdint>
#include <functional>

#include "app/config_files.h"
#include "base/clock.h"
#include "base/data_root.h"
#include "bus/frame_writer.h"
#include "bus/message_decoder.h"
#include "bus/receive_path.h"
#include "devices/registry.h"
#include "events/cycle_state.h"
#include "events/event_names.h"
#include "log/event_log.h"
#include "log/log_files.h"

namespace velmar::test {

// A device file as the configuration window writes it: name, type, address and the default
// display names of the channels, outputs and inputs; `external` marks the external controller.
QByteArray deviceFile(const QString& name, int h, int l, const QString& type = "Quartel",
                      bool external = false);

// The whole receive side (writers, registry, decoder, receive path) over a data root, with
// every setting as a plain member a test, benchmark or fuzz target can change.
struct ReceiveRig {
    using RunCommand = std::function<void(std::uint8_t, std::uint8_t, const QByteArray&)>;

    ReceiveRig(const QString& rootDir, const Clock& clock, SerialOutput& serial,
               ReceivedMessageHandlers& handlers, ProgrammingEvents& programming,
               RunCommand runCommand = {});

    // Writes a device file "devices aliases\<h>-<l>.dev" (name, type, address).
    void addDevice(int h, int l, const QString& name, const QString& type = "Quartel");

    DataRoot root;
    EventLog log;
    LogFiles logFiles;
    BusFlags flags;
    FrameWriter writer;
    EventNames names;
    DeviceRegistry registry;
    QueryCycleState cycle;
    QTimer AutoQueryTimer;
    QueryTimer AutoQuery{AutoQueryTimer};
    TimingSettings timing;
    Settings settings;
    QString audioext = QStringLiteral(".mp3");
    bool admins = false;
    std::int32_t tcpIndexInc = 0;
    bool debug = false;
    bool wasalarm = false;
    int alarmextender = 0;
    bool notstart = true;
    MessageDecoder decoder;
    ReceivePath receive;
};

}  // namespace velmar::test
