#pragma once

#include <QString>

namespace velmar {

// The parts of start-up, "Run" and shutdown that belong to the bus, the registry, the event
// engine, the panel server and the other subsystems. Each method has a do-nothing default; the
// subsystems override what they own. All methods run on the main thread and must not throw.
class Subsystems {
  public:
    virtual ~Subsystems() = default;

    // Start-up
    virtual void translateTexts(const QString& /*windowKey*/) {}
    virtual void createSerialThread() {}
    virtual void startSerialThread() {}
    virtual void registerSecurityZoneNames() {}
    virtual void loadExpanderAndZoneNames() {}
    virtual void initMediaControl() {}
    virtual void buildDeviceTables() {}
    virtual void startEventScan() {}
    virtual void loadCommandAliases() {}
    // After the main window's start-up: the configuration window is created (device state
    // records, Ethernet devices).
    virtual void createConfigurationWindow() {}

    // Countdown and "Run"
    // "/cdr" and "Run" with "/mobile": each returns false while its export is not built, and
    // the manager then logs that it is not available.
    virtual bool generateLayers() { return false; }
    virtual bool showMobileExports() { return false; }
    virtual void startPanelServer() {}         // "Run"
    virtual void configWindowInitialWork() {}  // `Timer2`
    virtual void startHelperSupervision() {}   // `smstimer`
    // One tick of `UpdateAfterReset`; returns false when the update sequence is not built, in
    // which case the sequence ends at once (the start-up phase is over).
    virtual bool updateAfterResetTick() { return false; }
    // One tick of `AutoQuery`; returns false when the query cycle is not built (the timer is
    // then disabled).
    virtual bool queryCycleTick() { return false; }
    // Once a minute: the configuration window's clock.
    virtual void minuteClock() {}

    // Shutdown: stop the configuration window's timers, close the serial port, deactivate the
    // panel server (returning its error text, empty when none) and join worker threads within
    // `waitMs` milliseconds.
    virtual void stopConfigurationTimers() {}
    virtual void closeSerialPort() {}
    virtual QString stopPanelServer() { return {}; }
    virtual void joinThreads(int /*waitMs*/) {}
};

}  // namespace velmar
