#pragma once

// events/: the event engine. Direct event files and event requests in "emails\", the query and
// command cycle, the update sequence and the after-restart handling, the event-name registry,
// the event definitions and their compilers, the confirmations of executed events, Bluetooth
// commands and external events. May include base/, log/, lang/, bus/ and devices/; panels/ and
// every folder above may include it.

#include <QTimer>

#include "base/module.h"
#include "base/runtime_flags.h"
#include "bus/bus_module.h"
#include "devices/devices_module.h"
#include "events/bluetooth.h"
#include "events/commands.h"
#include "events/confirmations.h"
#include "events/cycle_state.h"
#include "events/event_files.h"
#include "events/event_names.h"
#include "events/pc_events.h"
#include "events/query_cycle.h"
#include "events/update_sequence.h"
#include "log/runtime.h"

namespace velmar {

class EventsModule : public Module {
  public:
    // Subscribes to text messages (confirmations), Bluetooth commands, external events and
    // restart notices. `options`: the main window's start-up option boxes; `UpdateAfterReset`:
    // its timer of the update sequence.
    EventsModule(Runtime& rt, BusModule& bus, DevicesModule& devices, const StartupOptions& options,
                 QTimer& UpdateAfterReset);

    // The security zones' "Secu" in the event-name registry.
    void load() override;
    // The polled controllers' events, their maintenance request files and a fresh rotation.
    void tablesBuilt() override;
    // The due scheduled events at the next tick; the PC's own events of this minute.
    void minuteTick() override;
    void stopTimers() override;

    Runtime& rt;
    BusModule& bus;
    DevicesModule& devices;
    EventNames names;
    Commands commands;
    QueryCycleState cycle;
    EventFiles files;
    QueryCycle queryCycle;
    UpdateSequence update;
    AfterRestart afterRestart;
    Confirmations confirmations;
    Bluetooth bluetooth;
    PcEvents pcEvents;
};

}  // namespace velmar
