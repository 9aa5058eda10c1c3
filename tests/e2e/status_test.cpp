// Status frames from the simulator's controllers become files under the data root.
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>

#include "e2e_fixture.h"

namespace velmar::test {
namespace {

using sim::Address;
using sim::ControllerType;

class StatusE2e : public E2eTest {
  protected:
    // A controller's status message as it stands in the simulator, sent doubled (as a reply to
    // a query) or once.
    void sendStatus(Address a, bool doubled = true) {
        const auto msg = sim.statusMessage(a);
        ASSERT_TRUE(msg.has_value());
        sim.writeToPc(doubled ? *msg + *msg : *msg);
    }
    bool waitForContent(const QString& rel, const QByteArray& expected, int ms = 10000) {
        QDeadlineTimer deadline(ms);
        while (!deadline.hasExpired()) {
            if (tmp.read(rel) == expected)
                return true;
            pump(20);
        }
        return false;
    }
};

TEST_F(StatusE2e, RoomControllerFramePublishesCacheTextValuesAndOutputs) {
    ASSERT_TRUE(sim.addController({55, 1}, ControllerType::Quartel));
    addDevice(55, 1, "Kitchen");
    startVelmar({"/cancel"});
    ASSERT_TRUE(sim.setAnalog({55, 1}, 1, 0x3E8));
    ASSERT_TRUE(sim.setStatusByte({55, 1}, 19, 0x05));
    ASSERT_TRUE(sim.setStatusByte({55, 1}, 29, 0x02));

    // Sent once it is not a confirmed status frame: nothing is published. The text message
    // after it shows that velmar has handled it.
    sendStatus({55, 1}, false);
    ASSERT_TRUE(sim.sendText({55, 1}, "lAFTER"));
    ASSERT_TRUE(waitForLog("Kitchen ->    lAFTER")) << output().toStdString();
    EXPECT_FALSE(tmp.exists("logs/status/55-1.stat"));

    sendStatus({55, 1});
    ASSERT_TRUE(waitForFile("logs/status/55-1.stat"));
    const QByteArray cache = tmp.read("logs/status/55-1.stat");
    ASSERT_EQ(cache.size(), 54);
    EXPECT_TRUE(cache.startsWith(bytes({0x34, 0x37, 0x01, 0x03, 0xE8})));
    EXPECT_EQ(tmp.read("logs/status/55-1.sta"), cache);
    ASSERT_TRUE(waitForFile("logs/Kitchen.txt"));
    const QByteArray text = tmp.read("logs/Kitchen.txt");
    EXPECT_TRUE(text.startsWith("Kitchen ")) << text.constData();
    EXPECT_TRUE(text.contains("\r\nProgram:  (2)\r\n")) << text.constData();
    EXPECT_TRUE(
        text.contains("\r\n\r\nActive Outs:\r\nOutput 1\r\nOutput 3\r\n\r\nActive Inputs:\r\n"))
        << text.constData();
    EXPECT_EQ(tmp.read("logs/Kitchen/Temps/Light Level.txt"),
              "215.60\r\n2.20\r\n97.75\r\n\r\n\r\n\r\n\r\n\r\n");
    EXPECT_FALSE(tmp.exists("logs/Kitchen/Temps/Temperature.txt"));  // unchanged channel
    for (const char* f : {"logs/Kitchen/Output 1.txt", "logs/Kitchen/All/Output 1.txt",
                          "logs/Kitchen/Output 3.txt", "logs/Kitchen/All/Output 3.txt"})
        EXPECT_EQ(tmp.read(f), "1\r\n") << f;

    ASSERT_TRUE(sim.setStatusByte({55, 1}, 19, 0x01));
    sendStatus({55, 1});
    QDeadlineTimer deadline(10000);
    while (tmp.exists("logs/Kitchen/Output 3.txt") && !deadline.hasExpired())
        pump(20);
    EXPECT_FALSE(tmp.exists("logs/Kitchen/Output 3.txt"));
    EXPECT_FALSE(tmp.exists("logs/Kitchen/All/Output 3.txt"));
    EXPECT_TRUE(tmp.exists("logs/Kitchen/Output 1.txt"));
    EXPECT_EQ(stopVelmar(), 0);
}

TEST_F(StatusE2e, ExpanderWarningAndAlarm) {
    ASSERT_TRUE(sim.addController({2, 1}, ControllerType::Outrel));
    addDevice(2, 1, "Outside", "Quartel", true);
    tmp.write("devices aliases/Sensel 1.nam", "In 1\r\nIn 2\r\nWin\r\n");
    tmp.write("smsadmins.cfg", "600100200\r\n600100300\r\n");
    startVelmar({"/cancel"});

    sendStatus({2, 1});
    ASSERT_TRUE(waitForFile("logs/status/2-1.stat"));  // the first frame is in
    ASSERT_TRUE(sim.setStatusByte({2, 1}, 42, 0x04));  // module 1, warning of input 3
    sendStatus({2, 1});
    ASSERT_TRUE(waitForFile("logs/Warning/Win.txt"));
    EXPECT_TRUE(tmp.read("logs/Warning.log").contains("Warning ->    Win\r\n"));

    ASSERT_TRUE(sim.setStatusByte({2, 1}, 47, 0x04));  // module 1, alarm of input 3
    sendStatus({2, 1});
    ASSERT_TRUE(waitForFile("logs/Alarm/Win.txt"));
    QDeadlineTimer deadline(5000);
    while (QDir(tmp.path("smsout")).entryList(QDir::Files).size() < 2 && !deadline.hasExpired())
        pump(20);
    QStringList sms = QDir(tmp.path("smsout")).entryList(QDir::Files);
    ASSERT_EQ(sms.size(), 2) << sms.join(',').toStdString();
    EXPECT_TRUE(sms[0].startsWith("600100200-"));
    EXPECT_EQ(tmp.read("smsout/" + sms[0]), "600100200\r\nAlarm: Win\r\n");

    // The alarm again while the requests still wait: no second request. Each frame is waited
    // for by its effect on the status cache, the text message after the last one shows that
    // velmar has handled it.
    const QByteArray alarmed = tmp.read("logs/status/2-1.stat");
    ASSERT_TRUE(sim.setStatusByte({2, 1}, 47, 0x00));
    sendStatus({2, 1});
    QDeadlineTimer changed(10000);
    while (tmp.read("logs/status/2-1.stat") == alarmed && !changed.hasExpired())
        pump(20);
    ASSERT_NE(tmp.read("logs/status/2-1.stat"), alarmed);
    ASSERT_TRUE(sim.setStatusByte({2, 1}, 47, 0x04));
    sendStatus({2, 1});
    ASSERT_TRUE(sim.sendText({2, 1}, "lAFTER"));
    ASSERT_TRUE(waitForLog("Outside ->    lAFTER")) << output().toStdString();
    EXPECT_EQ(tmp.read("logs/status/2-1.stat"), alarmed);
    EXPECT_EQ(QDir(tmp.path("smsout")).entryList(QDir::Files).size(), 2);
    EXPECT_EQ(stopVelmar(), 0);
}

}  // namespace
}  // namespace velmar::test
