#include "panels/panel_server.h"

#include <QHostInfo>
#include <QMetaObject>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>
#include <QTimer>
#include <exception>
#include <unordered_set>
#include <vector>

#include "base/chkint.h"
#include "base/data_root.h"
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
    const auto lines = readLines(root.path(kTcpFile));
    if (!lines) {
        log.admem(QStringLiteral("Error reading file: ") + kTcpFile);
        return o;
    }
    o.port = static_cast<std::uint16_t>(chkint(lines->value(0).trimmed(), 2, 10000, 9876));
    const QString address = lines->value(1).trimmed();
    if (!address.isEmpty()) {
        QHostAddress a;
        if (a.setAddress(address))
            o.listenAddress = a;
        else
            log.admem(QStringLiteral("Error reading file: ") + kTcpFile +
                      QStringLiteral(" -> line 2: listening on all addresses"));
    }
    o.maxConnections = chkint(lines->value(2).trimmed(), 1, 10000, 200);
    return o;
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

// One client: its socket, its protocol state and its timer. Lives on the network thread.
class PanelServer::Connection : public QObject {
  public:
    Connection(Worker& worker, QTcpSocket* socket, const LoginKey& key);
    ~Connection() override;

    Worker& worker;
    QTcpSocket* socket;
    QTimer timer;
    PanelSession session;
    int slot = -1;
    bool closing = false;
};

class PanelServer::Worker : public QObject {
  public:
    Worker(PanelServer& owner, const PanelServerOptions& options)
        : owner_(owner),
          options_(options),
          slots_(static_cast<std::size_t>(std::max(0, options.maxPanels)), nullptr) {}

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

    void accept();
    void readFrom(Connection* c);
    void timedOut(Connection* c);
    void socketFailed(Connection* c);
    void apply(Connection* c, PanelSession::Actions&& a);
    void claimSlot(Connection* c);
    void releaseSlot(Connection* c);
    // Ends a connection. `flush`: bytes still waiting are written first (within the grace
    // time), otherwise the socket is aborted.
    void finish(Connection* c, bool flush);
    void rearm(Connection* c);

    PanelServer& owner_;
    PanelServerOptions options_;
    QTcpServer* server_ = nullptr;
    std::unordered_set<Connection*> all_;
    std::vector<Connection*> slots_;
    bool stopping_ = false;
};

PanelServer::Connection::Connection(Worker& w, QTcpSocket* s, const LoginKey& key)
    : worker(w), socket(s), session(key, addressText(s->peerAddress())) {
    socket->setParent(this);
    timer.setSingleShot(true);
    timer.setTimerType(Qt::PreciseTimer);
}

PanelServer::Connection::~Connection() {
    worker.forget(this);
}

bool PanelServer::Worker::listen(QString& error) {
    server_ = new QTcpServer(this);
    if (!server_->listen(options_.listenAddress, options_.port)) {
        error = server_->errorString();
        delete server_;
        server_ = nullptr;
        return false;
    }
    owner_.port_ = server_->serverPort();
    connect(server_, &QTcpServer::newConnection, this, [this] { guarded([this] { accept(); }); });
    return true;
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
        connect(&c->timer, &QTimer::timeout, c, [this, c] { guarded([&] { timedOut(c); }); });
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

void PanelServer::Worker::timedOut(Connection* c) {
    if (!c->closing)
        apply(c, c->session.tick(owner_.clock_.monotonicMs()));
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
    if (!a.send.isEmpty() && c->socket->write(a.send) < 0) {
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
    if (a.panelStarted)
        claimSlot(c);
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

void PanelServer::Worker::finish(Connection* c, bool flush) {
    c->closing = true;
    c->timer.stop();
    releaseSlot(c);
    QTcpSocket* s = c->socket;
    if (!flush || s->state() != QAbstractSocket::ConnectedState || s->bytesToWrite() == 0) {
        s->abort();
        c->deleteLater();
        return;
    }
    // The last bytes ("+") still go out; a peer that does not take them within the grace time
    // is cut off.
    s->readAll();
    connect(s, &QTcpSocket::disconnected, c, &QObject::deleteLater);
    connect(&c->timer, &QTimer::timeout, c, [c] {
        c->socket->abort();
        c->deleteLater();
    });
    c->timer.start(kCloseGraceMs);
    s->disconnectFromHost();
}

void PanelServer::Worker::rearm(Connection* c) {
    const auto due = c->session.deadline();
    if (!due) {
        c->timer.stop();
        return;
    }
    const std::int64_t wait = std::max<std::int64_t>(0, *due - owner_.clock_.monotonicMs());
    c->timer.start(static_cast<int>(std::min<std::int64_t>(wait, 24 * 3600 * 1000)));
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
    all_.erase(c);
    owner_.connections_ = static_cast<int>(all_.size());
}

void PanelServer::Worker::shutdown() {
    stopping_ = true;
    delete server_;
    server_ = nullptr;
    // Connections remove themselves from all_ as they go.
    while (!all_.empty()) {
        Connection* c = *all_.begin();
        c->closing = true;
        c->socket->abort();
        delete c;
    }
    owner_.port_ = 0;
}

// ---- PanelServer ----

PanelServer::PanelServer(EventLog& log, const Clock& clock, const LoginKey& key, QObject* parent)
    : QObject(parent), log_(log), clock_(clock), key_(key) {}

PanelServer::~PanelServer() {
    const QString error = stop();
    if (!error.isEmpty())
        log_.admem(QStringLiteral("Error stopping the panel server: ") + error);
}

bool PanelServer::start(const PanelServerOptions& options, QString* error) {
    QString failure;
    if (thread_) {
        failure = QStringLiteral("the server is already running");
    } else {
        try {
            thread_ = new QThread;
            thread_->setObjectName(QStringLiteral("panel server"));
            auto* worker = new Worker(*this, options);
            worker->moveToThread(thread_);
            thread_->start();
            bool listening = false;
            QMetaObject::invokeMethod(
                worker, [&] { listening = worker->listen(failure); }, Qt::BlockingQueuedConnection);
            {
                std::lock_guard lock(workerMutex_);
                worker_ = worker;
            }
            if (listening)
                return true;
            stop();
        } catch (...) {
            failure = exceptionText(std::current_exception());
        }
    }
    if (error)
        *error = failure;
    return false;
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
