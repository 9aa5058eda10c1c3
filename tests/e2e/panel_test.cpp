// The panel TCP server of a running velmar: logins, an event submission written a byte at a
// time, the events going out on the bus, and a status frame streamed to a panel.
#include <QDate>
#include <QDeadlineTimer>
#include <QDir>
#include <QTcpSocket>

#include "bus/linkel_config.h"
#include "e2e_fixture.h"

namespace velmar::test {
namespace {

using sim::ControllerType;

const LoginKey kKey{0, 9, 8, 7, 6, 5, 4, 3, 2};

class PanelE2e : public E2eTest {
  protected:
    void SetUp() override {
        E2eTest::SetUp();
        ASSERT_TRUE(sim.addController({55, 1}, ControllerType::Quartel));
        addDevice(55, 1, "Kitchen");
        writeLinkelNet(9876, kKey);
        port = freePanelPort();
        ASSERT_NE(port, 0);
        tmp.write("tcp.txt", QByteArray::number(port) + "\r\n127.0.0.1\r\n");
    }
    bool connectTo(QTcpSocket& s) {
        QDeadlineTimer deadline(10000);
        while (!deadline.hasExpired()) {
            s.connectToHost(QHostAddress::LocalHost, port);
            if (s.waitForConnected(500))
                return true;
            pump(100);
        }
        return false;
    }
    std::uint16_t port = 0;
};

TEST_F(PanelE2e, SubmissionRunsOnTheBusAndStatusReachesThePanel) {
    startVelmar({"/nd"});
    QTcpSocket client;
    ASSERT_TRUE(connectTo(client)) << output().toStdString();
    const QByteArray challenge = readN(client, 6);
    ASSERT_EQ(challenge.size(), 6);
    const QDate today = QDate::currentDate();
    EXPECT_EQ(static_cast<int>(challenge[4]), today.day());
    EXPECT_EQ(static_cast<int>(challenge[5]), today.month());
    const auto response =
        CalculateChalangeResponse(reinterpret_cast<const std::uint8_t*>(challenge.data()), kKey);
    client.write(reinterpret_cast<const char*>(response.data()), 13);
    client.waitForBytesWritten(1000);
    ASSERT_EQ(readN(client, 1), ">");

    // Twenty bytes of events, a byte at a time with pauses: two records.
    const QByteArray submission =
        bytes({20, 55, 1, 1, 1, 1, 0, 0, 0, 0, 0, 55, 1, 1, 1, 0, 0, 0, 0, 0, 0});
    for (char b : submission) {
        client.write(&b, 1);
        client.flush();
        pump(50);
    }
    ASSERT_EQ(readN(client, 1), "+");
    client.write(QByteArray(1, '\1'));  // then a panel stream
    client.waitForBytesWritten(1000);
    EXPECT_TRUE(waitForLog("Events accepted from:127.0.0.1"));
    // The query cycle takes its first file some 17 s after the start (the update sequence,
    // then 15 s); both events are waited for under one deadline that a loaded machine meets.
    QDeadlineTimer events(60000);
    for (const QByteArray& frame : {bytes({8, 55, 1, 'e', 'E', 'V', 1, 1, 1, 0, 0}),
                                    bytes({8, 55, 1, 'e', 'E', 'V', 1, 1, 0, 0, 0})}) {
        EXPECT_TRUE(waitForFrame(frame, static_cast<int>(events.remainingTime())))
            << frame.toHex(' ').toStdString() << " not sent\n"
            << framesText() << output().toStdString();
    }

    // A status frame of the kitchen reaches the panel as its record.
    ASSERT_TRUE(sim.setStreamInterval(300));
    const QByteArray record = readN(client, 53, 10000);
    EXPECT_EQ(record.size(), 53);
    EXPECT_EQ(record.left(3).toHex(' '), "34 37 01");

    // A response that fits its own bytes but not the challenge is refused without a reply.
    QTcpSocket intruder;
    ASSERT_TRUE(connectTo(intruder));
    ASSERT_EQ(readN(intruder, 6).size(), 6);
    const std::uint8_t other[6] = {1, 2, 3, 4, 5, 6};
    const auto forged = CalculateChalangeResponse(other, kKey);
    intruder.write(reinterpret_cast<const char*>(forged.data()), 13);
    intruder.waitForBytesWritten(1000);
    EXPECT_TRUE(waitForLog(") Rejected")) << output().toStdString();
    EXPECT_TRUE(readN(intruder, 1, 500).isEmpty());
    EXPECT_EQ(stopVelmar(), 0);
}

}  // namespace
}  // namespace velmar::test
