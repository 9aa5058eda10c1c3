#include "lang/locale_number.h"

#include <QByteArray>

#include "base/chkint.h"

namespace velmar {

int localeNumberFor(const QString& posixLocale) {
    struct Entry {
        const char* prefix;
        int number;
    };
    // Longer prefixes first: "en_GB" before "en".
    static constexpr Entry kTable[] = {
        {"en_GB", 2057}, {"en_US", 1033}, {"en", 1033}, {"pl", 1045}, {"de", 1031},
        {"cs", 1029},    {"sk", 1051},    {"fr", 1036}, {"it", 1040}, {"es", 3082},
        {"ru", 1049},    {"uk", 1058},    {"hu", 1038}, {"nl", 1043},
    };
    for (const Entry& e : kTable) {
        if (posixLocale.startsWith(QLatin1String(e.prefix)))
            return e.number;
    }
    return 1033;
}

int localeNumber() {
    if (const auto n = parseInt32(qEnvironmentVariable("VELMAR_LOCALE_NUMBER")); n && *n > 0)
        return *n;
    for (const char* var : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const QString value = qEnvironmentVariable(var);
        if (!value.isEmpty() && value != QLatin1String("C") && value != QLatin1String("POSIX"))
            return localeNumberFor(value);
    }
    return 1033;
}

}  // namespace velmar
