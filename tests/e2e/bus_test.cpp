// velmar against the simulator: what reaches the wire, what velmar answers and what it makes
// of the controllers' messages.
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>

#include "e2e_fixture.h"

namespace velmar::test {
namespace {

using sim::Address;
using sim::ControllerType;

const QByteArray kResetDirect = bytes({6, 0, 0, 'e', 'R', 'E', 'S', 'E', 'T'});
const QByteArray kOkDirect = bytes({2, 0, 0, 'O', 'K'});

class BusE2e : public E2eTest {
  protected:
    void SetUp() override {
        E2eTest::SetUp();
        ASSERT_TRUE(sim.addController({55, 1}, ControllerType::Quartel));
        ASSERT_TRUE(sim.addController({55, 2}, ControllerType::Quartel));
        addDevice(55, 1, "Kitchen");
        addDevice(55, 2, "Hall");
    }
};

TEST_F(BusE2e, PortRateFromComCfg) {
    struct Case {
        const char* line;
        unsigned speed;
    };
    for (const Case& c : {Case{"9600", 9600}, Case{"fast", 115200}}) {
        writeComConfig(QString::fromLatin1(c.line));
        startVelmar({"/cancel"});
        QDeadlineTimer deadline(5000);
        std::optional<sim::LineSettings> line;
        while (!deadline.hasExpired()) {
            line = sim.lineSettings();
            if (line && line->speed == c.speed)
                break;
            pump(20);
        }
        ASSERT_TRUE(line.has_value());
        EXPECT_EQ(line->speed, c.speed) << c.line;
        EXPECT_FALSE(line->twoStopBits);
        EXPECT_EQ(stopVelmar(), 0);
    }
}

TEST_F(BusE2e, ResetBroadcastIsConfirmed) {
    startVelmar({"/nd", "/r"});
    ASSERT_TRUE(waitForFrame(kResetDirect));
    ASSERT_TRUE(waitForFrame(kOkDirect, 5000)) << output().toStdString();
    const auto reset = framesEqual(kResetDirect).front();
    const auto ok = framesEqual(kOkDirect).front();
    // The echo leaves the simulator 1 ms after the reset; velmar confirms it after 3 ms of
    // silence. The bound is wide for a loaded machine; the benchmark measures the real figure.
    EXPECT_LT(ok.timeUs - reset.timeUs, 250000);
    EXPECT_TRUE(waitForLog("Reset all devices"));
    EXPECT_EQ(stopVelmar(), 0);
}

// A relay block for another controller: velmar writes it back unchanged, at once.
QByteArray relayBlock() {
    QByteArray b = bytes({26, 55, 5, 0, 0, 'b'});
    b.append(23, '\x11');
    return b;
}

TEST_F(BusE2e, WrongEchoIsNotConfirmed) {
    sim.setNoConfirm({55, 1}, true);
    sim.setNoConfirm({55, 2}, true);
    startVelmar({"/nd", "/r"});
    ASSERT_TRUE(waitForFrame(kResetDirect));
    sim.writeToPc(bytes({0, 0, 'e', 'R', 'E', 'S', 'E', 'X'}));
    // Blocks are handled in order and frames go out in order: once the relay block that
    // follows is back on the wire, an "OK" for the wrong echo would have gone out before it.
    sim.writeToPc(relayBlock());
    ASSERT_TRUE(waitForFrame(relayBlock(), 10000)) << output().toStdString();
    EXPECT_TRUE(framesEqual(kOkDirect).empty());
    EXPECT_EQ(stopVelmar(), 0);
}

TEST_F(BusE2e, LinkelAddressing) {
    tmp.write("linkel.cfg", "");
    sim.setLinkelAddressing(true);
    startVelmar({"/nd", "/r"});
    ASSERT_TRUE(waitForFrame(bytes({8, 0, 0, 254, 254, 'e', 'R', 'E', 'S', 'E', 'T'})));
    EXPECT_TRUE(waitForFrame(bytes({4, 0, 0, 254, 254, 'O', 'K'}), 5000)) << output().toStdString();
    EXPECT_EQ(stopVelmar(), 0);
}

TEST_F(BusE2e, ThreeSetTimeBroadcasts) {
    startVelmar({"/nd", "/t"});
    const auto setTime = [](const QByteArray& f) {
        return f.size() == 23 && f.startsWith(bytes({20, 0, 0, 'c'}));
    };
    ASSERT_TRUE(sim.waitForFrame(setTime, 10000));
    // The update sequence's three, 300 ms apart. The minute clock sends the time at second 1
    // of every minute as well: when one falls in between, it is told apart by its gaps.
    QDeadlineTimer deadline(5000);
    std::vector<sim::RecordedFrame> times;
    std::vector<sim::RecordedFrame> all;
    while (!deadline.hasExpired()) {
        all.clear();
        for (const auto& f : sim.frames())
            if (setTime(f.bytes))
                all.push_back(f);
        times.clear();
        for (std::size_t i = 0; i + 2 < all.size() && times.empty(); ++i) {
            const auto gap1 = all[i + 1].timeUs - all[i].timeUs;
            const auto gap2 = all[i + 2].timeUs - all[i + 1].timeUs;
            if (gap1 > 250000 && gap1 < 2000000 && gap2 > 250000 && gap2 < 2000000)
                times = {all[i], all[i + 1], all[i + 2]};
        }
        if (!times.empty())
            break;
        pump(50);
    }
    ASSERT_EQ(times.size(), 3u);
    EXPECT_LE(all.size(), 4u);
    for (std::size_t i = 0; i < 3; ++i) {
        const QByteArray& f = times[i].bytes;
        // second, minute, hour, day, day of week, month, year - 2000, ms x 7 div 1000; twice.
        EXPECT_EQ(f.mid(4, 8), f.mid(14, 8));
        EXPECT_EQ(f.mid(12, 2), "--");
        EXPECT_EQ(f[22], '\0');
        const QDate today = QDate::currentDate();
        EXPECT_EQ(static_cast<int>(f[10]), today.year() - 2000);
        EXPECT_GE(static_cast<int>(f[8]), 1);
        EXPECT_LE(static_cast<int>(f[8]), 7);
        EXPECT_LE(static_cast<int>(f[11]), 6);
    }
    EXPECT_EQ(stopVelmar(), 0);
}

TEST_F(BusE2e, BlocksEndAtThreeMillisecondsOfSilence) {
    startVelmar({"/cancel", "/debug"});
    const QByteArray a = bytes({55, 1}) + "lONE" + bytes({0});
    const QByteArray b = bytes({55, 1}) + "lTWO" + bytes({0});
    sim.writeToPc(a + b);  // one write: one block
    ASSERT_TRUE(waitForLog("Kitchen ->    lTWO"));
    EXPECT_EQ(output().count("<<"), 1) << output().toStdString();
    // The second half only once the first has been handled: a block of its own.
    sim.writeToPc(a);
    QDeadlineTimer deadline(10000);
    while (output().count("Kitchen ->    lONE") < 2 && !deadline.hasExpired())
        pump(20);
    ASSERT_EQ(output().count("Kitchen ->    lONE"), 2) << output().toStdString();
    sim.writeToPc(b);
    while (output().count("Kitchen ->    lTWO") < 2 && !deadline.hasExpired())
        pump(20);
    EXPECT_EQ(output().count("<<"), 3) << output().toStdString();
    EXPECT_EQ(stopVelmar(), 0);
}

TEST_F(BusE2e, TextMessagesAliasesAndSounds) {
    tmp.write("aliases/Quartel/lDOOR.txt", "Front door opened\r\nRed\r\nDoor\r\n");
    tmp.write("audios/Door.mp3", "sound");
    startVelmar({"/cancel"});
    sim.sendText({55, 1}, "lDOOR");
    ASSERT_TRUE(waitForLog("Kitchen ->    Front door opened"));
    ASSERT_TRUE(waitForFile("audio to play/Door.mp3"));
    sim.sendText({3, 7}, "lDOOR");
    sim.sendText({55, 55}, "lDOOR");
    ASSERT_TRUE(waitForLog("(55,55) ->    lDOOR"));
    EXPECT_FALSE(output().contains("(3,7)"));
    EXPECT_EQ(stopVelmar(), 0);
}

TEST(DeviceScanE2e, TablesHoldWhatFitsAndTheRestIsLogged) {
    TempRoot tmp;
    auto dev = [&tmp](const QString& stem, const QString& name, const QString& type, int h, int l) {
        tmp.write("devices aliases/" + stem + ".dev",
                  (name + "\r\n" + type + "\r\n" + QString::number(h) + "\r\n" +
                   QString::number(l) + "\r\n")
                      .toUtf8());
    };
    dev("55-0", "TEMPLATE_room", "Quartel", 55, 99);
    dev("7-1", "Siren", "Alarm", 7, 1);
    dev("7-2", "Panel", "Alarm", 7, 2);
    for (int i = 1; i <= 22; ++i)
        dev(QStringLiteral("55-%1").arg(i, 2, 10, QChar('0')), QStringLiteral("Room %1").arg(i),
            "Quartel", 55, i);
    QProcess velmar;
    velmar.setProcessChannelMode(QProcess::MergedChannels);
    velmar.start(QStringLiteral(VELMAR_BIN_DIR "/velmar"),
                 {"--headless", "--root", tmp.root(), "/offline", "/nd"});
    ASSERT_TRUE(velmar.waitForStarted());
    QByteArray out;
    QDeadlineTimer deadline(10000);
    while (!out.contains("Velmar Manager started") && !deadline.hasExpired()) {
        velmar.waitForReadyRead(50);
        out += velmar.readAll();
    }
    velmar.terminate();
    ASSERT_TRUE(velmar.waitForFinished(5000));
    out += velmar.readAll();
    EXPECT_EQ(velmar.exitCode(), 0);
    EXPECT_TRUE(out.contains("Device table full: ")) << out.constData();
    // Calibration defaults and the per-device log folders.
    EXPECT_EQ(tmp.read("devices aliases/55-01.cal"),
              "5000\r\n-27315\r\n-27315\r\n-27315\r\n-27315\r\n-27315\r\n-27315\r\n-27315\r\n"
              "-27315\r\n");
    for (const char* sub : {"Outs", "Temps", "Ins", "All"})
        EXPECT_TRUE(QDir(tmp.path(QStringLiteral("logs/Room 1/") + sub)).exists()) << sub;
    // Only the first 21 device files have state records (and log folders).
    EXPECT_TRUE(QDir(tmp.path("logs/Room 20")).exists());
    EXPECT_FALSE(QDir(tmp.path("logs/Room 21")).exists());
}

}  // namespace
}  // namespace velmar::test

namespace velmar::test {
namespace {

TEST(SerialPortE2e, PortThatCannotOpenIsLoggedAndTheProgramRunsOn) {
    TempRoot tmp;
    tmp.write("com.cfg", "/dev/velmar-no-such-port\r\n9600\r\n");
    QProcess velmar;
    velmar.setProcessChannelMode(QProcess::MergedChannels);
    velmar.start(QStringLiteral(VELMAR_BIN_DIR "/velmar"),
                 {"--headless", "--root", tmp.root(), "/cancel"});
    ASSERT_TRUE(velmar.waitForStarted());
    QByteArray out;
    QDeadlineTimer deadline(10000);
    while (!out.contains("error opening com") && !deadline.hasExpired()) {
        velmar.waitForReadyRead(50);
        out += velmar.readAll();
    }
    EXPECT_TRUE(
        out.contains(":    Cant connect to com: check port settings in \"com.cfg\" file\n"));
    EXPECT_TRUE(out.contains(":    error opening com: /dev/velmar-no-such-port -> "));
    EXPECT_EQ(velmar.state(), QProcess::Running);
    velmar.terminate();
    ASSERT_TRUE(velmar.waitForFinished(5000));
    EXPECT_EQ(velmar.exitCode(), 0);
}

}  // namespace
}  // namespace velmar::test
