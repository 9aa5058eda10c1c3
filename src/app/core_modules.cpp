#include "app/core_modules.h"

#include <QTimer>

#include "app/manager.h"

namespace velmar {

CoreModules::CoreModules(Runtime& rt, Manager& manager)
    : bus(rt, manager.AutoQuery),
      devices(rt, bus),
      events(rt, bus, devices, manager.options(), manager.UpdateAfterReset),
      panels(rt, bus, devices, events),
      config(rt, bus, devices, events),
      heating(rt, bus, devices),
      modules_{&bus, &devices, &events, &panels, &config, &heating} {
    // "ApplicationReboot" is the program's own shutdown.
    rt.actions.add(QStringLiteral("ApplicationReboot"), [&manager](const QStringList&) {
        QTimer::singleShot(0, &manager, [&manager] { manager.shutdown(); });
        return true;
    });
}

CoreModules::~CoreModules() {
    bus.joinThreads(1000);
}

void CoreModules::loadModules() {
    for (Module* m : modules_)
        m->load();
}

void CoreModules::buildDeviceTables() {
    devices.scan();
    for (Module* m : modules_)
        m->tablesBuilt();
}

void CoreModules::startSerialThread() {
    bus.startSerialThread();
}

void CoreModules::createConfigurationWindow() {
    for (Module* m : modules_)
        m->started();
}

void CoreModules::startPanelServer() {
    for (Module* m : modules_)
        m->run();
}

void CoreModules::configWindowInitialWork() {
    for (Module* m : modules_)
        m->initialWork();
}

bool CoreModules::updateAfterResetTick() {
    events.update.tick();
    return true;
}

bool CoreModules::queryCycleTick() {
    events.queryCycle.tick();
    return true;
}

void CoreModules::minuteClock() {
    for (Module* m : modules_)
        m->minuteTick();
}

void CoreModules::stopConfigurationTimers() {
    for (Module* m : modules_)
        m->stopTimers();
}

void CoreModules::closeSerialPort() {
    bus.stop();
}

// The modules above the bus close what they serve; the first error is the one reported.
QString CoreModules::stopPanelServer() {
    QString error;
    for (Module* m : modules_) {
        if (m == &bus)
            continue;
        const QString e = m->stop();
        if (error.isEmpty())
            error = e;
    }
    return error;
}

void CoreModules::joinThreads(int waitMs) {
    bus.joinThreads(waitMs);
}

}  // namespace velmar
