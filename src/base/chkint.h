#pragma once

#include <QString>
#include <cstdint>
#include <optional>

namespace velmar {

// Strict signed 32-bit decimal: optional sign, digits only. Leading and trailing blanks and a
// trailing CR are trimmed; anything else (empty, "1.5", "0x10", "12a", overflow) fails.
std::optional<std::int32_t> parseInt32(const QString& text);
std::optional<std::int64_t> parseInt64(const QString& text);

// The validation every number read from a file or a field goes through: the parsed value when
// it lies in [minimum, maximum], otherwise the fallback.
std::int32_t chkint(const QString& text, std::int32_t minimum, std::int32_t maximum,
                    std::int32_t fallback);

// The line that says a value of a configuration file was not taken:
// "Error reading configuration file: autoquery.cfg -> line 2: \"abc\", using 1200".
QString configFallbackText(const QString& file, int line, const QString& value,
                           const QString& used);

}  // namespace velmar
