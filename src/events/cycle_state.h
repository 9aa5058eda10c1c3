#pragma once

#include <QHash>
#include <QString>
#include <cstdint>
#include <optional>

namespace velmar {

// A direct event file sent to a controller and not yet confirmed.
struct InFlightEvent {
    QString path;  // full path of the direct event file
    int adrh = 0;  // where it was sent
    int adrl = 0;
    QString evntname;         // display name logged on confirmation
    std::int64_t sentMs = 0;  // last sending, monotonic
    std::uint64_t order = 0;  // order of first sending
};

// The rotation of the query cycle and the direct events being executed, shared by the query
// cycle, the event files and the receive path (all on the main thread).
struct QueryCycleState {
    int current_device = 0;         // poll-table index the next poll goes to
    int backup_current_device = 0;  // room position kept while the external controller polls
    bool extern_notroom = false;    // the external controller's turn is pending
    // Rate limiter: executions not yet confirmed; while `chkeventenabled` is false it counts
    // the ticks that still hold files back.
    int autoquerycnter = 0;
    bool chkeventenabled = true;
    QString evntname;  // display name of the last executed direct event
    QString autoexec;  // its direct event file (full path), empty when none
    // Files sent and not confirmed, by path.
    QHash<QString, InFlightEvent> inFlight;

    // Records that the file `path` went to h,l (again, when it is in flight already) and makes
    // it the last executed file.
    void sent(const QString& path, int adrh, int adrl, const QString& name, std::int64_t nowMs);
    // The file an execution confirmation from h,l belongs to, taken off the table: the first
    // file in flight to h,l; without one, the last executed file. `autoexec` is cleared when it
    // names the file returned. Nothing when there is no file to confirm.
    std::optional<InFlightEvent> confirm(int adrh, int adrl);
    const InFlightEvent* findInFlight(const QString& path) const;
    void forget(const QString& path);

  private:
    std::uint64_t nextOrder_ = 0;
};

}  // namespace velmar
