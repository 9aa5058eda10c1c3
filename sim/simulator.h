#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>
#include <array>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "sim/bus.h"
#include "sim/bus_frames.h"
#include "sim/controller.h"
#include "sim/linkel.h"
#include "sim/pty_port.h"

namespace velmar::sim {

// One frame received from the PC.
struct RecordedFrame {
    std::int64_t timeUs = 0;  // CLOCK_MONOTONIC time of its first byte
    QByteArray bytes;
    bool complete = false;  // false when silence ended it before its length byte was reached

    // "12345.678 06 00 00 65 52 45 53 45 54": milliseconds with three decimals, then the bytes.
    QByteArray line() const;
};

// The bus simulator: controllers on a pseudo-terminal, answering the PC. A thread of its own
// reads the master side, cuts frames, records them and writes the controllers' answers.
// Every method may be called from any thread.
//
// Writes to the PC are spaced: two writes are at least blockGapMs apart, so that the PC (which
// ends a received block after 3 ms of silence) sees each as a block of its own. What must
// arrive as one block (a status frame and its copy) is written in one write().
//
// The simulator can also play the Linkel, the Ethernet communication controller, on a TCP port
// of 127.0.0.1 (startLinkel). It serves one PC at a time; a second connection is closed at once.
// The Linkel sends a 6-byte challenge and waits up to the login time-out (5 s) for the 13-byte
// response (linkelResponse), which may arrive in pieces. A wrong response closes the connection
// without a reply; a correct one gets ">" (unless the login is refused: then nothing, and the
// connection stays open). Then the PC sends its mode byte:
//   3, transparent: the PC's bytes reach the bus exactly as the pseudo-terminal's do (the same
//     frame cutting, recording and answers), and while the PC stays connected everything the
//     controllers would write to the pseudo-terminal goes to it instead, spaced the same way;
//   1, query: every query interval (200 ms) the Linkel pushes a round of records, one write
//     each, spaced like the answers: for every controller with a status frame that is not
//     silent, the length of its status message and the message ([52][55][1]['s']...), then the
//     Linkel's own record (LinkelRecord). What the PC sends is ignored.
// Any other mode byte closes the connection. The simulator's thread serves the Linkel's sockets:
// startLinkel may come before start(), but connections are served only once the simulator runs,
// and stop() stops the Linkel too.
class Simulator {
  public:
    struct Options {
        QString recordPath;  // each received frame is appended as a line; empty: none
        int turnaroundMs = 1;
        int textPauseMs = 50;
        int blockGapMs = 20;
    };

    Simulator();
    explicit Simulator(Options options);
    ~Simulator();
    Simulator(const Simulator&) = delete;
    Simulator& operator=(const Simulator&) = delete;

    // Opens the pseudo-terminal and the record file and starts the thread.
    bool start(QString* error = nullptr);
    // Stops the thread and the Linkel and closes the pseudo-terminal; answers not yet written are
    // dropped.
    void stop();
    bool running() const;
    // The slave side, for the PC ("/dev/pts/3"); empty before start().
    QString ptyPath() const;
    // The settings the PC gave the slave side. On Linux a pseudo-terminal always reports 8 data
    // bits without parity (its driver forces them); the speed and CSTOPB are what the PC set.
    std::optional<LineSettings> lineSettings() const;

    bool addController(Address address, ControllerType type, QString* error = nullptr);
    // Addresses and types in the order added.
    std::vector<std::pair<Address, ControllerType>> controllers() const;
    bool setSilent(Address address, bool on, QString* error = nullptr);
    bool setNoConfirm(Address address, bool on, QString* error = nullptr);
    void setProgramAnswer(ProgramAnswer answer);
    // One controller's answer for its next `blocks` programming blocks (every block when 0),
    // then the bus-wide one again.
    bool setProgramAnswer(Address address, ProgramAnswer answer, int blocks,
                          QString* error = nullptr);
    // The block of that command letter the controller acknowledged last.
    std::optional<QByteArray> memory(Address address, char letter) const;
    void setLinkelAddressing(bool on);
    bool linkelAddressing() const;
    // Every controller with a status frame pushes it (twice, as for a query) every ms
    // milliseconds; 0 stops. Refused below 0.
    bool setStreamInterval(int ms, QString* error = nullptr);
    bool setTurnaround(int ms, QString* error = nullptr);
    bool setTextPause(int ms, QString* error = nullptr);

    // Status contents; see Controller for the ranges and the layouts.
    bool setAnalog(Address address, int channel, int raw, QString* error = nullptr);
    bool setOutput(Address address, int output, bool on, QString* error = nullptr);
    bool setInput(Address address, int input, bool on, QString* error = nullptr);
    bool setFastInput(Address address, int input, bool on, QString* error = nullptr);
    bool setProgram(Address address, int program, QString* error = nullptr);
    bool setZone(Address address, int zone, QString* error = nullptr);
    bool setSensel(Address address, int module, const QByteArray& bytes, QString* error = nullptr);
    bool setStatusByte(Address address, int offset, int value, QString* error = nullptr);
    // One status message of the controller (not doubled); nullopt for an unknown address or a
    // Sensel.
    std::optional<QByteArray> statusMessage(Address address) const;
    // The direct events a controller executed ("eEV" and the five bytes), oldest first.
    std::vector<QByteArray> executedEvents(Address address) const;

    // A text message from any address, layout as the current addressing mode requires.
    bool sendText(Address from, const QByteArray& text, QString* error = nullptr);
    // The text message "lRESTART".
    bool announceRestart(Address from, QString* error = nullptr);
    // Bytes written to the PC as they are, in one write.
    void writeToPc(const QByteArray& bytes);
    void sendRaw(const QByteArray& bytes) { writeToPc(bytes); }

    // Starts the Linkel listening on 127.0.0.1:port (0: a free port) with the login key H[1..8]
    // (H[0] is not used). Fails when it is already started or the port cannot be had.
    bool startLinkel(std::uint16_t port, const std::array<std::uint8_t, 9>& key,
                     QString* error = nullptr);
    // The port it listens on; 0 when not started.
    std::uint16_t linkelPort() const;
    // Closes the connection and the listening socket; returns when both are closed.
    void stopLinkel();
    // Every connection gets this challenge instead of a random one.
    void setLinkelChallenge(const std::array<std::uint8_t, 6>& challenge);
    // false: a correct response gets no ">" (the connection stays open).
    void setLinkelAcceptLogin(bool accept);
    // Between the starts of two query-mode rounds; 1..60000 ms.
    bool setLinkelQueryInterval(int ms, QString* error = nullptr);
    // How long the Linkel waits for the response and the mode byte; 1..60000 ms.
    bool setLinkelLoginTimeout(int ms, QString* error = nullptr);
    // The Linkel closes the connection; returns when it is closed.
    void dropLinkelClient();
    bool linkelClientConnected() const;
    // 1 query, 3 transparent, 0 without a PC or while it logs in.
    int linkelMode() const;
    // The Linkel's own record; see LinkelRecord for the ranges.
    bool setLinkelOutput(int output, bool on, QString* error = nullptr);
    bool setLinkelAnalog(int channel, int raw, QString* error = nullptr);
    bool setLinkelStatusByte(int offset, int value, QString* error = nullptr);
    QByteArray linkelRecord() const;

    std::vector<RecordedFrame> frames() const;
    // Keeps every block written to the PC, with the time its write() returned (for latency
    // measurements); off by default.
    void keepWrites(bool on);
    std::vector<RecordedFrame> writes() const;
    void clearFrames();
    // True as soon as a recorded frame (already recorded ones included) satisfies the
    // predicate; false after timeoutMs.
    bool waitForFrame(const std::function<bool(const QByteArray&)>& predicate, int timeoutMs) const;

  private:
    struct Pending {
        std::int64_t dueUs = 0;
        std::uint64_t sequence = 0;
        QByteArray bytes;
        std::optional<Address> streamFrom;
        bool queryRecord = false;  // for the Linkel's query-mode PC only
    };

    // The Linkel's sockets are closed by the thread while it runs (asked through the request
    // flags), by the caller otherwise.
    struct Linkel {
        int listenFd = -1;
        int clientFd = -1;
        std::uint16_t port = 0;
        LinkelKey key{};
        std::optional<LinkelChallenge> challenge;
        bool acceptLogin = true;
        int queryIntervalMs = 200;
        int loginTimeoutMs = 5000;
        std::optional<LinkelSession> session;
        std::int64_t loginDeadlineUs = 0;
        std::int64_t nextRoundUs = 0;
        LinkelRecord record;
        bool dropRequested = false;
        bool stopRequested = false;
    };

    template <typename F>
    bool withController(Address address, QString* error, F&& f);
    void enqueueLocked(std::int64_t dueUs, QByteArray bytes,
                       std::optional<Address> streamFrom = std::nullopt);
    void wake();
    void wakeLocked();
    void run();
    std::optional<std::int64_t> nextWakeLocked() const;
    void handleFramesLocked(std::vector<FrameCutter::Cut>& cuts);
    void streamTickLocked(std::int64_t nowUs);
    std::optional<Pending> takeDueLocked(std::int64_t nowUs);
    void writeDue(const Pending& due);

    // Sets a request flag and waits until it is carried out.
    void requestLinkel(bool Linkel::*flag);
    void serveLinkelRequestsLocked();
    void closeLinkelClientLocked();
    void closeLinkelLocked();
    void acceptLinkelClient(int listenFd);
    void readLinkelClient(int clientFd, std::vector<FrameCutter::Cut>& cuts);
    void linkelTickLocked(std::int64_t nowUs);

    mutable std::mutex mutex_;
    mutable std::condition_variable recorded_;
    std::condition_variable linkelDone_;  // the thread carried out a Linkel request
    Options options_;
    Bus bus_;
    PtyPort port_;
    QFile record_;
    std::vector<RecordedFrame> frames_;
    std::vector<RecordedFrame> writes_;
    bool keepWrites_ = false;
    std::vector<Pending> queue_;
    std::uint64_t sequence_ = 0;
    std::int64_t lastWriteUs_ = 0;
    bool wroteAny_ = false;
    int streamIntervalMs_ = 0;
    std::int64_t nextStreamUs_ = 0;
    bool stopping_ = false;
    int wakeFd_ = -1;
    FrameCutter cutter_;  // used by the thread only
    Linkel linkel_;
    bool threadExited_ = false;
    std::thread thread_;
};

}  // namespace velmar::sim
