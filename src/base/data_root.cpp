#include "base/data_root.h"

#include <QDir>
#include <QFileInfo>
#include <QStringList>

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

DataRoot::DataRoot(QString root) : root_(std::move(root)) {
    if (!root_.endsWith(QLatin1Char('/')))
        root_ += QLatin1Char('/');
}

static bool existsNoFollow(const QString& p) {
    QFileInfo fi(p);
    return fi.exists() || fi.isSymLink();
}

QString resolveCaseInsensitive(const QString& base, const QString& relative) {
    QString result = base;
    if (!result.endsWith(QLatin1Char('/')))
        result += QLatin1Char('/');
    const QStringList parts = relative.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    bool parentExists = true;
    for (int i = 0; i < parts.size(); ++i) {
        const QString& part = parts[i];
        QString chosen = part;
        if (parentExists && part != QLatin1String(".") && part != QLatin1String("..")) {
            if (!existsNoFollow(result + part)) {
                parentExists = false;
                const QStringList entries = QDir(result).entryList(
                    QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
                for (const QString& e : entries) {
                    if (e.compare(part, Qt::CaseInsensitive) == 0) {
                        chosen = e;
                        parentExists = true;
                        break;
                    }
                }
            }
        }
        result += chosen;
        if (i + 1 < parts.size())
            result += QLatin1Char('/');
    }
    if (relative.endsWith(QLatin1Char('/')) && !result.endsWith(QLatin1Char('/')))
        result += QLatin1Char('/');
    return result;
}

QString DataRoot::path(const QString& relativeName) const {
    QString rel = relativeName;
    rel.replace(QLatin1Char('\\'), QLatin1Char('/'));
    return resolveCaseInsensitive(root_, rel);
}

bool DataRoot::exists(const QString& relativeName) const {
    return existsNoFollow(path(relativeName));
}

bool DataRoot::makeDir(const QString& relativeName) const {
    const QString p = path(relativeName);
    if (QFileInfo(p).isDir())
        return true;
    return QDir().mkdir(p);
}

}  // namespace velmar
