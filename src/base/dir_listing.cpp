#include "base/dir_listing.h"

#include <dirent.h>
#include <sys/stat.h>

#include <QFile>
#include <algorithm>

#include "base/text_file.h"

namespace velmar {

namespace {

bool matchFrom(const QString& name, qsizetype ni, const QString& pat, qsizetype pi) {
    while (pi < pat.size()) {
        const QChar p = pat[pi];
        if (p == QLatin1Char('*')) {
            while (pi < pat.size() && pat[pi] == QLatin1Char('*'))
                ++pi;
            if (pi == pat.size())
                return true;
            for (qsizetype k = ni; k <= name.size(); ++k) {
                if (matchFrom(name, k, pat, pi))
                    return true;
            }
            return false;
        }
        if (ni >= name.size())
            return false;
        if (p != QLatin1Char('?') && p.toCaseFolded() != name[ni].toCaseFolded())
            return false;
        ++ni;
        ++pi;
    }
    return ni == name.size();
}

}  // namespace

bool matchesPattern(const QString& name, const QString& pattern) {
    if (pattern == QLatin1String("*.*") || pattern == QLatin1String("*"))
        return true;
    // "*." names entries without an extension.
    if (pattern.endsWith(QLatin1String("*.")) && pattern.size() == 2)
        return !name.contains(QLatin1Char('.'));
    return matchFrom(name, 0, pattern, 0);
}

QStringList listDir(const QString& dir, const QString& pattern, EntryKind kind) {
    QStringList names;
    QString base = dir;
    if (!base.endsWith(QLatin1Char('/')))
        base += QLatin1Char('/');
    DIR* d = ::opendir(QFile::encodeName(base).constData());
    if (!d)
        return names;
    const QLatin1String tempPrefix(kTempPrefix);
    while (const dirent* e = ::readdir(d)) {
        const QString name = QFile::decodeName(e->d_name);
        if (name == QLatin1String(".") || name == QLatin1String(".."))
            continue;
        if (name.startsWith(tempPrefix))
            continue;
        if (!matchesPattern(name, pattern))
            continue;
        if (kind != EntryKind::All) {
            bool isDir = false;
            if (e->d_type == DT_DIR) {
                isDir = true;
            } else if (e->d_type == DT_UNKNOWN || e->d_type == DT_LNK) {
                struct stat st {};
                if (::stat(QFile::encodeName(base + name).constData(), &st) != 0)
                    continue;
                isDir = S_ISDIR(st.st_mode);
            }
            if ((kind == EntryKind::Dirs) != isDir)
                continue;
        }
        names.append(name);
    }
    ::closedir(d);
    std::sort(names.begin(), names.end(), [](const QString& a, const QString& b) {
        const int c = a.compare(b, Qt::CaseInsensitive);
        return c != 0 ? c < 0 : a < b;
    });
    return names;
}

}  // namespace velmar
