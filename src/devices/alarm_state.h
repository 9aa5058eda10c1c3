#pragma once

namespace velmar {

// The security state that the expanders' alarms and the zone changes share: whether an alarm
// was reported (the next zone change withdraws it by SMS), and the expanders whose alarm line
// is up (bit m - 1 for module m).
struct AlarmState {
    bool wasalarm = false;
    int alarmextender = 0;
};

}  // namespace velmar
