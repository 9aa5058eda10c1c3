#include "events/cycle_state.h"

namespace velmar {

void QueryCycleState::sent(const QString& path, int adrh, int adrl, const QString& name,
                           std::int64_t nowMs) {
    autoexec = path;
    evntname = name;
    auto it = inFlight.find(path);
    if (it == inFlight.end())
        it = inFlight.insert(path, {path, adrh, adrl, name, nowMs, nextOrder_++});
    it->adrh = adrh;
    it->adrl = adrl;
    it->evntname = name;
    it->sentMs = nowMs;
}

std::optional<InFlightEvent> QueryCycleState::confirm(int adrh, int adrl) {
    // Controllers execute in the order they receive: the first file sent to h,l is done.
    auto first = inFlight.end();
    for (auto it = inFlight.begin(); it != inFlight.end(); ++it) {
        if (it->adrh == adrh && it->adrl == adrl &&
            (first == inFlight.end() || it->order < first->order))
            first = it;
    }
    InFlightEvent done;
    if (first != inFlight.end()) {
        done = *first;
        inFlight.erase(first);
    } else {
        if (autoexec.isEmpty())
            return std::nullopt;
        done = inFlight.take(autoexec);
        done.path = autoexec;
        if (done.evntname.isEmpty())
            done.evntname = evntname;
    }
    if (done.path == autoexec)
        autoexec.clear();
    return done;
}

const InFlightEvent* QueryCycleState::findInFlight(const QString& path) const {
    const auto it = inFlight.constFind(path);
    return it == inFlight.constEnd() ? nullptr : &*it;
}

void QueryCycleState::forget(const QString& path) {
    inFlight.remove(path);
}

}  // namespace velmar
