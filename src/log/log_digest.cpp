#include "log/log_digest.h"

#include <QFile>

#include "base/cp1250.h"
#include "base/dir_listing.h"
#include "base/text_file.h"
#include "log/event_log.h"

namespace velmar {

namespace {

constexpr std::int64_t kNoDate = 99999999;

// Log copies the digest sends last, after every other file.
constexpr const char* kLaterLogs[] = {"all.log", "sms.log",     "wdt.log",
                                      "tcp.log", "warning.log", "error.log"};

bool sendsLater(const QString& lowerName) {
    for (const char* name : kLaterLogs) {
        if (lowerName == QLatin1String(name))
            return true;
    }
    return false;
}

// The date filter of the copies. Short lines and lines that do not start with a date
// (continuations, received text) always pass. A dated line passes when it is from today or
// later: the digest is rebuilt every minute from the whole log copies, and older days were
// handed over on their own day.
bool keepLine(const QString& line, std::int64_t today) {
    if (line.size() <= 10)
        return true;
    const std::int64_t date = chkint64(line);
    return date == kNoDate || date >= today;
}

QString sectionName(const QString& fileName) {
    QString shown = fileName;
    if (shown.contains(QLatin1String(".log"), Qt::CaseInsensitive)) {
        shown = shown.left(shown.lastIndexOf(QLatin1Char('.'))) + QLatin1String("-log.txt");
    }
    shown.replace(QLatin1Char(' '), QLatin1Char('_'));
    return shown;
}

}  // namespace

LogDigest::LogDigest(const DataRoot& root, EventLog& log, const Clock& clock)
    : root_(root), log_(log), clock_(clock) {}

void LogDigest::ioError(const QString& message) {
    log_.admem(QLatin1String("I/O Exception: ") + message);
}

void LogDigest::getemailsconfig() {
    blacklist_.clear();
    blacklistcount_ = 0;
    const QString name = QStringLiteral("emailblacklist.cfg");
    if (root_.exists(name)) {
        QString error;
        const auto bytes = readFile(root_.path(name), &error);
        if (!bytes) {
            ioError(error);
        } else {
            // An empty line ends the list and is counted as its last entry.
            for (const QString& line : splitLines(*bytes)) {
                if (blacklist_.size() == kBlacklistCapacity)
                    break;
                blacklist_.append(line);
                if (line.isEmpty())
                    break;
            }
            blacklistcount_ = static_cast<int>(blacklist_.size());
        }
    }
    reademailcfg();
}

void LogDigest::reademailcfg() {
    emsubmisionsettings_.clear();
    const QString name = QStringLiteral("emsubmittion.cfg");
    if (!root_.exists(name))
        return;
    QString error;
    const auto bytes = readFile(root_.path(name), &error);
    if (!bytes) {
        ioError(error);
        return;
    }
    for (const QString& line : splitLines(*bytes)) {
        emsubmisionsettings_ += line + QLatin1String("\r\n");
    }
}

bool LogDigest::blacklisted(const QString& line) const {
    for (const QString& entry : blacklist_) {
        if (!entry.isEmpty() && line.contains(entry))
            return true;
    }
    return false;
}

void LogDigest::cpy(const QString& name, const QString& folder, std::int64_t today) {
    QString error;
    const auto bytes = readFile(root_.path(QLatin1String("logs\\") + name), &error);
    if (!bytes) {
        ioError(error);
        return;
    }
    QByteArray out;
    if (bytes->size() <= 4) {
        out = "1\r\n";
    } else {
        for (const QString& line : splitLines(*bytes)) {
            if (keepLine(line, today))
                out += toCp1250(line) + "\r\n";
        }
    }
    if (!writeFileAtomic(root_.path(folder + name), out, &error))
        ioError(error);
}

QByteArray LogDigest::section(const QString& name, const QStringList& lines, bool isLog,
                              const QString& stamp) const {
    QByteArray out = "#@!logs/" + toCp1250(sectionName(name)) + "\r\n";
    if (isLog) {
        out += "Date: " + toCp1250(stamp) + "\r\n";
        for (auto it = lines.crbegin(); it != lines.crend(); ++it) {
            if (!blacklisted(*it))
                out += toCp1250(*it) + "\r\n";
        }
        out += "\r\n";
    } else {
        out += joinLines(lines);
    }
    out += "\r\n\r\n!@#\r\n\r\n";
    return out;
}

void LogDigest::getlogs() {
    const QDateTime now = clock_.now();
    const QString stamp = dateTimeText(now);
    const QDate date = now.date();
    const std::int64_t today = date.year() * 10000 + date.month() * 100 + date.day();

    // The gateway's folder too: without it the digest would be lost.
    for (const char* dir : {"templogs", "templogs\\later", "emailsout"}) {
        const QString name = QString::fromLatin1(dir);
        if (!root_.makeDir(name))
            ioError(root_.path(name) + QLatin1String(": cannot create"));
    }

    // The ".log" copies and other files with a three-letter extension; the growing ".logs"
    // files and the digest itself ("logs.txtt") are left out.
    for (const QString& name : listDir(root_.path(QStringLiteral("logs")), QStringLiteral("*.*"))) {
        const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
        if (dot < 0 || name.size() - dot != 4)
            continue;
        const QString lower = name.toLower();
        if (lower == QLatin1String("emails.log"))
            continue;
        cpy(name,
            sendsLater(lower) ? QStringLiteral("templogs\\later\\") : QStringLiteral("templogs\\"),
            today);
    }

    QByteArray body;
    for (const char* dir : {"templogs", "templogs\\later"}) {
        const QString folder = QString::fromLatin1(dir) + QLatin1Char('\\');
        for (const QString& name : listDir(root_.path(folder))) {
            const QString file = root_.path(folder + name);
            QString error;
            const auto bytes = readFile(file, &error);
            if (bytes) {
                const bool isLog = name.endsWith(QLatin1String(".log"), Qt::CaseInsensitive);
                body += section(name, splitLines(*bytes), isLog, stamp);
            } else {
                ioError(error);
            }
            QFile remover(file);
            if (!remover.remove())
                ioError(file + QLatin1String(": ") + remover.errorString());
        }
    }

    const QByteArray digest = toCp1250(emsubmisionsettings_) + "\r\n" +
                              "+-+-BEGIN_LOG_MESSAGE+-+-\r\n" + body +
                              "+-+-END_LOG_MESSAGE+-+-\r\n";
    QString error;
    if (!writeFileAtomic(root_.path(QStringLiteral("logs\\logs.txtt")), digest, &error))
        ioError(error);
    // The gateway picks the file up whenever it appears, so it is replaced in one step.
    if (!writeFileAtomic(root_.path(QStringLiteral("emailsout\\logs.txt")), digest, &error))
        ioError(error);
}

std::int64_t chkint64(const QString& text) {
    if (text.size() < 10)
        return kNoDate;
    const QString digits = text.mid(0, 4) + text.mid(5, 2) + text.mid(8, 2);
    std::int64_t value = 0;
    for (const QChar c : digits) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return kNoDate;
        value = value * 10 + (c.unicode() - '0');
    }
    return value;
}

}  // namespace velmar
