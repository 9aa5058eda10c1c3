#pragma once

// heating/: the heating and ventilation controller (the Thermel): its labels and forwarding
// table, the decoding of its status frames into its state and files, and the temperatures
// forwarded to it. May include base/, log/, lang/, bus/, devices/, events/ and panels/; the
// folders above may include it.

#include "base/module.h"
#include "bus/bus_module.h"
#include "devices/devices_module.h"
#include "heating/heating_tables.h"
#include "heating/thermel_status.h"
#include "log/runtime.h"

namespace velmar {

class HeatingModule : public Module {
  public:
    // Listens to every accepted status frame.
    HeatingModule(Runtime& rt, BusModule& bus, DevicesModule& devices);

    // The forwarding table ("temperatures.cfg"), the labels and channel names.
    void load() override;

    Runtime& rt;
    DevicesModule& devices;
    HeatingTables tables;
    ThermelStatus status;
};

}  // namespace velmar
