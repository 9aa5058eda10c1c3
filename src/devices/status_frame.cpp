#include "devices/status_frame.h"

namespace velmar {

namespace {

constexpr std::uint8_t kStatusCommand = 's';

// Byte at message position j of the block (from the message start); 0 past the block.
std::uint8_t at(const QByteArray& block, int start, int j) {
    const qsizetype i = static_cast<qsizetype>(start) + j;
    return i >= 0 && i < block.size() ? static_cast<std::uint8_t>(block[i]) : 0;
}

// The code of the copy that follows the frame, 0 when there is none. The second copy starts
// right after the first: F + L bytes from the message start.
int repetition(const QByteArray& block, int start, int F) {
    const auto repeats = [&](int length, int compared) {
        if (static_cast<qsizetype>(start) + F + length + compared - 1 >= block.size())
            return false;
        for (int j = 0; j < compared; ++j) {
            if (at(block, start, j) != at(block, start, F + length + j))
                return false;
        }
        return true;
    };
    if (repeats(52, F + 52))
        return 52;
    if (repeats(122, F + 122))
        return 122;
    if (repeats(72, F + 71) || repeats(55, F + 51))
        return 72;
    return 0;
}

}  // namespace

QByteArray StatusFrame::expander(int m) const {
    QByteArray s;
    for (int i = 0; i < 10; ++i)
        s.append(static_cast<char>(B(42 + 10 * (m - 1) + i)));
    for (int i = 0; i < 4; ++i)
        s.append(static_cast<char>(B(30 + 4 * (m - 1) + i)));
    return s;
}

int findStatusFrame(const QByteArray& block, int tcpIndexInc) {
    // A text message never has "s" as its command byte, and every binary kind other than a
    // status frame ends the block's decoding.
    qsizetype p = 0;
    const qsizetype n = block.size();
    while (p < n) {
        while (p < n && block[p] == '\0')
            ++p;
        if (p >= n)
            break;
        const qsizetype command = p + tcpIndexInc + 2;
        if (command < n && static_cast<std::uint8_t>(block[command]) == kStatusCommand)
            return static_cast<int>(p);
        const qsizetype end = block.indexOf('\0', p);
        if (end < 0)
            break;
        p = end;
    }
    return -1;
}

std::optional<StatusFrame> parseStatusFrame(const QByteArray& block, int start, int tcpIndexInc,
                                            bool checkRepetition) {
    StatusFrame f;
    const int F = tcpIndexInc;
    for (int i = 0; i < StatusFrame::kBytes; ++i)
        f.bytes[static_cast<std::size_t>(i)] = at(block, start, F + i);
    f.sender = DeviceAddress{f.B(0), f.B(1)};
    if (checkRepetition) {
        f.code = repetition(block, start, F);
        if (f.code == 0)
            return std::nullopt;
        f.length = f.code;
    }
    return f;
}

std::array<std::uint8_t, StatusFrame::kBytes> panelRecord(const StatusFrame& f) {
    std::array<std::uint8_t, StatusFrame::kBytes> cache{};
    const int code = f.code;
    cache[0] = static_cast<std::uint8_t>(code);
    cache[1] = f.B(0);
    cache[2] = f.B(1);
    if (code == 52 || code == 122) {
        for (int i = 3; i <= code; ++i)
            cache[static_cast<std::size_t>(i)] = f.B(i);
    } else {
        for (int i = 3; i <= 72; ++i)
            cache[static_cast<std::size_t>(i)] = f.B(i - 1);
        for (int i = 75; i <= 80; ++i)
            cache[static_cast<std::size_t>(i)] = f.B(i - 1);
    }
    return cache;
}

}  // namespace velmar
