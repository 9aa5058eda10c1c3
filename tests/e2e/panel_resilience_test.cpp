// The panel server of a running velmar when its port is taken at start and when "tcp.txt" names
// no address it can use.

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QTcpServer>
#include <QTcpSocket>
#include <memory>

#include "bus/linkel_config.h"
#include "e2e_fixture.h"

namespace velmar::test {
namespace {

const LoginKey kKey{0, 17, 4, 250, 9, 33, 128, 7, 66};

class PanelResilienceE2e : public E2eTest {
  protected:
    void SetUp() override {
        E2eTest::SetUp();
        writeLinkelNet(9876, kKey);
        port = freePanelPort(true);  // both loopback addresses are used here
        ASSERT_NE(port, 0);
    }
    // Connects to `to` until it answers or the deadline passes.
    std::unique_ptr<QTcpSocket> connectWithin(const QHostAddress& to, int timeoutMs) {
        QDeadlineTimer deadline(timeoutMs);
        while (!deadline.hasExpired()) {
            auto s = std::make_unique<QTcpSocket>();
            s->connectToHost(to, port);
            if (s->waitForConnected(500))
                return s;
            pump(200);
        }
        return nullptr;
    }
    // Logs in and asks for the panel stream.
    void loginAsPanel(QTcpSocket& s) {
        const QByteArray challenge = readN(s, 6);
        ASSERT_EQ(challenge.size(), 6);
        const auto r = CalculateChalangeResponse(
            reinterpret_cast<const std::uint8_t*>(challenge.data()), kKey);
        s.write(reinterpret_cast<const char*>(r.data()), 13);
        s.waitForBytesWritten(1000);
        ASSERT_EQ(readN(s, 1), ">");
        s.write(QByteArray("\x01x", 2));
        s.waitForBytesWritten(1000);
        EXPECT_TRUE(waitForLog("Connecting Visualisation Panel: 127.0.0.1 ("))
            << output().toStdString();
    }
    std::uint16_t port = 0;
};

TEST_F(PanelResilienceE2e, PortHeldAtStartIsTakenOnceFreed) {
    tmp.write("tcp.txt", QByteArray::number(port) + "\r\n127.0.0.1\r\n");
    auto holder = std::make_unique<QTcpServer>();
    ASSERT_TRUE(holder->listen(QHostAddress::LocalHost, port));
    QElapsedTimer started;
    started.start();
    startVelmar({"/nd"});
    const QString where = QStringLiteral("127.0.0.1:") + QString::number(port);
    ASSERT_TRUE(waitForLog("Error Initializing server socket: ", 15000)) << output().toStdString();
    EXPECT_TRUE(output().contains(where + ")"));
    pump(static_cast<int>(std::max<qint64>(0, 6000 - started.elapsed())));
    holder.reset();

    auto panel = connectWithin(QHostAddress::LocalHost, 35000);
    ASSERT_TRUE(panel) << output().toStdString();
    loginAsPanel(*panel);
    EXPECT_TRUE(waitForLog("Panel server listening on " + where));
    EXPECT_EQ(output().count("Error Initializing server socket: "), 1);
    EXPECT_EQ(stopVelmar(), 0);
}

TEST_F(PanelResilienceE2e, GarbageAddressListensOnLoopbackOnly) {
    tmp.write("tcp.txt", QByteArray::number(port) + "\r\ngarbage\r\n");
    startVelmar({"/nd"});
    auto panel = connectWithin(QHostAddress::LocalHost, 15000);
    ASSERT_TRUE(panel) << output().toStdString();
    loginAsPanel(*panel);
    EXPECT_TRUE(output().contains(
        "Error reading configuration file: tcp.txt -> line 2: \"garbage\" is not an IP address, "
        "listening on 127.0.0.1 only"))
        << output().toStdString();
    // Another address of this machine is not served.
    QTcpSocket other;
    other.connectToHost(QHostAddress(QStringLiteral("127.0.0.2")), port);
    EXPECT_FALSE(other.waitForConnected(3000));
    EXPECT_EQ(other.error(), QAbstractSocket::ConnectionRefusedError);
    EXPECT_EQ(stopVelmar(), 0);
}

}  // namespace
}  // namespace velmar::test

namespace velmar::test {
namespace {

// A "linkelnet.cfg" cut short after its sixth key byte: no key is known, so neither the real
// key nor the all-zero key logs in, and the file is left as it was.
TEST_F(PanelResilienceE2e, TruncatedLinkelNetRefusesEveryLogin) {
    writeLinkelNet(9876, kKey, 6);
    const QByteArray cfg = tmp.read("linkelnet.cfg");
    tmp.write("tcp.txt", QByteArray::number(port) + "\r\n127.0.0.1\r\n");
    startVelmar({"/nd"});
    ASSERT_TRUE(waitForLog("Panel logins disabled", 15000)) << output().toStdString();
    for (const LoginKey& key : {LoginKey{}, kKey}) {
        auto s = connectWithin(QHostAddress::LocalHost, 15000);
        ASSERT_TRUE(s) << output().toStdString();
        const QByteArray challenge = readN(*s, 6);
        ASSERT_EQ(challenge.size(), 6);
        const auto r =
            CalculateChalangeResponse(reinterpret_cast<const std::uint8_t*>(challenge.data()), key);
        s->write(reinterpret_cast<const char*>(r.data()), 13);
        s->waitForBytesWritten(1000);
        // No ">" ever comes: the server closes the connection.
        EXPECT_EQ(readN(*s, 1, 3000), QByteArray());
    }
    EXPECT_TRUE(waitForLog(") Rejected")) << output().toStdString();
    EXPECT_EQ(output().count(") Rejected"), 2);
    EXPECT_FALSE(output().contains("Connecting Visualisation Panel"));
    EXPECT_EQ(tmp.read("linkelnet.cfg"), cfg);
    EXPECT_EQ(stopVelmar(), 0);
}

}  // namespace
}  // namespace velmar::test
