#include "bus/serial_link.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <QFileInfo>
#include <QSerialPort>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <exception>

#include "base/backoff.h"
#include "log/runtime.h"

namespace velmar {

namespace {

QString errnoText(int err) {
    return QString::fromLocal8Bit(std::strerror(err));
}

std::int64_t steadyMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// A Unix98 pseudo-terminal slave (majors 136..143), the simulator's and the demo's "port": its
// driver forces 8 data bits without parity.
bool isPseudoTerminal(int fd, const QString& device) {
    struct stat st {};
    if (::fstat(fd, &st) == 0 && S_ISCHR(st.st_mode)) {
        const unsigned m = major(st.st_rdev);
        if (m >= 136 && m <= 143)
            return true;
    }
    return QFileInfo(device).canonicalFilePath().startsWith(QLatin1String("/dev/pts/"));
}

// Writes all of `bytes` to a non-blocking descriptor. A line that takes no byte for 1 s has
// failed; one that drains slowly (a long frame at 9600 bit/s) is waited for. The waits are
// short steps, so that `stop` is seen. Empty when written, the cause otherwise.
QString writeAllFd(int fd, const QByteArray& bytes, const std::atomic<bool>& stop) {
    const char* p = bytes.constData();
    qsizetype left = bytes.size();
    std::int64_t progressMs = steadyMs();
    while (left > 0) {
        const ssize_t n = ::write(fd, p, static_cast<size_t>(left));
        if (n > 0) {
            p += n;
            left -= n;
            progressMs = steadyMs();
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno == EAGAIN) {
            if (steadyMs() - progressMs >= 1000)
                return QStringLiteral("no room to write for 1 s");
            if (stop.load())
                return QStringLiteral("stopped");
            pollfd pfd{fd, POLLOUT, 0};
            const int rc = ::poll(&pfd, 1, 100);
            if (rc > 0 && (pfd.revents & (POLLERR | POLLHUP | POLLNVAL)))
                return QStringLiteral("hang-up");
            continue;
        }
        return n == 0 ? QStringLiteral("nothing written") : errnoText(errno);
    }
    return {};
}

}  // namespace

class SerialLink::Reader : public QThread {
  public:
    Reader(SerialLink& link, ComConfig config) : link_(link), config_(std::move(config)) {}
    void run() override {
        try {
            link_.run(config_);
        } catch (const std::exception& e) {
            link_.rt_.log.admem(QStringLiteral("Error in the serial reader: ") +
                                QString::fromLocal8Bit(e.what()));
        } catch (...) {
            link_.rt_.log.admem(QStringLiteral("Error in the serial reader: unknown exception"));
        }
        link_.setOpen(false);
    }

  private:
    SerialLink& link_;
    ComConfig config_;
};

SerialLink::SerialLink(Runtime& rt, QObject* parent) : QObject(parent), rt_(rt) {
    wakeFd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
}

SerialLink::~SerialLink() {
    stop(1000);
    if (wakeFd_ >= 0)
        ::close(wakeFd_);
}

void SerialLink::start(const ComConfig& config) {
    if (thread_)
        return;
    stop_ = false;
    down_ = false;
    dropLogged_ = false;
    {
        std::lock_guard lock(queueMutex_);
        device_ = portDevicePath(config.portName);
    }
    thread_ = new Reader(*this, config);
    thread_->setObjectName(QStringLiteral("serial reader"));
    thread_->start();
}

void SerialLink::stop(int waitMs) {
    if (!thread_)
        return;
    stop_ = true;
    wake();
    if (!thread_->wait(QDeadlineTimer(waitMs))) {
        rt_.log.admem(QStringLiteral("Error stopping the serial reader: no answer within ") +
                      QString::number(waitMs) + QStringLiteral(" ms"));
        thread_->terminate();
        thread_->wait(200);
    }
    delete thread_;
    thread_ = nullptr;
}

void SerialLink::wake() {
    const std::uint64_t one = 1;
    [[maybe_unused]] auto n = ::write(wakeFd_, &one, sizeof one);
}

std::size_t SerialLink::setOpen(bool open) {
    std::lock_guard lock(queueMutex_);
    open_ = open;
    // Nothing of a closed port's queue goes out later, on another line.
    const std::size_t dropped = queue_.size();
    queue_.clear();
    return dropped;
}

void SerialLink::noteDropped(const QString& device) {
    if (down_.load() && !dropLogged_.exchange(true))
        rt_.log.admem(
            QStringLiteral("Serial port ") + device +
            QStringLiteral(" closed: frames to the bus are dropped until it is reopened"));
}

bool SerialLink::writeFrame(const QByteArray& frame) {
    QString device;
    {
        std::lock_guard lock(queueMutex_);
        if (open_.load()) {
            queue_.push_back(frame);
            wake();
            return true;
        }
        device = device_;
    }
    // No port: the frame is lost, as on a dead bus. Before the first try that is the start-up;
    // in an outage it is said once.
    noteDropped(device);
    return false;
}

bool SerialLink::pause(int ms) {
    const std::int64_t until = steadyMs() + ms;
    while (!stop_.load()) {
        const std::int64_t left = until - steadyMs();
        if (left <= 0)
            return true;
        pollfd wake{wakeFd_, POLLIN, 0};
        if (::poll(&wake, 1, static_cast<int>(left)) > 0) {
            std::uint64_t count = 0;
            [[maybe_unused]] auto n = ::read(wakeFd_, &count, sizeof count);
        }
    }
    return false;
}

bool SerialLink::openPort(QSerialPort& port, const QString& device, int baudRate, QString* cause) {
    port.setPortName(device);
    if (!port.open(QIODevice::ReadWrite)) {
        *cause = port.errorString();
        return false;
    }
    const bool pty = isPseudoTerminal(static_cast<int>(port.handle()), device);
    // Each setting is applied on its own, so that one the device refuses leaves the others in
    // force.
    const std::pair<const char*, bool> settings[] = {
        {"speed", port.setBaudRate(baudRate)},
        {"data bits", port.setDataBits(QSerialPort::Data8)},
        {"parity", port.setParity(QSerialPort::EvenParity)},
        {"stop bits", port.setStopBits(QSerialPort::OneStop)},
        {"flow control", port.setFlowControl(QSerialPort::NoFlowControl)},
    };
    for (const auto& [what, ok] : settings) {
        if (ok)
            continue;
        if (!pty) {
            rt_.log.admem(QStringLiteral("cant set comm params: ") + QLatin1String(what) +
                          QStringLiteral(" -> ") + port.errorString());
        } else if (rt_.flags.debugtimer) {
            // A pseudo-terminal has no parity (its driver forces 8 data bits without): nothing
            // is wrong with the line.
            rt_.log.admem(QStringLiteral("Serial port ") + device +
                          QStringLiteral(" is a pseudo-terminal: it does not take the setting ") +
                          QLatin1String(what) + QStringLiteral(" (") + port.errorString() +
                          QStringLiteral(")"));
        }
        port.clearError();
    }
    port.clear();
    return true;
}

void SerialLink::run(const ComConfig& config) {
    const QString device = portDevicePath(config.portName);
    Backoff backoff;
    // The outage's line was logged: its end is logged too. A port that fails again soon after
    // each opening costs a line only every tenth time, its reopenings as well.
    bool saidDown = false;
    while (!stop_.load()) {
        QSerialPort port;
        QString cause;
        if (!openPort(port, device, config.baudRate, &cause)) {
            const bool logIt = backoff.failed();
            if (backoff.failures() == 1)
                dropLogged_ = false;
            // Down before the outage is told: a frame written on seeing the line is dropped with
            // its own line.
            down_ = true;
            if (logIt) {
                saidDown = true;
                if (backoff.failures() == 1) {
                    rt_.log.admem(QStringLiteral(
                        "Cant connect to com: check port settings in \"com.cfg\" file"));
                    rt_.log.admem(QStringLiteral("error opening com: ") + device +
                                  QStringLiteral(" -> ") + cause);
                } else {
                    rt_.log.admem(QStringLiteral("error opening com: ") + device +
                                  QStringLiteral(" -> ") + cause + QStringLiteral(" (try ") +
                                  QString::number(backoff.failures()) + QStringLiteral(")"));
                }
            }
            if (!pause(backoff.nextDelayMs()))
                break;
            continue;
        }

        setOpen(true);
        // After a failed try or a failure the opening is a reopening.
        const bool reopening = down_.exchange(false);
        // From here on frames reach the line and nothing received is flushed any more.
        if (!reopening) {
            rt_.log.admem(QStringLiteral("Serial port opened: ") + device + QStringLiteral(" (") +
                          QString::number(config.baudRate) + QStringLiteral(" bit/s)"));
        } else {
            if (saidDown)
                rt_.log.admem(QStringLiteral("Serial port reopened: ") + device);
            rt_.counters.serialReconnects.fetch_add(1, std::memory_order_relaxed);
        }
        saidDown = false;
        const std::int64_t openedAt = steadyMs();

        const Failure failure = serve(static_cast<int>(port.handle()));
        if (stop_.load()) {
            setOpen(false);
            port.clear();
            port.close();
            break;
        }
        // The outage is said before any frame of it is dropped.
        if (steadyMs() - openedAt >= kStableMs)
            backoff.reset();
        if (backoff.failed()) {
            saidDown = true;
            dropLogged_ = false;
            rt_.log.admem((failure.writing ? QStringLiteral("Error writing com: ")
                                           : QStringLiteral("Error reading com: ")) +
                          device + QStringLiteral(" -> ") + failure.cause);
        }
        down_ = true;
        if (setOpen(false) + failure.dropped > 0)
            noteDropped(device);
        port.clear();
        port.close();
        if (!pause(backoff.nextDelayMs()))
            break;
    }
}

SerialLink::Failure SerialLink::serve(int fd) {
    QByteArray block;
    block.reserve(kMaxBlock);
    char buf[4096];
    const auto flush = [&] {
        if (!block.isEmpty()) {
            emit blockReceived(block);
            block.clear();
        }
    };
    while (!stop_.load()) {
        pollfd fds[2] = {{fd, POLLIN, 0}, {wakeFd_, POLLIN, 0}};
        // While a block is open, 3 ms of silence ends it; otherwise wait for bytes or a frame.
        const int rc = ::poll(fds, 2, block.isEmpty() ? -1 : kSilenceMs);
        if (rc < 0) {
            if (errno == EINTR)
                continue;
            const int err = errno;
            flush();
            return {false, errnoText(err)};
        }
        if (rc == 0) {
            flush();
            continue;
        }
        if (fds[1].revents & POLLIN) {
            std::uint64_t count = 0;
            [[maybe_unused]] auto n = ::read(wakeFd_, &count, sizeof count);
            if (stop_.load())
                break;
            std::deque<QByteArray> frames;
            {
                std::lock_guard lock(queueMutex_);
                frames.swap(queue_);
            }
            for (std::size_t i = 0; i < frames.size(); ++i) {
                const QByteArray& frame = frames[i];
                const QString error = writeAllFd(fd, frame, stop_);
                if (!error.isEmpty()) {
                    // The rest of the batch goes with the port.
                    flush();
                    return {true, error, frames.size() - i};
                }
                emit frameWritten(static_cast<int>(frame.size()));
            }
        }
        const short revents = fds[0].revents;
        if (revents & (POLLIN | POLLHUP | POLLERR | POLLNVAL)) {
            const int room = std::min<int>(sizeof buf, kMaxBlock - static_cast<int>(block.size()));
            const ssize_t n = ::read(fd, buf, static_cast<size_t>(room));
            if (n > 0) {
                block.append(buf, n);
                if (block.size() >= kMaxBlock)
                    flush();
                continue;
            }
            const int err = errno;
            const bool hangUp = revents & (POLLHUP | POLLERR | POLLNVAL);
            if (n < 0 && (err == EAGAIN || err == EINTR) && !hangUp)
                continue;
            // A terminal reads 0 only when its other end went away (a pseudo-terminal whose
            // master closed, an adapter pulled out).
            flush();
            return {false, n < 0 && err != EAGAIN && err != EINTR ? errnoText(err)
                                                                  : QStringLiteral("hang-up")};
        }
    }
    flush();
    return {};
}

}  // namespace velmar
