#pragma once

#include <QString>

#include "bus/bus_port.h"
#include "events/cycle_state.h"
#include "log/runtime.h"

namespace velmar {

class Commands;
class DeviceRegistry;
class EventFiles;

// One tick of `AutoQuery`: the due scheduled events (the action "RunScheduledEvents"), at most
// one event file, then one piece of device work chosen by the timer's branch: poll the
// controller in turn, reset it when it has been silent for four minutes, or wait after such a
// reset.
class QueryCycle {
  public:
    // A controller silent for longer than this is reset when its turn comes.
    static constexpr std::int64_t kSilentMs = 4 * 60 * 1000;

    QueryCycle(Runtime& rt, BusPort& port, DeviceRegistry& registry, Commands& commands,
               EventFiles& files, QueryCycleState& state)
        : rt_(rt),
          port_(port),
          registry_(registry),
          commands_(commands),
          files_(files),
          state_(state) {}

    void tick();
    // The minute clock asks for the scheduled events at the next tick.
    void requestScheduled() { copyScheduled_ = true; }
    // Puts the rotation at the start of a freshly built poll table.
    void restart();

  private:
    bool silent(int index) const;
    void announce(const char* source, const char* target);
    void debugLog(const QString& text);

    Runtime& rt_;
    BusPort& port_;
    DeviceRegistry& registry_;
    Commands& commands_;
    EventFiles& files_;
    QueryCycleState& state_;
    bool copyScheduled_ = true;
};

}  // namespace velmar
