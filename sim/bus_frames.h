#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <cstdint>
#include <optional>
#include <vector>

namespace velmar::sim {

// A bus address: high and low byte ("55-1" is high 55, low 1).
struct Address {
    std::uint8_t high = 0;
    std::uint8_t low = 0;

    friend bool operator==(const Address&, const Address&) = default;
    QString toString() const;
};

// "55-1": two decimal numbers 0..255 joined by "-", nothing else.
std::optional<Address> parseAddress(QByteArrayView text);
// A decimal number 0..maximum (surrounding blanks allowed), or nothing.
std::optional<int> parseDecimal(QByteArrayView text, int maximum);

// Address 0-0 reaches every controller; 254-254 is the PC.
inline constexpr Address kBroadcast{0, 0};
inline constexpr Address kPcAddress{254, 254};

// Longest text a controller sends in one message: the length byte of the Linkel form counts the
// sender address, the text and its terminating zero, and must fit in one byte.
inline constexpr int kMaxTextLength = 252;

// A frame from the PC split into its fields. Direct addressing: [L][dst hi][dst lo][payload];
// Linkel addressing: [L][dst hi][dst lo][254][254][payload]. The payload starts with the command
// letter.
struct PcFrame {
    QByteArray bytes;
    Address destination;
    QByteArray payload;
};

// Splits a received frame; nullopt when it is too short to hold the address block.
std::optional<PcFrame> parsePcFrame(const QByteArray& bytes, bool linkelAddressing);

// What a controller sends back to confirm a frame. Direct addressing: the frame without its
// length byte. Linkel addressing: the whole frame with the destination and sender pairs
// exchanged (the controller answers to the sender).
QByteArray echoOf(const QByteArray& frame, bool linkelAddressing);

// A text message from a controller. Direct addressing: [sender hi][sender lo] text 0.
// Linkel addressing: [L][254][254][sender hi][sender lo] text 0, where L counts the bytes after
// the destination address (sender, text and the zero), as in the PC's own frames.
// The text must not be empty, must not hold a zero byte and is at most kMaxTextLength bytes.
std::optional<QByteArray> textMessage(Address sender, const QByteArray& text, bool linkelAddressing,
                                      QString* error = nullptr);

// Monotonic time in microseconds (CLOCK_MONOTONIC), the time base of recorded frames.
std::int64_t monotonicUs();

// Cuts the byte stream from the PC into frames. A frame is L+3 bytes, L being its first byte;
// more than 3 ms of silence also ends a frame, so that garbage or a short frame cannot hold up
// the next one.
class FrameCutter {
  public:
    struct Cut {
        QByteArray bytes;
        std::int64_t startUs = 0;  // arrival of the first byte
        bool complete = false;     // false when silence ended it before its length was reached
    };

    static constexpr std::int64_t kGapUs = 3000;

    // Bytes that arrived at nowUs; returns the frames they finish (including an open frame
    // ended by the silence before them).
    std::vector<Cut> feed(QByteArrayView data, std::int64_t nowUs);
    // Ends the open frame when the line has been silent for more than kGapUs.
    std::optional<Cut> expire(std::int64_t nowUs);
    // When the open frame expires, if one is open.
    std::optional<std::int64_t> deadline() const;

  private:
    QByteArray open_;
    std::int64_t startUs_ = 0;
    std::int64_t lastUs_ = 0;
};

// "06 00 00 65": upper-case hex, one blank between bytes.
QByteArray hexBytes(const QByteArray& bytes);

// Parses hex tokens, each an even number of hex digits ("06 00 0065" is four bytes); nullopt on
// anything else or when no byte is given.
std::optional<QByteArray> parseHexTokens(const std::vector<QByteArray>& tokens);

}  // namespace velmar::sim
