#include "bus/linkel_link.h"

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
    }
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

TEST_F(LinkelLinkTest, TheLinkelClosingTheConnectionEndsTheGateway) {
    QTcpServer linkel;
    ASSERT_TRUE(linkel.listen(QHostAddress::LocalHost));
    LinkelLink real{rt, port, messages,
                    LinkelNetConfig{QStringLiteral("127.0.0.1"), linkel.serverPort(), kKey}};
    real.sendsoc(3);
    auto until = [](const std::function<bool()>& done) {
        QDeadlineTimer deadline(5000);
        while (!done() && !deadline.hasExpired())
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        return done();
    };
    ASSERT_TRUE(until([&] { return linkel.hasPendingConnections(); }));
    QTcpSocket* pc = linkel.nextPendingConnection();
    pc->write(QByteArray(6, '\0'));
    ASSERT_TRUE(until([&] { return pc->bytesAvailable() >= 13; }));
    pc->write(">");
    ASSERT_TRUE(until([&] { return flags.tcpgatewayenabled; }));
    pc->close();
    EXPECT_TRUE(until([&] { return !flags.tcpgatewayenabled; }));
    EXPECT_TRUE(loggedLine("Disconnect from Linkel"));
}

TEST_F(LinkelLinkTest, NetConfigIsCreatedPrivateAndReadBack) {
    const LinkelNetConfig made = readOrCreateLinkelNet(root, log);
    const auto mode = QFile::permissions(tmp.path("linkelnet.cfg"));
    EXPECT_TRUE(mode & QFileDevice::ReadOwner);
    EXPECT_FALSE(mode & (QFileDevice::ReadGroup | QFileDevice::ReadOther));  // the key
    // parser test strings: begin
    const LinkelNetConfig read = readOrCreateLinkelNet(root, log);
    EXPECT_EQ(read.H, made.H);
    EXPECT_EQ(read.address, "192.168.0.254");
    EXPECT_EQ(read.port, 9876);

    tmp.write("linkelnet.cfg", "10.0.0.300\r\n70000\r\n1\r\n2\r\n3\r\nx\r\n5\r\n6\r\n7\r\n8\r\n");
    const LinkelNetConfig bad = readOrCreateLinkelNet(root, log);
    EXPECT_EQ(bad.address, "192.168.0.254");
    EXPECT_EQ(bad.port, 9876);
    EXPECT_EQ(bad.H, (LoginKey{0, 1, 2, 3, 0, 5, 6, 7, 8}));
    // parser test strings: end
    for (const char* line : {"line 1", "line 2", "line 6"})
        EXPECT_TRUE(loggedLine(QLatin1String("linkelnet.cfg -> ") + line)) << line;
}

}  // namespace
}  // namespace velmar
