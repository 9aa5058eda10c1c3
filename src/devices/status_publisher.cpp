#include "devices/status_publisher.h"

#include <QFile>
#include <QFileInfo>

#include "base/cp1250.h"
#include "base/dir_listing.h"
#include "base/names.h"
#include "base/text_file.h"
#include "devices/name_forms.h"
#include "log/event_log.h"

namespace velmar {

namespace {
const QString kOne = QStringLiteral("1");
// Sent requests are kept this long (0.0007 days) so that a repeated alarm is not sent twice.
constexpr qint64 kSentKeepMs = 60480;
}  // namespace

StatusFiles::StatusFiles(const DataRoot& root, EventLog& log, const Clock& clock)
    : root_(root), log_(log), clock_(clock) {}

bool StatusFiles::usableName(const QString& name) {
    if (name.isEmpty())
        return false;
    if (isValidName(name))
        return true;
    if (!refusedNames_.contains(name)) {
        refusedNames_.insert(name);
        log_.admem(QLatin1String("Error name: \"") + name +
                   QLatin1String("\" -> not usable as a file name, no flag files"));
    }
    return false;
}

bool StatusFiles::ensureFolders(const QString& name) {
    const qsizetype slash = name.lastIndexOf(QLatin1Char('\\'));
    if (slash <= 0)
        return true;
    const QString dir = name.left(slash);
    if (root_.exists(dir))
        return true;
    const QStringList parts = dir.split(QLatin1Char('\\'));
    QString path;
    for (const QString& part : parts) {
        path = path.isEmpty() ? part : path + QLatin1Char('\\') + part;
        if (!root_.makeDir(path))
            return false;
    }
    return true;
}

bool StatusFiles::flag(const QString& name, const QString& errorPrefix) {
    knownAbsent_.remove(name);
    if (root_.exists(name))
        return true;
    QString error;
    if (!ensureFolders(name) || !writeLinesAtomic(root_.path(name), {kOne}, &error)) {
        log_.admem(errorPrefix +
                   (error.isEmpty() ? QStringLiteral("cannot create folder") : error));
        return false;
    }
    return true;
}

void StatusFiles::remove(const QString& name) {
    // A flag this publisher deleted stays deleted until it creates it again: frames repeat
    // every second with most flags off, and each removal costs a path walk.
    if (knownAbsent_.contains(name))
        return;
    QFile::remove(root_.path(name));
    if (knownAbsent_.size() > kMaxKnownAbsent)
        knownAbsent_.clear();
    knownAbsent_.insert(name);
}

bool StatusFiles::writeBytesIfChanged(const QString& name, const QByteArray& bytes,
                                      const QString& errorPrefix) {
    knownAbsent_.remove(name);
    // What this publisher wrote last is remembered, so an unchanged file is neither read nor
    // written; a file that has gone since is written again.
    const auto last = lastWritten_.constFind(name);
    if (last != lastWritten_.constEnd() && *last == bytes && root_.exists(name))
        return true;
    const QString path = root_.path(name);
    if (last == lastWritten_.constEnd()) {
        if (const auto old = readFile(path); old && *old == bytes) {
            lastWritten_.insert(name, bytes);
            return true;
        }
    }
    QString error;
    if (!ensureFolders(name) || !writeFileAtomic(path, bytes, &error)) {
        lastWritten_.remove(name);
        log_.admem(errorPrefix +
                   (error.isEmpty() ? QStringLiteral("cannot create folder") : error));
        return false;
    }
    if (lastWritten_.size() > kMaxKnownAbsent)
        lastWritten_.clear();
    lastWritten_.insert(name, bytes);
    return true;
}

bool StatusFiles::writeIfChanged(const QString& name, const QStringList& lines,
                                 const QString& errorPrefix) {
    return writeBytesIfChanged(name, joinLines(lines), errorPrefix);
}

void StatusFiles::cr(const QString& device, const QString& name) {
    if (!usableName(name))
        return;
    const QString own =
        QLatin1String("logs\\") + device + QLatin1Char('\\') + name + QLatin1String(".txt");
    // An output that stays on is looked at again only every few seconds: its flag files are
    // this publisher's own (no reader consumes them), and each look costs two path walks.
    const std::int64_t now = clock_.monotonicMs();
    const auto seen = verifiedAt_.constFind(own);
    if (seen != verifiedAt_.constEnd() && now - *seen < kReverifyMs)
        return;
    const QString all =
        QLatin1String("logs\\") + device + QLatin1String("\\All\\") + name + QLatin1String(".txt");
    // Both flags are written even when the first fails.
    const bool ownOk =
        flag(own, QLatin1String("Error creating flag file: ") + own + QLatin1Char(' '));
    const bool allOk =
        flag(all, QLatin1String("Error creating flag file: ") + all + QLatin1Char(' '));
    if (ownOk && allOk) {
        if (verifiedAt_.size() > kMaxKnownAbsent)
            verifiedAt_.clear();
        verifiedAt_.insert(own, now);
    }
}

void StatusFiles::dr(const QString& device, const QString& name) {
    if (!usableName(name))
        return;
    verifiedAt_.remove(QLatin1String("logs\\") + device + QLatin1Char('\\') + name +
                       QLatin1String(".txt"));
    remove(QLatin1String("logs\\") + device + QLatin1Char('\\') + name + QLatin1String(".txt"));
    remove(QLatin1String("logs\\") + device + QLatin1String("\\All\\") + name +
           QLatin1String(".txt"));
}

void StatusFiles::crw(const QString& device, const QString& name, const QString& text) {
    if (!usableName(name))
        return;
    const QString own =
        QLatin1String("logs\\") + device + QLatin1Char('\\') + name + QLatin1String(".txt");
    writeIfChanged(own, {text},
                   QLatin1String("Error creating flag file: ") + own + QLatin1Char(' '));
}

void StatusFiles::crin(const QString& name) {
    if (!usableName(name))
        return;
    flag(QLatin1String("logs\\InputSet\\") + name + QLatin1String(".txt"),
         QStringLiteral("Error writing inputset flag file: "));
}

void StatusFiles::AdcVisualFV(const QString& first, const QString& second,
                              const QStringList& lines) {
    const QByteArray bytes = joinLines(lines);
    for (const QString& target :
         {first, second, first + QLatin1Char('v'), second + QLatin1Char('v'), second.chopped(1)}) {
        writeBytesIfChanged(
            target, bytes,
            QLatin1String("Error writing adc visual flag file: ") + target + QLatin1String(" -> "));
    }
}

QString StatusFiles::smsStem(const QString& text) {
    QString stem = getfilename(text);
    stem.replace(QLatin1Char(','), QLatin1Char(' '));
    return stem;
}

void StatusFiles::createsms(const QString& number, const QString& text) {
    const QString folder = QStringLiteral("smsout");
    const QDateTime now = clock_.now();
    const QString dir = root_.path(folder);
    for (const QString& sent : listDir(dir, QStringLiteral("*.snt"), EntryKind::Files)) {
        const QFileInfo info(dir + QLatin1Char('/') + sent);
        if (info.lastModified().msecsTo(now) > kSentKeepMs)
            QFile::remove(info.filePath());
    }
    if (number.isEmpty() || text.isEmpty())
        return;
    const QString base = number + QLatin1Char('-') + smsStem(text);
    if (!isValidName(base + QLatin1String(".txt"))) {
        log_.admem(QLatin1String("Error writing sms file: ") + base +
                   QLatin1String(" -> not usable as a file name"));
        return;
    }
    const QString request = folder + QLatin1Char('\\') + base + QLatin1String(".txt");
    if (root_.exists(request) ||
        root_.exists(folder + QLatin1Char('\\') + base + QLatin1String(".snt")))
        return;
    QString body = text;
    while (!body.isEmpty() && body.indexOf(QLatin1Char(',')) == body.size() - 1)
        body.chop(1);
    QString error;
    if (!ensureFolders(request) ||
        !writeLinesAtomic(root_.path(request), {number, getascival(body)}, &error)) {
        log_.admem(QLatin1String("Error writing sms file: ") + request + QLatin1String(" -> ") +
                   error);
    }
}

}  // namespace velmar
