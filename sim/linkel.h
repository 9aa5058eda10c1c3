#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <array>
#include <cstdint>
#include <optional>

namespace velmar::sim {

// The login key: H[1]..H[8] are the key bytes, H[0] is not used (as in "linkelnet.cfg").
using LinkelKey = std::array<std::uint8_t, 9>;
using LinkelChallenge = std::array<std::uint8_t, 6>;

// What the PC must answer to a challenge: the six challenge bytes, six bytes derived from the
// challenge and the key, and 13.
std::array<std::uint8_t, 13> linkelResponse(const LinkelChallenge& challenge, const LinkelKey& H);

// The Linkel's own status record, 175 bytes, as it pushes it in the query mode after each round
// over the controllers. Like every query-mode record it starts with the number of bytes that
// follow (174). Offsets:
//   1 254 (the Linkel's low address byte; the PC ignores a record whose byte 1 is 0);
//   72..103 analogue channels 1..16 (high byte, then low byte);
//   104..123 outputs 1..160; 124..135 inputs 1..96; 136..147 alarm flags of inputs 1..96;
//   148..159 warning flags; 160..171 monitoring flags (bit 0 of each byte is the lowest number);
//   172 security program, 173 zone, 174 analogue program.
// Bytes not named are zero unless set with setByte.
class LinkelRecord {
  public:
    static constexpr int kSize = 175;

    LinkelRecord();

    QByteArray bytes() const;
    bool setOutput(int output, bool on, QString* error = nullptr);   // 1..160
    bool setAnalog(int channel, int raw, QString* error = nullptr);  // 1..16, raw 0..1023
    bool setByte(int offset, int value, QString* error = nullptr);   // 1..174, 0..255

  private:
    std::array<std::uint8_t, kSize> data_{};
};

// One connection to the Linkel from its first byte on: the 13-byte login response, the mode
// byte, then the mode. The caller sends the challenge, keeps the time-out and does the I/O.
class LinkelSession {
  public:
    enum class State {
        Login,        // waiting for the 13-byte response
        Refused,      // a correct response that the Linkel does not accept: it stays silent
        AwaitMode,    // ">" sent, waiting for the mode byte
        Query,        // mode 1: the Linkel pushes records, the PC's bytes are ignored
        Transparent,  // mode 3: the PC's bytes go to the bus
    };
    static constexpr std::uint8_t kAccepted = '>';
    static constexpr std::uint8_t kQueryMode = 1;
    static constexpr std::uint8_t kTransparentMode = 3;

    LinkelSession(const LinkelChallenge& challenge, const LinkelKey& key);

    struct Step {
        QByteArray reply;     // to send to the PC
        QByteArray busBytes;  // transparent mode: bytes for the bus
        bool close = false;   // close the connection without a word
    };
    // Bytes from the PC, as they arrived (a response may come in pieces, or with the mode byte
    // and bus bytes behind it). `acceptLogin` false: a correct response gets no ">".
    Step feed(QByteArrayView data, bool acceptLogin);

    State state() const { return state_; }
    // 1 query, 3 transparent, 0 otherwise.
    int mode() const;
    // True while the login (the response or the mode byte) is still awaited.
    bool loggingIn() const { return state_ == State::Login || state_ == State::AwaitMode; }

  private:
    QByteArray expected_;
    QByteArray response_;
    State state_ = State::Login;
};

// The Linkel's settings in the "linkelnet.cfg" format: line 1 its IPv4 address (not used here:
// the simulated Linkel listens on 127.0.0.1), line 2 the port (0: any free port), lines 3..10 the
// key bytes H[1]..H[8] in decimal.
struct LinkelNetFile {
    std::uint16_t port = 0;
    LinkelKey key{};
};
std::optional<LinkelNetFile> parseLinkelNet(const QByteArray& text, QString* error = nullptr);
std::optional<LinkelNetFile> readLinkelNet(const QString& path, QString* error = nullptr);

}  // namespace velmar::sim
