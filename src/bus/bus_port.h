#pragma once

#include <QTimer>

#include "bus/frame_writer.h"
#include "bus/query_timer.h"
#include "log/runtime.h"

namespace velmar {

// What every sender on the bus shares: the frame writers with the echo reference, the flags
// they read, and the query cycle's timer with its quiet-time rule.
struct BusPort {
    BusPort(Runtime& rt, QTimer& autoQueryTimer)
        : writer(rt.log, flags, rt.clock), AutoQuery(autoQueryTimer) {
        writer.setCounters(&rt.counters);
    }
    BusPort(const BusPort&) = delete;
    BusPort& operator=(const BusPort&) = delete;

    BusFlags flags;
    FrameWriter writer;
    QueryTimer AutoQuery;
};

}  // namespace velmar
