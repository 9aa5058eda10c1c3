#include "bus/linkel_link.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <gtest/gtest.h>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QTcpServer>
#include <QTcpSocket>

#include "log/runtime.h"
#include "support/bus_helpers.h"
#include "support/fake_clock.h"
#include "support/temp_root.h"

namespace velmar {
namespace {

using test::bytes;

const LoginKey kKey{0, 1, 2, 3, 4, 5, 6, 7, 8};

class LinkelLinkTest : public ::testing::Test {
  protected:
    LinkelLinkTest() {
        tmp.mkdir("logs");
        log.setSink([this](const QString& l) { logged << l; });
        link.reply = [this](const QByteArray& b) { sent += b; };
        link.ReadFromEthernet = [this](const QByteArray& b) { blocks.push_back(b); };
        messages.subscribe<msg::QueryRecord>(
            [this](const msg::QueryRecord& r) { records.push_back(r.bytes); });
        messages.subscribe<msg::LinkelRecord>(
            [this](const msg::LinkelRecord& r) { records.push_back(r.bytes); });
    }
    // Logs in: challenge, response, acceptance, mode byte.
    void login(int mode) {
        link.beginLogin(mode);
        link.received(QByteArray(6, '\0'));
        link.received(">");
        sent.clear();
    }
    void ticks(int n) {
        for (int i = 0; i < n; ++i)
            link.TimertcpTimer();
    }
    bool loggedLine(const QString& text) const {
        return std::any_of(logged.begin(), logged.end(),
                           [&](const QString& l) { return l.contains(text); });
    }

    test::TempRoot tmp;
    test::FakeClock clock;
    Runtime rt{tmp.root(), clock};
    DataRoot& root = rt.root;
    EventLog& log = rt.log;
    QTimer autoQueryTimer;
    BusPort port{rt, autoQueryTimer};
    BusFlags& flags = port.flags;
    QueryTimer& AutoQuery = port.AutoQuery;
    bool& tcpqueryen = rt.flags.tcpqueryen;
    MessageDispatcher messages{rt};
    QStringList logged;
    QByteArray sent;
    std::vector<QByteArray> blocks, records;
    LinkelLink link{rt, port, messages, LinkelNetConfig{QStringLiteral("127.0.0.1"), 9, kKey}};
};

TEST_F(LinkelLinkTest, LoginAnswersTheChallengeEvenInPieces) {
    link.beginLogin(3);
    link.received(QByteArray(4, '\0'));
    EXPECT_TRUE(sent.isEmpty());
    link.received(QByteArray(2, '\0'));
    EXPECT_EQ(sent.toHex(' '), "00 00 00 00 00 00 0b 06 04 01 07 04 0d");
    EXPECT_EQ(link.SocketStatus(), LinkelLink::AwaitAcceptance);
    sent.clear();
    link.received("x>");  // other bytes are ignored
    EXPECT_EQ(sent.toHex(' '), "03");
    EXPECT_TRUE(flags.tcpgatewayenabled);
    EXPECT_TRUE(loggedLine("Transparent Uart 1 <-> Ethernet"));

    // The key relations for other challenge bytes.
    const std::uint8_t c[6] = {1, 2, 3, 4, 5, 6};
    const auto r = CalculateChalangeResponse(c, kKey);
    EXPECT_EQ(QByteArray(reinterpret_cast<const char*>(r.data()), 13).toHex(' '),
              "01 02 03 04 05 06 0a 04 07 05 02 02 0d");
    EXPECT_TRUE(CheckChalangeResponse(c, r.data(), kKey));
    auto wrong = r;
    wrong[12] = 10;
    EXPECT_FALSE(CheckChalangeResponse(c, wrong.data(), kKey));
}

TEST_F(LinkelLinkTest, LoginThatIsNeverAcceptedEndsAfterItsTimeOut) {
    link.beginLogin(3);
    link.received(QByteArray(6, '\0'));
    ticks(LinkelLink::kLoginTicks - 1);
    EXPECT_FALSE(loggedLine("TCP Connection kill socket"));
    ticks(1);
    EXPECT_TRUE(loggedLine("TCP Connection kill socket"));
    EXPECT_EQ(link.SocketStatus(), LinkelLink::AwaitChallenge);

    // Ticks that come late do not stretch the login: its five seconds count by the clock too.
    link.beginLogin(3);
    link.received(QByteArray(6, '\0'));
    ticks(10);
    EXPECT_TRUE(link.Timertcp.isActive());
    clock.advanceMs(5000);
    ticks(1);
    EXPECT_FALSE(link.Timertcp.isActive());
    EXPECT_EQ(link.SocketStatus(), LinkelLink::AwaitChallenge);
}

TEST_F(LinkelLinkTest, TransparentBytesAreHandedOverAfterFourQuietTicks) {
    tcpqueryen = true;
    login(3);
    EXPECT_TRUE(autoQueryTimer.isActive());
    const struct {
        int gapTicks;
        std::size_t blocks;
    } cases[] = {{2, 1}, {20, 2}};  // 10 ms and 100 ms apart
    for (const auto& c : cases) {
        blocks.clear();
        link.received("ab");
        ticks(c.gapTicks);
        link.received("cd");
        ticks(10);
        ASSERT_EQ(blocks.size(), c.blocks) << c.gapTicks;
        EXPECT_EQ(blocks.back(), c.blocks == 1 ? "abcd" : "cd");
        // A quiet link costs nothing: the link timer rests until bytes arrive.
        EXPECT_FALSE(link.Timertcp.isActive());
    }
    link.received("e");
    EXPECT_TRUE(link.Timertcp.isActive());
    link.SendViaTcp(bytes({8, 55, 1, 'q', 0, 0}), 4);
    EXPECT_EQ(sent.toHex(' '), "08 37 01 71");
}

TEST_F(LinkelLinkTest, QueryRecordsAreCutByTheirLengthByte) {
    login(1);
    EXPECT_EQ(link.SocketStatus(), LinkelLink::Query);
    EXPECT_FALSE(flags.tcpgatewayenabled);
    const QByteArray a = bytes({3, 55, 1, 's'}), b = bytes({2, 55, 2});
    link.received(a + b + a.left(2));  // two records and the start of a third
    link.received(a.mid(2));
    link.received(QByteArray(2, '\0') + bytes({5, 1}));  // padding, then a record cut short
    ticks(30);
    link.received(b);
    ASSERT_EQ(records.size(), 4u);
    EXPECT_EQ(records[0], a);
    EXPECT_EQ(records[1], b);
    EXPECT_EQ(records[2], a);
    EXPECT_EQ(records[3], b);
}

// A real connection on loopback: the drop the socket reports (an error and a disconnection)
// arms one new try, which connects and logs in again.
TEST_F(LinkelLinkTest, TheLinkelClosingTheConnectionIsHealed) {
    QTcpServer linkel;
    ASSERT_TRUE(linkel.listen(QHostAddress::LocalHost));
    LinkelLink real{rt, port, messages,
                    LinkelNetConfig{QStringLiteral("127.0.0.1"), linkel.serverPort(), kKey}};
    auto until = [](const std::function<bool()>& done, int ms = 5000) {
        QDeadlineTimer deadline(ms);
        while (!done() && !deadline.hasExpired())
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        return done();
    };
    auto logIn = [&] {
        if (!until([&] { return linkel.hasPendingConnections(); }, 10000))
            return static_cast<QTcpSocket*>(nullptr);
        QTcpSocket* pc = linkel.nextPendingConnection();
        pc->write(QByteArray(6, '\0'));
        if (!until([&] { return pc->bytesAvailable() >= 13; }))
            return static_cast<QTcpSocket*>(nullptr);
        pc->write(">");
        return until([&] { return flags.tcpgatewayenabled; }) ? pc : nullptr;
    };
    real.sendsoc(3);
    QTcpSocket* pc = logIn();
    ASSERT_TRUE(pc);
    EXPECT_EQ(rt.counters.linkelReconnects.load(), 0);
    // The connection is watched for a Linkel that goes quiet without closing it.
    const auto fd = static_cast<int>(real.socket().socketDescriptor());
    auto option = [fd](int level, int name) {
        int v = -1;
        socklen_t n = sizeof v;
        return ::getsockopt(fd, level, name, &v, &n) == 0 ? v : -1;
    };
    EXPECT_EQ(option(SOL_SOCKET, SO_KEEPALIVE), 1);
    EXPECT_EQ(option(IPPROTO_TCP, TCP_KEEPIDLE), LinkelLink::kKeepIdleS);
    EXPECT_EQ(option(IPPROTO_TCP, TCP_KEEPINTVL), LinkelLink::kKeepIntervalS);
    EXPECT_EQ(option(IPPROTO_TCP, TCP_KEEPCNT), LinkelLink::kKeepProbes);
    EXPECT_EQ(option(IPPROTO_TCP, TCP_USER_TIMEOUT), LinkelLink::kUnackedTimeoutMs);
    clock.advanceMs(LinkelLink::kStableMs);  // up for a while: its drop is a new outage
    pc->close();
    ASSERT_TRUE(until([&] { return !flags.tcpgatewayenabled; }));
    ASSERT_TRUE(logIn());  // about a second later
    EXPECT_TRUE(until([&] { return loggedLine("Linkel link restored after "); }));
    EXPECT_EQ(rt.counters.linkelReconnects.load(), 1);
    EXPECT_FALSE(real.Reconnect.isActive());
    EXPECT_FALSE(linkel.hasPendingConnections());  // one try, not one per event of the drop
    for (const char* line : {"Disconnect from Linkel", "Linkel link down (", "Accepted"})
        EXPECT_EQ(logged.filter(line).size(), std::string(line) == "Accepted" ? 2 : 1) << line;
}

// The same link without a socket: `dial` counts the tries, the socket's events are called.
class LinkelRetryTest : public LinkelLinkTest {
  public:
    LinkelRetryTest() {
        link.dial = [this] { ++dials; };
    }
    void accept() {
        link.received(QByteArray(6, '\0'));
        link.received(">");
    }
    void drop() {
        link.berkeleyError(QStringLiteral("The remote host closed the connection"));
        link.berkeleyDisconnect();
    }
    void refuse() { link.berkeleyError(QStringLiteral("Connection refused")); }
    int count(const QString& text) {
        QCoreApplication::processEvents();  // the try's line is logged from the event loop
        return static_cast<int>(logged.filter(text).size());
    }
    int dials = 0;
};

TEST_F(LinkelRetryTest, EveryFailureIsTriedAgainInTheModeOfTheStart) {
    const struct {
        const char* name;
        int mode;
        bool acceptedBefore;  // the failure ends a link that was up
        std::int64_t upMs;    // for so long
        void (LinkelRetryTest::*fail)();
    } cases[] = {
        {"refused", 3, false, 0, &LinkelRetryTest::refuse},
        {"dropped", 1, true, LinkelLink::kStableMs, &LinkelRetryTest::drop},
        {"dropped", 3, true, LinkelLink::kStableMs, &LinkelRetryTest::drop},
        {"dropped at once", 3, true, LinkelLink::kStableMs - 1, &LinkelRetryTest::drop},
        {"login time-out", 1, false, 0, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.name) + " mode " + std::to_string(c.mode));
        rt.counters.linkelReconnects = 0;
        dials = 0;
        link.sendsoc(c.mode);
        EXPECT_EQ(dials, 1);
        const int doubling[] = {1000, 2000, 4000, 8000, 16000, 30000, 30000};
        for (int k = 0; k < 7; ++k) {
            if (c.acceptedBefore) {
                accept();
                clock.advanceMs(c.upMs);
            }
            sent.clear();
            if (c.fail) {
                (this->*c.fail)();
            } else {
                link.received(QByteArray(6, '\0'));
                ticks(LinkelLink::kLoginTicks);
            }
            EXPECT_FALSE(flags.tcpgatewayenabled);
            ASSERT_TRUE(link.Reconnect.isActive()) << k;
            // A link that stayed up starts every outage from 1 s again; one that is dropped
            // soon after each login backs off as if it had never come up.
            const bool stable = c.upMs >= LinkelLink::kStableMs;
            EXPECT_EQ(link.Reconnect.interval(), stable ? 1000 : doubling[k]) << k;
            EXPECT_FALSE(link.Timertcp.isActive());  // nothing ticks while the link is down
            link.reconnect();
            EXPECT_EQ(dials, k + 2);
            EXPECT_TRUE(link.Timertcp.isActive());
        }
        accept();
        EXPECT_EQ(sent.right(1), QByteArray(1, static_cast<char>(c.mode)));
        EXPECT_EQ(link.SocketStatus(), c.mode == 1 ? LinkelLink::Query : LinkelLink::Transparent);
        EXPECT_FALSE(link.Reconnect.isActive());
        // The first connection that comes up late is no reconnection.
        EXPECT_EQ(rt.counters.linkelReconnects.load(), c.acceptedBefore ? 7 : 0);
        // Each outage that was told is told to be over; the flapping link told its first.
        EXPECT_EQ(count(c.acceptedBefore ? "Linkel link restored after 0 s"
                                         : "Linkel link up after 0 s of tries"),
                  c.upMs >= LinkelLink::kStableMs ? 7 : 1);
        EXPECT_EQ(count("Accepted"), c.upMs >= LinkelLink::kStableMs ? 8 : 1);
        link.stop();
        logged.clear();
    }
}

TEST_F(LinkelRetryTest, AnOutageCostsAHandfulOfLines) {
    link.sendsoc(3);
    accept();
    drop();
    for (int k = 0; k < 24; ++k) {
        clock.advanceMs(link.Reconnect.interval());
        link.reconnect();
        refuse();
    }
    // 25 failures: the drop and 24 refused tries; the 10th and the 20th are told again.
    EXPECT_EQ(count("Connection to Linkel Error: "), 1);
    EXPECT_EQ(count("Disconnect from Linkel"), 1);
    EXPECT_EQ(count("Linkel link down (The remote host closed the connection), next try in 1 s"),
              1);
    EXPECT_EQ(count("Linkel link still down after 10 tries (Connection refused), next try in 30 s"),
              1);
    EXPECT_EQ(count("Linkel link still down after "), 2);
    const qsizetype before = logged.size();
    link.reconnect();
    accept();
    EXPECT_EQ(count("Linkel link restored after "), 1);
    EXPECT_TRUE(loggedLine("Linkel link restored after 601 s")) << logged.join('\n').toStdString();
    EXPECT_TRUE(loggedLine("Transparent Uart 1 <-> Ethernet"));
    // The login that ended the outage was told before it: only the restoration is new.
    EXPECT_EQ(logged.size() - before, 1) << logged.join('\n').toStdString();
    clock.advanceMs(LinkelLink::kStableMs);
    drop();  // after a while up, a new outage is told again
    EXPECT_EQ(count("Disconnect from Linkel"), 2);
    EXPECT_EQ(count("Linkel link down ("), 2);
}

TEST_F(LinkelRetryTest, TheQueryCycleRestsWhileTheTransparentLinkIsDown) {
    port.writer.setTcpOutput(&link);
    const struct {
        bool query;  // "/tcpquery"
        int mode;
        bool stopped;
    } cases[] = {{true, 3, true}, {false, 3, false}, {false, 1, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.mode);
        tcpqueryen = c.query;
        AutoQuery.start();
        link.sendsoc(c.mode);
        accept();
        EXPECT_TRUE(AutoQuery.isActive());
        drop();
        EXPECT_EQ(AutoQuery.isActive(), !c.stopped);
        // A frame while the link is down is dropped without a word.
        sent.clear();
        const qsizetype lines = logged.size();
        EXPECT_TRUE(port.writer.Write_rs232(bytes({3, 55, 1, 'q'})));
        EXPECT_TRUE(sent.isEmpty());
        EXPECT_EQ(logged.size(), lines);
        link.reconnect();
        accept();
        EXPECT_TRUE(AutoQuery.isActive());
        link.stop();
    }
}

TEST_F(LinkelRetryTest, AnIntendedStopIsNotHealed) {
    link.sendsoc(3);
    refuse();
    ASSERT_TRUE(link.Reconnect.isActive());
    link.stop();
    EXPECT_FALSE(link.Reconnect.isActive());
    EXPECT_FALSE(link.wanted());
    link.reconnect();  // a tick that was already on its way
    EXPECT_EQ(dials, 1);

    link.sendsoc(3);
    accept();
    link.stop();
    link.berkeleyDisconnect();  // the socket tells of the close afterwards
    EXPECT_FALSE(link.Reconnect.isActive());
    EXPECT_FALSE(flags.tcpgatewayenabled);

    // Without a valid key nothing is tried at all.
    LinkelNetConfig broken{QStringLiteral("127.0.0.1"), 9, kKey};
    broken.keyValid = false;
    link.setConfig(broken);
    link.sendsoc(3);
    EXPECT_EQ(dials, 2);
    EXPECT_FALSE(link.wanted());
    EXPECT_FALSE(link.Timertcp.isActive());
}

}  // namespace
}  // namespace velmar
