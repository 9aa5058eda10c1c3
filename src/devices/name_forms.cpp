#include "devices/name_forms.h"

#include <unistd.h>

#include <QFile>

#include "base/names.h"

namespace velmar {

QString getfilename(const QString& text) {
    constexpr qsizetype kMaxLength = 215;
    QString s = text;
    s.replace(QLatin1Char('<'), QLatin1Char(' '));
    s.replace(QLatin1Char(':'), QLatin1String(", "));
    s.replace(QLatin1Char('>'), QLatin1Char(' '));
    s.replace(QLatin1Char('/'), QLatin1String(", "));
    s.replace(QLatin1Char('\\'), QLatin1Char(' '));
    if (s.size() > kMaxLength)
        s = s.left(kMaxLength) + QLatin1String(" etc");
    return s;
}

QString getascival(const QString& text) {
    static constexpr char16_t kPolish[] = u"ąĄćĆęĘłŁńŃóÓśŚżŻźŹ";
    static constexpr char kAscii[] = "aAcCeElLnNoOsSzZzZ";
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        if (c < 0x80) {
            out += QChar(c);
            continue;
        }
        char replacement = '_';
        for (size_t k = 0; k + 1 < std::size(kPolish); ++k) {
            if (kPolish[k] == c) {
                replacement = kAscii[k];
                break;
            }
        }
        out += QLatin1Char(replacement);
        // A character outside the basic plane is one character, not two.
        if (QChar::isHighSurrogate(c) && i + 1 < text.size() && text[i + 1].isLowSurrogate())
            ++i;
    }
    return out;
}

QString test_naming_rule(const DataRoot& root, EventLog& log, const QString& name,
                         const QString& fallback) {
    long maxBytes = ::pathconf(QFile::encodeName(root.root()).constData(), _PC_NAME_MAX);
    if (maxBytes <= 0)
        maxBytes = 255;
    if (isValidName(name) && QFile::encodeName(name).size() <= maxBytes)
        return name;
    log.admem(QLatin1String("error naming rule: ") + name);
    return fallback;
}

}  // namespace velmar
