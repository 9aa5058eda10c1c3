#include "base/log_text.h"

#include "base/cp1250.h"

namespace velmar {

QString logText(const QString& text, int max) {
    const bool cut = text.size() > max;
    const QString head = cut ? text.left(max) : text;
    QString out;
    out.reserve(head.size() + 8);
    for (const QChar c : head) {
        const char16_t u = c.unicode();
        // C0, DEL and the C1 controls (cp1250 decodes a few bytes to those).
        if (u < 0x20 || (u >= 0x7f && u <= 0x9f)) {
            static const char kHex[] = "0123456789ABCDEF";
            out += QLatin1String("\\x");
            out += QLatin1Char(kHex[u >> 4]);
            out += QLatin1Char(kHex[u & 15]);
        } else {
            out += c;
        }
    }
    if (cut)
        out += QLatin1String("...");
    return out;
}

QString logText(const QByteArray& bytes, int max) {
    return logText(fromCp1250(bytes.left(max + 1)), max);
}

}  // namespace velmar
