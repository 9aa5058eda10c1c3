#include "events/event_names.h"

#include "devices/registry.h"

#include "base/cp1250.h"
#include "base/text_file.h"

namespace velmar {

namespace {

const QString kSecuFile = QStringLiteral("devices aliases\\Sensel zones.ext");
// The state letters run from "a" (97) up to the last byte value.
constexpr int kFirstStateCode = 97;
constexpr int kMaxSecuZones = 256 - kFirstStateCode;

}  // namespace

EventNames::EventNames(const DataRoot& root, EventLog& log) : root_(root), log_(log) {
    entries_.reserve(capacity);
}

EventNameEntry* EventNames::add(const QString& name, const QString& adrhText,
                                const QString& adrlText) {
    if (devname_index(name) != 0)
        return nullptr;
    if (count() >= capacity) {
        log_.admem(QLatin1String("Event name registry full: ") + name + QLatin1String(" (") +
                   adrhText + QLatin1Char('-') + adrlText + QLatin1String(") not registered"));
        return nullptr;
    }
    entries_.push_back(EventNameEntry{name, adrhText, adrlText, {}, {}, {}, {}});
    return &entries_.back();
}

int EventNames::load_mem_events(const QString& name, const QString& adrhText,
                                const QString& adrlText) {
    if (const int k = devname_index(name); k != 0)
        return k;
    EventNameEntry* e = add(name, adrhText, adrlText);
    if (!e)
        return 0;
    loadLists(*e);
    return count();
}

void EventNames::loadLists(EventNameEntry& e) {
    const QString stem = QLatin1String("events\\Quartel\\") + e.adrh + QLatin1Char('-') + e.adrl;
    struct List {
        const char* ext;
        QStringList* items;
    } lists[] = {{".iev", &e.EventIdlist},
                 {".lev", &e.eventnamelist},
                 {".nev", &e.signalnamelist},
                 {".sev", &e.EventStatelist}};
    for (const List& l : lists) {
        if (!root_.exists(stem + QLatin1String(l.ext)))
            return;
    }
    for (const List& l : lists) {
        const QString name = stem + QLatin1String(l.ext);
        QString error;
        const auto bytes = readFile(root_.path(name), &error);
        if (!bytes) {
            log_.admem(QLatin1String("Error reading file: ") + name + QLatin1String(" -> ") +
                       error);
            for (const List& clear : lists)
                clear.items->clear();
            return;
        }
        *l.items = splitLines(*bytes);
    }
    // A set cut short by a failed write is no set.
    const qsizetype n = e.EventIdlist.size();
    if (e.eventnamelist.size() != n || e.signalnamelist.size() != n ||
        e.EventStatelist.size() != n) {
        log_.admem(QLatin1String("Error in event definitions: ") + stem +
                   QLatin1String(" -> the files have different line counts"));
        for (const List& clear : lists)
            clear.items->clear();
    }
}

void EventNames::load_mem_secu() {
    if (!root_.exists(kSecuFile))
        return;
    QString error;
    const auto bytes = readFile(root_.path(kSecuFile), &error);
    if (!bytes) {
        log_.admem(QLatin1String("Error reading file: ") + kSecuFile + QLatin1String(" -> ") +
                   error);
        return;
    }
    QStringList lines = splitLines(*bytes);
    if (lines.size() > kMaxSecuZones) {
        log_.admem(QLatin1String("Too many zones: ") + kSecuFile +
                   QLatin1String(" -> lines after ") + QString::number(kMaxSecuZones) +
                   QLatin1String(" ignored"));
        lines = lines.mid(0, kMaxSecuZones);
    }
    EventNameEntry* e = add(QStringLiteral("Secu"), QStringLiteral("2"), QStringLiteral("1"));
    if (!e)
        return;
    for (int i = 0; i < lines.size(); ++i) {
        e->eventnamelist.append(lines[i]);
        e->signalnamelist.append(lines[i]);
        e->EventIdlist.append(QLatin1String("ZONE") + QString::number(i));
        const char state = static_cast<char>(kFirstStateCode + i);
        e->EventStatelist.append(fromCp1250(QByteArrayView(&state, 1)));
    }
}

bool EventNames::reload(const QString& name) {
    EventNameEntry* e = entry(devname_index(name));
    if (!e)
        return false;
    e->EventIdlist.clear();
    e->eventnamelist.clear();
    e->signalnamelist.clear();
    e->EventStatelist.clear();
    loadLists(*e);
    return true;
}

int EventNames::devname_index(const QString& name) const {
    for (int i = 0; i < count(); ++i) {
        if (entries_[static_cast<size_t>(i)].devname == name)
            return i + 1;
    }
    return 0;
}

const EventNameEntry* EventNames::entry(int k) const {
    if (k < 1 || k > count())
        return nullptr;
    return &entries_[static_cast<size_t>(k - 1)];
}

EventNameEntry* EventNames::entry(int k) {
    if (k < 1 || k > count())
        return nullptr;
    return &entries_[static_cast<size_t>(k - 1)];
}

void registerPolledControllers(EventNames& names, const DeviceRegistry& registry) {
    for (int i = 0; i < registry.quartel_max; ++i) {
        const deviceadr& e = registry.rms[static_cast<std::size_t>(i)];
        names.load_mem_events(e.name, QString::number(e.adrh), QString::number(e.adrl));
    }
}

}  // namespace velmar
