#include "bus/linkel_link.h"

#include <QHostAddress>

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
    connect(&berkeley, &QTcpSocket::hostFound, this,
            [this] { rt_.log.admem(QStringLiteral("TCP Server Lookup")); });
    connect(&berkeley, &QTcpSocket::stateChanged, this, [this](QAbstractSocket::SocketState s) {
        if (s == QAbstractSocket::ConnectingState)
            rt_.log.admem(QStringLiteral("Connecting to Linkel"));
    });
    connect(&berkeley, &QTcpSocket::connected, this,
            [this] { rt_.log.admem(QStringLiteral("Connected to Linkel")); });
    connect(&berkeley, &QTcpSocket::disconnected, this, [this] {
        port_.flags.tcpgatewayenabled = false;
        rt_.log.admem(QStringLiteral("Disconnect from Linkel"));
        SocketStatus_ = AwaitChallenge;
    });
    connect(&berkeley, &QTcpSocket::errorOccurred, this, [this] {
        rt_.log.admem(QLatin1String("Connection to Linkel Error: ") + berkeley.errorString());
    });
    connect(&berkeley, &QTcpSocket::readyRead, this, &LinkelLink::berkeleyRead);
    Timertcp.setInterval(5);
    connect(&Timertcp, &QTimer::timeout, this, &LinkelLink::TimertcpTimer);
}

LinkelLink::~LinkelLink() {
    Timertcp.stop();
    berkeley.abort();
}

void LinkelLink::beginLogin(int mode) {
    tcpmode = mode;
    TimeOutClientSocket = kLoginTicks;
    SocketStatus_ = AwaitChallenge;
    login_.clear();
    rxbufff.clear();
    queryBuf_.clear();
    ticdta = 0;
    queryStale_ = 0;
    berkeley.abort();
    Timertcp.setInterval(5);
    Timertcp.start();
}

void LinkelLink::sendsoc(int mode) {
    beginLogin(mode);
    berkeley.connectToHost(QHostAddress(config_.address), config_.port);
}

void LinkelLink::KillSocket() {
    rt_.log.admem(QStringLiteral("TCP Connection kill socket"));
    SocketStatus_ = AwaitChallenge;
    login_.clear();
    Timertcp.stop();
    port_.flags.tcpgatewayenabled = false;
    berkeley.abort();
}

void LinkelLink::SendViaTcp(const QByteArray& buffer, int size) {
    send(buffer.left(size));
}

void LinkelLink::send(const QByteArray& bytes) {
    if (reply)
        reply(bytes);
}

void LinkelLink::berkeleyRead() {
    received(berkeley.readAll());
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
            rt_.log.admem(QStringLiteral("Receive Challange Code"));
            const auto response = CalculateChalangeResponse(
                reinterpret_cast<const std::uint8_t*>(login_.constData()), config_.H);
            login_.remove(0, 6);
            send(QByteArray(reinterpret_cast<const char*>(response.data()),
                            static_cast<qsizetype>(response.size())));
            rt_.log.admem(QStringLiteral("Sending Response Code"));
            SocketStatus_ = AwaitAcceptance;
            continue;
        }
        const char byte = login_.front();
        login_.remove(0, 1);
        if (SocketStatus_ == AwaitConfirmation) {
            if (byte == '+') {
                rt_.log.admem(QStringLiteral("Data Confirmed"));
                send(QByteArray(1, '\0'));
                KillSocket();
            }
            continue;
        }
        if (byte != '>')
            continue;
        rt_.log.admem(QStringLiteral("Accepted"));
        TimeOutClientSocket = 0;
        if (tcpmode == 1) {
            rt_.log.admem(QStringLiteral("Receive Query Mode"));
            SocketStatus_ = Query;
        } else {
            port_.flags.tcpgatewayenabled = true;
            rxbufff.clear();
            SocketStatus_ = Transparent;
            if (rt_.flags.tcpqueryen) {
                port_.AutoQuery.start();
                rt_.log.admem(QStringLiteral("Transparent Uart 1 <-> Ethernet with query enabled"));
            } else {
                rt_.log.admem(QStringLiteral("Transparent Uart 1 <-> Ethernet"));
            }
        }
        send(QByteArray(1, static_cast<char>(tcpmode)));
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
    if (TimeOutClientSocket > 0 && --TimeOutClientSocket == 0 && SocketStatus_ < Query) {
        KillSocket();
        return;
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
}

}  // namespace velmar
