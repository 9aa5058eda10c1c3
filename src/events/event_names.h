#pragma once

#include <QString>
#include <QStringList>
#include <vector>

#include "base/data_root.h"
#include "log/event_log.h"

namespace velmar {

class DeviceRegistry;

// One device of the event-name registry. The four lists run parallel: item j of each describes
// the same event.
struct EventNameEntry {
    QString devname;  // case-sensitive key
    QString adrh;     // address high, decimal text
    QString adrl;     // address low, decimal text
    QStringList EventIdlist;
    QStringList eventnamelist;
    QStringList signalnamelist;
    QStringList EventStatelist;
};

// The event-name registry: the devices whose events can be named in event requests, numbered
// 1..capacity in the order of registration. Nothing is removed while the program runs; a name is
// registered once however often the device tables are rebuilt.
class EventNames {
  public:
    // Every controller the poll table can hold (20) and the security zones' "Secu".
    static constexpr int capacity = 21;

    EventNames(const DataRoot& root, EventLog& log);

    // Registers a room controller; returns its entry number, or 0 when the registry is full.
    // A name already registered keeps its first entry. Its events come from
    // "events\Quartel\H-L.iev" (identifiers), ".lev" (names), ".nev" (signal names) and ".sev"
    // (states), one item per line, when all four files exist.
    int load_mem_events(const QString& name, const QString& adrhText, const QString& adrlText);
    // Registers the security pseudo-device "Secu" at 2-1 when "devices aliases\Sensel zones.ext"
    // exists: one event per line i of that file, named by the line, identified "ZONE" + i, with
    // the state letter of code 97 + i.
    void load_mem_secu();

    // Reads an entry's lists again (after its definition files were rebuilt); false when no
    // entry has that name.
    bool reload(const QString& name);
    // The number of the entry named `name` (compared exactly), or 0.
    int devname_index(const QString& name) const;
    // `QuartelIndexEventList`: the number of entries.
    int count() const { return static_cast<int>(entries_.size()); }
    // Entry k, 1 <= k <= count(); nullptr otherwise.
    const EventNameEntry* entry(int k) const;
    EventNameEntry* entry(int k);

  private:
    void loadLists(EventNameEntry& e);
    EventNameEntry* add(const QString& name, const QString& adrhText, const QString& adrlText);

    const DataRoot& root_;
    EventLog& log_;
    std::vector<EventNameEntry> entries_;
};

// Registers every controller of the poll table, in table order (after each device scan).
void registerPolledControllers(EventNames& names, const DeviceRegistry& registry);

}  // namespace velmar
