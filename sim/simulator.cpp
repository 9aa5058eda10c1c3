#include "sim/simulator.h"

#include <errno.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <iterator>
#include <tuple>

namespace velmar::sim {

namespace {

constexpr int kReadChunk = 4096;
// The longest anyone may ask the controllers to wait before answering.
constexpr int kMaxDelayMs = 60000;

bool failWith(QString* error, const QString& why) {
    if (error) {
        *error = why;
    }
    return false;
}

}  // namespace

QByteArray RecordedFrame::line() const {
    const std::int64_t ms = timeUs / 1000;
    const std::int64_t fraction = timeUs % 1000;
    return QByteArray::number(static_cast<qlonglong>(ms)) + '.' +
           QByteArray::number(static_cast<qlonglong>(fraction)).rightJustified(3, '0') + ' ' +
           hexBytes(bytes);
}

Simulator::Simulator() : Simulator(Options{}) {}

Simulator::Simulator(Options options) : options_(std::move(options)) {
    bus_.settings.turnaroundMs = options_.turnaroundMs;
    bus_.settings.textPauseMs = options_.textPauseMs;
}

Simulator::~Simulator() {
    stop();
}

bool Simulator::start(QString* error) {
    std::lock_guard lock(mutex_);
    if (thread_.joinable()) {
        return true;
    }
    if (!port_.open(error)) {
        return false;
    }
    if (!options_.recordPath.isEmpty()) {
        record_.setFileName(options_.recordPath);
        if (!record_.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
            port_.close();
            return failWith(error, QStringLiteral("cannot write %1: %2")
                                       .arg(options_.recordPath, record_.errorString()));
        }
    }
    wakeFd_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (wakeFd_ < 0) {
        record_.close();
        port_.close();
        return failWith(error,
                        QStringLiteral("eventfd: %1").arg(QString::fromLocal8Bit(strerror(errno))));
    }
    stopping_ = false;
    cutter_ = FrameCutter{};
    if (streamIntervalMs_ > 0) {
        nextStreamUs_ = monotonicUs() + streamIntervalMs_ * 1000LL;
    }
    thread_ = std::thread([this] { run(); });
    return true;
}

void Simulator::stop() {
    {
        std::lock_guard lock(mutex_);
        if (!thread_.joinable()) {
            return;
        }
        stopping_ = true;
    }
    wake();
    thread_.join();
    std::lock_guard lock(mutex_);
    thread_ = std::thread();
    ::close(wakeFd_);
    wakeFd_ = -1;
    port_.close();
    record_.close();
    queue_.clear();
}

bool Simulator::running() const {
    std::lock_guard lock(mutex_);
    return thread_.joinable();
}

QString Simulator::ptyPath() const {
    std::lock_guard lock(mutex_);
    return port_.slavePath();
}

std::optional<LineSettings> Simulator::lineSettings() const {
    std::lock_guard lock(mutex_);
    return port_.lineSettings();
}

bool Simulator::addController(Address address, ControllerType type, QString* error) {
    std::lock_guard lock(mutex_);
    return bus_.add(address, type, error);
}

std::vector<std::pair<Address, ControllerType>> Simulator::controllers() const {
    std::lock_guard lock(mutex_);
    std::vector<std::pair<Address, ControllerType>> list;
    for (const Controller& c : bus_.controllers()) {
        list.emplace_back(c.address(), c.type());
    }
    return list;
}

template <typename F>
bool Simulator::withController(Address address, QString* error, F&& f) {
    std::lock_guard lock(mutex_);
    Controller* c = bus_.find(address);
    if (!c) {
        return failWith(error, QStringLiteral("no controller at %1").arg(address.toString()));
    }
    return f(*c);
}

bool Simulator::setSilent(Address address, bool on, QString* error) {
    return withController(address, error, [&](Controller& c) {
        c.silent = on;
        return true;
    });
}

bool Simulator::setNoConfirm(Address address, bool on, QString* error) {
    return withController(address, error, [&](Controller& c) {
        c.noConfirm = on;
        return true;
    });
}

void Simulator::setProgramAnswer(ProgramAnswer answer) {
    std::lock_guard lock(mutex_);
    bus_.settings.programAnswer = answer;
}

void Simulator::setLinkelAddressing(bool on) {
    std::lock_guard lock(mutex_);
    bus_.settings.linkelAddressing = on;
}

bool Simulator::linkelAddressing() const {
    std::lock_guard lock(mutex_);
    return bus_.settings.linkelAddressing;
}

bool Simulator::setStreamInterval(int ms, QString* error) {
    if (ms < 0 || ms > kMaxDelayMs) {
        return failWith(error, QStringLiteral("interval must be 0..%1 ms").arg(kMaxDelayMs));
    }
    {
        std::lock_guard lock(mutex_);
        streamIntervalMs_ = ms;
        nextStreamUs_ = monotonicUs() + ms * 1000LL;
        if (ms == 0) {
            std::erase_if(queue_, [](const Pending& p) { return p.streamFrom.has_value(); });
        }
    }
    wake();
    return true;
}

bool Simulator::setTurnaround(int ms, QString* error) {
    if (ms < 0 || ms > kMaxDelayMs) {
        return failWith(error, QStringLiteral("turnaround must be 0..%1 ms").arg(kMaxDelayMs));
    }
    std::lock_guard lock(mutex_);
    bus_.settings.turnaroundMs = ms;
    return true;
}

bool Simulator::setTextPause(int ms, QString* error) {
    if (ms < 0 || ms > kMaxDelayMs) {
        return failWith(error, QStringLiteral("pause must be 0..%1 ms").arg(kMaxDelayMs));
    }
    std::lock_guard lock(mutex_);
    bus_.settings.textPauseMs = ms;
    return true;
}

bool Simulator::setAnalog(Address address, int channel, int raw, QString* error) {
    return withController(address, error,
                          [&](Controller& c) { return c.setAnalog(channel, raw, error); });
}

bool Simulator::setOutput(Address address, int output, bool on, QString* error) {
    return withController(address, error,
                          [&](Controller& c) { return c.setOutput(output, on, error); });
}

bool Simulator::setInput(Address address, int input, bool on, QString* error) {
    return withController(address, error,
                          [&](Controller& c) { return c.setInput(input, on, error); });
}

bool Simulator::setFastInput(Address address, int input, bool on, QString* error) {
    return withController(address, error,
                          [&](Controller& c) { return c.setFastInput(input, on, error); });
}

bool Simulator::setProgram(Address address, int program, QString* error) {
    return withController(address, error,
                          [&](Controller& c) { return c.setProgram(program, error); });
}

bool Simulator::setZone(Address address, int zone, QString* error) {
    return withController(address, error, [&](Controller& c) { return c.setZone(zone, error); });
}

bool Simulator::setSensel(Address address, int module, const QByteArray& bytes, QString* error) {
    return withController(address, error,
                          [&](Controller& c) { return c.setSensel(module, bytes, error); });
}

bool Simulator::setStatusByte(Address address, int offset, int value, QString* error) {
    return withController(address, error,
                          [&](Controller& c) { return c.setByte(offset, value, error); });
}

std::vector<QByteArray> Simulator::executedEvents(Address address) const {
    std::lock_guard lock(mutex_);
    const Controller* c = bus_.find(address);
    return c ? c->executed : std::vector<QByteArray>{};
}

std::optional<QByteArray> Simulator::statusMessage(Address address) const {
    std::lock_guard lock(mutex_);
    const Controller* c = bus_.find(address);
    if (!c || !c->hasStatus()) {
        return std::nullopt;
    }
    return c->statusMessage();
}

bool Simulator::sendText(Address from, const QByteArray& text, QString* error) {
    {
        std::lock_guard lock(mutex_);
        auto message = textMessage(from, text, bus_.settings.linkelAddressing, error);
        if (!message) {
            return false;
        }
        enqueueLocked(monotonicUs(), std::move(*message));
    }
    wake();
    return true;
}

bool Simulator::announceRestart(Address from, QString* error) {
    return sendText(from, "lRESTART", error);
}

void Simulator::writeToPc(const QByteArray& bytes) {
    if (bytes.isEmpty()) {
        return;
    }
    {
        std::lock_guard lock(mutex_);
        enqueueLocked(monotonicUs(), bytes);
    }
    wake();
}

void Simulator::keepWrites(bool on) {
    std::lock_guard lock(mutex_);
    keepWrites_ = on;
    writes_.clear();
}

std::vector<RecordedFrame> Simulator::writes() const {
    std::lock_guard lock(mutex_);
    return writes_;
}

std::vector<RecordedFrame> Simulator::frames() const {
    std::lock_guard lock(mutex_);
    return frames_;
}

void Simulator::clearFrames() {
    std::lock_guard lock(mutex_);
    frames_.clear();
}

bool Simulator::waitForFrame(const std::function<bool(const QByteArray&)>& predicate,
                             int timeoutMs) const {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    std::unique_lock lock(mutex_);
    auto anyMatches = [&] {
        return std::any_of(frames_.begin(), frames_.end(),
                           [&](const RecordedFrame& f) { return predicate(f.bytes); });
    };
    return recorded_.wait_until(lock, deadline, anyMatches);
}

void Simulator::enqueueLocked(std::int64_t dueUs, QByteArray bytes,
                              std::optional<Address> streamFrom) {
    queue_.push_back(Pending{dueUs, sequence_++, std::move(bytes), streamFrom});
}

void Simulator::wake() {
    std::lock_guard lock(mutex_);
    if (wakeFd_ >= 0) {
        const std::uint64_t one = 1;
        [[maybe_unused]] const ssize_t n = ::write(wakeFd_, &one, sizeof one);
    }
}

std::optional<std::int64_t> Simulator::nextWakeLocked() const {
    std::optional<std::int64_t> next = cutter_.deadline();
    auto consider = [&](std::int64_t t) {
        if (!next || t < *next) {
            next = t;
        }
    };
    if (!queue_.empty()) {
        const auto head =
            std::min_element(queue_.begin(), queue_.end(), [](const Pending& a, const Pending& b) {
                return std::tie(a.dueUs, a.sequence) < std::tie(b.dueUs, b.sequence);
            });
        std::int64_t due = head->dueUs;
        if (wroteAny_) {
            due = std::max<std::int64_t>(due, lastWriteUs_ + options_.blockGapMs * 1000LL);
        }
        consider(due);
    }
    if (streamIntervalMs_ > 0) {
        consider(nextStreamUs_);
    }
    return next;
}

void Simulator::handleFramesLocked(std::vector<FrameCutter::Cut>& cuts) {
    for (FrameCutter::Cut& cut : cuts) {
        RecordedFrame frame{cut.startUs, cut.bytes, cut.complete};
        if (record_.isOpen()) {
            record_.write(frame.line() + '\n');
            record_.flush();
        }
        const std::int64_t endUs = monotonicUs();
        for (Transmission& t : bus_.onFrame(cut.bytes, cut.complete)) {
            enqueueLocked(endUs + t.delayMs * 1000LL, std::move(t.bytes));
        }
        frames_.push_back(std::move(frame));
    }
    if (!cuts.empty()) {
        recorded_.notify_all();
    }
}

void Simulator::streamTickLocked(std::int64_t nowUs) {
    if (streamIntervalMs_ <= 0 || nowUs < nextStreamUs_) {
        return;
    }
    for (const Controller& c : bus_.controllers()) {
        if (!c.hasStatus() || c.silent) {
            continue;
        }
        const bool queued = std::any_of(queue_.begin(), queue_.end(), [&](const Pending& p) {
            return p.streamFrom && *p.streamFrom == c.address();
        });
        if (!queued) {
            enqueueLocked(nowUs, c.statusBlock(bus_.settings.linkelAddressing), c.address());
        }
    }
    nextStreamUs_ += streamIntervalMs_ * 1000LL;
    if (nextStreamUs_ <= nowUs) {
        nextStreamUs_ = nowUs + streamIntervalMs_ * 1000LL;
    }
}

std::optional<Simulator::Pending> Simulator::takeDueLocked(std::int64_t nowUs) {
    if (queue_.empty()) {
        return std::nullopt;
    }
    if (wroteAny_ && nowUs < lastWriteUs_ + options_.blockGapMs * 1000LL) {
        return std::nullopt;
    }
    const auto head =
        std::min_element(queue_.begin(), queue_.end(), [](const Pending& a, const Pending& b) {
            return std::tie(a.dueUs, a.sequence) < std::tie(b.dueUs, b.sequence);
        });
    if (head->dueUs > nowUs) {
        return std::nullopt;
    }
    Pending p = std::move(*head);
    queue_.erase(head);
    return p;
}

void Simulator::run() {
    QByteArray chunk(kReadChunk, Qt::Uninitialized);
    for (;;) {
        std::optional<std::int64_t> wakeAt;
        int master = -1;
        int wakeFd = -1;
        {
            std::lock_guard lock(mutex_);
            if (stopping_) {
                return;
            }
            wakeAt = nextWakeLocked();
            master = port_.masterFd();
            wakeFd = wakeFd_;
        }
        pollfd fds[2] = {{master, POLLIN, 0}, {wakeFd, POLLIN, 0}};
        timespec timeout{};
        timespec* timeoutPtr = nullptr;
        if (wakeAt) {
            const std::int64_t leftUs = std::max<std::int64_t>(0, *wakeAt - monotonicUs());
            timeout.tv_sec = static_cast<time_t>(leftUs / 1000000);
            timeout.tv_nsec = static_cast<long>((leftUs % 1000000) * 1000);
            timeoutPtr = &timeout;
        }
        const int ready = ppoll(fds, 2, timeoutPtr, nullptr);
        if (ready < 0 && errno != EINTR) {
            return;
        }
        if (ready > 0 && (fds[1].revents & POLLIN)) {
            std::uint64_t count = 0;
            [[maybe_unused]] const ssize_t n = ::read(wakeFd, &count, sizeof count);
        }
        std::vector<FrameCutter::Cut> cuts;
        if (ready > 0 && (fds[0].revents & POLLIN)) {
            for (;;) {
                const ssize_t n = ::read(master, chunk.data(), chunk.size());
                if (n <= 0) {
                    break;
                }
                auto more = cutter_.feed(QByteArrayView(chunk.constData(), n), monotonicUs());
                std::move(more.begin(), more.end(), std::back_inserter(cuts));
            }
        }
        const std::int64_t now = monotonicUs();
        if (auto ended = cutter_.expire(now)) {
            cuts.push_back(std::move(*ended));
        }
        {
            std::lock_guard lock(mutex_);
            handleFramesLocked(cuts);
            streamTickLocked(now);
        }
        for (;;) {
            std::optional<Pending> due;
            {
                std::lock_guard lock(mutex_);
                due = takeDueLocked(monotonicUs());
            }
            if (!due) {
                break;
            }
            port_.write(due->bytes);
            std::lock_guard lock(mutex_);
            lastWriteUs_ = monotonicUs();
            wroteAny_ = true;
            if (keepWrites_)
                writes_.push_back(RecordedFrame{lastWriteUs_, due->bytes, true});
        }
    }
}

}  // namespace velmar::sim
