#pragma once

#include <cstdint>

namespace velmar {

// The run-time flags: set by the command-line switches at start-up (and `notstart`, `TCP_INDEX_INC`
// later) and read across the program.
struct RuntimeFlags {
    bool offline = false;
    bool help = false;
    bool mobile = false;
    bool admins = false;
    bool superadmin = false;
    bool debugtimer = false;
    bool obsolete = false;
    bool compact_layers = true;
    bool tcpextendedddress = false;
    std::int32_t TCP_INDEX_INC = 0;
    bool via_linkel = false;
    bool linkel_companion = false;
    bool tcpqueryen = false;
    bool querydevdisable = false;
    std::int32_t timer_start = 30;
    // False until the start-up phase is over: restart notices count only afterwards.
    bool notstart = false;
    // A controller is being programmed: nothing else may go out on the bus (it would replace
    // the block's echo reference), the query cycle and the minute's time wait.
    bool uploading = false;
};

// The three start-up option boxes (and the hidden fourth).
struct StartupOptions {
    bool updateTime = false;
    bool updateEvents = false;
    bool resetDevices = false;
    bool updateConfiguration = false;
};

}  // namespace velmar
