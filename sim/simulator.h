#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>
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
    // Stops the thread and closes the pseudo-terminal; answers not yet written are dropped.
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
    };

    template <typename F>
    bool withController(Address address, QString* error, F&& f);
    void enqueueLocked(std::int64_t dueUs, QByteArray bytes,
                       std::optional<Address> streamFrom = std::nullopt);
    void wake();
    void run();
    std::optional<std::int64_t> nextWakeLocked() const;
    void handleFramesLocked(std::vector<FrameCutter::Cut>& cuts);
    void streamTickLocked(std::int64_t nowUs);
    std::optional<Pending> takeDueLocked(std::int64_t nowUs);

    mutable std::mutex mutex_;
    mutable std::condition_variable recorded_;
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
    std::thread thread_;
};

}  // namespace velmar::sim
