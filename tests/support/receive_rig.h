#pragma once

#include <QString>
#include <QTimer>
#include <cstdint>

#include "support/test_modules.h"

namespace velmar::test {

// A device file as the configuration window writes it: name, type, address and the default
// display names of the channels, outputs and inputs; `external` marks the external controller.
QByteArray deviceFile(const QString& name, int h, int l, const QString& type = "Quartel",
                      bool external = false);

// The program's modules over a data root (see TestModules), with the parts the receive side's
// tests, benchmarks and fuzz targets change under short names. Restart notices count (the
// start-up phase is over).
struct ReceiveRig {
    ReceiveRig(const QString& rootDir, const Clock& clock, SerialOutput* serial);

    // Writes a device file "devices aliases\<h>-<l>.dev" (name, type, address).
    void addDevice(int h, int l, const QString& name, const QString& type = "Quartel");

    TestModules modules;
    Runtime& rt;
    DataRoot& root;
    EventLog& log;
    LogFiles& logFiles;
    Settings& settings;
    TimingSettings& timing;
    RuntimeFlags& startup;
    BusFlags& flags;
    FrameWriter& writer;
    QTimer& AutoQueryTimer;
    QueryTimer& AutoQuery;
    MessageDispatcher& messages;
    MessageDecoder& decoder;
    ReceivePath& receive;
    DeviceRegistry& registry;
    StatusDecoder& status;
    AlarmState& alarms;
    EventNames& names;
    QueryCycleState& cycle;
};

}  // namespace velmar::test
