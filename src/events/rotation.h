#pragma once

#include <algorithm>
#include <array>

#include "devices/device_state.h"
#include "events/cycle_state.h"

namespace velmar {

// Where the poll goes after a normal poll. Unless `disableExtern`, every second poll goes to
// the external controller: R0, X, R1, X, ... With `disableExtern` the table is polled as a
// plain round. `externIndex` is the external controller's poll-table index, -1 when there is
// none; it is skipped in the room round wherever it stands in the table (a sorted table puts
// "2-1" first).
template <std::size_t N>
void rotateAfterPoll(QueryCycleState& s, const std::array<deviceadr, N>& table, int quartelMax,
                     int externIndex, bool disableExtern) {
    quartelMax = std::min(quartelMax, static_cast<int>(N));
    if (quartelMax <= 0)
        return;
    const bool externTurns = !disableExtern && externIndex >= 0 && externIndex < quartelMax;
    if (s.extern_notroom) {
        s.extern_notroom = false;
        s.current_device = s.backup_current_device;
        return;
    }
    int cur = s.current_device + 1;
    if (cur >= quartelMax)
        cur = 0;
    const auto& entry = table[static_cast<std::size_t>(cur)];
    if (entry.adrl == 0 || entry.adrh == 0)
        cur = 0;  // the end marker: back to the start
    // The external controller has its own turns; a table holding nothing else polls it only.
    if (externTurns && cur == externIndex && quartelMax > 1) {
        cur = cur + 1 >= quartelMax ? 0 : cur + 1;
        if (cur == externIndex)
            cur = cur + 1 >= quartelMax ? 0 : cur + 1;
    }
    s.backup_current_device = cur;
    if (externTurns && quartelMax > 1) {
        s.current_device = externIndex;
        s.extern_notroom = true;
    } else {
        s.current_device = cur;
    }
}

// The poll-table index a round starts at: 0, or the first room controller when the external
// controller stands at 0 and takes its own turns.
int firstRoomIndex(int quartelMax, int externIndex, bool disableExtern);

}  // namespace velmar
