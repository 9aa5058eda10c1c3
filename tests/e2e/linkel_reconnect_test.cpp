// velmar heals its Linkel link: the simulated Linkel drops the PC in each mode, or is down when
// velmar starts, and records, status frames or polls flow again without anyone's help, with a
// handful of lines in the log for the outage.
#include <QDeadlineTimer>

#include "e2e_fixture.h"

namespace velmar::test {
namespace {

using sim::ControllerType;

const std::array<std::uint8_t, 9> kKey{0, 8, 7, 6, 5, 4, 3, 2, 1};
constexpr int kHealMs = 35000;

class LinkelReconnectE2e : public E2eTest {
  protected:
    void SetUp() override {
        E2eTest::SetUp();
        ASSERT_TRUE(sim.addController({55, 1}, ControllerType::Quartel));
        addDevice(55, 1, "Kitchen");
        QString error;
        ASSERT_TRUE(sim.startLinkel(0, kKey, &error)) << error.toStdString();
        writeLinkelNet(sim.linkelPort(), kKey);
    }
    int lines(const QString& text) { return static_cast<int>(output().count(text)); }
    // True once the file exists and differs from `before`.
    bool waitForChange(const QString& relative, const QByteArray& before, int timeoutMs) {
        QDeadlineTimer deadline(timeoutMs);
        while (!tmp.exists(relative) || tmp.read(relative) == before) {
            if (deadline.hasExpired())
                return false;
            pump(50);
        }
        return true;
    }
    // The drop of an established link: one line for each of its events, one for the
    // restoration.
    void dropAndHeal() {
        sim.dropLinkelClient();
        ASSERT_TRUE(waitForLog("Linkel link restored after ", kHealMs)) << output().toStdString();
        EXPECT_EQ(lines("Disconnect from Linkel"), 1);
        EXPECT_EQ(lines("Linkel link down ("), 1);
        EXPECT_EQ(lines("Linkel link restored after "), 1);
    }
};

TEST_F(LinkelReconnectE2e, QueryModeRecordsFlowAgainAfterADrop) {
    tmp.write("devs/linkel.cfg", "000254\r\nLinkel\r\n");
    tmp.write("000254/AdditionalOutputNames.txt", "Porch Light\r\nGarage Light\r\n");
    sim.setLinkelQueryInterval(100);
    ASSERT_TRUE(sim.setLinkelOutput(1, true));
    startVelmar({"/Linkel"});
    ASSERT_TRUE(waitForFile("logs/Linkel/Porch Light.txt", 25000)) << output().toStdString();
    dropAndHeal();
    // The new connection asked for the query mode again.
    EXPECT_TRUE(waitFor([&] { return sim.linkelMode() == 1; }, 5000)) << sim.linkelMode();
    // A record pushed after the reconnection is published.
    ASSERT_TRUE(sim.setLinkelOutput(2, true));
    EXPECT_TRUE(waitForFile("logs/Linkel/Garage Light.txt", 10000)) << output().toStdString();
    EXPECT_EQ(stopVelmar(), 0);
}

TEST_F(LinkelReconnectE2e, TransparentFramesFlowAgainAfterADrop) {
    ASSERT_TRUE(sim.setStreamInterval(300));
    startVelmar({"/cancel", "/viatcp"});
    ASSERT_TRUE(waitForFile("logs/status/55-1.stat", 25000)) << output().toStdString();
    const QByteArray before = tmp.read("logs/status/55-1.stat");
    dropAndHeal();
    EXPECT_TRUE(waitFor([&] { return sim.linkelMode() == 3; }, 5000)) << sim.linkelMode();
    // A status frame the controller sends after the reconnection reaches the decoding.
    ASSERT_TRUE(sim.setOutput({55, 1}, 1, true));
    EXPECT_TRUE(waitForChange("logs/status/55-1.stat", before, 10000)) << output().toStdString();
    EXPECT_EQ(stopVelmar(), 0);
}

TEST_F(LinkelReconnectE2e, PollsFlowAgainAfterADrop) {
    startVelmar({"/cancel", "/tcpquery"});
    ASSERT_TRUE(waitForLog("Transparent Uart 1 <-> Ethernet with query enabled", 25000))
        << output().toStdString();
    ASSERT_TRUE(waitForFrame(bytes({1, 55, 1, 'q'}), 20000));
    dropAndHeal();
    sim.clearFrames();
    EXPECT_TRUE(waitForFrame(bytes({1, 55, 1, 'q'}), kHealMs)) << output().toStdString();
    EXPECT_EQ(sim.linkelMode(), 3);
    EXPECT_EQ(stopVelmar(), 0);
}

TEST_F(LinkelReconnectE2e, ALinkelThatIsDownAtStartIsReachedWhenItComesUp) {
    const std::uint16_t port = sim.linkelPort();
    sim.stopLinkel();
    startVelmar({"/cancel", "/tcpquery"});
    ASSERT_TRUE(waitForLog("Connection to Linkel Error", 25000)) << output().toStdString();
    pump(3000);  // a few refused tries
    QString error;
    ASSERT_TRUE(sim.startLinkel(port, kKey, &error)) << error.toStdString();
    ASSERT_TRUE(waitForLog("Linkel link up after ", kHealMs)) << output().toStdString();
    EXPECT_TRUE(waitForFrame(bytes({1, 55, 1, 'q'}), kHealMs)) << output().toStdString();
    // Each line of the socket once for the whole outage, one for the first refusal.
    for (const char* line : {"TCP Server Lookup", "Connecting to Linkel",
                             "Connection to Linkel Error", "Linkel link down (", "Accepted"})
        EXPECT_EQ(lines(line), 1) << line << "\n" << output().toStdString();
    EXPECT_EQ(lines("Linkel link still down"), 0);
    EXPECT_EQ(stopVelmar(), 0);
}

}  // namespace
}  // namespace velmar::test
