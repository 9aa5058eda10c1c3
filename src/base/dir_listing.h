#pragma once

#include <QString>
#include <QStringList>

namespace velmar {

enum class EntryKind { Files, Dirs, All };

// Names in `dir` matching a Windows-style pattern ("*.run", "*.*", "Sensel ?.nam"; case
// ignored; "*.*" matches every name), sorted case-insensitively (the system's "directory
// order"). "." and "..", and the writers' temporary files, are never listed. A missing
// directory lists nothing.
QStringList listDir(const QString& dir, const QString& pattern = QStringLiteral("*"),
                    EntryKind kind = EntryKind::Files);

bool matchesPattern(const QString& name, const QString& pattern);

}  // namespace velmar
