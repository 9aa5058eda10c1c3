#include "panels/panel_server.h"

#include <sys/socket.h>

#include <QHostInfo>
#include <QMetaObject>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>
#include <QTimer>
#include <cerrno>
#include <exception>
#include <set>
#include <unordered_set>
#include <vector>

#include "base/backoff.h"
#include "base/chkint.h"
#include "base/data_root.h"
#include "base/log_text.h"
#include "base/run_counters.h"
#include "base/text_file.h"
#include "log/event_log.h"
#include "panels/panel_session.h"

namespace velmar {

namespace {

const QString kTcpFile = QStringLiteral("tcp.txt");

// Incoming bytes are taken in pieces of this size; Qt buffers at most kReadBuffer per socket.
constexpr qint64 kReadChunk = 4096;
constexpr qint64 kReadBuffer = 16384;
constexpr int kSendBuffer = 65536;

// The address as the log shows it: IPv4 clients of a dual-stack socket without "::ffff:".
QString addressText(const QHostAddress& address) {
    bool isV4 = false;
    const quint32 v4 = address.toIPv4Address(&isV4);
    return isV4 ? QHostAddress(v4).toString() : address.toString();
}

QString exceptionText(const std::exception_ptr& e) {
    try {
        std::rethrow_exception(e);
    } catch (const std::exception& x) {
        return QString::fromLocal8Bit(x.what());
    } catch (...) {
        return QStringLiteral("unknown exception");
    }
}

}  // namespace

PanelServerOptions readTcpTxt(const DataRoot& root, EventLog& log) {
    PanelServerOptions o;
    if (!root.exists(kTcpFile))
        return o;
    const QString prefix = QStringLiteral("Error reading configuration file: ") + kTcpFile;
    const auto lines = readLines(root.path(kTcpFile));
    if (!lines) {
        // Nothing says which addresses are meant: only this machine's own.
        o.listenAddress = QHostAddress::LocalHost;
        log.admem(prefix + QStringLiteral(", using ") + QString::number(o.port) +
                  QStringLiteral(" on 127.0.0.1 only"));
        return o;
    }
    const QString port = lines->value(0);
    const auto parsed = parseInt32(port);
    if (parsed && *parsed >= 2 && *parsed <= 10000) {
        o.port = static_cast<std::uint16_t>(*parsed);
    } else {
        log.admem(prefix + QStringLiteral(" -> line 1: \"") + logText(port) +
                  QStringLiteral("\", using ") + QString::number(o.port));
    }
    const QString address = lines->value(1).trimmed();
    if (!address.isEmpty()) {
        QHostAddress a;
        if (a.setAddress(address)) {
            o.listenAddress = a;
        } else {
            // A mistyped address must not open the server to every network.
            o.listenAddress = QHostAddress::LocalHost;
            log.admem(prefix + QStringLiteral(" -> line 2: \"") + logText(lines->value(1)) +
                      QStringLiteral("\" is not an IP address, listening on 127.0.0.1 only"));
        }
    }
    o.maxConnections = chkint(lines->value(2).trimmed(), 1, 10000, 200);
    return o;
}

QString listenText(const QHostAddress& address, std::uint16_t port) {
    const QString p = QString::number(port);
    if (address == QHostAddress::Any)
        return QStringLiteral("every address, port ") + p;
    if (address.protocol() == QAbstractSocket::IPv6Protocol)
        return QLatin1Char('[') + address.toString() + QStringLiteral("]:") + p;
    return address.toString() + QLatin1Char(':') + p;
}

// ---- the network thread ----

// The host name of a client, looked up on the side; until it is known the log shows the address.
// (A slot named by its signature: a functor given to QHostInfo would leak when the lookup is
// aborted.)
class HostNameLookup : public QObject {
    Q_OBJECT
  public:
    HostNameLookup(PanelSession& session, QObject* parent) : QObject(parent), session_(session) {
        id_ = QHostInfo::lookupHost(session.address(), this, SLOT(found(QHostInfo)));
    }
    ~HostNameLookup() override {
        if (id_ >= 0)
            QHostInfo::abortHostLookup(id_);
    }

  private slots:
    void found(const QHostInfo& info) {
        id_ = -1;
        if (info.error() == QHostInfo::NoError && !info.hostName().isEmpty())
            session_.setHost(info.hostName());
    }

  private:
    PanelSession& session_;
    int id_ = -1;
};

// One client: its socket and its protocol state. Lives on the network thread.
class PanelServer::Connection : public QObject {
  public:
    Connection(Worker& worker, QTcpSocket* socket, const std::optional<LoginKey>& key);
    ~Connection() override;

    Worker& worker;
    QTcpSocket* socket;
    PanelSession session;
    int slot = -1;
    bool streaming = false;  // counted as a connected panel
    bool closing = false;
    std::int64_t graceEndsMs = 0;             // while closing with bytes still to go
    std::optional<std::int64_t> scheduledMs;  // its entry in the worker's schedule
};

class PanelServer::Worker : public QObject {
  public:
    Worker(PanelServer& owner, const PanelServerOptions& options);

    // The first try to listen; on failure the retries are scheduled and the cause returned.
    bool listen(QString& error);
    void shutdown();
    void publish(const QByteArray& record);
    void forget(Connection* c);

  private:
    // Runs a handler; nothing it throws leaves the event loop.
    template <typename F>
    void guarded(F&& f) {
        try {
            f();
        } catch (...) {
            owner_.logLater(QStringLiteral("Panel server error: ") +
                            exceptionText(std::current_exception()));
        }
    }

    bool tryListen(QString& error);
    void retryListen();
    void listenFailed(const QString& error);
    void accept();
    void readFrom(Connection* c);
    void socketFailed(Connection* c);
    void apply(Connection* c, PanelSession::Actions&& a);
    // Writes the bytes (what the kernel does not take now goes out later); false on failure.
    bool send(Connection* c, const QByteArray& bytes);
    void claimSlot(Connection* c);
    void releaseSlot(Connection* c);
    void countStream(Connection* c, bool on);
    // Ends a connection. `flush`: bytes still waiting are written first (within the grace
    // time), otherwise the socket is aborted.
    void finish(Connection* c, bool flush);
    // Puts the connection's next deadline into the schedule (or takes it out).
    void rearm(Connection* c);
    void unschedule(Connection* c);
    // Starts the one timer for the schedule's first entry; a no-op when it is set for it.
    void armTimer();
    void runDue();

    PanelServer& owner_;
    PanelServerOptions options_;
    QTcpServer* server_ = nullptr;
    std::unordered_set<Connection*> all_;
    std::vector<Connection*> slots_;
    bool stopping_ = false;

    // Every session's next deadline, earliest first, and the one timer that waits for it.
    std::set<std::pair<std::int64_t, Connection*>> schedule_;
    QTimer* dueTimer_;
    std::optional<std::int64_t> armedFor_;

    // Retries of a listen that failed; runs only while the server is not listening.
    QTimer* retryTimer_;
    Backoff backoff_;
};

PanelServer::Connection::Connection(Worker& w, QTcpSocket* s, const std::optional<LoginKey>& key)
    : worker(w), socket(s), session(key, addressText(s->peerAddress())) {
    socket->setParent(this);
}

PanelServer::Connection::~Connection() {
    worker.forget(this);
}

PanelServer::Worker::Worker(PanelServer& owner, const PanelServerOptions& options)
    : owner_(owner),
      options_(options),
      slots_(static_cast<std::size_t>(std::max(0, options.maxPanels)), nullptr),
      dueTimer_(new QTimer(this)),
      retryTimer_(new QTimer(this)) {
    dueTimer_->setSingleShot(true);
    dueTimer_->setTimerType(Qt::PreciseTimer);
    connect(dueTimer_, &QTimer::timeout, this, [this] { guarded([this] { runDue(); }); });
    retryTimer_->setSingleShot(true);
    connect(retryTimer_, &QTimer::timeout, this, [this] { guarded([this] { retryListen(); }); });
}

bool PanelServer::Worker::tryListen(QString& error) {
    auto* server = new QTcpServer(this);
    if (!server->listen(options_.listenAddress, options_.port)) {
        error = server->errorString() + QStringLiteral(" (") +
                listenText(options_.listenAddress, options_.port) + QLatin1Char(')');
        delete server;
        return false;
    }
    server_ = server;
    owner_.port_ = server_->serverPort();
    connect(server_, &QTcpServer::newConnection, this, [this] { guarded([this] { accept(); }); });
    return true;
}

bool PanelServer::Worker::listen(QString& error) {
    if (tryListen(error))
        return true;
    listenFailed(error);
    return false;
}

void PanelServer::Worker::listenFailed(const QString& error) {
    const bool first = backoff_.failures() == 0;
    const bool logged = backoff_.failed();
    const int delay = backoff_.nextDelayMs();
    owner_.listenFailures_ = backoff_.failures();
    if (first) {
        owner_.logLater(QStringLiteral("Error Initializing server socket: ") + error);
    } else if (logged) {
        owner_.logLater(QStringLiteral("Panel server still not listening after ") +
                        QString::number(backoff_.failures()) + QStringLiteral(" tries: ") + error +
                        QStringLiteral("; next try in ") + QString::number(delay / 1000) +
                        QStringLiteral(" s"));
    }
    retryTimer_->start(delay);
}

void PanelServer::Worker::retryListen() {
    if (stopping_ || server_)
        return;
    QString error;
    if (!tryListen(error)) {
        listenFailed(error);
        return;
    }
    owner_.logLater(QStringLiteral("Panel server listening on ") +
                    listenText(options_.listenAddress, owner_.port_.load()));
    backoff_.reset();
    owner_.listenFailures_ = 0;
}

void PanelServer::Worker::accept() {
    while (QTcpSocket* socket = server_->nextPendingConnection()) {
        if (stopping_ || static_cast<int>(all_.size()) >= std::max(1, options_.maxConnections)) {
            socket->abort();
            socket->deleteLater();
            continue;
        }
        auto* c = new Connection(*this, socket, owner_.key_);
        all_.insert(c);
        owner_.connections_ = static_cast<int>(all_.size());
        socket->setReadBufferSize(kReadBuffer);
        // A panel that stops reading fills the kernel's buffer, then ours: both stay small.
        socket->setSocketOption(QAbstractSocket::SendBufferSizeSocketOption, kSendBuffer);
        // Status records are small and wanted at once.
        socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        connect(socket, &QTcpSocket::readyRead, c, [this, c] { guarded([&] { readFrom(c); }); });
        connect(socket, &QTcpSocket::errorOccurred, c,
                [this, c] { guarded([&] { socketFailed(c); }); });
        connect(socket, &QTcpSocket::disconnected, c,
                [this, c] { guarded([&] { socketFailed(c); }); });
        new HostNameLookup(c->session, c);
        apply(c, c->session.start(owner_.clock_.now(), owner_.clock_.monotonicMs()));
    }
}

void PanelServer::Worker::readFrom(Connection* c) {
    char buf[kReadChunk];
    while (!c->closing && c->socket->bytesAvailable() > 0) {
        const qint64 n = c->socket->read(buf, sizeof buf);
        if (n <= 0)
            break;
        apply(c, c->session.receive(QByteArrayView(buf, n), owner_.clock_.monotonicMs()));
    }
}

void PanelServer::Worker::socketFailed(Connection* c) {
    if (c->closing)
        return;
    readFrom(c);  // what arrived before the failure still counts
    if (c->closing)
        return;
    const QString reason = c->socket->error() == QAbstractSocket::UnknownSocketError
                               ? QStringLiteral("Connection closed")
                               : c->socket->errorString();
    apply(c, c->session.fail(reason));
}

void PanelServer::Worker::apply(Connection* c, PanelSession::Actions&& a) {
    if (c->closing)
        return;
    if (!a.send.isEmpty() && !send(c, a.send)) {
        // Nothing went out: a submission is not acknowledged, a panel gets no slot.
        const auto failed = c->session.fail(c->socket->errorString());
        a.log.append(failed.log);
        a.submitted = false;
        a.panelStarted = false;
        a.close = true;
    }
    for (const QString& line : a.log)
        owner_.logLater(line);
    if (a.submitted && !a.records.isEmpty())
        emit owner_.eventsSubmitted(a.records, c->session.address());
    if (c->closing)
        return;  // the socket failed on the way out (socketFailed has closed it)
    if (a.panelStarted) {
        countStream(c, true);
        claimSlot(c);
    }
    if (a.close) {
        finish(c, c->socket->error() == QAbstractSocket::UnknownSocketError);
        return;
    }
    if (c->socket->bytesToWrite() > kMaxUnsentBytes) {
        // A panel that does not read would hold ever more memory.
        const auto dropped = c->session.fail(QStringLiteral("not reading, ") +
                                             QString::number(c->socket->bytesToWrite()) +
                                             QStringLiteral(" bytes unsent"));
        for (const QString& line : dropped.log)
            owner_.logLater(line);
        finish(c, false);
        return;
    }
    rearm(c);
}

bool PanelServer::Worker::send(Connection* c, const QByteArray& bytes) {
    QTcpSocket* s = c->socket;
    qsizetype sent = 0;
    if (s->bytesToWrite() == 0 && s->state() == QAbstractSocket::ConnectedState) {
        // Straight into the kernel while nothing waits in Qt's buffer: handing the bytes to the
        // socket's write notification would cost a round of the event loop and two more
        // changes of the poll set per record and panel.
        const ssize_t n = ::send(static_cast<int>(s->socketDescriptor()), bytes.constData(),
                                 static_cast<size_t>(bytes.size()), MSG_DONTWAIT | MSG_NOSIGNAL);
        if (n > 0)
            sent = n;
        else if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)
            return false;  // the socket's own error follows from its notifier
    }
    if (sent == bytes.size())
        return true;
    return s->write(bytes.constData() + sent, bytes.size() - sent) >= 0;
}

void PanelServer::Worker::claimSlot(Connection* c) {
    for (std::size_t i = 0; i < slots_.size(); ++i) {
        if (slots_[i] == nullptr) {
            slots_[i] = c;
            c->slot = static_cast<int>(i);
            ++owner_.panels_;
            return;
        }
    }
    // No slot: the panel stream stays open and receives nothing.
}

void PanelServer::Worker::releaseSlot(Connection* c) {
    if (c->slot < 0)
        return;
    slots_[static_cast<std::size_t>(c->slot)] = nullptr;
    c->slot = -1;
    --owner_.panels_;
}

void PanelServer::Worker::countStream(Connection* c, bool on) {
    if (c->streaming == on)
        return;
    c->streaming = on;
    if (owner_.counters_)
        owner_.counters_->panelsConnected.fetch_add(on ? 1 : -1, std::memory_order_relaxed);
}

void PanelServer::Worker::finish(Connection* c, bool flush) {
    c->closing = true;
    releaseSlot(c);
    countStream(c, false);
    unschedule(c);
    QTcpSocket* s = c->socket;
    if (!flush || s->state() != QAbstractSocket::ConnectedState || s->bytesToWrite() == 0) {
        s->abort();
        c->deleteLater();
        return;
    }
    // The last bytes ("+") still go out; a peer that does not take them within the grace time
    // is cut off (runDue).
    s->readAll();
    connect(s, &QTcpSocket::disconnected, c, &QObject::deleteLater);
    c->graceEndsMs = owner_.clock_.monotonicMs() + kCloseGraceMs;
    c->scheduledMs = c->graceEndsMs;
    schedule_.emplace(c->graceEndsMs, c);
    armTimer();
    s->disconnectFromHost();
}

void PanelServer::Worker::rearm(Connection* c) {
    const std::optional<std::int64_t> due = c->session.deadline();
    if (due == c->scheduledMs)
        return;  // the usual case: a record held back for the same moment as before
    if (c->scheduledMs)
        schedule_.erase({*c->scheduledMs, c});
    c->scheduledMs = due;
    if (due)
        schedule_.emplace(*due, c);
    armTimer();
}

void PanelServer::Worker::unschedule(Connection* c) {
    if (!c->scheduledMs)
        return;
    schedule_.erase({*c->scheduledMs, c});
    c->scheduledMs.reset();
    armTimer();
}

void PanelServer::Worker::armTimer() {
    if (schedule_.empty()) {
        if (armedFor_) {
            dueTimer_->stop();
            armedFor_.reset();
        }
        return;
    }
    const std::int64_t first = schedule_.begin()->first;
    if (armedFor_ == first)
        return;
    const std::int64_t wait = std::max<std::int64_t>(0, first - owner_.clock_.monotonicMs());
    dueTimer_->start(static_cast<int>(std::min<std::int64_t>(wait, 24 * 3600 * 1000)));
    armedFor_ = first;
}

void PanelServer::Worker::runDue() {
    armedFor_.reset();
    const std::int64_t now = owner_.clock_.monotonicMs();
    // Taken out first: the handlers below put the connections back with their next deadline.
    std::vector<Connection*> due;
    while (!schedule_.empty() && schedule_.begin()->first <= now) {
        Connection* c = schedule_.begin()->second;
        schedule_.erase(schedule_.begin());
        c->scheduledMs.reset();
        due.push_back(c);
    }
    for (Connection* c : due) {
        guarded([&] {
            if (!c->closing) {
                apply(c, c->session.tick(now));
            } else {
                // The grace time of a close is over.
                c->socket->abort();
                c->deleteLater();
            }
        });
    }
    armTimer();
}

void PanelServer::Worker::publish(const QByteArray& record) {
    guarded([&] {
        const std::int64_t now = owner_.clock_.monotonicMs();
        // A copy: a panel that fails on the write gives up its slot meanwhile.
        const std::vector<Connection*> panels = slots_;
        for (Connection* c : panels) {
            if (c != nullptr && !c->closing)
                apply(c, c->session.publish(record, now));
        }
    });
}

void PanelServer::Worker::forget(Connection* c) {
    releaseSlot(c);
    countStream(c, false);
    if (c->scheduledMs) {
        schedule_.erase({*c->scheduledMs, c});
        c->scheduledMs.reset();
    }
    all_.erase(c);
    owner_.connections_ = static_cast<int>(all_.size());
}

void PanelServer::Worker::shutdown() {
    stopping_ = true;
    retryTimer_->stop();
    delete server_;
    server_ = nullptr;
    // Connections remove themselves from all_ as they go.
    while (!all_.empty()) {
        Connection* c = *all_.begin();
        c->closing = true;
        c->socket->abort();
        delete c;
    }
    dueTimer_->stop();
    armedFor_.reset();
    owner_.port_ = 0;
}

// ---- PanelServer ----

PanelServer::PanelServer(EventLog& log, const Clock& clock, const std::optional<LoginKey>& key,
                         RunCounters* counters, QObject* parent)
    : QObject(parent), log_(log), clock_(clock), key_(key), counters_(counters) {}

PanelServer::~PanelServer() {
    const QString error = stop();
    if (!error.isEmpty())
        log_.admem(QStringLiteral("Error stopping the panel server: ") + error);
}

bool PanelServer::start(const PanelServerOptions& options, QString* error) {
    QString failure;
    if (thread_) {
        failure = QStringLiteral("the server is already running");
        if (error)
            *error = failure;
        return false;
    }
    if (!key_)
        log_.admem(QStringLiteral(
            "Panel logins disabled: the login key could not be read from \"linkelnet.cfg\"; every "
            "panel is refused until the file is mended and the program restarted"));
    bool listening = false;
    try {
        thread_ = new QThread;
        thread_->setObjectName(QStringLiteral("panel server"));
        auto* worker = new Worker(*this, options);
        worker->moveToThread(thread_);
        thread_->start();
        QMetaObject::invokeMethod(
            worker, [&] { listening = worker->listen(failure); }, Qt::BlockingQueuedConnection);
        std::lock_guard lock(workerMutex_);
        worker_ = worker;
    } catch (...) {
        failure = exceptionText(std::current_exception());
        log_.admem(QStringLiteral("Error Initializing server socket: ") + failure);
        stop();
    }
    // A failed listen was logged by the network thread, which tries again.
    flushLog();
    if (!listening && error)
        *error = failure;
    return listening;
}
QString PanelServer::stop() {
    if (!thread_)
        return {};
    Worker* worker = nullptr;
    {
        std::lock_guard lock(workerMutex_);
        worker = worker_;
        worker_ = nullptr;
    }
    QString error;
    if (worker) {
        QThread* home = thread();
        QMetaObject::invokeMethod(
            worker,
            [worker, home] {
                worker->shutdown();
                worker->moveToThread(home);
            },
            Qt::BlockingQueuedConnection);
    }
    thread_->quit();
    if (thread_->wait(QDeadlineTimer(10000))) {
        delete worker;  // its queued records go with it
        delete thread_;
    } else {
        error = QStringLiteral("the network thread did not end");
    }
    thread_ = nullptr;
    port_ = 0;
    panels_ = 0;
    connections_ = 0;
    listenFailures_ = 0;
    flushLog();
    return error;
}

void PanelServer::publish(const QByteArray& record) {
    std::lock_guard lock(workerMutex_);
    if (!worker_)
        return;
    Worker* worker = worker_;
    QMetaObject::invokeMethod(
        worker, [worker, record] { worker->publish(record); }, Qt::QueuedConnection);
}

void PanelServer::logLater(const QString& line) {
    bool first = false;
    {
        std::lock_guard lock(logMutex_);
        first = pendingLog_.isEmpty();
        pendingLog_.append(line);
    }
    if (first)
        QMetaObject::invokeMethod(
            this, [this] { flushLog(); }, Qt::QueuedConnection);
}

void PanelServer::flushLog() {
    QStringList lines;
    {
        std::lock_guard lock(logMutex_);
        lines.swap(pendingLog_);
    }
    for (const QString& line : lines) {
        try {
            log_.admem(line);
        } catch (...) {
            // The log itself failed: there is nowhere left to report it.
        }
    }
}

}  // namespace velmar

#include "panel_server.moc"
