#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QDateTime>
#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>
#include <array>
#include <cstdint>
#include <map>
#include <optional>

#include "bus/linkel_config.h"

namespace velmar {

// Login challenge of a panel connection: milliseconds (low byte), seconds, minutes, hours, day
// of month, month of `now`.
std::array<std::uint8_t, 6> panelChallenge(const QDateTime& now);

// What the status records of one panel stream look like on the wire and when they go out. Per
// device (bytes 1 and 2 of a record): a record goes out at once unless this device had one sent
// within the last second; then it waits as the device's pending record (a newer one replaces
// it) until that second is over. A record equal to the last one sent for its device is not sent
// again within that second. Due records go out in the order they arrived.
class PanelFeed {
  public:
    static constexpr std::int64_t kMinGapMs = 1000;

    // A status record as the manager accepts it: byte 0 its length L, then L bytes. Records with
    // fewer than L + 1 bytes or without a device address (L < 2) are refused (false); extra bytes
    // after byte L are not part of the record. Appends what is to be sent now to `send`.
    bool offer(const QByteArray& record, std::int64_t nowMs, QByteArray& send);
    // Appends the pending records due at `nowMs` to `send`.
    void flush(std::int64_t nowMs, QByteArray& send);
    // When the next pending record is due.
    std::optional<std::int64_t> nextDue() const;
    int pendingCount() const { return static_cast<int>(due_.size()); }

  private:
    struct Device {
        std::int64_t sentMs = 0;
        QByteArray sent;
        QByteArray pending;
        std::uint64_t pendingSeq = 0;  // 0: nothing pending
    };
    void sendNow(Device& d, const QByteArray& record, std::int64_t nowMs, QByteArray& send);

    QHash<std::uint16_t, Device> devices_;
    // Pending records by (due time, arrival number).
    std::map<std::pair<std::int64_t, std::uint64_t>, std::uint16_t> due_;
    std::uint64_t nextSeq_ = 1;
};

// One client connection of the panel server, without its socket: fed with the bytes received
// and the times, it returns the bytes to send and what the server has to do. The socket layer
// calls tick() when deadline() has passed; bytes handed to receive() count as read in time.
// Once closed, every call returns nothing.
//
// The connection: the server sends a 6-byte challenge; the client answers with exactly 13
// bytes within 2 s (the challenge, six key-derived bytes, 13); a wrong answer is logged and the
// connection closed without a reply. Without a key (none could be read) every answer is wrong. Then
// ">" and a mode byte M: 1 starts the command loop, 10 and more submit M bytes of event records,
// anything else closes. The command loop reads single bytes (100 ms, or 2 s after a "q") until a
// byte other than 0, 1 and "q" or a time-out turns the connection into a panel stream; 0 closes.
// The mode byte has 2 s. A panel stream receives status records and ends with a byte 0 from the
// panel; other bytes from it mean nothing.
//
// Event records are 10 bytes; each whose byte 2 is not 0 is accepted. A submission ends when
// its M bytes are read or 1 s passes without a byte; a shorter remainder is dropped. Then "+",
// and one byte: 1 continues as a panel stream, anything else closes.
class PanelSession {
  public:
    static constexpr int kResponseBytes = 13;
    static constexpr int kRecordBytes = 10;
    static constexpr std::int64_t kLoginTimeoutMs = 2000;
    static constexpr std::int64_t kModeTimeoutMs = 2000;
    static constexpr std::int64_t kCommandTimeoutMs = 100;
    static constexpr std::int64_t kQuietCommandTimeoutMs = 2000;
    static constexpr std::int64_t kSubmissionTimeoutMs = 1000;

    enum class State { Idle, Login, Mode, Commands, Submission, AfterSubmission, Panel, Closed };

    // What one call asks of the socket layer, in this order: send the bytes, write the log
    // lines, hand over the submitted records, claim a panel slot, close.
    struct Actions {
        QByteArray send;
        QStringList log;
        // True when a submission was acknowledged; `records` holds its accepted records.
        bool submitted = false;
        QList<QByteArray> records;
        bool panelStarted = false;
        bool close = false;
    };

    // `key`: the login key, none when it is not known. `address` names the client in log lines;
    // until setHost() its host name is the address.
    PanelSession(const std::optional<LoginKey>& key, QString address);

    // Sends the challenge made from `now`; the login time-out starts at `nowMs` (monotonic).
    Actions start(const QDateTime& now, std::int64_t nowMs);
    Actions receive(QByteArrayView bytes, std::int64_t nowMs);
    // Handles the time-out or the pending records due at `nowMs`.
    Actions tick(std::int64_t nowMs);
    // A status record for a panel stream holding a slot; ignored in other states.
    Actions publish(const QByteArray& record, std::int64_t nowMs);
    // The socket failed (or the panel does not read): a panel stream is dropped with `reason`
    // logged; any other state closes quietly. Records of an unfinished submission are lost.
    Actions fail(const QString& reason);

    // When tick() has to run next, if at all.
    std::optional<std::int64_t> deadline() const;

    void setHost(const QString& host) { host_ = host; }
    State state() const { return state_; }
    bool isClosed() const { return state_ == State::Closed; }
    const QString& address() const { return address_; }
    // "address (host)" as the log lines name the client.
    QString peerText() const;
    const std::array<std::uint8_t, 6>& challenge() const { return challenge_; }
    const PanelFeed& feed() const { return feed_; }

  private:
    void consume(std::uint8_t byte, std::int64_t nowMs, Actions& out);
    void startPanel(Actions& out);
    void finishSubmission(std::int64_t nowMs, Actions& out);
    void close(Actions& out);

    std::optional<LoginKey> key_;
    QString address_;
    QString host_;
    State state_ = State::Idle;
    std::array<std::uint8_t, 6> challenge_{};
    // Collects the login response, then each event record.
    std::array<std::uint8_t, kResponseBytes> buffer_{};
    int filled_ = 0;
    std::int64_t deadline_ = 0;
    std::int64_t commandTimeoutMs_ = kCommandTimeoutMs;
    int submissionLeft_ = 0;
    QList<QByteArray> records_;
    PanelFeed feed_;
};

}  // namespace velmar
