#include "events/cycle_state.h"

#include <algorithm>

namespace velmar {

void QueryCycleState::sent(const QString& path, int adrh, int adrl, const QString& name,
                           std::int64_t nowMs) {
    autoexec = path;
    evntname = name;
    for (InFlightEvent& e : inFlight) {
        if (e.path == path) {
            e.adrh = adrh;
            e.adrl = adrl;
            e.evntname = name;
            e.sentMs = nowMs;
            return;
        }
    }
    inFlight.push_back({path, adrh, adrl, name, nowMs, nextOrder_++});
}

std::optional<InFlightEvent> QueryCycleState::confirm(int adrh, int adrl) {
    auto it = std::find_if(inFlight.begin(), inFlight.end(), [&](const InFlightEvent& e) {
        return e.adrh == adrh && e.adrl == adrl;
    });
    InFlightEvent done;
    if (it != inFlight.end()) {
        done = *it;
        inFlight.erase(it);
    } else {
        if (autoexec.isEmpty())
            return std::nullopt;
        done.path = autoexec;
        done.evntname = evntname;
        if (const InFlightEvent* e = findInFlight(autoexec))
            done = *e;
        forget(autoexec);
    }
    if (done.path == autoexec)
        autoexec.clear();
    return done;
}

const InFlightEvent* QueryCycleState::findInFlight(const QString& path) const {
    for (const InFlightEvent& e : inFlight) {
        if (e.path == path)
            return &e;
    }
    return nullptr;
}

void QueryCycleState::forget(const QString& path) {
    inFlight.erase(std::remove_if(inFlight.begin(), inFlight.end(),
                                  [&](const InFlightEvent& e) { return e.path == path; }),
                   inFlight.end());
}

}  // namespace velmar
