#pragma once

#include "base/module.h"
#include "bus/bus_module.h"
#include "config/configuration.h"
#include "config/upload_engine.h"
#include "devices/devices_module.h"
#include "events/events_module.h"
#include "log/runtime.h"

namespace velmar {

// The configuration of the running program: the upload engine (fed by the bus's block written
// and refused messages) and the configuration window's model. Registers the maintenance action
// "QLSaveCfg" ("Save Settings and Update" of the named device).
class ConfigModule : public Module {
  public:
    ConfigModule(Runtime& rt, BusModule& bus, DevicesModule& devices, EventsModule& events);

    // The configuration window is created: the device list and its first device.
    void started() override;
    // `doinitialstuff`.
    void initialWork() override;
    // `stopConfigurationTimers`: `SendCfg` and `TimeOut`.
    void stopTimers() override;

    Runtime& rt;
    UploadEngine engine;
    Configuration model;
};

}  // namespace velmar
