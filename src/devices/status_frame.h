#pragma once

#include <QByteArray>
#include <array>
#include <cstdint>
#include <optional>

#include "base/device_address.h"

namespace velmar {

// A controller's status frame as a value: what the block says, without files or the bus. The
// frame starts at the sender's address (offset 0); `B(i)` is the byte at offset i, zero past
// the block. Room and external controllers: channels 1..8 at offsets 3..18 (high byte first),
// outputs 1..24 at 19..21, digital inputs at 22, fast inputs at 23, dedicated outputs 25..32 at
// 24, the zone at 28, the program at 29, the input expanders' bytes from 30 and 42. The heating
// controller (1-1) keeps its outputs at 35..37 and its program at 38.
struct StatusFrame {
    // Bytes kept of a frame: the panel cache's size.
    static constexpr int kBytes = 301;
    static constexpr DeviceAddress kThermel{1, 1};

    DeviceAddress sender;
    // The repetition code: 52 (room controller), 122 (external controller with expanders) or
    // 72 (extended address block); 0 when the frame was not checked for its copy.
    int code = 0;
    // Frame offsets that belong to the frame; bytes past it belong to its copy.
    int length = kBytes;
    std::array<std::uint8_t, kBytes> bytes{};

    std::uint8_t B(int i) const {
        return i >= 0 && i < kBytes ? bytes[static_cast<std::size_t>(i)] : 0;
    }
    bool isThermel() const { return sender == kThermel; }

    // Channel k (0..7): high and low byte of its raw reading.
    std::uint8_t channelHigh(int k) const { return B(2 * k + 3); }
    std::uint8_t channelLow(int k) const { return B(2 * k + 4); }
    // Outputs 1..24 as bits 0..23.
    std::uint32_t outputs() const {
        return isThermel() ? B(35) + 256u * B(36) + 65536u * B(37)
                           : B(19) + 256u * B(20) + 65536u * B(21);
    }
    std::uint8_t dedicatedOutputs() const { return B(24); }
    std::uint8_t digitalInputs() const { return B(22); }
    std::uint8_t fastInputs() const { return B(23); }
    std::uint8_t program() const { return isThermel() ? B(38) : B(29); }
    std::uint8_t zone() const { return B(28); }
    // True when the frame reaches expander m's group A (a short frame carries the first only).
    bool carriesModule(int m) const { return 51 + 10 * (m - 1) < length; }
    // Expander m (1..3): its ten warning and alarm bytes, then its four active bytes.
    QByteArray expander(int m) const;
};

// Offset of the status frame in a block, -1 when there is none: messages are separated by zero
// bytes, the command byte "s" stands `tcpIndexInc` + 2 bytes into a message.
int findStatusFrame(const QByteArray& block, int tcpIndexInc);

// The status frame of the message at `start`, its address at `start` + `tcpIndexInc`. With
// `checkRepetition` the frame must be followed by its copy (the controllers send it twice):
// without one there is no frame; the code of the copy found says how long the frame is.
std::optional<StatusFrame> parseStatusFrame(const QByteArray& block, int start, int tcpIndexInc,
                                            bool checkRepetition);

// The panel cache record of a checked frame: the length code, the address and the frame bytes
// as the panels expect them (an extended frame drops its command byte's neighbour).
std::array<std::uint8_t, StatusFrame::kBytes> panelRecord(const StatusFrame& f);

}  // namespace velmar
