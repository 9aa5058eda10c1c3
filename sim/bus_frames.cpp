#include "sim/bus_frames.h"

#include <time.h>

namespace velmar::sim {

std::optional<int> parseDecimal(QByteArrayView text, int maximum) {
    text = text.trimmed();
    if (text.isEmpty() || text.size() > 5) {
        return std::nullopt;
    }
    int value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        value = value * 10 + (c - '0');
    }
    if (value > maximum) {
        return std::nullopt;
    }
    return value;
}

QString Address::toString() const {
    return QStringLiteral("%1-%2").arg(high).arg(low);
}

namespace {

int hexDigit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

}  // namespace

std::optional<Address> parseAddress(QByteArrayView text) {
    const qsizetype dash = text.indexOf('-');
    if (dash < 0) {
        return std::nullopt;
    }
    const auto high = parseDecimal(text.first(dash), 255);
    const auto low = parseDecimal(text.sliced(dash + 1), 255);
    if (!high || !low) {
        return std::nullopt;
    }
    return Address{static_cast<std::uint8_t>(*high), static_cast<std::uint8_t>(*low)};
}

std::optional<PcFrame> parsePcFrame(const QByteArray& bytes, bool linkelAddressing) {
    const int header = linkelAddressing ? 5 : 3;
    if (bytes.size() < header) {
        return std::nullopt;
    }
    PcFrame frame;
    frame.bytes = bytes;
    frame.destination =
        Address{static_cast<std::uint8_t>(bytes[1]), static_cast<std::uint8_t>(bytes[2])};
    frame.payload = bytes.mid(header);
    return frame;
}

QByteArray echoOf(const QByteArray& frame, bool linkelAddressing) {
    if (!linkelAddressing) {
        return frame.mid(1);
    }
    QByteArray echo = frame;
    if (echo.size() >= 5) {
        std::swap(echo[1], echo[3]);
        std::swap(echo[2], echo[4]);
    }
    return echo;
}

std::optional<QByteArray> textMessage(Address sender, const QByteArray& text, bool linkelAddressing,
                                      QString* error) {
    auto fail = [&](const QString& why) -> std::optional<QByteArray> {
        if (error) {
            *error = why;
        }
        return std::nullopt;
    };
    if (text.isEmpty()) {
        return fail(QStringLiteral("empty text"));
    }
    if (text.contains('\0')) {
        return fail(QStringLiteral("text holds a zero byte"));
    }
    if (text.size() > kMaxTextLength) {
        return fail(QStringLiteral("text longer than %1 bytes").arg(kMaxTextLength));
    }
    QByteArray message;
    if (linkelAddressing) {
        message.append(static_cast<char>(text.size() + 3));
        message.append(static_cast<char>(kPcAddress.high));
        message.append(static_cast<char>(kPcAddress.low));
    }
    message.append(static_cast<char>(sender.high));
    message.append(static_cast<char>(sender.low));
    message.append(text);
    message.append('\0');
    return message;
}

std::int64_t monotonicUs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<std::int64_t>(ts.tv_sec) * 1000000 + ts.tv_nsec / 1000;
}

std::vector<FrameCutter::Cut> FrameCutter::feed(QByteArrayView data, std::int64_t nowUs) {
    std::vector<Cut> cuts;
    if (auto ended = expire(nowUs)) {
        cuts.push_back(std::move(*ended));
    }
    for (char byte : data) {
        if (open_.isEmpty()) {
            startUs_ = nowUs;
        }
        open_.append(byte);
        const int length = static_cast<std::uint8_t>(open_[0]) + 3;
        if (open_.size() == length) {
            cuts.push_back(Cut{open_, startUs_, true});
            open_.clear();
        }
    }
    lastUs_ = nowUs;
    return cuts;
}

std::optional<FrameCutter::Cut> FrameCutter::expire(std::int64_t nowUs) {
    if (open_.isEmpty() || nowUs - lastUs_ <= kGapUs) {
        return std::nullopt;
    }
    Cut cut{open_, startUs_, false};
    open_.clear();
    return cut;
}

std::optional<std::int64_t> FrameCutter::deadline() const {
    if (open_.isEmpty()) {
        return std::nullopt;
    }
    return lastUs_ + kGapUs + 1;
}

QByteArray hexBytes(const QByteArray& bytes) {
    return bytes.toHex(' ').toUpper();
}

std::optional<QByteArray> parseHexTokens(const std::vector<QByteArray>& tokens) {
    QByteArray bytes;
    for (const QByteArray& token : tokens) {
        if (token.isEmpty() || token.size() % 2 != 0) {
            return std::nullopt;
        }
        for (qsizetype i = 0; i < token.size(); i += 2) {
            const int hi = hexDigit(token[i]);
            const int lo = hexDigit(token[i + 1]);
            if (hi < 0 || lo < 0) {
                return std::nullopt;
            }
            bytes.append(static_cast<char>(hi * 16 + lo));
        }
    }
    if (bytes.isEmpty()) {
        return std::nullopt;
    }
    return bytes;
}

}  // namespace velmar::sim
