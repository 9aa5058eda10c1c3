#include "bus/linkel_link.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <QHostAddress>
#include <cerrno>
#include <cstring>
#include <utility>

namespace velmar {

namespace {

// An incomplete query record is given up after this many quiet link ticks.
constexpr int kQueryStaleTicks = 20;
// Quiet link ticks after which transparent-mode bytes are handed over as one block.
constexpr int kQuietTicks = 5;

}  // namespace

LinkelLink::LinkelLink(Runtime& rt, BusPort& port, MessageDispatcher& messages,
                       const LinkelNetConfig& config, QObject* parent)
    : QObject(parent), rt_(rt), port_(port), messages_(messages), config_(config) {
    reply = [this](const QByteArray& bytes) {
        if (berkeley.state() == QAbstractSocket::ConnectedState)
            berkeley.write(bytes);
    };
    dial = [this] { berkeley.connectToHost(QHostAddress(config_.address), config_.port); };
    connect(&berkeley, &QTcpSocket::hostFound, this,
            [this] { note(LookupLine, QStringLiteral("TCP Server Lookup")); });
    connect(&berkeley, &QTcpSocket::stateChanged, this, [this](QAbstractSocket::SocketState s) {
        if (s == QAbstractSocket::ConnectingState)
            note(ConnectingLine, QStringLiteral("Connecting to Linkel"));
    });
    connect(&berkeley, &QTcpSocket::connected, this, [this] {
        watchPeer();
        note(ConnectedLine, QStringLiteral("Connected to Linkel"));
    });
    connect(&berkeley, &QTcpSocket::disconnected, this, &LinkelLink::berkeleyDisconnect);
    connect(&berkeley, &QTcpSocket::errorOccurred, this,
            [this] { berkeleyError(berkeley.errorString()); });
    connect(&berkeley, &QTcpSocket::readyRead, this, &LinkelLink::berkeleyRead);
    Timertcp.setInterval(5);
    connect(&Timertcp, &QTimer::timeout, this, &LinkelLink::TimertcpTimer);
    Reconnect.setSingleShot(true);
    connect(&Reconnect, &QTimer::timeout, this, &LinkelLink::reconnect);
}

LinkelLink::~LinkelLink() {
    wanted_ = false;
    Reconnect.stop();
    Timertcp.stop();
    // The program is going away: closing the socket here is not an event worth a line.
    QObject::disconnect(&berkeley, nullptr, this, nullptr);
    berkeley.abort();
}

void LinkelLink::watchPeer() {
    const auto fd = static_cast<int>(berkeley.socketDescriptor());
    if (fd < 0)
        return;
    const int on = 1;
    bool ok = ::setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on) == 0;
    for (const auto& [option, value] :
         {std::pair{TCP_KEEPIDLE, kKeepIdleS}, std::pair{TCP_KEEPINTVL, kKeepIntervalS},
          std::pair{TCP_KEEPCNT, kKeepProbes}, std::pair{TCP_USER_TIMEOUT, kUnackedTimeoutMs}})
        ok = ::setsockopt(fd, IPPROTO_TCP, option, &value, sizeof value) == 0 && ok;
    if (!ok)
        rt_.log.admem(QLatin1String("Linkel link: cannot watch the connection for a silent "
                                    "Linkel: ") +
                      QString::fromLocal8Bit(std::strerror(errno)));
}

void LinkelLink::beginLogin(int mode) {
    // A socket left open by an error is closed before the new try begins, so that its
    // disconnection is not taken for a failure.
    tryOpen_ = false;
    berkeley.abort();
    tcpmode = mode;
    TimeOutClientSocket = kLoginTicks;
    loginDeadlineMs_ = rt_.clock.monotonicMs() + kLoginTicks * Timertcp.interval();
    SocketStatus_ = AwaitChallenge;
    login_.clear();
    rxbufff.clear();
    queryBuf_.clear();
    ticdta = 0;
    queryStale_ = 0;
    tryOpen_ = true;
    Timertcp.setInterval(5);
    Timertcp.start();
}

void LinkelLink::sendsoc(int mode) {
    if (!config_.keyValid)
        return;  // no key to log in with; the caller says why
    wanted_ = true;
    wantedMode_ = mode;
    everAccepted_ = false;
    down_ = false;
    saidDown_ = false;
    acceptedAtMs_.reset();
    noted_ = 0;
    backoff_.reset();
    Reconnect.stop();
    beginLogin(mode);
    if (dial)
        dial();
}

void LinkelLink::reconnect() {
    Reconnect.stop();
    if (!wanted_ || !config_.keyValid)
        return;
    beginLogin(wantedMode_);
    if (dial)
        dial();
}

void LinkelLink::stop() {
    wanted_ = false;
    tryOpen_ = false;
    Reconnect.stop();
    Timertcp.stop();
    port_.flags.tcpgatewayenabled = false;
    berkeley.abort();
}

void LinkelLink::KillSocket() {
    note(KillLine, QStringLiteral("TCP Connection kill socket"));
    SocketStatus_ = AwaitChallenge;
    login_.clear();
    Timertcp.stop();
    port_.flags.tcpgatewayenabled = false;
    berkeley.abort();
}

void LinkelLink::berkeleyDisconnect() {
    port_.flags.tcpgatewayenabled = false;
    note(DisconnectLine, QStringLiteral("Disconnect from Linkel"));
    SocketStatus_ = AwaitChallenge;
    linkDown(QStringLiteral("the Linkel closed the connection"));
}

void LinkelLink::berkeleyError(const QString& why) {
    note(ErrorLine, QLatin1String("Connection to Linkel Error: ") + why);
    linkDown(why);
}

void LinkelLink::settle() {
    // Only a link that stayed up a while ends the outage: one that is dropped again at once
    // keeps its back-off and its lines already said.
    if (acceptedAtMs_ && rt_.clock.monotonicMs() - *acceptedAtMs_ >= kStableMs) {
        acceptedAtMs_.reset();
        backoff_.reset();
        noted_ = 0;
    }
}

void LinkelLink::note(Line line, const QString& text) {
    settle();
    const unsigned bit = 1u << line;
    if (noted_ & bit)
        return;
    noted_ |= bit;
    rt_.log.admem(text);
}

void LinkelLink::linkDown(const QString& cause) {
    // A drop is often told twice (the error, then the disconnection): the first one counts.
    if (!tryOpen_)
        return;
    tryOpen_ = false;
    Timertcp.stop();
    TimeOutClientSocket = 0;
    ticdta = 0;
    login_.clear();
    // Bytes that arrived whole before the drop are still the bus's.
    if (!rxbufff.isEmpty())
        handOver(rxbufff);
    rxbufff.clear();
    queryBuf_.clear();
    SocketStatus_ = AwaitChallenge;
    port_.flags.tcpgatewayenabled = false;
    // The query cycle would poll into nothing; the acceptance starts it again.
    if (tcpmode == 3 && rt_.flags.tcpqueryen)
        port_.AutoQuery.stop();
    if (!wanted_)
        return;
    settle();
    acceptedAtMs_.reset();
    if (!down_) {
        down_ = true;
        downSinceMs_ = rt_.clock.monotonicMs();
    }
    const bool logIt = backoff_.failed();
    const int delayMs = backoff_.nextDelayMs();
    Reconnect.start(delayMs);
    if (!logIt)
        return;
    saidDown_ = true;
    const int failures = backoff_.failures();
    const QString line =
        (failures == 1 ? QStringLiteral("Linkel link down (")
                       : QLatin1String("Linkel link still down after ") +
                             QString::number(failures) + QLatin1String(" tries (")) +
        cause + QLatin1String("), next try in ") + QString::number(delayMs / 1000) +
        QLatin1String(" s");
    // Logged from the event loop: the socket's own lines about this failure come first.
    QMetaObject::invokeMethod(
        this, [this, line] { rt_.log.admem(line); }, Qt::QueuedConnection);
}

void LinkelLink::accepted() {
    acceptedAtMs_ = rt_.clock.monotonicMs();
    if (down_) {
        down_ = false;
        const std::int64_t seconds = (rt_.clock.monotonicMs() - downSinceMs_ + 500) / 1000;
        if (everAccepted_)
            rt_.counters.linkelReconnects.fetch_add(1, std::memory_order_relaxed);
        if (saidDown_) {
            rt_.log.admem(everAccepted_
                              ? QLatin1String("Linkel link restored after ") +
                                    QString::number(seconds) + QLatin1String(" s")
                              : QLatin1String("Linkel link up after ") + QString::number(seconds) +
                                    QLatin1String(" s of tries"));
        }
        saidDown_ = false;
    }
    everAccepted_ = true;
}

void LinkelLink::SendViaTcp(const QByteArray& buffer, int size) {
    send(buffer.left(size));
}

void LinkelLink::send(const QByteArray& bytes) {
    if (reply)
        reply(bytes);
}

void LinkelLink::berkeleyRead() {
    const QByteArray bytes = berkeley.readAll();
    // What a socket that already failed still delivers belongs to no login.
    if (tryOpen_)
        received(bytes);
}

void LinkelLink::received(const QByteArray& bytes) {
    switch (SocketStatus_) {
        case AwaitChallenge:
        case AwaitAcceptance:
        case AwaitConfirmation:
            // TCP may split the challenge: it is collected until its six bytes are there.
            login_ += bytes;
            loginStep();
            return;
        case Transparent:
            if (bytes.isEmpty())
                return;
            if (!Timertcp.isActive())
                Timertcp.start();
            for (qsizetype at = 0; at < bytes.size();) {
                const qsizetype room = kMaxCollected - rxbufff.size();
                rxbufff += bytes.mid(at, room);
                at += room;
                // A bus that never pauses still gets its bytes handed over in bounded blocks.
                if (rxbufff.size() >= kMaxCollected) {
                    handOver(rxbufff);
                    rxbufff.clear();
                }
            }
            ticdta = kQuietTicks;
            return;
        case Query:
            if (bytes.isEmpty())
                return;
            if (!Timertcp.isActive())
                Timertcp.start();
            queryBytes(bytes);
            return;
        default:
            return;
    }
}

void LinkelLink::loginStep() {
    while (!login_.isEmpty()) {
        if (SocketStatus_ == AwaitChallenge) {
            if (login_.size() < 6)
                return;
            note(ChallengeLine, QStringLiteral("Receive Challange Code"));
            const auto response = CalculateChalangeResponse(
                reinterpret_cast<const std::uint8_t*>(login_.constData()), config_.H);
            login_.remove(0, 6);
            send(QByteArray(reinterpret_cast<const char*>(response.data()),
                            static_cast<qsizetype>(response.size())));
            note(ResponseLine, QStringLiteral("Sending Response Code"));
            SocketStatus_ = AwaitAcceptance;
            continue;
        }
        const char byte = login_.front();
        login_.remove(0, 1);
        if (SocketStatus_ == AwaitConfirmation) {
            if (byte == '+') {
                rt_.log.admem(QStringLiteral("Data Confirmed"));
                send(QByteArray(1, '\0'));
                // The confirmation ends the link on purpose: no try follows.
                wanted_ = false;
                KillSocket();
            }
            continue;
        }
        if (byte != '>')
            continue;
        note(AcceptedLine, QStringLiteral("Accepted"));
        TimeOutClientSocket = 0;
        if (tcpmode == 1) {
            note(ModeLine, QStringLiteral("Receive Query Mode"));
            SocketStatus_ = Query;
        } else {
            port_.flags.tcpgatewayenabled = true;
            rxbufff.clear();
            SocketStatus_ = Transparent;
            if (rt_.flags.tcpqueryen) {
                port_.AutoQuery.start();
                note(ModeLine,
                     QStringLiteral("Transparent Uart 1 <-> Ethernet with query enabled"));
            } else {
                note(ModeLine, QStringLiteral("Transparent Uart 1 <-> Ethernet"));
            }
        }
        send(QByteArray(1, static_cast<char>(tcpmode)));
        accepted();
        // What followed the acceptance already belongs to the mode.
        const QByteArray rest = login_;
        login_.clear();
        if (!rest.isEmpty())
            received(rest);
        return;
    }
}

// Query-mode records: byte 0 is the number of bytes that follow. TCP may split or merge
// records; a record that stays incomplete is given up and the stream resynchronises on the
// next read.
void LinkelLink::queryBytes(const QByteArray& bytes) {
    queryBuf_ += bytes;
    queryStale_ = 0;
    while (!queryBuf_.isEmpty()) {
        const int length = static_cast<std::uint8_t>(queryBuf_.front());
        if (length == 0) {
            queryBuf_.remove(0, 1);
            continue;
        }
        if (queryBuf_.size() < length + 1)
            return;
        const QByteArray record = queryBuf_.left(length + 1);
        queryBuf_.remove(0, length + 1);
        if (record.size() >= kLinkelRecordSize) {
            messages_.dispatch(msg::LinkelRecord{record});
        } else {
            // The messages of a query record start after its length byte.
            rt_.flags.TCP_INDEX_INC = 1;
            messages_.dispatch(msg::QueryRecord{record});
        }
    }
}

void LinkelLink::handOver(const QByteArray& block) {
    if (ReadFromEthernet)
        ReadFromEthernet(block);
}

void LinkelLink::TimertcpTimer() {
    if (TimeOutClientSocket > 0) {
        // A busy machine delivers the ticks late: the login's time runs out all the same.
        if (--TimeOutClientSocket > 0 && rt_.clock.monotonicMs() >= loginDeadlineMs_)
            TimeOutClientSocket = 0;
        if (TimeOutClientSocket == 0 && SocketStatus_ < Query) {
            // The cause is told first: the kill's own disconnection is then not this try's
            // failure.
            linkDown(berkeley.state() == QAbstractSocket::ConnectedState
                         ? QStringLiteral("the login was not accepted in time")
                         : QStringLiteral("no connection in time"));
            KillSocket();
            return;
        }
    }
    if (!queryBuf_.isEmpty() && ++queryStale_ >= kQueryStaleTicks)
        queryBuf_.clear();
    if (ticdta > 0)
        --ticdta;
    if (ticdta == 1 && !rxbufff.isEmpty()) {
        const QByteArray block = rxbufff;
        rxbufff.clear();
        handOver(block);
    }
    // Nothing left to count down: the timer rests until the next bytes arrive.
    if (TimeOutClientSocket == 0 && ticdta == 0 && rxbufff.isEmpty() && queryBuf_.isEmpty())
        Timertcp.stop();
}

}  // namespace velmar
