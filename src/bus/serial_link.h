#pragma once

#include <QByteArray>
#include <QObject>
#include <QThread>
#include <atomic>
#include <deque>
#include <mutex>

#include "bus/com_config.h"
#include "bus/frame_writer.h"

namespace velmar {

class EventLog;

// The serial port and its reader thread. The thread alone touches the port: it opens it (8
// data bits, even parity, 1 stop bit, no flow control, exclusive), cuts what it reads into
// blocks at 3 ms of silence (at most kMaxBlock bytes) and posts each block to the main thread
// through blockReceived(). Frames written from any thread are queued to it and go out whole
// and in order; a queued frame wakes the thread at once.
class SerialLink : public QObject, public SerialOutput {
    Q_OBJECT
  public:
    static constexpr int kMaxBlock = 65555;
    static constexpr int kSilenceMs = 3;

    explicit SerialLink(EventLog& log, QObject* parent = nullptr);
    ~SerialLink() override;

    // Starts the reader thread, which opens the port. Failures are logged and leave the link
    // closed; the program runs on without a bus.
    void start(const ComConfig& config);
    // Ends the thread within `waitMs` and closes the port.
    void stop(int waitMs);
    bool isOpen() const { return open_.load(); }

    void writeFrame(const QByteArray& frame) override;

  signals:
    // Emitted on the reader thread; connect with a queued connection.
    void blockReceived(const QByteArray& block);
    // The length of each frame written, after it went out.
    void frameWritten(int bytes);

  private:
    class Reader;
    void run(const ComConfig& config);

    EventLog& log_;
    QThread* thread_ = nullptr;
    std::atomic<bool> stop_{false};
    std::atomic<bool> open_{false};
    int wakeFd_ = -1;
    std::mutex queueMutex_;
    std::deque<QByteArray> queue_;
};

}  // namespace velmar
