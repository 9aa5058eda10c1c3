#include "base/chkint.h"

#include "base/log_text.h"

#include <limits>

namespace velmar {

namespace {

QStringView trimmed(const QString& text) {
    QStringView v(text);
    while (!v.isEmpty() && (v.back() == QLatin1Char(' ') || v.back() == QLatin1Char('\t') ||
                            v.back() == QLatin1Char('\r')))
        v.chop(1);
    while (!v.isEmpty() && (v.front() == QLatin1Char(' ') || v.front() == QLatin1Char('\t')))
        v = v.mid(1);
    return v;
}

template <typename T>
std::optional<T> parseSigned(const QString& text) {
    QStringView v = trimmed(text);
    if (v.isEmpty())
        return std::nullopt;
    bool negative = false;
    if (v.front() == QLatin1Char('-') || v.front() == QLatin1Char('+')) {
        negative = v.front() == QLatin1Char('-');
        v = v.mid(1);
    }
    if (v.isEmpty())
        return std::nullopt;
    // Accumulate as a negative number so that the minimum value parses without overflow.
    T value = 0;
    for (QChar c : v) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return std::nullopt;
        const T digit = static_cast<T>(c.unicode() - '0');
        if (value < (std::numeric_limits<T>::min() + digit) / 10)
            return std::nullopt;
        value = static_cast<T>(value * 10 - digit);
    }
    if (!negative) {
        if (value == std::numeric_limits<T>::min())
            return std::nullopt;
        value = static_cast<T>(-value);
    }
    return value;
}

}  // namespace

std::optional<std::int32_t> parseInt32(const QString& text) {
    return parseSigned<std::int32_t>(text);
}

std::optional<std::int64_t> parseInt64(const QString& text) {
    return parseSigned<std::int64_t>(text);
}

std::int32_t chkint(const QString& text, std::int32_t minimum, std::int32_t maximum,
                    std::int32_t fallback) {
    const auto v = parseInt32(text);
    if (!v || *v < minimum || *v > maximum)
        return fallback;
    return *v;
}

QString configFallbackText(const QString& file, int line, const QString& value,
                           const QString& used) {
    return QLatin1String("Error reading configuration file: ") + file + QLatin1String(" -> line ") +
           QString::number(line) + QLatin1String(": \"") + logText(value) +
           QLatin1String("\", using ") + used;
}

}  // namespace velmar
