#include "sim/simulator.h"

#include <arpa/inet.h>
#include <errno.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QRandomGenerator>

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

// How long a write to the Linkel's PC waits for room when the PC does not read.
constexpr int kSocketWriteWaitMs = 200;

bool failWith(QString* error, const QString& why) {
    if (error) {
        *error = why;
    }
    return false;
}

QString systemError(const char* step) {
    return QStringLiteral("%1: %2").arg(QLatin1String(step),
                                        QString::fromLocal8Bit(strerror(errno)));
}

// Sends a block in as few writes as the socket takes. What does not fit within
// kSocketWriteWaitMs is dropped, as on the pseudo-terminal. False when the connection is gone.
bool sendBlock(int fd, const QByteArray& block) {
    qsizetype done = 0;
    const std::int64_t giveUpUs = monotonicUs() + kSocketWriteWaitMs * 1000;
    while (done < block.size()) {
        const ssize_t n = ::send(fd, block.constData() + done, block.size() - done, MSG_NOSIGNAL);
        if (n > 0) {
            done += n;
            continue;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
            return false;
        }
        const std::int64_t leftUs = giveUpUs - monotonicUs();
        if (leftUs <= 0) {
            break;
        }
        pollfd p{fd, POLLOUT, 0};
        ::poll(&p, 1, static_cast<int>(leftUs / 1000) + 1);
    }
    return true;
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
    threadExited_ = false;
    thread_ = std::thread([this] {
        try {
            run();
        } catch (...) {
            // The thread ends; the owner still stops it as usual.
        }
        std::lock_guard lock(mutex_);
        threadExited_ = true;
        linkelDone_.notify_all();
    });
    return true;
}

void Simulator::stop() {
    {
        std::lock_guard lock(mutex_);
        if (!thread_.joinable()) {
            closeLinkelLocked();
            return;
        }
        stopping_ = true;
    }
    wake();
    thread_.join();
    std::lock_guard lock(mutex_);
    thread_ = std::thread();
    closeLinkelLocked();
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

bool Simulator::setProgramAnswer(Address address, ProgramAnswer answer, int blocks,
                                 QString* error) {
    if (blocks < 0) {
        if (error)
            *error = QStringLiteral("the number of blocks must be 0 or more");
        return false;
    }
    return withController(address, error, [&](Controller& c) {
        c.programAnswer = answer;
        c.programBlocks = blocks;
        return true;
    });
}

std::optional<QByteArray> Simulator::memory(Address address, char letter) const {
    std::lock_guard lock(mutex_);
    const Controller* c = bus_.find(address);
    if (!c)
        return std::nullopt;
    const auto it = c->memory.find(letter);
    if (it == c->memory.end())
        return std::nullopt;
    return it->second;
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
    wakeLocked();
}

void Simulator::wakeLocked() {
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
    if (linkel_.session && linkel_.session->loggingIn()) {
        consider(linkel_.loginDeadlineUs);
    }
    if (linkel_.session && linkel_.session->state() == LinkelSession::State::Query) {
        consider(linkel_.nextRoundUs);
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

void Simulator::writeDue(const Pending& due) {
    int fd = -1;
    {
        std::lock_guard lock(mutex_);
        const auto state = linkel_.session ? std::optional(linkel_.session->state()) : std::nullopt;
        if (due.queryRecord) {
            if (state != LinkelSession::State::Query) {
                return;
            }
            fd = linkel_.clientFd;
        } else if (state == LinkelSession::State::Transparent) {
            fd = linkel_.clientFd;
        }
    }
    bool gone = false;
    if (fd >= 0) {
        gone = !sendBlock(fd, due.bytes);
    } else {
        port_.write(due.bytes);
    }
    std::lock_guard lock(mutex_);
    if (gone && linkel_.clientFd == fd) {
        closeLinkelClientLocked();
    }
    lastWriteUs_ = monotonicUs();
    wroteAny_ = true;
    if (keepWrites_) {
        writes_.push_back(RecordedFrame{lastWriteUs_, due.bytes, true});
    }
}

void Simulator::run() {
    QByteArray chunk(kReadChunk, Qt::Uninitialized);
    for (;;) {
        std::optional<std::int64_t> wakeAt;
        int master = -1;
        int wakeFd = -1;
        int listenFd = -1;
        int clientFd = -1;
        {
            std::lock_guard lock(mutex_);
            if (stopping_) {
                return;
            }
            serveLinkelRequestsLocked();
            wakeAt = nextWakeLocked();
            master = port_.masterFd();
            wakeFd = wakeFd_;
            listenFd = linkel_.listenFd;
            clientFd = linkel_.clientFd;
        }
        pollfd fds[4] = {
            {master, POLLIN, 0}, {wakeFd, POLLIN, 0}, {listenFd, POLLIN, 0}, {clientFd, POLLIN, 0}};
        timespec timeout{};
        timespec* timeoutPtr = nullptr;
        if (wakeAt) {
            const std::int64_t leftUs = std::max<std::int64_t>(0, *wakeAt - monotonicUs());
            timeout.tv_sec = static_cast<time_t>(leftUs / 1000000);
            timeout.tv_nsec = static_cast<long>((leftUs % 1000000) * 1000);
            timeoutPtr = &timeout;
        }
        const int ready = ppoll(fds, 4, timeoutPtr, nullptr);
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
        if (ready > 0 && fds[3].revents != 0) {
            readLinkelClient(clientFd, cuts);
        }
        if (ready > 0 && (fds[2].revents & POLLIN)) {
            acceptLinkelClient(listenFd);
        }
        const std::int64_t now = monotonicUs();
        if (auto ended = cutter_.expire(now)) {
            cuts.push_back(std::move(*ended));
        }
        {
            std::lock_guard lock(mutex_);
            handleFramesLocked(cuts);
            streamTickLocked(now);
            linkelTickLocked(now);
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
            writeDue(*due);
        }
    }
}

bool Simulator::startLinkel(std::uint16_t port, const std::array<std::uint8_t, 9>& key,
                            QString* error) {
    std::lock_guard lock(mutex_);
    if (linkel_.listenFd >= 0) {
        return failWith(error,
                        QStringLiteral("the Linkel already listens on port %1").arg(linkel_.port));
    }
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return failWith(error, systemError("socket"));
    }
    auto fail = [&](const char* step) {
        const QString why = systemError(step);
        ::close(fd);
        return failWith(error, why);
    };
    const int one = 1;
    if (::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one) != 0) {
        return fail("setsockopt");
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        return fail("bind");
    }
    if (::listen(fd, 4) != 0) {
        return fail("listen");
    }
    socklen_t length = sizeof address;
    if (::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        return fail("getsockname");
    }
    linkel_.listenFd = fd;
    linkel_.port = ntohs(address.sin_port);
    linkel_.key = key;
    wakeLocked();
    return true;
}

std::uint16_t Simulator::linkelPort() const {
    std::lock_guard lock(mutex_);
    return linkel_.port;
}

void Simulator::stopLinkel() {
    requestLinkel(&Linkel::stopRequested);
}

void Simulator::dropLinkelClient() {
    requestLinkel(&Linkel::dropRequested);
}

void Simulator::requestLinkel(bool Linkel::*flag) {
    std::unique_lock lock(mutex_);
    linkel_.*flag = true;
    if (thread_.joinable() && !threadExited_) {
        wakeLocked();
        linkelDone_.wait(lock, [&] { return !(linkel_.*flag) || threadExited_; });
    }
    // Without the thread (not started, or ended) the caller closes the sockets itself.
    serveLinkelRequestsLocked();
}

void Simulator::serveLinkelRequestsLocked() {
    if (!linkel_.stopRequested && !linkel_.dropRequested) {
        return;
    }
    if (linkel_.stopRequested) {
        closeLinkelLocked();
    } else {
        closeLinkelClientLocked();
    }
    linkel_.stopRequested = false;
    linkel_.dropRequested = false;
    linkelDone_.notify_all();
}

void Simulator::closeLinkelClientLocked() {
    if (linkel_.clientFd >= 0) {
        ::close(linkel_.clientFd);
        linkel_.clientFd = -1;
    }
    linkel_.session.reset();
    std::erase_if(queue_, [](const Pending& p) { return p.queryRecord; });
}

void Simulator::closeLinkelLocked() {
    closeLinkelClientLocked();
    if (linkel_.listenFd >= 0) {
        ::close(linkel_.listenFd);
        linkel_.listenFd = -1;
    }
    linkel_.port = 0;
}

void Simulator::acceptLinkelClient(int listenFd) {
    const int fd = ::accept4(listenFd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) {
        return;
    }
    std::lock_guard lock(mutex_);
    if (linkel_.clientFd >= 0 || linkel_.listenFd != listenFd) {
        ::close(fd);  // one PC at a time
        return;
    }
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    LinkelChallenge challenge{};
    if (linkel_.challenge) {
        challenge = *linkel_.challenge;
    } else {
        for (std::uint8_t& byte : challenge) {
            byte = static_cast<std::uint8_t>(QRandomGenerator::global()->bounded(256));
        }
    }
    // Six bytes into a fresh connection always fit.
    if (!sendBlock(fd, QByteArray(reinterpret_cast<const char*>(challenge.data()),
                                  static_cast<qsizetype>(challenge.size())))) {
        ::close(fd);
        return;
    }
    linkel_.clientFd = fd;
    linkel_.session.emplace(challenge, linkel_.key);
    linkel_.loginDeadlineUs = monotonicUs() + linkel_.loginTimeoutMs * 1000LL;
}

void Simulator::readLinkelClient(int clientFd, std::vector<FrameCutter::Cut>& cuts) {
    QByteArray received;
    bool closed = false;
    char buffer[kReadChunk];
    for (;;) {
        const ssize_t n = ::recv(clientFd, buffer, sizeof buffer, 0);
        if (n > 0) {
            received.append(buffer, n);
            continue;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        closed = n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK);
        break;
    }
    const std::int64_t now = monotonicUs();
    std::lock_guard lock(mutex_);
    if (linkel_.clientFd != clientFd || !linkel_.session) {
        return;
    }
    const auto before = linkel_.session->state();
    const LinkelSession::Step step = linkel_.session->feed(received, linkel_.acceptLogin);
    if (!step.reply.isEmpty() && !sendBlock(clientFd, step.reply)) {
        closed = true;
    }
    if (!step.busBytes.isEmpty()) {
        auto more = cutter_.feed(step.busBytes, now);
        std::move(more.begin(), more.end(), std::back_inserter(cuts));
    }
    if (step.close || closed) {
        closeLinkelClientLocked();
        return;
    }
    const auto after = linkel_.session->state();
    if (before == LinkelSession::State::Login && after == LinkelSession::State::AwaitMode) {
        // The mode byte gets a time-out of its own.
        linkel_.loginDeadlineUs = now + linkel_.loginTimeoutMs * 1000LL;
    }
    if (before != LinkelSession::State::Query && after == LinkelSession::State::Query) {
        linkel_.nextRoundUs = now;  // the first round at once
    }
}

void Simulator::linkelTickLocked(std::int64_t nowUs) {
    if (!linkel_.session) {
        return;
    }
    if (linkel_.session->loggingIn() && nowUs >= linkel_.loginDeadlineUs) {
        closeLinkelClientLocked();
        return;
    }
    if (linkel_.session->state() != LinkelSession::State::Query || nowUs < linkel_.nextRoundUs) {
        return;
    }
    const std::int64_t intervalUs = linkel_.queryIntervalMs * 1000LL;
    linkel_.nextRoundUs += intervalUs;
    if (linkel_.nextRoundUs <= nowUs) {
        linkel_.nextRoundUs = nowUs + intervalUs;
    }
    // A round still on its way (the PC reads slowly) is not joined by the next one.
    if (std::any_of(queue_.begin(), queue_.end(), [](const Pending& p) { return p.queryRecord; })) {
        return;
    }
    auto push = [&](QByteArray bytes) {
        queue_.push_back(Pending{nowUs, sequence_++, std::move(bytes), std::nullopt, true});
    };
    for (const Controller& c : bus_.controllers()) {
        if (!c.hasStatus() || c.silent) {
            continue;
        }
        const QByteArray message = c.statusMessage();
        push(char(static_cast<std::uint8_t>(message.size())) + message);
    }
    push(linkel_.record.bytes());
}

void Simulator::setLinkelChallenge(const std::array<std::uint8_t, 6>& challenge) {
    std::lock_guard lock(mutex_);
    linkel_.challenge = challenge;
}

void Simulator::setLinkelAcceptLogin(bool accept) {
    std::lock_guard lock(mutex_);
    linkel_.acceptLogin = accept;
}

bool Simulator::setLinkelQueryInterval(int ms, QString* error) {
    if (ms < 1 || ms > kMaxDelayMs) {
        return failWith(error, QStringLiteral("interval must be 1..%1 ms").arg(kMaxDelayMs));
    }
    std::lock_guard lock(mutex_);
    linkel_.queryIntervalMs = ms;
    linkel_.nextRoundUs = std::min<std::int64_t>(linkel_.nextRoundUs, monotonicUs() + ms * 1000LL);
    wakeLocked();
    return true;
}

bool Simulator::setLinkelLoginTimeout(int ms, QString* error) {
    if (ms < 1 || ms > kMaxDelayMs) {
        return failWith(error, QStringLiteral("time-out must be 1..%1 ms").arg(kMaxDelayMs));
    }
    std::lock_guard lock(mutex_);
    linkel_.loginTimeoutMs = ms;
    return true;
}

bool Simulator::linkelClientConnected() const {
    std::lock_guard lock(mutex_);
    return linkel_.clientFd >= 0;
}

int Simulator::linkelMode() const {
    std::lock_guard lock(mutex_);
    return linkel_.session ? linkel_.session->mode() : 0;
}

bool Simulator::setLinkelOutput(int output, bool on, QString* error) {
    std::lock_guard lock(mutex_);
    return linkel_.record.setOutput(output, on, error);
}

bool Simulator::setLinkelAnalog(int channel, int raw, QString* error) {
    std::lock_guard lock(mutex_);
    return linkel_.record.setAnalog(channel, raw, error);
}

bool Simulator::setLinkelStatusByte(int offset, int value, QString* error) {
    std::lock_guard lock(mutex_);
    return linkel_.record.setByte(offset, value, error);
}

QByteArray Simulator::linkelRecord() const {
    std::lock_guard lock(mutex_);
    return linkel_.record.bytes();
}

}  // namespace velmar::sim
