#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QThread>
#include <atomic>
#include <deque>
#include <mutex>

#include "bus/com_config.h"
#include "bus/frame_writer.h"

class QSerialPort;

namespace velmar {

struct Runtime;

// The serial port and its reader thread. The thread alone touches the port: it opens it (8
// data bits, even parity, 1 stop bit, no flow control, exclusive), cuts what it reads into
// blocks at 3 ms of silence (at most kMaxBlock bytes) and posts each block to the main thread
// through blockReceived(). Frames written from any thread are queued to it and go out whole
// and in order; a queued frame wakes the thread at once.
//
// The link heals itself: a hang-up (an adapter pulled out, a pseudo-terminal whose other end
// closed), a read or write error, or a device that cannot be opened closes the port, and the
// thread opens it again 1 s later, then 2, 4, 8 ... at most 30 s apart, for ever, naming the
// device anew each time (a symlink may have been re-pointed, a missing device may have come).
// An outage costs one log line, a failed try is logged every tenth time only, and frames
// written meanwhile are dropped, never queued.
class SerialLink : public QObject, public SerialOutput {
    Q_OBJECT
  public:
    static constexpr int kMaxBlock = 65555;
    static constexpr int kSilenceMs = 3;
    // A port that stayed open this long has recovered: the next outage starts from 1 s again.
    // One that fails sooner goes on with the longer delays (a device that opens and hangs up at
    // once is not retried every second).
    static constexpr int kStableMs = 10000;

    explicit SerialLink(Runtime& rt, QObject* parent = nullptr);
    ~SerialLink() override;

    // Starts the reader thread, which opens the port. Failures are logged and the thread goes on
    // trying; the program runs on without a bus meanwhile.
    void start(const ComConfig& config);
    // Ends the thread within `waitMs` and closes the port.
    void stop(int waitMs);
    bool isOpen() const { return open_.load(); }

    // Queues the frame while the port is open; drops it otherwise.
    bool writeFrame(const QByteArray& frame) override;

  signals:
    // Emitted on the reader thread; connect with a queued connection.
    void blockReceived(const QByteArray& block);
    // The length of each frame written, after it went out.
    void frameWritten(int bytes);

  private:
    class Reader;
    // Why the open port was given up; empty when stop() asked.
    struct Failure {
        bool writing = false;
        QString cause;
        std::size_t dropped = 0;  // frames of the batch that did not go out
    };

    void run(const ComConfig& config);
    // Opens and configures the port; false with the cause when it cannot be opened.
    bool openPort(QSerialPort& port, const QString& device, int baudRate, QString* cause);
    // Reads and writes until the line fails or stop() is called.
    Failure serve(int fd);
    // Waits `ms` unless stop() comes first; false when it did.
    bool pause(int ms);
    // Returns the number of queued frames dropped.
    std::size_t setOpen(bool open);
    // The one line of an outage that says frames are being dropped.
    void noteDropped(const QString& device);
    void wake();

    Runtime& rt_;
    QThread* thread_ = nullptr;
    std::atomic<bool> stop_{false};
    std::atomic<bool> open_{false};
    // The port is down after having been tried: frames written now are dropped with a log line.
    std::atomic<bool> down_{false};
    std::atomic<bool> dropLogged_{false};
    QString device_;  // set before the thread starts, for the frames-dropped line
    int wakeFd_ = -1;
    std::mutex queueMutex_;  // guards queue_ and the changes of open_
    std::deque<QByteArray> queue_;
};

}  // namespace velmar
