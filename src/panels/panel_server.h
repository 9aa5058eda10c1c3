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

#include "base/clock.h"
#include "bus/linkel_config.h"

class QThread;

namespace velmar {

class DataRoot;
class EventLog;

struct PanelServerOptions {
    QHostAddress listenAddress = QHostAddress::Any;  // all addresses by default
    std::uint16_t port = 9876;
    int maxConnections = 200;
    int maxPanels = 40;
};

// "tcp.txt" in the data root: line 1 the port (decimal 2..10000, else 9876); optional line 2 the
// listen address (empty or unparsable: all addresses, logged when unparsable); optional line 3
// the connection cap (1..10000, else 200).
PanelServerOptions readTcpTxt(const DataRoot& root, EventLog& log);

// The TCP server of the visualisation panels and of the programs that submit events (see
// PanelSession for one connection). Its sockets live on one network thread with an event loop;
// status records come in from the main thread through publish(), submitted events and log lines
// go back to the main thread. A connection beyond the cap is closed as soon as it is accepted;
// a panel beyond the last slot keeps its connection but receives nothing; a panel that stops
// reading (more than kMaxUnsentBytes waiting) or whose socket fails is dropped.
class PanelServer : public QObject {
    Q_OBJECT
  public:
    static constexpr qint64 kMaxUnsentBytes = 256 * 1024;
    // How long a closed connection may take to hand over its last bytes.
    static constexpr int kCloseGraceMs = 2000;

    PanelServer(EventLog& log, const Clock& clock, const LoginKey& key, QObject* parent = nullptr);
    ~PanelServer() override;  // stops

    // Starts the network thread and listens. On failure returns false with the error text (the
    // caller logs "Error Initializing server socket: " + error).
    bool start(const PanelServerOptions& options, QString* error = nullptr);
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
    const LoginKey key_;

    std::mutex workerMutex_;  // guards worker_ for publish()
    QThread* thread_ = nullptr;
    Worker* worker_ = nullptr;

    std::mutex logMutex_;
    QStringList pendingLog_;

    std::atomic<std::uint16_t> port_{0};
    std::atomic<int> panels_{0};
    std::atomic<int> connections_{0};
};

}  // namespace velmar
