#pragma once

// lang/: the user locale number and, later, the language files. May include base/ only;
// bus/ and every folder above may include it.

#include <QString>

namespace velmar {

// The user's locale as the number that names the language and label files ("lang\1045.het"):
// VELMAR_LOCALE_NUMBER when set to a number, else the POSIX locale (LC_ALL, LC_MESSAGES, LANG)
// through a table (pl 1045, en_US 1033, en_GB 2057, de 1031, cs 1029, sk 1051, fr 1036, ...),
// else 1033.
int localeNumber();
int localeNumberFor(const QString& posixLocale);

}  // namespace velmar
