#pragma once

#include <QString>

namespace velmar {

// The steps of start-up, the countdown, "Run" and shutdown that the manager hands to the
// program's modules (bus, devices, events, panels, heating, ...), in the documented order. Each
// method has a do-nothing default; the modules' list implements them. All methods run on the
// main thread and must not throw. Named actions ("GenerateLayers", "MobileExport", ...) go
// through the runtime's action table instead.
class Subsystems {
  public:
    virtual ~Subsystems() = default;

    // Start-up
    virtual void createSerialThread() {}
    // The modules load their files and tables and subscribe to their messages (where the
    // documented start-up registers the security zones, before the device tables are built).
    virtual void loadModules() {}
    virtual void buildDeviceTables() {}
    virtual void startEventScan() {}
    virtual void startSerialThread() {}
    // The main window's start-up is over: the configuration window is created.
    virtual void createConfigurationWindow() {}

    // Countdown and "Run"
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
