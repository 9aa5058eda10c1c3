#pragma once

#include "bus/bus_port.h"
#include "bus/messages.h"
#include "events/cycle_state.h"
#include "log/runtime.h"

namespace velmar {

class DeviceRegistry;

// "lEXEC": a controller executed a direct event. The file sent to it is done (deleted, its
// event's name logged), the rate limiter counts one execution less, and the rotation resumes
// after the confirming controller; the query cycle pauses briefly.
class Confirmations {
  public:
    Confirmations(Runtime& rt, BusPort& port, QueryCycleState& cycle,
                  const DeviceRegistry& registry)
        : rt_(rt), port_(port), cycle_(cycle), registry_(registry) {}

    void onText(const msg::Text& text);

  private:
    Runtime& rt_;
    BusPort& port_;
    QueryCycleState& cycle_;
    const DeviceRegistry& registry_;
};

}  // namespace velmar
