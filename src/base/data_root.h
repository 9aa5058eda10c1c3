#pragma once

#include <QString>

#include "base/clock.h"

namespace velmar {

// The data root is the working directory with a final "bin" component (any case) removed; it
// always ends with "/". "/opt/Binaries/bin" gives "/opt/Binaries/", "/opt/bin/x" stays as it is.
QString dataRootFromWorkingDir(const QString& workingDir);

// Maps the system's relative names ("devices aliases\55-1.dev", "logs\status") to paths under
// the data root. Backslashes become "/". Each component that already exists on disk is found
// whatever its case ("Batch" and "batch" are one folder); missing components keep the spelling
// given. Names are trusted system names: names that come from files or clients must pass
// isValidName() before they are joined into a relative name.
class DataRoot {
  public:
    // `clock`: the time base of the folder listings' ages (the system's when none is given).
    explicit DataRoot(QString root, const Clock* clock = nullptr);

    const QString& root() const { return root_; }
    QString path(const QString& relativeName) const;
    // The same path, telling at no extra cost whether the entry exists.
    QString path(const QString& relativeName, bool* exists) const;
    bool exists(const QString& relativeName) const;
    // Creates one directory level; false when it could not be created and does not exist.
    bool makeDir(const QString& relativeName) const;

  private:
    QString root_;
    const Clock* clock_;
};

// Resolves `relative` ("/"-separated) below the existing directory `base`, matching each
// existing component case-insensitively. Exported for the registry and tests.
QString resolveCaseInsensitive(const QString& base, const QString& relative);
// The same, telling through `exists` (when not null) whether the entry exists. `clock` dates
// the folder listings kept for the case-insensitive look-ups (the system's when null).
QString resolve(const QString& base, const QString& relative, bool* exists,
                const Clock* clock = nullptr);

}  // namespace velmar
