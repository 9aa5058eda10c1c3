#include "base/data_root.h"

#include <sys/stat.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QStringList>
#include <cstdint>
#include <ctime>
#include <mutex>

namespace velmar {

QString dataRootFromWorkingDir(const QString& workingDir) {
    QString dir = QDir::cleanPath(workingDir);
    if (dir.isEmpty())
        dir = QStringLiteral("/");
    const int slash = dir.lastIndexOf(QLatin1Char('/'));
    const QString last = dir.mid(slash + 1);
    if (slash >= 0 && last.compare(QLatin1String("bin"), Qt::CaseInsensitive) == 0) {
        dir.truncate(slash);
    }
    if (!dir.endsWith(QLatin1Char('/')))
        dir += QLatin1Char('/');
    return dir;
}

DataRoot::DataRoot(QString root, const Clock* clock) : root_(std::move(root)), clock_(clock) {
    if (!root_.endsWith(QLatin1Char('/')))
        root_ += QLatin1Char('/');
}

namespace {

bool existsNoFollow(const QString& p) {
    struct stat st {};
    return ::lstat(QFile::encodeName(p).constData(), &st) == 0;
}

// Wall time in nanoseconds, the time base of the folders' modification times.
std::int64_t nowNs(const Clock* clock) {
    static const SystemClock system;
    return (clock ? *clock : static_cast<const Clock&>(system)).now().toMSecsSinceEpoch() * 1000000;
}

// Listings of the folders in which a name was looked for in another case, kept while the
// folder's modification time stays the same. File systems stamp a folder with a coarse clock,
// so a listing taken within a few milliseconds of the folder's last change could miss a change
// stamped with the same time: such a listing is used once and taken again next time.
class FolderCache {
  public:
    // The entry of `dir` whose name equals `name` in any case, or an empty string.
    QString find(const QString& dir, const QString& name, const Clock* clock) {
        struct stat st {};
        const QByteArray native = QFile::encodeName(dir);
        if (::stat(native.constData(), &st) != 0)
            return {};
        const std::int64_t mtime =
            static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
        std::lock_guard lock(mutex_);
        auto it = folders_.find(dir);
        if (it == folders_.end() || it->mtime != mtime || it->listedAt - mtime < kSettleNs) {
            if (folders_.size() > kMaxFolders)
                folders_.clear();
            Folder folder;
            folder.mtime = mtime;
            folder.listedAt = nowNs(clock);
            const QStringList entries = QDir(dir).entryList(QDir::AllEntries | QDir::Hidden |
                                                            QDir::System | QDir::NoDotAndDotDot);
            for (const QString& e : entries)
                folder.names.insert(e.toCaseFolded(), e);
            it = folders_.insert(dir, std::move(folder));
        }
        return it->names.value(name.toCaseFolded());
    }

  private:
    static constexpr std::int64_t kSettleNs = 50 * 1000000;
    static constexpr qsizetype kMaxFolders = 512;
    struct Folder {
        std::int64_t mtime = 0;
        std::int64_t listedAt = 0;
        QHash<QString, QString> names;  // case-folded name -> name on disk
    };
    std::mutex mutex_;
    QHash<QString, Folder> folders_;
};

FolderCache& folderCache() {
    static FolderCache cache;
    return cache;
}

}  // namespace

QString resolveCaseInsensitive(const QString& base, const QString& relative) {
    return resolve(base, relative, nullptr, nullptr);
}

QString resolve(const QString& base, const QString& relative, bool* exists, const Clock* clock) {
    QString result = base;
    if (!result.endsWith(QLatin1Char('/')))
        result += QLatin1Char('/');
    if (exists)
        *exists = false;
    // The common case: the name exists as spelled.
    const QString spelled = result + relative;
    const bool triedSpelled = !relative.contains(QLatin1String(".."));
    if (triedSpelled && existsNoFollow(spelled)) {
        if (exists)
            *exists = true;
        return spelled;
    }
    const QStringList parts = relative.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    bool parentExists = true;
    for (int i = 0; i < parts.size(); ++i) {
        const QString& part = parts[i];
        QString chosen = part;
        if (parentExists && part != QLatin1String(".") && part != QLatin1String("..")) {
            // The whole name as spelled was just found missing: no need to look again.
            const QString candidate = result + part;
            const bool knownMissing = triedSpelled && i + 1 == parts.size() && candidate == spelled;
            if (knownMissing || !existsNoFollow(candidate)) {
                const QString found = folderCache().find(result, part, clock);
                parentExists = !found.isEmpty();
                if (parentExists)
                    chosen = found;
            }
        }
        result += chosen;
        if (i + 1 < parts.size())
            result += QLatin1Char('/');
    }
    if (relative.endsWith(QLatin1Char('/')) && !result.endsWith(QLatin1Char('/')))
        result += QLatin1Char('/');
    // Found in another case (or through ".."): one more look settles it.
    if (exists && parentExists)
        *exists = existsNoFollow(result);
    return result;
}

QString DataRoot::path(const QString& relativeName) const {
    QString rel = relativeName;
    rel.replace(QLatin1Char('\\'), QLatin1Char('/'));
    return resolve(root_, rel, nullptr, clock_);
}

QString DataRoot::path(const QString& relativeName, bool* exists) const {
    QString rel = relativeName;
    rel.replace(QLatin1Char('\\'), QLatin1Char('/'));
    return resolve(root_, rel, exists, clock_);
}

bool DataRoot::exists(const QString& relativeName) const {
    bool found = false;
    path(relativeName, &found);
    return found;
}

bool DataRoot::makeDir(const QString& relativeName) const {
    const QString p = path(relativeName);
    if (QFileInfo(p).isDir())
        return true;
    return QDir().mkdir(p);
}

}  // namespace velmar
