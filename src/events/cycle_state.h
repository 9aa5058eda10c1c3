#pragma once

#include <QString>

namespace velmar {

// The rotation of the query cycle and the direct event being executed, shared by the query
// cycle, the event files and the receive path (all on the main thread).
struct QueryCycleState {
    int current_device = 0;         // poll-table index the next poll goes to
    int backup_current_device = 0;  // room position kept while the external controller polls
    bool extern_notroom = false;    // the external controller's turn is pending
    int autoquerycnter = 0;         // direct events sent and not yet confirmed
    QString evntname;               // display name of the direct event being executed
    QString autoexec;               // its direct event file (full path), empty when none
};

}  // namespace velmar
