#pragma once

#include <QByteArray>
#include <cstdint>
#include <mutex>
#include <optional>

#include "base/run_counters.h"

namespace velmar {

class Clock;
class EventLog;

// Where a finished wire frame goes: the serial reader thread's write queue, or the Linkel
// socket.
class SerialOutput {
  public:
    virtual ~SerialOutput() = default;
    // Queues one whole frame; it goes out whole and in order. False when it was dropped (no
    // port).
    virtual bool writeFrame(const QByteArray& frame) = 0;
};

class TcpOutput {
  public:
    virtual ~TcpOutput() = default;
    // Sends the first `size` bytes of `buffer` on the Linkel socket.
    virtual void SendViaTcp(const QByteArray& buffer, int size) = 0;
};

// The flags the writers read; owned by the manager, changed by start-up and the Linkel link.
struct BusFlags {
    bool offline = false;
    bool linkel_addressing = false;
    bool tcpgatewayenabled = false;
};

// The four frame writers and the echo reference.
//
// A frame image is [count N][destination high][destination low][payload, command letter
// first]. On a direct bus the wire frame is [N-2][destination][payload]: the length byte counts
// the payload. Through a Linkel the address block is destination then sender (254,254); a
// frame whose image already carries 254,254 keeps the length byte N-2, a frame into which the
// binary writer inserts the sender gets N+2 (every byte after the length byte).
//
// The echo reference `sent` holds what the addressed device sends back: on a direct bus the
// frame without its length byte; through a Linkel the whole frame with the two addresses
// exchanged (the device answers to the sender). The same rule holds for every writer.
//
// Each call builds and sends one whole frame under the writer's lock, so writers may be called
// from any thread.
class FrameWriter {
  public:
    static constexpr int kSentSize = 65556;
    static constexpr int kTxBufferSize = 556;
    static constexpr std::uint8_t kPcAddress = 254;

    FrameWriter(EventLog& log, const BusFlags& flags, const Clock& clock);

    void setSerialOutput(SerialOutput* out) { serial_ = out; }
    void setTcpOutput(TcpOutput* out) { tcp_ = out; }
    // Where the frames handed to a link are counted.
    void setCounters(RunCounters* counters) { counters_ = counters; }

    bool Write_rs232(const QByteArray& text);
    bool write_bin_rs232(QByteArray text, bool insert_address);
    bool Write_rs232_TCP(const QByteArray& text);
    bool write_bin_rs232_TCP(QByteArray text);

    // The echo state of the most recent frame.
    struct EchoState {
        QByteArray sent;  // the frame's part of the reference: sentFrameLength + 2 bytes
        bool was_send = false;
        std::uint32_t bytes_to_write = 0;
        std::int32_t byteswritten = 0;
        // Length of the frame `sent` belongs to; the echo comparison uses it.
        int sentFrameLength = 0;
    };
    EchoState echo() const;
    bool was_send() const;
    void setWasSend(bool value);
    // Clears the first `count` bytes of `sent` (the TCP path does so after a mismatch).
    void clearSent(int count);
    // The monotonic time (ms) the last frame went out; nothing before the first.
    std::optional<std::int64_t> lastFrameMs() const;

    // 0 when `received` matches the echo reference over `size` positions, 1 otherwise. Bytes
    // past the end of `received` count as zero.
    static int cmpbuf(const QByteArray& sent, const QByteArray& received, int size,
                      bool linkelAddressing);

  private:
    // Checks the image against its count byte; logs and refuses a malformed one.
    bool validImage(const QByteArray& text, const char* writer);
    void recordSent(const QByteArray& frame, bool clearAll);
    void send(const QByteArray& frame, bool serialAllowed);
    // The text writers' common part, under the lock.
    bool writeText(const QByteArray& text, const char* writer, bool serialAllowed);

    EventLog& log_;
    const BusFlags& flags_;
    const Clock& clock_;
    SerialOutput* serial_ = nullptr;
    TcpOutput* tcp_ = nullptr;
    RunCounters* counters_ = nullptr;
    mutable std::mutex mutex_;
    EchoState state_;
    std::optional<std::int64_t> lastFrameMs_;
};

}  // namespace velmar
