#include "log/log_files.h"

#include <sys/stat.h>

#include <QFile>
#include <optional>

#include "base/cp1250.h"
#include "base/dir_listing.h"
#include "base/names.h"
#include "base/text_file.h"
#include "log/event_log.h"

namespace velmar {

LogFiles::LogFiles(const DataRoot& root, EventLog& log, const Clock& clock)
    : root_(root), log_(log), clock_(clock) {}

void LogFiles::WriteLog(const QString& filename, const QString& devn, const QString& commn,
                        const QString& views, const QString& /*shortcommand*/) {
    const QString line =
        EventLog::formatLine(clock_.now(), devn + QLatin1String(" ->    ") + commn);
    QString error;
    if (!appendFile(root_.path(QLatin1String("logs\\") + filename), toCp1250(line) + "\r\n",
                    &error)) {
        log_.admem(QLatin1String("Error writing log file: ") + filename + QLatin1String(" -> ") +
                   error);
    }
    if (views.isEmpty())
        return;
    if (!writeLinesAtomic(root_.path(QLatin1String("status\\") + filename),
                          {devn + QLatin1String(" - ") + commn}, &error)) {
        log_.admem(QLatin1String("Error writing  file: status\\") + filename +
                   QLatin1String(" -> ") + error);
    }
}

void LogFiles::copygraph(const QString& devname, const QString& command,
                         const QString& shortcommand) {
    const QString picture = devname + QLatin1String(" - ") + shortcommand + QLatin1String(".asc");
    if (!isValidName(picture) || !isValidName(devname + QLatin1String(".log"))) {
        log_.admem(QLatin1String("Error copygraph: invalid name \"") + picture + QLatin1Char('"'));
        return;
    }
    // Views are the sub-folders of "all graphics" without an extension; a folder such as
    // "hall.old" is a copy put aside, not a view.
    bool haveGraphics = false;
    const QString graphics = root_.path(QStringLiteral("all graphics"), &haveGraphics);
    const QStringList views =
        haveGraphics ? listDir(graphics, QStringLiteral("*."), EntryKind::Dirs) : QStringList();
    QString last;
    for (const QString& v : views) {
        if (!isValidName(v)) {
            log_.admem(QLatin1String("Error copygraph: invalid view name \"") + v +
                       QLatin1Char('"'));
            continue;
        }
        if (ftime_) {
            for (const QString& dir :
                 {QStringLiteral("logs"), QStringLiteral("status"), QStringLiteral("views"),
                  QLatin1String("logs\\") + v, QLatin1String("status\\") + v}) {
                root_.makeDir(dir);
            }
            root_.makeDir(QLatin1String("views\\") + v);
        }
        crfile(v + QLatin1String(".blk"));
        const QString source = QLatin1String("all graphics\\") + v + QLatin1Char('\\') + picture;
        const QString target = QLatin1String("views\\") + v + QLatin1Char('\\') + picture;
        if (root_.exists(source) && !root_.exists(target) && cp(source, target, true)) {
            WriteLog(v + QLatin1Char('\\') + v + QLatin1String(".log"), devname, command, v,
                     shortcommand);
        }
        WriteLog(v + QLatin1Char('\\') + devname + QLatin1String(".log"), devname, command, v,
                 shortcommand);
        delfile(v + QLatin1String(".blk"));
        last = v;
    }
    ftime_ = false;
    crfile(last + QLatin1String(".stp"));
}

std::optional<LogFiles::FlagStamp> LogFiles::flagStamp(const QByteArray& native) {
    struct stat st {};
    if (::lstat(native.constData(), &st) != 0 || !S_ISREG(st.st_mode))
        return std::nullopt;
    return FlagStamp{static_cast<std::uint64_t>(st.st_ino),
                     static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec,
                     static_cast<std::int64_t>(st.st_size)};
}

bool LogFiles::crfile(const QString& name) {
    std::lock_guard lock(flagsMutex_);
    // A flag this object wrote under the name as spelled, still in place: one look settles it.
    QString spelled = root_.root() + name;
    spelled.replace(QLatin1Char('\\'), QLatin1Char('/'));
    if (const auto known = flags_.constFind(spelled); known != flags_.constEnd()) {
        if (flagStamp(QFile::encodeName(spelled)) == *known)
            return true;
    }
    const QString path = root_.path(name);
    const QByteArray native = QFile::encodeName(path);
    const auto now = flagStamp(native);
    if (now && flags_.value(path) == *now)
        return true;
    // A flag already in place is left as it is: rewriting it would change the folder, and so
    // cost every look-up in it a new listing, once per message.
    QString error;
    if (!updateLinesAtomic(path, {QStringLiteral("1")}, &error)) {
        flags_.remove(path);
        log_.admem(QLatin1String("Error writing crfile: ") + name + QLatin1String(" ->") + error);
        return false;
    }
    if (const auto written = flagStamp(native))
        flags_.insert(path, *written);
    return true;
}

bool LogFiles::delfile(const QString& name) {
    return QFile::remove(root_.path(name));
}

bool LogFiles::cp(const QString& source, const QString& target, bool failIfExists) {
    return copyFile(root_.path(source), root_.path(target), failIfExists);
}

}  // namespace velmar
