// velmar through a Linkel played by the simulator on a loopback port: the login, the
// transparent mode carrying polls and events, the query mode's records, a refused login.
#include <QDir>

#include "e2e_fixture.h"

namespace velmar::test {
namespace {

using sim::ControllerType;

const std::array<std::uint8_t, 9> kKey{0, 1, 2, 3, 4, 5, 6, 7, 8};

class LinkelE2e : public E2eTest {
  protected:
    void SetUp() override {
        E2eTest::SetUp();
        ASSERT_TRUE(sim.addController({55, 1}, ControllerType::Quartel));
        addDevice(55, 1, "Kitchen");
        sim.setLinkelChallenge({0, 0, 0, 0, 0, 0});
        QString error;
        ASSERT_TRUE(sim.startLinkel(0, kKey, &error)) << error.toStdString();
        writeLinkelNet(sim.linkelPort(), kKey);
    }
};

TEST_F(LinkelE2e, TransparentModeCarriesPollsAndEvents) {
    tmp.write("events/Quartel/55-1.iev", "O1\r\n");
    for (const char* ext : {".lev", ".nev"})
        tmp.write(QLatin1String("events/Quartel/55-1") + ext, "Lights On\r\n");
    tmp.write("events/Quartel/55-1.sev", "1\r\n");
    tmp.write("events/Quartel/55-1.cev", "Lights On\r\n");
    startVelmar({"/cancel", "/tcpquery"});
    // The link starts with the configuration window's initial work, 10 s after the countdown.
    ASSERT_TRUE(waitForLog("Transparent Uart 1 <-> Ethernet with query enabled", 25000))
        << output().toStdString();
    EXPECT_TRUE(waitForFrame(bytes({1, 55, 1, 'q'}), 10000));
    tmp.write("emails/r1.run", "Kitchen; Lights On\r\n");
    EXPECT_TRUE(waitForFrame(bytes({8, 55, 1, 'e', 'E', 'V', 1, 1, 1, 0, 0}), 10000));
    EXPECT_TRUE(waitForFrame(bytes({2, 55, 1, 'O', 'K'}), 10000));
    EXPECT_TRUE(waitForLog("Kitchen - Lights On"));
    EXPECT_EQ(sim.executedEvents({55, 1}).size(), 1u);

    sim.dropLinkelClient();
    EXPECT_TRUE(waitForLog("Disconnect from Linkel"));
    EXPECT_EQ(stopVelmar(), 0);
}

TEST_F(LinkelE2e, QueryModeRecordsArePublished) {
    tmp.write("devs/linkel.cfg", "000254\r\nLinkel\r\n");
    tmp.write("000254/AdditionalOutputNames.txt", "Porch Light\r\nGarage Light\r\n");
    tmp.write("000254/SensorNames.txt", "Gate\r\n");
    ASSERT_TRUE(sim.setLinkelOutput(1, true));
    ASSERT_TRUE(sim.setLinkelAnalog(1, 512));
    sim.setLinkelQueryInterval(100);
    startVelmar({"/Linkel"});
    ASSERT_TRUE(waitForLog("Receive Query Mode", 25000)) << output().toStdString();
    // The controller's record reaches the status decoding under its own address.
    EXPECT_TRUE(waitForFile("logs/status/55-1.stat", 5000));
    EXPECT_FALSE(tmp.exists("logs/status/52-55.stat"));
    EXPECT_EQ(tmp.read("logs/status/55-1.stat").left(4).toHex(' '), "34 37 01 73");
    // The Linkel's own record: its status text, with the output that is on and no other.
    ASSERT_TRUE(waitForFile("logs/Linkel.txt", 5000)) << output().toStdString();
    const QByteArray text = tmp.read("logs/Linkel.txt");
    EXPECT_TRUE(text.startsWith("Linkel ")) << text.constData();
    EXPECT_TRUE(text.contains("\r\n\r\nOuts: \tPorch Light\r\n\r\nAlarm Sensors: \r\n"))
        << text.constData();
    EXPECT_TRUE(text.endsWith("\r\nInputs: \r\n")) << text.constData();
    EXPECT_TRUE(tmp.exists("logs/Linkel/Porch Light.txt"));
    EXPECT_FALSE(tmp.exists("logs/Linkel/Garage Light.txt"));
    EXPECT_EQ(stopVelmar(), 0);
    EXPECT_TRUE(QDir(tmp.path("logs/Linkel/Adcs")).exists());
}

TEST_F(LinkelE2e, LoginWithoutAcceptanceIsKilled) {
    sim.setLinkelAcceptLogin(false);
    startVelmar({"/cancel", "/viatcp"});
    ASSERT_TRUE(waitForLog("Sending Response Code", 25000)) << output().toStdString();
    EXPECT_TRUE(waitForLog("TCP Connection kill socket", 10000));
    EXPECT_EQ(stopVelmar(), 0);
}

}  // namespace
}  // namespace velmar::test
