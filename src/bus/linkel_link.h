#pragma once

#include <QByteArray>
#include <QObject>
#include <QTcpSocket>
#include <QTimer>
#include <functional>

#include "bus/bus_port.h"
#include "bus/linkel_config.h"
#include "bus/messages.h"
#include "log/runtime.h"

namespace velmar {

// The TCP connection to the Linkel, the Ethernet communication controller, used instead of the
// serial port. The PC logs in with the challenge response, then selects a mode: in the
// transparent mode (3) the connection carries the bus both ways, in the query mode (1) the
// Linkel pushes status records. Runs on the main thread: socket events and the 5 ms link timer
// `Timertcp`. Transparent-mode bytes go to `ReadFromEthernet`; query-mode records go to the
// dispatcher: a controller's record (byte 0 its length) as a query record, the Linkel's own
// record as a Linkel record. A controller's record never reaches the Linkel's decoding, where it
// would clear the Linkel's flags.
class LinkelLink : public QObject, public TcpOutput {
    Q_OBJECT
  public:
    enum Status {
        AwaitChallenge = 0,
        AwaitAcceptance = 1,
        AwaitConfirmation = 3,
        Query = 4,
        Transparent = 5
    };
    // Link timer ticks a login may take.
    static constexpr int kLoginTicks = 1000;
    // Transparent-mode bytes collected before a hand-over is forced.
    static constexpr int kMaxCollected = 65556;

    LinkelLink(Runtime& rt, BusPort& port, MessageDispatcher& messages,
               const LinkelNetConfig& config, QObject* parent = nullptr);
    ~LinkelLink() override;

    void setConfig(const LinkelNetConfig& config) { config_ = config; }
    // Connects to the Linkel and logs in; `mode` 1 query, 3 transparent.
    void sendsoc(int mode);
    // The login state of sendsoc() without the connection: the bytes of the login are then
    // fed to received() (tests and fuzzing, where nothing may leave the machine).
    void beginLogin(int mode);
    void KillSocket();
    // TcpOutput: a frame to the bus through the Linkel.
    void SendViaTcp(const QByteArray& buffer, int size) override;

    int SocketStatus() const { return SocketStatus_; }
    // Bytes as they arrive from the Linkel (the socket's read handler; tests and fuzzing feed
    // it directly). `reply` gets what the PC answers.
    void received(const QByteArray& bytes);
    // One tick of the link timer.
    void TimertcpTimer();
    // Where answers go; the socket by default.
    std::function<void(const QByteArray&)> reply;
    // Transparent mode: a block of bytes from the bus (after four quiet link ticks).
    std::function<void(const QByteArray&)> ReadFromEthernet;
    // The link timer, 5 ms.
    QTimer Timertcp;

  private:
    void berkeleyRead();
    void send(const QByteArray& bytes);
    void loginStep();
    void queryBytes(const QByteArray& bytes);
    void handOver(const QByteArray& block);

    Runtime& rt_;
    BusPort& port_;
    MessageDispatcher& messages_;
    LinkelNetConfig config_;
    QTcpSocket berkeley;
    int SocketStatus_ = AwaitChallenge;
    int tcpmode = 0;
    int TimeOutClientSocket = 0;
    int ticdta = 0;
    QByteArray login_;     // challenge bytes (or the acceptance byte) read so far
    QByteArray rxbufff;    // transparent-mode bytes since the last hand-over
    QByteArray queryBuf_;  // query-mode bytes of a record not complete yet
    int queryStale_ = 0;   // link ticks the incomplete record has waited
};

}  // namespace velmar
