#include "bus/serial_link.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <QSerialPort>
#include <cerrno>
#include <cstring>

#include "log/event_log.h"

namespace velmar {

class SerialLink::Reader : public QThread {
  public:
    Reader(SerialLink& link, ComConfig config) : link_(link), config_(std::move(config)) {}
    void run() override { link_.run(config_); }

  private:
    SerialLink& link_;
    ComConfig config_;
};

SerialLink::SerialLink(EventLog& log, QObject* parent) : QObject(parent), log_(log) {
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
    thread_ = new Reader(*this, config);
    thread_->setObjectName(QStringLiteral("serial reader"));
    thread_->start();
}

void SerialLink::stop(int waitMs) {
    if (!thread_)
        return;
    stop_ = true;
    const std::uint64_t one = 1;
    [[maybe_unused]] auto n = ::write(wakeFd_, &one, sizeof one);
    if (!thread_->wait(QDeadlineTimer(waitMs))) {
        log_.admem(QStringLiteral("Error stopping the serial reader: no answer within ") +
                   QString::number(waitMs) + QStringLiteral(" ms"));
        thread_->terminate();
        thread_->wait(200);
    }
    delete thread_;
    thread_ = nullptr;
}

void SerialLink::writeFrame(const QByteArray& frame) {
    if (!open_.load())
        return;  // no port: the frame is lost, as on a dead bus
    {
        std::lock_guard lock(queueMutex_);
        queue_.push_back(frame);
    }
    const std::uint64_t one = 1;
    [[maybe_unused]] auto n = ::write(wakeFd_, &one, sizeof one);
}

namespace {

// Writes all of `bytes` to a non-blocking descriptor, waiting for room when needed.
bool writeAllFd(int fd, const QByteArray& bytes) {
    const char* p = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, p, static_cast<size_t>(left));
        if (n > 0) {
            p += n;
            left -= n;
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno == EAGAIN) {
            pollfd pfd{fd, POLLOUT, 0};
            if (::poll(&pfd, 1, 1000) <= 0)
                return false;
            continue;
        }
        return false;
    }
    return true;
}

}  // namespace

void SerialLink::run(const ComConfig& config) {
    const QString device = portDevicePath(config.portName);
    QSerialPort port;
    port.setPortName(device);
    if (!port.open(QIODevice::ReadWrite)) {
        log_.admem(QStringLiteral("Cant connect to com: check port settings in \"com.cfg\" file"));
        log_.admem(QStringLiteral("error opening com") + QStringLiteral(": ") + device +
                   QStringLiteral(" -> ") + port.errorString());
        return;
    }
    // Each setting is applied on its own, so that one the device refuses (a pseudo-terminal
    // has no parity) leaves the others in force.
    const std::pair<const char*, bool> settings[] = {
        {"speed", port.setBaudRate(config.baudRate)},
        {"data bits", port.setDataBits(QSerialPort::Data8)},
        {"parity", port.setParity(QSerialPort::EvenParity)},
        {"stop bits", port.setStopBits(QSerialPort::OneStop)},
        {"flow control", port.setFlowControl(QSerialPort::NoFlowControl)},
    };
    for (const auto& [what, ok] : settings) {
        if (!ok) {
            log_.admem(QStringLiteral("cant set comm params: ") + QLatin1String(what) +
                       QStringLiteral(" -> ") + port.errorString());
            port.clearError();
        }
    }
    port.clear();
    const int fd = static_cast<int>(port.handle());
    open_ = true;
    // From here on frames reach the line and nothing received is flushed any more.
    log_.admem(QStringLiteral("Serial port opened: ") + device + QStringLiteral(" (") +
               QString::number(config.baudRate) + QStringLiteral(" bit/s)"));

    QByteArray block;
    block.reserve(kMaxBlock);
    char buf[4096];
    while (!stop_.load()) {
        pollfd fds[2] = {{fd, POLLIN, 0}, {wakeFd_, POLLIN, 0}};
        // While a block is open, 3 ms of silence ends it; otherwise wait for bytes or a frame.
        const int rc = ::poll(fds, 2, block.isEmpty() ? -1 : kSilenceMs);
        if (rc < 0) {
            if (errno == EINTR)
                continue;
            log_.admem(QStringLiteral("Error reading com: ") +
                       QString::fromLocal8Bit(std::strerror(errno)));
            break;
        }
        if (rc == 0) {
            emit blockReceived(block);
            block.clear();
            continue;
        }
        if (fds[1].revents & POLLIN) {
            std::uint64_t count = 0;
            [[maybe_unused]] auto n = ::read(wakeFd_, &count, sizeof count);
            std::deque<QByteArray> frames;
            {
                std::lock_guard lock(queueMutex_);
                frames.swap(queue_);
            }
            for (const QByteArray& frame : frames) {
                if (!writeAllFd(fd, frame)) {
                    log_.admem(QStringLiteral("Error writing com: ") +
                               QString::fromLocal8Bit(std::strerror(errno)));
                } else {
                    emit frameWritten(static_cast<int>(frame.size()));
                }
            }
        }
        if (fds[0].revents & (POLLIN | POLLHUP | POLLERR)) {
            const int room = std::min<int>(sizeof buf, kMaxBlock - static_cast<int>(block.size()));
            const ssize_t n = ::read(fd, buf, static_cast<size_t>(room));
            if (n > 0) {
                block.append(buf, n);
                if (block.size() >= kMaxBlock) {
                    emit blockReceived(block);
                    block.clear();
                }
            } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
                // The other end went away (a pseudo-terminal whose peer closed): wait a little
                // instead of spinning on the hang-up.
                if (!block.isEmpty()) {
                    emit blockReceived(block);
                    block.clear();
                }
                pollfd wake{wakeFd_, POLLIN, 0};
                ::poll(&wake, 1, 100);
            }
        }
    }
    open_ = false;
    port.clear();
    port.close();
}

}  // namespace velmar
