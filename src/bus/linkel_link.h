#pragma once

#include <QByteArray>
#include <QObject>
#include <QTcpSocket>
#include <QTimer>
#include <functional>
#include <optional>

#include "base/backoff.h"
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
//
// The link heals itself: after a drop, a refused or failed connect or a login that was not
// accepted in time it tries again in the mode sendsoc() was given, 1 s later, then 2, 4, 8 ...
// at most 30 s apart, for ever. An outage logs each of the socket's lines once and every tenth
// failed try; the acceptance that ends it logs "Linkel link restored". With the query timer in
// the transparent mode ("/tcpquery") the query cycle is stopped while the link is down and
// started again on acceptance. Only stop() and the confirmation "+" end the link for good.
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
    // Connects to the Linkel and logs in; `mode` 1 query, 3 transparent. From then on the link
    // is kept up (see above). Does nothing while the key is not valid.
    void sendsoc(int mode);
    // The intended end of the link (shutdown): the connection closes, no try follows.
    void stop();
    // The login state of sendsoc() without the connection: the bytes of the login are then
    // fed to received() (tests and fuzzing, where nothing may leave the machine). No try
    // follows when this login fails.
    void beginLogin(int mode);
    // Drops the connection and stops the link timer.
    void KillSocket();
    // The socket's events (the socket calls them; tests drive them without one). After a drop
    // or an error the next try is armed; the line about it is logged from the event loop, after
    // every line of the socket's own events.
    void berkeleyDisconnect();
    void berkeleyError(const QString& why);
    // A Linkel that loses power sends nothing and closes nothing: the connected socket probes
    // a quiet peer and gives up on data left unacknowledged, so that the loss shows as an
    // error within about half a minute and the link reconnects.
    // A link up this long ends its outage: the back-off and the lines start afresh.
    static constexpr std::int64_t kStableMs = 10000;
    static constexpr int kKeepIdleS = 15;
    static constexpr int kKeepIntervalS = 5;
    static constexpr int kKeepProbes = 3;
    static constexpr int kUnackedTimeoutMs = 30000;
    void watchPeer();
    // The connection to the Linkel, for a look at its state.
    const QTcpSocket& socket() const { return berkeley; }
    // The reconnection timer's tick: one more try in the mode of sendsoc().
    void reconnect();
    // True between sendsoc() and stop() (or the confirmation "+").
    bool wanted() const { return wanted_; }
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
    // Opens the connection to the Linkel (the socket by default; tests count the tries).
    std::function<void()> dial;
    // The link timer, 5 ms; it runs while a login, a hand-over or a query record is pending.
    QTimer Timertcp;
    // Single shot: the next try after a failure (Backoff's delays).
    QTimer Reconnect;

  private:
    // The lines of the socket's events and the login, logged at most once between two
    // acceptances, so that an outage with a try every 30 s costs a handful of lines.
    enum Line {
        LookupLine,
        ConnectingLine,
        ConnectedLine,
        DisconnectLine,
        ErrorLine,
        KillLine,
        ChallengeLine,
        ResponseLine,
        AcceptedLine,
        ModeLine
    };
    void note(Line line, const QString& text);
    // The try in progress failed: the link is down, the next try is armed (once per try).
    void linkDown(const QString& cause);
    void accepted();
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
    std::int64_t loginDeadlineMs_ = 0;  // the login's end by the clock (the ticks may be late)
    int ticdta = 0;
    QByteArray login_;     // challenge bytes (or the acceptance byte) read so far
    QByteArray rxbufff;    // transparent-mode bytes since the last hand-over
    QByteArray queryBuf_;  // query-mode bytes of a record not complete yet
    int queryStale_ = 0;   // link ticks the incomplete record has waited

    bool wanted_ = false;        // sendsoc() was called and the link was not ended on purpose
    int wantedMode_ = 0;         // the mode of sendsoc(), kept for every reconnection
    bool tryOpen_ = false;       // a connect and login in progress that has not failed yet
    bool everAccepted_ = false;  // a login was accepted since sendsoc()
    bool down_ = false;          // an outage: a try failed since the last acceptance
    std::int64_t downSinceMs_ = 0;
    unsigned noted_ = 0;     // the Line bits logged in this outage and the login that ended it
    bool saidDown_ = false;  // this outage's line was logged, so its end is logged too
    std::optional<std::int64_t> acceptedAtMs_;  // the acceptance of a link still up
    void settle();
    Backoff backoff_;
};

}  // namespace velmar
