#include "support/temp_root.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace velmar::test {

TempRoot::TempRoot() : dir_(QDir::tempPath() + QStringLiteral("/velmar-test-XXXXXX")) {}

QString TempRoot::root() const {
    return dir_.path() + QLatin1Char('/');
}

QString TempRoot::path(const QString& relative) const {
    return root() + relative;
}

void TempRoot::write(const QString& relative, const QByteArray& bytes) const {
    const QString p = path(relative);
    QDir().mkpath(QFileInfo(p).absolutePath());
    QFile f(p);
    if (f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        f.write(bytes);
}

QByteArray TempRoot::read(const QString& relative) const {
    QFile f(path(relative));
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return f.readAll();
}

bool TempRoot::exists(const QString& relative) const {
    return QFileInfo::exists(path(relative));
}

void TempRoot::mkdir(const QString& relative) const {
    QDir().mkpath(path(relative));
}

}  // namespace velmar::test
