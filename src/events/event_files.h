#pragma once

#include <QSet>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <ctime>
#include <deque>
#include <map>
#include <optional>

#include "base/device_address.h"
#include "base/text_file.h"
#include "bus/bus_port.h"
#include "devices/status_publisher.h"
#include "events/cycle_state.h"
#include "events/direct_events.h"
#include "events/event_names.h"
#include "log/runtime.h"

namespace velmar {

// What an event request can ask for beyond a controller's event goes to the runtime's action
// table, by name: "Schedule" (device, event, registry entry, schedule: `encodeschedule`),
// "Batch" (macro), the maintenance commands of a room controller ("QLSaveCfg", "QuartelFlash",
// ...: the device) and "ApplicationReboot". An action nobody registered is logged as not
// available.

// The maintenance commands for a room controller, in the order their request files are made.
extern const char* const kRoomMaintenanceCommands[10];
// The maintenance commands for the PC.
extern const char* const kPcMaintenanceCommands[5];

// The event files in "emails\": the scan that takes at most one "*.run" file per tick, the
// execution of direct event files, the resolution of event requests through the event-name
// registry, external events and the maintenance requests.
//
// The scan is round-robin: a listing is taken when the previous one is used up, and each tick
// moves on to the next file in it, so no waiting file can starve the others and the cost of a
// tick does not grow with the backlog. Files that arrive during a long round are listed (at
// most once a second) and go before the rest of the round. A file sent less than QUERY_DEV ago is
// not retaken. A file is read only when it is complete: its lines end with a line break, or it has
// not changed for a second (other programs may still be writing it).
//
// Anything may turn up in "emails\": a symbolic link, FIFO or folder named "*.run" is never
// opened, a file larger than kMaxEventFileBytes is never read but moved to "emails\rejected\",
// and each such entry, like a file that cannot be read, is logged once (an unreadable file
// again when it changes). Text from the files goes into log lines only through logText().
class EventFiles {
  public:
    // A "*.run" file larger than this is no event: it is moved to "emails\rejected\" unread.
    static constexpr std::int64_t kMaxEventFileBytes = 64 * 1024;
    // Unconfirmed executions after which files are held back, and for how many ticks.
    static constexpr int kLimiterExecutions = 20;
    static constexpr int kLimiterHoldTicks = 60;

    EventFiles(Runtime& rt, BusPort& port, EventNames& names, QueryCycleState& cycle);

    // The event-file step of one query-cycle tick.
    struct Step {
        bool taken = false;    // a file was executed or resolved
        bool waiting = false;  // more files are waiting in the current listing
    };
    Step step();

    // Sends a direct event: count 10, the address, "eEV" and the five bytes (through a Linkel
    // count 12 with 254,254 after the address). Returns the writer's result.
    bool execevent(DeviceAddress to, const EventBytes& event);
    // Resolves event `event` of registry entry k and writes its direct event file (under
    // "emails\schedule\" when `schedule` is given, executed at once otherwise). `title` is the
    // file's first line. Returns the file's path, empty when nothing was written.
    QString createDirectEvent(int k, const QString& device, const QString& event,
                              const QString& title, const QString& schedule = QString());
    // An event another device asked for: written as an "lExternEvent" file and executed.
    void execeventextern(DeviceAddress to, const EventBytes& event);
    // A maintenance command: a room controller's configuration action, or a PC command.
    void support(const QString& device, const QString& command);
    // Prepares the maintenance request files of a device (once per device).
    void createmaintanance(const QString& name);
    // Events were just submitted: the next tick lists "emails\" again and the rate limiter
    // starts afresh.
    void freshSubmissions();
    // Event records a panel or program submitted over TCP (ten bytes each: the address, the
    // five event bytes and three more): one direct event file each, titled "TCP Event; Direct
    // Event", named by the time (":" as "_"). Then the scan starts afresh.
    void writeTcpEvents(const QList<QByteArray>& records);

  private:
    enum class Look { Taken, Skipped, NotComplete };
    Look look(const QString& name);
    // What is wrong with an entry that is not taken, told once per entry (per version of it,
    // for a file that is unreadable or damaged).
    enum class Trouble { NotRegular, TooLarge, Unreadable, Damaged };
    struct Noticed {
        Trouble trouble;
        FileFacts facts;
    };
    // True when the trouble is news: another entry under the name, or a changed file.
    bool firstNotice(const QString& name, Trouble trouble, const FileFacts& facts);
    // The full path of `name` in the folder `dir` as a log line shows it.
    QString shownPath(const QString& dir, const QString& name) const;
    // Moves a file too large for an event to "emails\rejected\" under a free name.
    void reject(const QString& path, const QString& name, const FileFacts& facts);
    bool limiterAllows();
    void countExecution();
    // Sends the direct event of the file `path` and records it as in flight under `name`.
    void execute(const QString& path, const DirectEvent& e, const QString& name);
    // Event `event` of registry entry k as a direct event titled `title`; nothing for an
    // unknown event, or for one whose definition does not compile (then `error` says why).
    std::optional<DirectEvent> resolveEvent(int k, const QString& event, const QString& title,
                                            QString* error) const;
    void resolveRequest(const QString& path, const QString& fileName, const QString& firstLine);
    // Writes a new direct event file under the first free name stem + "_"... + suffix; returns
    // its path, empty on failure (logged).
    QString writeDirectFile(const QString& dir, const QString& stem, const QString& suffix,
                            const DirectEvent& e);
    void flagFile(const QString& name, bool create);

    Runtime& rt_;
    BusPort& port_;
    EventNames& names_;
    QueryCycleState& cycle_;
    StatusFiles flags_;  // the watchdog flag files
    std::optional<timespec> dirStamp() const;
    bool dirChanged() const;
    void relist(bool midRound);

    // The files still to visit in this round.
    std::deque<QString> queue_;
    QSet<QString> lastListed_;
    std::optional<timespec> stamp_;
    std::int64_t listedAtMs_ = 0;
    std::int64_t listingCostMs_ = 0;
    // Entries of "emails\" found wrong, by name; only names in the last listing are kept.
    std::map<QString, Noticed> noticed_;
};

}  // namespace velmar
