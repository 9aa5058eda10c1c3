#pragma once

#include <QString>
#include <QTimer>

#include "base/runtime_flags.h"
#include "bus/bus_module.h"
#include "config/config_module.h"
#include "devices/devices_module.h"
#include "events/events_module.h"
#include "heating/heating_module.h"
#include "log/runtime.h"
#include "panels/panels_module.h"

namespace velmar::test {

// The program's modules over a test runtime: the data root and clock a test gives, frames to
// the serial output it gives (or nowhere), no threads started, no files loaded until the test
// asks. The same modules, wired the same way as in the program; tests, benchmarks and fuzz
// targets reach into them by name.
struct TestModules {
    TestModules(const QString& rootDir, const Clock& clock, SerialOutput* serial = nullptr);

    // Frames to another output (nullptr: nowhere).
    void setSerial(SerialOutput* serial);
    // The modules' start-up: their files and tables; a device scan; the end of start-up (the
    // configuration loads its first device).
    void load();
    void scan();
    void started();

    Runtime rt;
    QTimer AutoQueryTimer;
    QTimer UpdateAfterReset;
    StartupOptions options;
    BusModule bus;
    DevicesModule devices;
    EventsModule events;
    PanelsModule panels;
    ConfigModule config;
    HeatingModule heating;
};

}  // namespace velmar::test
