#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <optional>

#include "base/clock.h"
#include "bus/linkel_config.h"

class QThread;

namespace velmar {

class DataRoot;
class EventLog;
struct RunCounters;

struct PanelServerOptions {
    QHostAddress listenAddress = QHostAddress::Any;  // every address by default
    std::uint16_t port = 9876;
    int maxConnections = 200;
    int maxPanels = 40;
};

// "tcp.txt" in the data root: line 1 the port (decimal 2..10000, else 9876, logged); optional
// line 2 the listen address (empty or missing: every address; anything else that is not an IP
// address: 127.0.0.1 only, logged); optional line 3 the connection cap (1..10000, else 200). A
// file that cannot be read gives port 9876 on 127.0.0.1 only, logged.
PanelServerOptions readTcpTxt(const DataRoot& root, EventLog& log);

// "127.0.0.1:9876", "[::1]:9876", or "every address, port 9876".
QString listenText(const QHostAddress& address, std::uint16_t port);

// The TCP server of the visualisation panels and of the programs that submit events (see
// PanelSession for one connection). Its sockets live on one network thread with an event loop;
// status records come in from the main thread through publish(), submitted events and log lines
// go back to the main thread. A connection beyond the cap is closed as soon as it is accepted;
// a panel beyond the last slot keeps its connection but receives nothing; a panel that stops
// reading (more than kMaxUnsentBytes waiting) or whose socket fails is dropped.
//
// All time-outs of the sessions and the records a panel stream holds back (one record per device
// and second) wait in one schedule with one timer on the network thread; a session with nothing
// due costs nothing.
class PanelServer : public QObject {
    Q_OBJECT
  public:
    static constexpr qint64 kMaxUnsentBytes = 256 * 1024;
    // How long a closed connection may take to hand over its last bytes.
    static constexpr int kCloseGraceMs = 2000;

    // `key`: the login key of the panels, none when it is not known (every login is refused).
    // `counters`: where the panel streams are counted (`panelsConnected`), if anywhere.
    PanelServer(EventLog& log, const Clock& clock, const std::optional<LoginKey>& key,
                RunCounters* counters = nullptr, QObject* parent = nullptr);
    ~PanelServer() override;  // stops

    // Starts the network thread and listens. True when listening at once. When the address
    // cannot be taken (the port in use, the address not up yet) "Error Initializing server
    // socket: " + the cause is logged and false returned with the cause in `error`; the server
    // keeps trying after 1, 2, 4 ... at most 30 s, for ever, until stop(). Failed tries are
    // logged every tenth time, the success after them once. Without a key a line says that panel
    // logins are disabled. Logs every failure itself; false without retries only when the
    // server is running already or its thread could not be made.
    bool start(const PanelServerOptions& options, QString* error = nullptr);
    bool isListening() const { return port_.load() != 0; }
    // Tries to listen that failed since the last success (the first one included).
    int listenFailures() const { return listenFailures_.load(); }
    // Shutdown (`Terminat`): no new sessions, every session closed, the thread joined. Returns an
    // error text, empty when none. The log lines of the network thread are written before it
    // returns.
    QString stop();

    std::uint16_t port() const { return port_.load(); }          // the bound port
    int panelCount() const { return panels_.load(); }            // panels holding a slot
    int connectionCount() const { return connections_.load(); }  // open connections
    // A status record (byte 0 its length L, bytes 1 and 2 the device) for every panel stream.
    // Thread-safe; queued to the network thread.
    void publish(const QByteArray& record);

  signals:
    // Accepted event records (10 bytes each, byte 2 non-zero) of one submission; emitted from the
    // network thread, so a receiver in the main thread gets it queued. `peer` is the client's
    // address.
    void eventsSubmitted(const QList<QByteArray>& records, const QString& peer);

  private:
    class Worker;
    class Connection;

    // Called on the network thread: the line is written by the main thread.
    void logLater(const QString& line);
    void flushLog();

    EventLog& log_;
    const Clock& clock_;
    const std::optional<LoginKey> key_;
    RunCounters* counters_;

    std::mutex workerMutex_;  // guards worker_ for publish()
    QThread* thread_ = nullptr;
    Worker* worker_ = nullptr;

    std::mutex logMutex_;
    QStringList pendingLog_;

    std::atomic<std::uint16_t> port_{0};
    std::atomic<int> panels_{0};
    std::atomic<int> connections_{0};
    std::atomic<int> listenFailures_{0};
};

}  // namespace velmar
