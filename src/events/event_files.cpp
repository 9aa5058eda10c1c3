#include "events/event_files.h"

#include <sys/stat.h>

#include <QElapsedTimer>
#include <QFile>
#include <QSet>
#include <ctime>

#include "base/chkint.h"
#include "base/dir_listing.h"
#include "base/log_text.h"
#include "base/names.h"
#include "base/text_file.h"
#include "devices/name_forms.h"
#include "events/event_compiler.h"

namespace velmar {

const char* const kRoomMaintenanceCommands[10] = {
    "QuartelFlash",      "QLSaveCfg",          "QLUpdateProfiles", "QLUpdateIrCodes",
    "QLUpdateIrTimings", "QLUpdateRfCodes",    "OLUpdatePrograms", "QLUpdateAccessRights",
    "QLInitCardReader",  "QLCreateMifareCard",
};
const char* const kPcMaintenanceCommands[5] = {"ApplicationReboot", "WDTDisable", "WDTEnable",
                                               "WDTKill", "WDTUnKill"};

namespace {

const QString kEmails = QStringLiteral("emails");
// A file that has not changed for this long is complete, line break or not.
constexpr std::int64_t kSettledMs = 1000;
// Files skipped in one tick (in flight, still being written, damaged) before the tick gives up.
constexpr int kMaxSkipsPerTick = 64;
constexpr int kMaintenancePauseMs = 120000;
// The shortest time between two listings in the middle of a round.
constexpr std::int64_t kMinRelistMs = 1000;
// Where files too large to be an event go, unread.
const QString kRejected = QStringLiteral("emails\\rejected");

// `evntname` of a direct event file: the title's device and event parts, " - " between them.
QString displayName(const QString& title) {
    const qsizetype sep = title.indexOf(QLatin1String("; "));
    if (sep < 0)
        return title;
    return title.left(sep) + QLatin1String(" - ") + title.mid(sep + 2);
}

// The file-name form of a text that can safely be a file name: what the name rule refuses
// becomes "_".
QString fileStem(const QString& text) {
    QString s = getfilename(text);
    if (isValidName(s))
        return s;
    for (QChar& c : s) {
        if (c.unicode() < 32 || QStringLiteral("\\/:*?\"<>|").contains(c))
            c = QLatin1Char('_');
    }
    if (!isValidName(s))
        s = QStringLiteral("event");
    return s;
}

}  // namespace

EventFiles::EventFiles(Runtime& rt, BusPort& port, EventNames& names, QueryCycleState& cycle)
    : rt_(rt), port_(port), names_(names), cycle_(cycle), flags_(rt.root, rt.log, rt.clock) {}

bool EventFiles::execevent(DeviceAddress to, const EventBytes& event) {
    const QByteArray image =
        eventFrameImage(to.high(), to.low(), event, port_.flags.linkel_addressing);
    if (port_.flags.tcpgatewayenabled)
        return port_.writer.write_bin_rs232_TCP(image);
    return port_.writer.write_bin_rs232(image, false);
}

void EventFiles::freshSubmissions() {
    queue_.clear();
    cycle_.chkeventenabled = true;
    cycle_.autoquerycnter = 0;
}

// While files are held back, each tick counts the hold down; then files flow again.
bool EventFiles::limiterAllows() {
    QueryCycleState& c = cycle_;
    if (!c.chkeventenabled) {
        if (c.autoquerycnter > 0)
            --c.autoquerycnter;
        else
            c.chkeventenabled = true;
    }
    return c.chkeventenabled && c.autoquerycnter < kLimiterExecutions;
}

void EventFiles::countExecution() {
    QueryCycleState& c = cycle_;
    if (++c.autoquerycnter >= kLimiterExecutions) {
        c.chkeventenabled = false;
        c.autoquerycnter = kLimiterHoldTicks;
    }
}

// The modification time of "emails\": it changes when a file arrives or goes.
std::optional<timespec> EventFiles::dirStamp() const {
    struct stat st {};
    if (::stat(QFile::encodeName(rt_.root.path(kEmails)).constData(), &st) != 0)
        return std::nullopt;
    return st.st_mtim;
}

// A new listing. In the middle of a round the files that arrived since the last listing go
// first, then the rest of the round; files already visited in this round wait for the next.
void EventFiles::relist(bool midRound) {
    QElapsedTimer cost;
    cost.start();
    const auto stamp = dirStamp();
    // Every kind of entry: a folder or a link named "*.run" is to be told about, not passed over.
    const QStringList names =
        listDir(rt_.root.path(kEmails), QStringLiteral("*.run"), EntryKind::All);
    QSet<QString> listed(names.begin(), names.end());
    if (midRound) {
        std::deque<QString> next;
        for (const QString& n : names) {
            if (!lastListed_.contains(n))
                next.push_back(n);
        }
        for (const QString& n : queue_) {
            if (listed.contains(n) && lastListed_.contains(n))
                next.push_back(n);
        }
        queue_ = std::move(next);
    } else {
        queue_.assign(names.begin(), names.end());
    }
    // Files in flight that are gone (confirmed late, removed by hand) are forgotten.
    const QString dir = rt_.root.path(kEmails) + QLatin1Char('/');
    cycle_.inFlight.removeIf([&](const auto& it) {
        const QString& p = it.value().path;
        return p.startsWith(dir) && !listed.contains(p.mid(dir.size()));
    });
    // What was noticed of entries that are gone is forgotten: a new entry of the same name
    // is judged afresh.
    for (auto it = noticed_.begin(); it != noticed_.end();)
        it = listed.contains(it->first) ? std::next(it) : noticed_.erase(it);
    lastListed_ = std::move(listed);
    stamp_ = stamp;
    listedAtMs_ = rt_.clock.monotonicMs();
    listingCostMs_ = cost.elapsed();
}

bool EventFiles::dirChanged() const {
    const auto now = dirStamp();
    if (!now || !stamp_)
        return now.has_value() != stamp_.has_value();
    return now->tv_sec != stamp_->tv_sec || now->tv_nsec != stamp_->tv_nsec;
}

EventFiles::Step EventFiles::step() {
    Step s;
    if (!limiterAllows()) {
        s.waiting = !queue_.empty();
        return s;
    }
    // New arrivals are noticed in the middle of a long round too, but a listing is taken at
    // most once a second and never takes more than 1 % of the time.
    bool listed = false;
    if (!queue_.empty() && dirChanged() &&
        rt_.clock.monotonicMs() - listedAtMs_ >=
            std::max<std::int64_t>(kMinRelistMs, 100 * listingCostMs_)) {
        relist(true);
        listed = true;
    }
    for (int skips = 0; skips < kMaxSkipsPerTick;) {
        if (queue_.empty()) {
            if (listed)
                break;
            relist(false);
            listed = true;
            if (queue_.empty())
                break;
        }
        const QString name = queue_.front();
        queue_.pop_front();
        if (look(name) == Look::Taken) {
            s.taken = true;
            break;
        }
        ++skips;
    }
    s.waiting = !queue_.empty();
    return s;
}

bool EventFiles::firstNotice(const QString& name, Trouble trouble, const FileFacts& facts) {
    auto it = noticed_.find(name);
    if (it != noticed_.end() && it->second.trouble == trouble &&
        (trouble == Trouble::NotRegular ? it->second.facts.sameEntry(facts)
                                        : it->second.facts.unchanged(facts)))
        return false;
    noticed_[name] = {trouble, facts};
    return true;
}

QString EventFiles::shownPath(const QString& dir, const QString& name) const {
    return rt_.root.path(dir) + QLatin1Char('/') + logText(name);
}

void EventFiles::reject(const QString& path, const QString& name, const FileFacts& facts) {
    const QString what = QLatin1String("Event file too large: ") + shownPath(kEmails, name) +
                         QLatin1String(" (") + QString::number(facts.size) +
                         QLatin1String(" bytes)");
    // Only a real folder takes them: a link named "rejected" could lead anywhere.
    QString error;
    const DataRoot& root = rt_.root;
    struct stat st {};
    const QString dir = root.path(kRejected);
    if (::lstat(QFile::encodeName(dir).constData(), &st) != 0) {
        if (!root.makeDir(kRejected))
            error = dir + QLatin1String(": cannot create the folder");
    } else if (!S_ISDIR(st.st_mode)) {
        error = dir + QLatin1String(" is a ") + fileKindName(st.st_mode) +
                QLatin1String(", not a folder");
    }
    // The same name, "_" after the stem until it is free; nothing is overwritten.
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    const QString stem = dot > 0 ? name.left(dot) : name;
    const QString suffix = dot > 0 ? name.mid(dot) : QString();
    std::optional<QString> moved;
    if (error.isEmpty())
        moved = renameUnique(path, dir, stem, suffix, &error);
    if (moved) {
        noticed_.erase(name);
        rt_.log.admem(what + QLatin1String(", moved to ") +
                      shownPath(kRejected, moved->mid(moved->lastIndexOf(QLatin1Char('/')) + 1)));
    } else if (!QFile::exists(path)) {
        noticed_.erase(name);  // gone meanwhile
    } else if (firstNotice(name, Trouble::TooLarge, facts)) {
        rt_.log.admem(what + QLatin1String(", not moved: ") + logText(error));
    }
}

EventFiles::Look EventFiles::look(const QString& name) {
    const QString path = rt_.root.path(kEmails) + QLatin1Char('/') + name;
    if (const InFlightEvent* f = cycle_.findInFlight(path);
        f && rt_.clock.monotonicMs() - f->sentMs < rt_.settings.timing.QUERY_DEV)
        return Look::Skipped;
    // Symbolic links, FIFOs and folders are never opened, a file too large for an event is
    // never read, and each is logged once, not on every visit.
    const BoundedRead file = readRegularFile(path, kMaxEventFileBytes);
    switch (file.result) {
        case BoundedRead::Result::Missing:
            noticed_.erase(name);
            return Look::Skipped;
        case BoundedRead::Result::NotRegular:
            if (firstNotice(name, Trouble::NotRegular, file.facts))
                rt_.log.admem(QLatin1String("Not an event file: ") + shownPath(kEmails, name) +
                              QLatin1String(" is a ") + fileKindName(file.facts.mode));
            return Look::Skipped;
        case BoundedRead::Result::TooLarge:
            reject(path, name, file.facts);
            return Look::Skipped;
        case BoundedRead::Result::Failed:
            // Once, and again when the file changes.
            if (firstNotice(name, Trouble::Unreadable, file.facts))
                rt_.log.admem(QLatin1String("Error reading direct event: ") +
                              shownPath(kEmails, name) + QLatin1String(": ") + file.error);
            return Look::Skipped;
        case BoundedRead::Result::Read:
            break;
    }
    const QByteArray& bytes = file.bytes;
    const bool settled =
        rt_.clock.now().toMSecsSinceEpoch() - file.facts.mtimeNs / 1000000 >= kSettledMs;
    // Until the file has settled only whole lines count.
    const QStringList lines = splitLines(settled ? bytes : bytes.left(bytes.lastIndexOf('\n') + 1));
    if (rt_.flags.debugtimer)
        rt_.log.admem(QLatin1String("autoq ") + shownPath(kEmails, name));
    if (hasDirectEventHeader(lines)) {
        QString why;
        const auto e = parseDirectEvent(lines, &why);
        if (!e) {
            if (settled && firstNotice(name, Trouble::Damaged, file.facts))
                rt_.log.admem(QLatin1String("Error reading direct event: ") +
                              shownPath(kEmails, name) + QLatin1String(" -> ") + logText(why));
            return Look::NotComplete;
        }
        noticed_.erase(name);
        execute(path, *e, logText(displayName(e->title)));
        return Look::Taken;
    }
    // A request is one line. More lines without the header may be a direct event file that
    // is still being written: it waits until it has settled.
    if (!settled && lines.size() != 1)
        return Look::NotComplete;
    noticed_.erase(name);
    resolveRequest(path, name, lines.value(0));
    return Look::Taken;
}

void EventFiles::execute(const QString& path, const DirectEvent& e, const QString& name) {
    execevent({e.adrh, e.adrl}, e.event);
    cycle_.sent(path, e.adrh, e.adrl, name, rt_.clock.monotonicMs());
    countExecution();
}

std::optional<DirectEvent> EventFiles::resolveEvent(int k, const QString& event,
                                                    const QString& title, QString* error) const {
    const EventNameEntry* entry = names_.entry(k);
    const qsizetype j = entry ? entry->eventnamelist.indexOf(event) : -1;
    if (j < 0)
        return std::nullopt;  // an unknown event: no error text
    const auto code = convert_eventcc(names_, static_cast<int>(j), k);
    if (!code.ok()) {
        *error = code.error;
        return std::nullopt;
    }
    DirectEvent e;
    e.title = title;
    e.adrh = static_cast<std::uint8_t>(chkint(entry->adrh, 0, 255, 0));
    e.adrl = static_cast<std::uint8_t>(chkint(entry->adrl, 0, 255, 0));
    std::copy_n(code.value->begin(), 5, e.event.begin());
    return e;
}

void EventFiles::resolveRequest(const QString& path, const QString& fileName,
                                const QString& firstLine) {
    EventLog& log = rt_.log;
    const auto request = parseEventRequest(firstLine);
    const QString device = request ? request->device : firstLine;
    const QString event = request ? request->event : QString();
    const int k = names_.devname_index(device);
    auto drop = [&](const QString& why) {
        if (!why.isEmpty())
            log.admem(why + QLatin1String(": ") + shownPath(kEmails, fileName) +
                      QLatin1String(" -> ") + logText(firstLine));
        if (!QFile::remove(path) && QFile::exists(path))
            log.admem(QLatin1String("Error deleting event request: ") +
                      shownPath(kEmails, fileName));
    };

    if (request && request->scheduled) {
        // A "PC" or "Batch" request would run at once on every occurrence.
        if (device == QLatin1String("PC") || device == QLatin1String("Batch"))
            return drop(QStringLiteral("Schedule refused for ") + device +
                        QLatin1String(" requests"));
        if (!rt_.actions.run(QStringLiteral("Schedule"),
                             {device, event, QString::number(k), request->schedule}))
            return drop(QStringLiteral("Scheduled events not available"));
        return drop(QString());
    }
    if (k <= 0) {
        if (device == QLatin1String("Batch")) {
            const QString macro = QLatin1String("Batch\\") + event + QLatin1String(".mac");
            if (!isValidName(event) || !rt_.root.exists(macro))
                return drop(QStringLiteral("Batch macro not found"));
            if (!rt_.actions.run(QStringLiteral("Batch"), {event}))
                return drop(QStringLiteral("Batch events not available"));
            return drop(QString());
        }
        if (device == QLatin1String("PC") && fileName.startsWith(QLatin1String("support"))) {
            // The request file is gone before the command runs: "ApplicationReboot" must not
            // find it again after the restart.
            drop(QString());
            const qsizetype sep = event.indexOf(QLatin1String("; "));
            support(sep < 0 ? event : event.left(sep), sep < 0 ? QString() : event.mid(sep + 2));
            return;
        }
        return drop(QStringLiteral("Unknown device in event request"));
    }
    QString error;
    const auto e = resolveEvent(k, event, firstLine, &error);
    if (!e)
        return drop(error.isEmpty() ? QStringLiteral("Unknown event in event request")
                                    : QStringLiteral("Error in event definition (") +
                                          logText(error) + QLatin1Char(')'));

    // The request becomes the direct event file in place, then moves to its name: at no
    // moment is the event in no file or in two, so a crash neither loses nor repeats it.
    if (!writeLinesAtomic(path, directEventLines(*e), &error)) {
        log.admem(QLatin1String("Error writing direct event: ") + logText(error));
        return;  // the request stays and is tried again
    }
    QString target = path;
    if (const auto moved = renameUnique(path, rt_.root.path(kEmails),
                                        fileStem(device + QLatin1String(", ") + event),
                                        QStringLiteral(".run"), &error))
        target = *moved;
    else
        log.admem(QLatin1String("Error naming direct event: ") + logText(error));
    execute(target, *e, logText(device + QLatin1String(" - ") + event));
}

QString EventFiles::writeDirectFile(const QString& dir, const QString& stem, const QString& suffix,
                                    const DirectEvent& e) {
    QString error;
    rt_.root.makeDir(dir);
    const auto path =
        createUnique(rt_.root.path(dir), stem, suffix, joinLines(directEventLines(e)), &error);
    if (!path) {
        rt_.log.admem(QLatin1String("Error writing direct event: ") + logText(error));
        return {};
    }
    return *path;
}

QString EventFiles::createDirectEvent(int k, const QString& device, const QString& event,
                                      const QString& title, const QString& schedule) {
    if (!names_.entry(k))
        return {};
    QString error;
    const auto e = resolveEvent(k, event, title, &error);
    if (!e) {
        rt_.log.admem((error.isEmpty() ? QStringLiteral("Unknown event")
                                       : QStringLiteral("Error in event definition (") +
                                             logText(error) + QLatin1Char(')')) +
                      QLatin1String(": ") + logText(device + QLatin1String("; ") + event));
        return {};
    }
    // A scheduled file is named by its event and its schedule, "_" between them while the
    // name is taken: "Kitchen, Lights On" + "_" + "12, 00.run".
    const QString stem = fileStem(device + QLatin1String(", ") + event);
    const QString path = schedule.isEmpty()
                             ? writeDirectFile(kEmails, stem, QStringLiteral(".run"), *e)
                             : writeDirectFile(QStringLiteral("emails\\schedule"), stem,
                                               fileStem(schedule) + QLatin1String(".run"), *e);
    if (!path.isEmpty() && schedule.isEmpty())
        execute(path, *e, logText(device + QLatin1String(" - ") + event));
    return path;
}

void EventFiles::writeTcpEvents(const QList<QByteArray>& records) {
    rt_.root.makeDir(kEmails);
    for (const QByteArray& record : records) {
        // The address, the five event bytes and the three more bytes of the record.
        const QStringList lines = directEventLines(QStringLiteral("TCP Event; Direct Event"),
                                                   record.leftJustified(10, '\0', true));
        QString stem = dateTimeText(rt_.clock.now());
        stem.replace(QLatin1Char(':'), QLatin1Char('_'));
        QString error;
        if (!createUnique(rt_.root.path(kEmails), stem, QStringLiteral(".run"), joinLines(lines),
                          &error))
            rt_.log.admem(QLatin1String("Error writing event: ") + logText(error));
    }
    freshSubmissions();
}

void EventFiles::execeventextern(DeviceAddress to, const EventBytes& event) {
    port_.AutoQuery.stop();
    const DirectEvent e{QStringLiteral("lExternEvent"), to.high(), to.low(), event};
    const QString path = writeDirectFile(kEmails, fileStem(dateTimeText(rt_.clock.now())),
                                         QStringLiteral(".run"), e);
    execevent(to, event);
    if (!path.isEmpty())
        cycle_.sent(path, to.adrh, to.adrl, QStringLiteral("External Device"),
                    rt_.clock.monotonicMs());
    port_.AutoQuery.set(QueryTimer::Branch::Normal, rt_.settings.timing.EMAIL_RUN);
    port_.AutoQuery.start();
}

void EventFiles::flagFile(const QString& name, bool create) {
    if (create)
        flags_.flag(name, QLatin1String("Error creating flag file: ") + name + QLatin1Char(' '));
    else
        QFile::remove(rt_.root.path(name));
}

void EventFiles::support(const QString& device, const QString& command) {
    bool known = false;
    for (const char* c : kRoomMaintenanceCommands) {
        if (command != QLatin1String(c))
            continue;
        known = true;
        // The configuration window's actions program the controller: the bus stays quiet.
        if (rt_.actions.run(command, {device}))
            port_.AutoQuery.pause(kMaintenancePauseMs);
        else
            rt_.log.admem(QLatin1String("Maintenance action not available: ") +
                          logText(device + QLatin1String(" - ") + command));
    }
    const struct {
        const char* command;
        const char* flag;
        bool create;
    } flags[] = {{"WDTDisable", "wdtdisable.cfg", true},
                 {"WDTEnable", "wdtdisable.cfg", false},
                 {"WDTKill", "wdtkill.cfg", true},
                 {"WDTUnKill", "wdtkill.cfg", false}};
    for (const auto& f : flags) {
        if (device == QLatin1String(f.command)) {
            known = true;
            flagFile(QLatin1String(f.flag), f.create);
        }
    }
    if (device == QLatin1String("ApplicationReboot")) {
        known = true;
        if (!rt_.actions.run(QStringLiteral("ApplicationReboot")))
            rt_.log.admem(QStringLiteral("Maintenance action not available: ApplicationReboot"));
    }
    if (!known)
        rt_.log.admem(QLatin1String("Unknown maintenance command: ") +
                      logText(device + QLatin1String(" - ") + command));
}

void EventFiles::createmaintanance(const QString& name) {
    const DataRoot& root = rt_.root;
    const QString top = QStringLiteral("maintanance");
    const QString dir = top + QLatin1Char('\\') + name;
    if (!isValidName(name) || root.exists(dir))
        return;
    if (!root.makeDir(top) || !root.makeDir(dir) ||
        !root.makeDir(top + QLatin1String("\\FirmwareUpdate"))) {
        rt_.log.admem(QLatin1String("Error creating directory: ") + logText(dir));
        return;
    }
    auto write = [&](const QString& file, const QString& line) {
        QString error;
        if (!writeLinesAtomic(root.path(file), {line}, &error))
            rt_.log.admem(QLatin1String("Error writing file: ") + logText(error));
    };
    for (const char* c : kRoomMaintenanceCommands) {
        const QString command = QLatin1String(c);
        const QString folder = command == QLatin1String("QuartelFlash")
                                   ? top + QLatin1String("\\FirmwareUpdate")
                                   : dir;
        write(folder + QLatin1String("\\support ") + name + QLatin1String(" - ") + command +
                  QLatin1String(".run"),
              QLatin1String("PC; ") + name + QLatin1String("; ") + command);
    }
    for (const char* p : kPcMaintenanceCommands) {
        write(top + QLatin1String("\\support PC - ") + QLatin1String(p) + QLatin1String(".run"),
              QLatin1String("PC; ") + QLatin1String(p));
    }
}

}  // namespace velmar
