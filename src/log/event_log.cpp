#include "log/event_log.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>
#include <vector>

#include "base/cp1250.h"
#include "base/text_file.h"

namespace velmar {

namespace {

struct LogClass {
    const char* keyword;
    const char* file;
};

// The classified log files, in the order lines are written to them.
constexpr LogClass kClasses[] = {
    {"TCP", "tcp.logs"},          {"ALARM", "alarms.logs"}, {"SECU", "secu.logs"},
    {"WARNING", "warnings.logs"}, {"ERROR", "errors.logs"},
};

// The files the size check looks at, in its order.
constexpr const char* kRotated[] = {"all.logs",      "secu.logs",   "errors.logs",
                                    "warnings.logs", "alarms.logs", "tcp.logs"};

// Failure texts tracked for the repeat summaries at most; past this the pending summaries are
// written and the table starts afresh.
constexpr qsizetype kMaxRepeats = 256;
// Notes (rotation, backup removals) written after one line at most.
constexpr int kMaxNotes = 64;
// Backup removals told one by one after a rotation; the rest are summed up in one line.
constexpr int kMaxBackupNotes = 16;

// "2026-12-09 10_11_12-all.logs": the time stamp of a rotation (with "_" added while the name
// was taken), "-", the log's name.
bool isBackupName(const QByteArray& name) {
    static const char pattern[] = "dddd-dd-dd dd_dd_dd";
    const qsizetype n = sizeof pattern - 1;
    if (name.size() <= n + 1)
        return false;
    for (qsizetype i = 0; i < n; ++i) {
        const bool digit = name[i] >= '0' && name[i] <= '9';
        if (pattern[i] == 'd' ? !digit : name[i] != pattern[i])
            return false;
    }
    qsizetype i = n;
    while (i < name.size() && name[i] == '_')
        ++i;
    return i + 1 < name.size() && name[i] == '-';
}

QString errnoText(int error = errno) {
    return QString::fromLocal8Bit(std::strerror(error));
}

bool sameFile(const struct stat& st, dev_t dev, ino_t ino) {
    return st.st_dev == dev && st.st_ino == ino;
}

// Copies `source` over `target` through a temporary file renamed into place, so a reader of
// the ".log" copy never sees it half written. Copies inside the kernel where it can. Returns
// the copy opened for appending, or -1.
int copyAtomic(const QByteArray& source, const QString& target, QString* error) {
    const int in = ::open(source.constData(), O_RDONLY | O_CLOEXEC);
    if (in < 0) {
        *error = errnoText();
        return -1;
    }
    struct stat st {};
    ::fstat(in, &st);
    const int slash = static_cast<int>(target.lastIndexOf(QLatin1Char('/')));
    const QByteArray tmp =
        QFile::encodeName(target.left(slash + 1) + QLatin1String(kTempPrefix) +
                          QString::number(::getpid()) + QLatin1String("-log.tmp"));
    const int out = ::open(tmp.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (out < 0) {
        *error = errnoText();
        ::close(in);
        return -1;
    }
    bool ok = true;
    off_t left = st.st_size;
    bool kernelCopy = true;
    char buf[65536];
    while (left > 0 && ok) {
        ssize_t n = -1;
        if (kernelCopy) {
            n = ::copy_file_range(in, nullptr, out, nullptr, static_cast<size_t>(left), 0);
            if (n < 0 &&
                (errno == EXDEV || errno == ENOSYS || errno == EINVAL || errno == EOPNOTSUPP)) {
                kernelCopy = false;
                continue;
            }
        } else {
            n = ::read(in, buf, sizeof buf);
            if (n > 0 && !writeAll(out, buf, n))
                n = -1;
        }
        if (n < 0) {
            if (errno == EINTR)
                continue;
            ok = false;
        } else if (n == 0) {
            break;  // the source shrank meanwhile; the next line sees the sizes differ
        } else {
            left -= n;
        }
    }
    if (!ok)
        *error = errnoText();
    ::close(in);
    // Lines from now on are appended to the copy the rename puts in place.
    const int flags = ::fcntl(out, F_GETFL);
    if (ok && (flags < 0 || ::fcntl(out, F_SETFL, flags | O_APPEND) != 0)) {
        ok = false;
        *error = errnoText();
    }
    if (!ok) {
        ::close(out);
        ::unlink(tmp.constData());
        return -1;
    }
    QString why;
    if (!replaceWith(tmp, QFile::encodeName(target), &why, target)) {
        ::close(out);
        *error = why;
        return -1;
    }
    return out;
}

QString repeatedText(const QString& text, std::int64_t times) {
    return text + QLatin1String(" (repeated ") + QString::number(times) + QLatin1String(" times)");
}

}  // namespace

EventLog::EventLog(const DataRoot& root, const Clock& clock, RunCounters* counters)
    : root_(root), clock_(clock), counters_(counters) {
    for (std::size_t i = 0; i < files_.size(); ++i)
        files_[i].name = kRotated[i];
}

EventLog::~EventLog() {
    std::lock_guard lock(mutex_);
    // The clock, the counters and whatever the sink reaches may be gone by now: the summaries
    // go to the files only, stamped with the last time the log read the clock, uncounted.
    counters_ = nullptr;
    sink_ = nullptr;
    QStringList notes;
    flushLocked(last_, notes);
    writeNotes(notes, last_);
    for (LogFile& f : files_)
        closeFile(f);
}

EventLog::Moment EventLog::nowLocked() {
    last_ = {clock_.now(), clock_.monotonicMs()};
    return last_;
}

void EventLog::setSink(Sink sink) {
    std::lock_guard lock(mutex_);
    sink_ = std::move(sink);
}

void EventLog::toSink(const QString& text) {
    std::lock_guard lock(mutex_);
    if (sink_)
        sink_(text);
}

void EventLog::armCheck() {
    std::lock_guard lock(mutex_);
    armed_ = true;
}

bool EventLog::checkArmed() const {
    std::lock_guard lock(mutex_);
    return armed_;
}

void EventLog::setLogSize(std::int32_t bytes) {
    std::lock_guard lock(mutex_);
    logSize_ = bytes;
}

std::int32_t EventLog::logSize() const {
    std::lock_guard lock(mutex_);
    return logSize_;
}

void EventLog::setBackupLimit(std::int64_t bytes) {
    std::lock_guard lock(mutex_);
    backupLimit_ = bytes;
}

std::int64_t EventLog::backupLimit() const {
    std::lock_guard lock(mutex_);
    return backupLimit_;
}

void EventLog::setCounters(RunCounters* counters) {
    std::lock_guard lock(mutex_);
    counters_ = counters;
}

QString EventLog::formatLine(const QDateTime& when, const QString& text) {
    QString escaped = text;
    if (escaped.contains(QLatin1Char('\r')) || escaped.contains(QLatin1Char('\n')) ||
        escaped.contains(QChar(0))) {
        escaped.replace(QLatin1Char('\r'), QLatin1String("\\r"));
        escaped.replace(QLatin1Char('\n'), QLatin1String("\\n"));
        escaped.replace(QChar(0), QLatin1String("\\0"));
    }
    return dateTimeText(when) + QLatin1String(" :    ") + escaped;
}

QString EventLog::backupName(const QDateTime& when, const QString& fileName) {
    QString stamp = dateTimeText(when);
    stamp.replace(QLatin1Char(':'), QLatin1Char('_'));
    return stamp + QLatin1Char('-') + fileName;
}

bool EventLog::isFailure(const QString& text) {
    const QString upper = text.toUpper();
    for (const char* word : {"ERROR", "WARNING", "FAIL", "EXCEPTION"}) {
        if (upper.contains(QLatin1String(word)))
            return true;
    }
    const QString start = upper.trimmed();
    return start.startsWith(QLatin1String("CANT")) || start.startsWith(QLatin1String("CAN'T"));
}

void EventLog::admem(const QString& text) {
    write(text, true);
}

void EventLog::admemEvent(const QString& text) {
    write(text, false);
}

void EventLog::write(const QString& text, bool foldRepeats) {
    std::lock_guard lock(mutex_);
    const Moment now = nowLocked();
    QStringList notes;
    if (armed_) {
        armed_ = false;
        rotateLocked(now.wall, notes);
    }
    if (foldRepeats)
        logLocked(text, false, now, notes);
    else
        emitLocked(text, false, now, notes);
    writeNotes(notes, now);
}

void EventLog::flushRepeats() {
    std::lock_guard lock(mutex_);
    const Moment now = nowLocked();
    QStringList notes;
    flushLocked(now, notes);
    writeNotes(notes, now);
}

void EventLog::close() {
    flushRepeats();
    std::lock_guard lock(mutex_);
    for (LogFile& f : files_)
        closeFile(f);
}

void EventLog::resync() {
    std::lock_guard lock(mutex_);
    for (LogFile& f : files_)
        f.inStep = false;
}

// Notes about rotations and backups follow the line that caused them, in their order; a note
// may bring notes of its own (a rotation while it is written), up to a bound.
void EventLog::writeNotes(QStringList& notes, const Moment& now) {
    for (int i = 0; i < notes.size() && i < kMaxNotes; ++i)
        logLocked(notes[i], false, now, notes);
    notes.clear();
}

void EventLog::logLocked(const QString& text, bool sinkOnly, const Moment& now,
                         QStringList& notes) {
    if (!isFailure(text)) {
        emitLocked(text, sinkOnly, now, notes);
        return;
    }
    Repeats& map = sinkOnly ? sinkRepeats_ : repeats_;
    auto it = map.find(text);
    if (it == map.end()) {
        if (map.size() >= kMaxRepeats) {
            flushMap(map, sinkOnly, now, notes);
            if (map.size() >= kMaxRepeats)
                map.clear();
        }
        map.insert(text, Repeat{now.mono, 0});
        emitLocked(text, sinkOnly, now, notes);
        return;
    }
    if (now.mono - it->sinceMs < kRepeatWindowMs) {
        ++it->pending;
        return;
    }
    const std::int64_t times = it->pending + 1;
    it->pending = 0;
    it->sinceMs = now.mono;
    emitLocked(times > 1 ? repeatedText(text, times) : text, sinkOnly, now, notes);
}

void EventLog::emitLocked(const QString& text, bool sinkOnly, const Moment& now,
                          QStringList& notes) {
    if (!sinkOnly) {
        writeLocked(text, now, notes);
    } else if (sink_) {
        sink_(formatLine(now.wall, text) + QLatin1Char('\n'));
    }
}

void EventLog::flushLocked(const Moment& now, QStringList& notes) {
    flushMap(repeats_, false, now, notes);
    flushMap(sinkRepeats_, true, now, notes);
}

void EventLog::flushMap(Repeats& map, bool sinkOnly, const Moment& now, QStringList& notes) {
    // Writing a summary never touches this table: a file line's failure notes go to the pane's
    // table, and the pane's notes are not written to files.
    for (auto it = map.begin(); it != map.end();) {
        if (it->pending > 0) {
            const QString text = it->pending > 1 ? repeatedText(it.key(), it->pending) : it.key();
            it->pending = 0;
            it->sinceMs = now.mono;
            emitLocked(text, sinkOnly, now, notes);
            ++it;
        } else if (now.mono - it->sinceMs >= kRepeatWindowMs) {
            it = map.erase(it);
        } else {
            ++it;
        }
    }
}

void EventLog::writeLocked(const QString& text, const Moment& now, QStringList& notes) {
    const QString line = formatLine(now.wall, text);
    const QByteArray bytes = toCp1250(line) + "\r\n";
    // Every file is checked against the size limit before it takes the line, so a busy log
    // never outgrows the limit while it waits for the periodic check.
    QString failure = append(file("all.logs"), bytes, now.wall, notes);
    if (sink_)
        sink_(line + QLatin1Char('\n'));
    const QString upper = line.toUpper();
    for (const LogClass& c : kClasses) {
        if (!upper.contains(QLatin1String(c.keyword)))
            continue;
        const QString error = append(file(c.file), bytes, now.wall, notes);
        if (failure.isEmpty())
            failure = error;
    }
    // A log that cannot be written never stops the program: the line is counted and the
    // Results pane is told why, under the repeat rule.
    if (!failure.isEmpty()) {
        if (counters_)
            counters_->logWriteFailures.fetch_add(1, std::memory_order_relaxed);
        logLocked(QLatin1String("Error writing log file: ") + failure, true, now, notes);
    }
}

EventLog::LogFile& EventLog::file(const char* name) {
    for (LogFile& f : files_) {
        if (std::strcmp(f.name, name) == 0)
            return f;
    }
    return files_[0];  // not reached: every class file is in the table
}

void EventLog::closeFile(LogFile& f) {
    if (f.logsFd >= 0)
        ::close(f.logsFd);
    if (f.copyFd >= 0)
        ::close(f.copyFd);
    f.logsFd = -1;
    f.copyFd = -1;
    f.inStep = false;
}

QString EventLog::append(LogFile& f, const QByteArray& bytes, const QDateTime& now,
                         QStringList& notes) {
    // The names are looked up again for every line: a file deleted, moved or replaced meanwhile
    // is opened afresh rather than written through a descriptor nobody can read.
    struct stat st {};
    std::int64_t size = 0;
    if (f.logsFd >= 0) {
        if (::stat(f.logsPath.constData(), &st) == 0 && sameFile(st, f.logsDev, f.logsIno))
            size = st.st_size;
        else
            closeFile(f);
    }
    if (f.logsFd < 0) {
        f.logsPath = QFile::encodeName(root_.path(QLatin1String("logs/") + QLatin1String(f.name)));
        size = ::stat(f.logsPath.constData(), &st) == 0 ? st.st_size : 0;
    }
    if (logSize_ > 0 && size > logSize_) {
        rotateFile(f, now, notes, size);
        size = 0;
    }
    if (f.logsFd < 0) {
        const int fd =
            ::open(f.logsPath.constData(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
        if (fd < 0 || ::fstat(fd, &st) != 0) {
            const QString why = errnoText();
            if (fd >= 0)
                ::close(fd);
            return QFile::decodeName(f.logsPath) + QLatin1String(": ") + why;
        }
        f.logsFd = fd;
        f.logsDev = st.st_dev;
        f.logsIno = st.st_ino;
        f.inStep = false;
        size = st.st_size;
    }
    if (f.inStep && (::stat(f.copyPath.constData(), &st) != 0 ||
                     !sameFile(st, f.copyDev, f.copyIno) || st.st_size != size)) {
        f.inStep = false;  // the copy was deleted, replaced or changed by hand
    }
    if (!writeAll(f.logsFd, bytes.constData(), bytes.size())) {
        const QString why = errnoText();
        // A line the file took only in part is taken back, so that lines stay whole.
        [[maybe_unused]] const int ignored = ::ftruncate(f.logsFd, static_cast<off_t>(size));
        f.inStep = false;
        return QFile::decodeName(f.logsPath) + QLatin1String(": ") + why;
    }
    if (f.inStep) {
        if (writeAll(f.copyFd, bytes.constData(), bytes.size()))
            return {};
        f.inStep = false;  // the copy is refreshed in full at once
    }
    return refreshCopy(f);
}

QString EventLog::refreshCopy(LogFile& f) {
    if (f.copyFd >= 0) {
        ::close(f.copyFd);
        f.copyFd = -1;
    }
    QString copy = QFile::decodeName(f.logsPath);
    copy.chop(1);  // "x.logs" -> "x.log"
    f.copyPath = QFile::encodeName(copy);
    QString error;
    const int fd = copyAtomic(f.logsPath, copy, &error);
    struct stat st {};
    if (fd < 0 || ::fstat(fd, &st) != 0) {
        if (fd >= 0) {
            error = errnoText();
            ::close(fd);
        }
        return copy + QLatin1String(": ") + error;
    }
    f.copyFd = fd;
    f.copyDev = st.st_dev;
    f.copyIno = st.st_ino;
    f.inStep = true;
    return {};
}

void EventLog::rotateLocked(const QDateTime& now, QStringList& notes) {
    for (const char* name : kRotated)
        rotateFile(file(name), now, notes);
}

// Moves a ".logs" file over the size limit to "backup-logs\<time stamp>-<name>", adding "_"
// to the time stamp until the name is free. Only when it can be neither moved nor copied is it
// deleted, so that it cannot grow without bound.
void EventLog::rotateFile(LogFile& f, const QDateTime& now, QStringList& notes, std::int64_t size) {
    if (logSize_ <= 0)
        return;
    const QString name = QLatin1String(f.name);
    const QString file = root_.path(QLatin1String("logs/") + name);
    const QByteArray source = QFile::encodeName(file);
    if (size < 0) {
        struct stat st {};
        if (::stat(source.constData(), &st) != 0)
            return;
        size = st.st_size;
    }
    if (size <= logSize_)
        return;
    // The descriptors would follow the file into the backup folder.
    closeFile(f);
    root_.makeDir(QStringLiteral("backup-logs"));
    const QString dir = root_.path(QStringLiteral("backup-logs")) + QLatin1Char('/');
    QString stem = backupName(now, name);
    stem.chop(name.size());  // the free name is found by adding "_" to the time stamp
    bool moved = false;
    QString why;
    QByteArray made;  // the backup's name
    for (int i = 0; i < 100 && !moved; ++i, stem.insert(stem.size() - 1, QLatin1Char('_'))) {
        made = QFile::encodeName(stem + name);
        const QByteArray target = QFile::encodeName(dir + stem + name);
        if (::link(source.constData(), target.constData()) == 0) {
            ::unlink(source.constData());
            moved = true;
        } else if (errno == EEXIST) {
            continue;
        } else if (::access(target.constData(), F_OK) != 0 &&
                   ::rename(source.constData(), target.constData()) == 0) {
            moved = true;  // a file system without hard links
        } else {
            why = errnoText();
            QString copyError;
            if (copyFile(file, dir + stem + name, true, &copyError)) {
                ::unlink(source.constData());
                moved = true;
            }
            break;
        }
    }
    if (!moved) {
        ::unlink(source.constData());
        notes.append(QLatin1String("Error rotating log file: logs\\") + name +
                     QLatin1String(" -> ") +
                     (why.isEmpty() ? QStringLiteral("no free name") : why) +
                     QLatin1String("; the file was deleted"));
        return;
    }
    trimBackups(notes, made);
}

// Deletes the oldest backups until "backup-logs\" holds at most the limit. Backup names begin
// with the time stamp of their rotation, so the order of names is the order of age. Only such
// names are backups: other files in the folder are neither counted nor deleted. The backup just
// made is kept whatever its name says (a clock set back would make it the oldest). Each
// deletion is logged, up to kMaxBackupNotes of them; the rest are summed up in one line.
void EventLog::trimBackups(QStringList& notes, const QByteArray& justMade) {
    if (backupLimit_ <= 0)
        return;
    const QByteArray dir = QFile::encodeName(root_.path(QStringLiteral("backup-logs")));
    DIR* d = ::opendir(dir.constData());
    if (!d) {
        notes.append(QLatin1String("Error listing log backups: backup-logs -> ") + errnoText());
        return;
    }
    std::vector<std::pair<QByteArray, std::int64_t>> backups;
    std::int64_t total = 0;
    while (const dirent* e = ::readdir(d)) {
        const QByteArray entry(e->d_name);
        if (!isBackupName(entry))
            continue;
        struct stat st {};
        if (::fstatat(::dirfd(d), e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode))
            continue;
        backups.emplace_back(entry, st.st_size);
        total += st.st_size;
    }
    const int fd = ::dirfd(d);
    std::sort(backups.begin(), backups.end());
    int deleted = 0;
    std::int64_t unsaidFiles = 0;
    std::int64_t unsaidBytes = 0;
    for (const auto& [entry, bytes] : backups) {
        if (total <= backupLimit_)
            break;
        if (entry == justMade)
            continue;
        const QString shown = QLatin1String("backup-logs\\") + QFile::decodeName(entry);
        if (::unlinkat(fd, entry.constData(), 0) != 0) {
            notes.append(QLatin1String("Error deleting log backup: ") + shown +
                         QLatin1String(" -> ") + errnoText());
            continue;
        }
        total -= bytes;
        if (++deleted > kMaxBackupNotes) {
            ++unsaidFiles;
            unsaidBytes += bytes;
            continue;
        }
        notes.append(QLatin1String("Log backup deleted: ") + shown + QLatin1String(", ") +
                     QString::number(bytes) + QLatin1String(" bytes (backups kept within ") +
                     QString::number(backupLimit_) + QLatin1String(" bytes)"));
    }
    if (unsaidFiles > 0) {
        notes.append(QLatin1String("Log backups deleted: ") + QString::number(unsaidFiles) +
                     QLatin1String(" more, ") + QString::number(unsaidBytes) +
                     QLatin1String(" bytes (backups kept within ") + QString::number(backupLimit_) +
                     QLatin1String(" bytes)"));
    }
    ::closedir(d);
}

}  // namespace velmar
