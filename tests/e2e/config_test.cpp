// The configuration tool against the simulator: the Kitchen's device file loaded at start-up,
// its events rebuilt and requestable, and its configuration sent in four blocks, with the
// controller confirming, staying silent, or refusing blocks.
#include <QDeadlineTimer>
#include <QRegularExpression>

#include "e2e_fixture.h"
#include "support/kitchen.h"

namespace velmar::test {
namespace {

using sim::ControllerType;

// A frame of 255 bytes: fill, then the given bytes at their offsets.
QByteArray frame255(char fill, std::initializer_list<std::pair<int, QByteArray>> at) {
    QByteArray f(255, fill);
    for (const auto& [offset, bytes] : at)
        f.replace(offset, bytes.size(), bytes);
    return f;
}

QByteArray hex(const char* text) {
    return QByteArray::fromHex(text);
}

class ConfigE2e : public E2eTest {
  protected:
    void SetUp() override {
        E2eTest::SetUp();
        ASSERT_TRUE(sim.addController({55, 1}, ControllerType::Quartel));
        tmp.write("devices aliases/55-1.dev", joinedCrLf(kitchenDeviceLines()));
    }
    std::vector<sim::RecordedFrame> blocks() {
        std::vector<sim::RecordedFrame> out;
        for (const auto& f : sim.frames())
            if (f.bytes.size() == 255 && f.bytes.startsWith(bytes({0xFC, 55, 1})))
                out.push_back(f);
        return out;
    }
    void requestSave() {
        tmp.write("emails/support Kitchen - QLSaveCfg.run",
                  tmp.read("maintanance/Kitchen/support Kitchen - QLSaveCfg.run"));
    }
};

TEST_F(ConfigE2e, DeviceLoadedEventsRebuiltAndConfigurationSent) {
    startVelmar({"/cancel"});
    ASSERT_TRUE(waitFor([&] { return tmp.exists("fosc.cfg"); }, 15000)) << output().toStdString();
    EXPECT_EQ(tmp.read("fosc.cfg"),
              "40\r\n;Quartel,Outrel,Thermel Oscillator Frequency - DONT ALTER THIS FILE\r\n");
    EXPECT_EQ(tmp.read("btconfig.cfg"), "tuvo\r\n805619\r\n");
    const QList<QByteArray> lev = tmp.read("events/Quartel/55-1.lev").split('\n');
    ASSERT_EQ(lev.size(), 258);  // 257 lines and the end after the last line break
    EXPECT_EQ(lev[6], "Pump<-(0)\r");
    EXPECT_EQ(lev[7], "Pump<-(1)\r");
    EXPECT_EQ(lev[8], "Pump<-(toggle)\r");
    EXPECT_EQ(lev[87], "Program 7\r");
    EXPECT_EQ(tmp.read("events/Quartel/55-1.cev").split('\n').value(7), "Pump<-(1)\tO3\tPump\t1\r");
    EXPECT_EQ(tmp.read("AllEvents/Kitchen/Kitchen - Pump (1).run"), "Kitchen; Pump<-(1)\r\n");

    // The request files run as they are.
    tmp.write("emails/pump.run", tmp.read("AllEvents/Kitchen/Kitchen - Pump (1).run"));
    EXPECT_TRUE(waitForFrame(hex("08 37 01 65 45 56 01 03 01 00 00"), 15000))
        << output().toStdString();
    tmp.write("emails/program.run", "Kitchen; Program 7\r\n");
    EXPECT_TRUE(waitForFrame(hex("08 37 01 65 45 56 02 07 FF FF FF"), 15000))
        << output().toStdString();

    requestSave();
    ASSERT_TRUE(waitForLog("Save configuration for device: Kitchen", 15000))
        << output().toStdString();
    ASSERT_TRUE(waitFor([&] { return blocks().size() >= 4; }, 15000)) << output().toStdString();
    const auto b = blocks();
    ASSERT_EQ(b.size(), 4u);
    for (std::size_t i = 1; i < 4; ++i) {
        const auto gap = b[i].timeUs - b[i - 1].timeUs;
        EXPECT_GE(gap, 800000) << i;
        EXPECT_LE(gap, 1300000) << i;  // 1 s, with room for a loaded machine
    }
    QByteArray w =
        frame255('\xFF', {{0, hex("FC 37 01 77 37 01 10 FF 01 24 32 9F")},
                          {12, hex("7F 1E 00 00 00 00 00 00 CC FF FF FF FF FF FF FF "
                                   "01 40 00 00 00 00 00 00 01 68 06 40 06 40 06 40 "
                                   "43 00 80 1E 03 00 FE FF")},
                          {52, QByteArray(8, '\0')},
                          {76, hex("01 00 00 00 00 00 00 00 02 00 00 00 00 00 00 00 00 00")},
                          {94, hex("AABBCCDDEE")},
                          {134, hex("01030100000103000000")},
                          {254, QByteArray(1, '\0')}});
    EXPECT_EQ(b[0].bytes.toHex(' '), w.toHex(' '));
    QByteArray u = frame255('\xFF', {{0, hex("FC370175")},
                                     {4, hex("0103020000")},
                                     {124, hex("0103010000")},
                                     {164, hex("0103000000")},
                                     {244, hex("74 75 76 62 38 30 35 36 31 39 00")}});
    EXPECT_EQ(b[1].bytes.toHex(' '), u.toHex(' '));
    EXPECT_EQ(b[2].bytes.toHex(' '),
              frame255('\0', {{0, hex("FC370157")}, {94, hex("3702")}}).toHex(' '));
    EXPECT_EQ(b[3].bytes.toHex(' '), frame255('\0', {{0, hex("FC370155")}}).toHex(' '));
    // The controller took the four blocks.
    ASSERT_TRUE(waitFor([&] { return sim.memory({55, 1}, 'U').has_value(); }, 5000));
    EXPECT_EQ(*sim.memory({55, 1}, 'w'), b[0].bytes.mid(3));

    // Polls resume; the files are as they should be.
    const auto last = b[3].timeUs;
    EXPECT_TRUE(waitFor(
        [&] {
            for (const auto& f : sim.frames())
                if (f.timeUs > last && f.bytes == bytes({1, 55, 1, 'q'}))
                    return true;
            return false;
        },
        20000));
    EXPECT_EQ(tmp.read("devices aliases/55-1.dev"), joinedCrLf(kitchenDeviceLines()));
    EXPECT_EQ(tmp.read("devices aliases/55-1.adv"), "0\r\n0\r\n0\r\n");
    EXPECT_EQ(tmp.read("btconfig.cfg"), "tuv\r\n805619\r\n");
    EXPECT_EQ(tmp.read("devices aliases/55-1/O3.txt"), "Pump\r\n");
    EXPECT_EQ(tmp.read("com.cfg").split('\n').value(1), "19200\r");
    EXPECT_EQ(stopVelmar(), 0);
}

TEST_F(ConfigE2e, SilentControllerAbortsAfterFourteenTries) {
    ASSERT_TRUE(sim.setSilent({55, 1}, true));
    startVelmar({"/cancel"});
    ASSERT_TRUE(waitFor([&] { return tmp.exists("maintanance/Kitchen"); }, 10000));
    requestSave();
    const QString abort =
        QStringLiteral(" :    Kitchen ->    Error Writing config to Device at Address (55,1)");
    ASSERT_TRUE(waitForLog(abort, 60000)) << output().toStdString();
    const auto b = blocks();
    ASSERT_EQ(b.size(), 14u);
    for (std::size_t i = 0; i < b.size(); ++i) {
        EXPECT_EQ(static_cast<char>(b[i].bytes[3]), 'w') << i;
        if (i > 0) {
            const auto gap = b[i].timeUs - b[i - 1].timeUs;
            EXPECT_GE(gap, 1400000 - 150000) << i;
            EXPECT_LE(gap, 1400000 + 600000) << i;  // room for a loaded machine
        }
    }
    // The abort line carries the log's stamp, then its own.
    EXPECT_TRUE(output().contains(QRegularExpression(
        QStringLiteral("\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d :    \\d{4}-\\d\\d-\\d\\d "
                       "\\d\\d:\\d\\d:\\d\\d :    Kitchen ->    Error Writing config to Device at "
                       "Address \\(55,1\\)"))));
    ASSERT_TRUE(sim.setSilent({55, 1}, false));
    const auto last = b.back().timeUs;
    EXPECT_TRUE(waitFor(
        [&] {
            for (const auto& f : sim.frames())
                if (f.timeUs > last && f.bytes == bytes({1, 55, 1, 'q'}))
                    return true;
            return false;
        },
        20000));
    EXPECT_EQ(stopVelmar(), 0);
}

// Twelve refusals leave room for one block lost on the way (a busy machine can make the
// simulator's answer to the last poll meet the first block); the engine gives up after 14 tries.
TEST_F(ConfigE2e, RefusedBlocksAreSentAgain) {
    ASSERT_TRUE(sim.setProgramAnswer({55, 1}, sim::ProgramAnswer::Refuse, 12));
    startVelmar({"/cancel"});
    ASSERT_TRUE(waitFor([&] { return tmp.exists("maintanance/Kitchen"); }, 10000));
    requestSave();
    const bool done = waitFor([&] { return sim.memory({55, 1}, 'U').has_value(); }, 40000);
    QString trace;
    for (const auto& f : sim.frames())
        trace += QString::number(f.timeUs / 1000) + QLatin1Char(' ') +
                 QString::fromLatin1(f.bytes.left(6).toHex(' ')) + QLatin1Char('\n');
    ASSERT_TRUE(done) << trace.toStdString();
    QString letters;
    for (const auto& f : blocks())
        letters += QLatin1Char(f.bytes[3]);
    EXPECT_TRUE(letters == QString(13, QLatin1Char('w')) + QStringLiteral("uWU") ||
                letters == QString(14, QLatin1Char('w')) + QStringLiteral("uWU"))
        << letters.toStdString();

    EXPECT_FALSE(output().contains("Error Writing config"));
    EXPECT_EQ(stopVelmar(), 0);
    // Every refusal is in the log: a line of its own, or counted in a summary line (written by
    // the minute tick or when the program ends).
    int refusals = 0;
    const QString all = QString::fromLatin1(tmp.read("logs/all.logs"));
    const QRegularExpression line(
        QStringLiteral(":    error write mem(?: \\(repeated (\\d+) times\\))?\r\n"));
    for (auto it = line.globalMatch(all); it.hasNext();) {
        const auto m = it.next();
        refusals += m.captured(1).isEmpty() ? 1 : m.captured(1).toInt();
    }
    EXPECT_EQ(refusals, 12) << all.toStdString();
}

}  // namespace
}  // namespace velmar::test
