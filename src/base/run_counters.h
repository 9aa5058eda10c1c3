#pragma once

#include <atomic>
#include <cstdint>

namespace velmar {

// The running program's figures for people and scripts ("logs\manager.status", SIGUSR1). Every
// thread may count; each figure is a relaxed atomic, read as a snapshot.
struct RunCounters {
    std::atomic<std::int64_t> framesSent{0};        // frames that went out on the bus
    std::atomic<std::int64_t> framesReceived{0};    // blocks received from the bus
    std::atomic<std::int64_t> echoFailures{0};      // echoes that did not match the frame sent
    std::atomic<std::int64_t> serialReconnects{0};  // the serial port reopened after an outage
    std::atomic<std::int64_t> linkelReconnects{0};  // the Linkel link up again after an outage
    std::atomic<std::int64_t> panelsConnected{0};   // panel streams now connected
    std::atomic<std::int64_t> logWriteFailures{0};  // log lines a log file did not take
};

}  // namespace velmar
