#pragma once

// app/: the entry, start-up, the switches and configuration files, the main window's model
// (the manager), the ordered list of modules, and the windows. The top layer: it may include
// every folder, and nothing includes it.

#include <vector>

#include "app/subsystems.h"
#include "base/module.h"
#include "bus/bus_module.h"
#include "config/config_module.h"
#include "devices/devices_module.h"
#include "events/events_module.h"
#include "heating/heating_module.h"
#include "log/runtime.h"
#include "panels/panels_module.h"

namespace velmar {

class Manager;

// The running program's modules, lowest layer first: bus, devices, events, panels, config,
// heating.
// The manager's start-up, countdown and shutdown steps reach them here, each in that order.
class CoreModules : public Subsystems {
  public:
    CoreModules(Runtime& rt, Manager& manager);
    ~CoreModules() override;

    void loadModules() override;
    void buildDeviceTables() override;
    void startSerialThread() override;
    void createConfigurationWindow() override;
    void startPanelServer() override;
    void configWindowInitialWork() override;
    bool updateAfterResetTick() override;
    bool queryCycleTick() override;
    void minuteClock() override;
    void stopConfigurationTimers() override;
    void closeSerialPort() override;
    QString stopPanelServer() override;
    void joinThreads(int waitMs) override;

    BusModule bus;
    DevicesModule devices;
    EventsModule events;
    PanelsModule panels;
    ConfigModule config;
    HeatingModule heating;

  private:
    std::vector<Module*> modules_;
};

}  // namespace velmar
