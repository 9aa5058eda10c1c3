#include "log/event_log.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <cerrno>
#include <cstring>

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

QString errnoText() {
    return QString::fromLocal8Bit(std::strerror(errno));
}

// Copies `source` over `target` through a temporary file renamed into place, so a reader of
// the ".log" copy never sees it half written. Copies inside the kernel where it can.
bool copyAtomic(const QByteArray& source, const QString& target, QString* error) {
    const int in = ::open(source.constData(), O_RDONLY | O_CLOEXEC);
    if (in < 0) {
        *error = errnoText();
        return false;
    }
    struct stat st {};
    ::fstat(in, &st);
    const int slash = target.lastIndexOf(QLatin1Char('/'));
    const QByteArray tmp =
        QFile::encodeName(target.left(slash + 1) + QLatin1String(kTempPrefix) +
                          QString::number(::getpid()) + QLatin1String("-log.tmp"));
    const int out = ::open(tmp.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (out < 0) {
        *error = errnoText();
        ::close(in);
        return false;
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
            if (n > 0) {
                for (ssize_t done = 0; done < n;) {
                    const ssize_t w = ::write(out, buf + done, static_cast<size_t>(n - done));
                    if (w < 0) {
                        if (errno == EINTR)
                            continue;
                        n = -1;
                        break;
                    }
                    done += w;
                }
            }
        }
        if (n < 0) {
            if (errno == EINTR)
                continue;
            ok = false;
        } else if (n == 0) {
            break;  // the source shrank meanwhile
        } else {
            left -= n;
        }
    }
    if (!ok)
        *error = errnoText();
    ::close(in);
    if (::close(out) != 0 && ok) {
        ok = false;
        *error = errnoText();
    }
    if (!ok) {
        ::unlink(tmp.constData());
        return false;
    }
    QString why;
    if (!replaceWith(tmp, QFile::encodeName(target), &why, target)) {
        *error = why;
        return false;
    }
    return true;
}

}  // namespace

EventLog::EventLog(const DataRoot& root, const Clock& clock) : root_(root), clock_(clock) {}

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

void EventLog::admem(const QString& text) {
    std::lock_guard lock(mutex_);
    QStringList notes;
    if (armed_) {
        armed_ = false;
        rotateLocked(notes);
    }
    writeLocked(text, notes);
    // Notes about rotation failures follow the line; they never rotate again.
    QStringList none;
    for (const QString& note : notes)
        writeLocked(note, none);
}

void EventLog::writeLocked(const QString& text, QStringList& notes) {
    const QDateTime now = clock_.now();
    const QString line = formatLine(now, text);
    const QByteArray bytes = toCp1250(line) + "\r\n";
    // Every file is checked against the size limit before it takes the line, so a busy log
    // never outgrows the limit while it waits for the periodic check.
    rotateFile(QStringLiteral("all.logs"), now, notes);
    QString failure = appendAndCopy(QStringLiteral("all.logs"), bytes);
    if (sink_)
        sink_(line + QLatin1Char('\n'));
    const QString upper = line.toUpper();
    for (const LogClass& c : kClasses) {
        if (!upper.contains(QLatin1String(c.keyword)))
            continue;
        rotateFile(QLatin1String(c.file), now, notes);
        const QString error = appendAndCopy(QLatin1String(c.file), bytes);
        if (failure.isEmpty())
            failure = error;
    }
    // A log that cannot be written never stops the program: the Results pane is told once,
    // and again after the files could be written in between.
    if (!failure.isEmpty() && !writeFailed_ && sink_) {
        sink_(formatLine(clock_.now(), QLatin1String("Error writing log file: ") + failure) +
              QLatin1Char('\n'));
    }
    writeFailed_ = !failure.isEmpty();
}

QString EventLog::appendAndCopy(const QString& logsName, const QByteArray& bytes) {
    const QString logs = root_.path(QLatin1String("logs/") + logsName);
    QString copy = logs;
    copy.chop(1);  // "x.logs" -> "x.log"
    QString error;
    if (!appendFile(logs, bytes, &error))
        return error;
    if (!copyAtomic(QFile::encodeName(logs), copy, &error))
        return copy + QLatin1String(": ") + error;
    return {};
}

void EventLog::rotateLocked(QStringList& notes) {
    const QDateTime now = clock_.now();
    for (const char* name : kRotated)
        rotateFile(QLatin1String(name), now, notes);
}

// Moves a ".logs" file over the size limit to "backup-logs\<time stamp>-<name>", adding "_"
// to the time stamp until the name is free. Only when it can be neither moved nor copied is it
// deleted, so that it cannot grow without bound.
void EventLog::rotateFile(const QString& name, const QDateTime& now, QStringList& notes) {
    if (logSize_ <= 0)
        return;
    const QString file = root_.path(QLatin1String("logs/") + name);
    struct stat st {};
    if (::stat(QFile::encodeName(file).constData(), &st) != 0)
        return;
    if (st.st_size <= logSize_)
        return;
    root_.makeDir(QStringLiteral("backup-logs"));
    const QString dir = root_.path(QStringLiteral("backup-logs")) + QLatin1Char('/');
    const QByteArray source = QFile::encodeName(file);
    QString stem = backupName(now, name);
    stem.chop(name.size());  // the free name is found by adding "_" to the time stamp
    bool moved = false;
    QString why;
    for (int i = 0; i < 100 && !moved; ++i, stem.insert(stem.size() - 1, QLatin1Char('_'))) {
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
    }
}

}  // namespace velmar
