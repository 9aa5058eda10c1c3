// velmar against the simulator: the query cycle's polls and the road of an event request from
// "emails\" to the controller's confirmation.
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <map>
#include <thread>

#include "e2e_fixture.h"

namespace velmar::test {
namespace {

using sim::Address;
using sim::ControllerType;

class CycleE2e : public E2eTest {
  protected:
    // Polls ("q" frames) recorded so far, as "h-l".
    QStringList polls() {
        QStringList out;
        for (const auto& f : sim.frames()) {
            if (f.bytes.size() == 4 && f.bytes[0] == 1 && f.bytes[3] == 'q')
                out << QStringLiteral("%1-%2").arg(quint8(f.bytes[1])).arg(quint8(f.bytes[2]));
        }
        return out;
    }
    // Event definitions of 55-1: `count` events "E000", ... on outputs 1.. and states 1, 0.
    void defineEvents(int h, int l, int count) {
        QByteArray ids, names, states, combined;
        for (int i = 0; i < count; ++i) {
            ids += "O" + QByteArray::number(i / 2 + 1) + "\r\n";
            names += QStringLiteral("E%1\r\n").arg(i, 3, 10, QChar('0')).toLatin1();
            states += (i % 2 ? "0\r\n" : "1\r\n");
            combined += "E\r\n";
        }
        const QString stem = QStringLiteral("events/Quartel/%1-%2").arg(h).arg(l);
        tmp.write(stem + ".iev", ids);
        tmp.write(stem + ".lev", names);
        tmp.write(stem + ".nev", names);
        tmp.write(stem + ".sev", states);
        // A complete hand-written set: the configuration does not rebuild it.
        tmp.write(stem + ".cev", combined);
    }
    QStringList emails() { return QDir(tmp.path("emails")).entryList(QDir::Files, QDir::Name); }
};

TEST_F(CycleE2e, PollsGiveTheExternalControllerEverySecondTurn) {
    for (Address a : {Address{10, 1}, Address{10, 2}})
        ASSERT_TRUE(sim.addController(a, ControllerType::Quartel));
    ASSERT_TRUE(sim.addController({2, 1}, ControllerType::Outrel));
    addDevice(10, 1, "A");
    addDevice(10, 2, "B");
    addDevice(2, 1, "Outside", "Outrel", true);
    const struct {
        bool disableFile;
        QStringList polls;
    } cases[] = {
        {false, {"10-1", "2-1", "10-2", "2-1", "10-1"}},
        {true, {"10-1", "10-2", "2-1", "10-1"}},
    };
    for (const auto& c : cases) {
        if (c.disableFile)
            tmp.write("Disable_Frequent_External_query.txt", "");
        sim.clearFrames();
        QElapsedTimer started;
        started.start();
        startVelmar({"/cancel"});
        ASSERT_TRUE(waitFor([&] { return !polls().isEmpty(); }, 15000));
        // "/cancel" acts 2 s after the start and the cycle's first tick comes 5 s later.
        EXPECT_GE(started.elapsed(), 6500);
        ASSERT_TRUE(waitFor([&] { return polls().size() >= c.polls.size(); }, 20000));
        EXPECT_EQ(polls().mid(0, c.polls.size()), c.polls);
        EXPECT_EQ(stopVelmar(), 0);
    }
}

TEST_F(CycleE2e, RequestIsResolvedSentConfirmedAndDeleted) {
    ASSERT_TRUE(sim.addController({55, 1}, ControllerType::Quartel));
    ASSERT_TRUE(sim.addController({55, 2}, ControllerType::Quartel));
    addDevice(55, 1, "Kitchen");
    addDevice(55, 2, "Hall");
    defineEvents(55, 1, 2);
    defineEvents(55, 2, 2);
    tmp.write("events/Quartel/55-1.lev", "Lights On\r\nLights Off\r\n");
    tmp.write("events/Quartel/55-1.cev", "Lights On\r\nLights Off\r\n");
    // The hall never confirms; the kitchen holds its confirmation until the file is checked.
    sim.setNoConfirm({55, 2}, true);
    sim.setNoConfirm({55, 1}, true);
    tmp.write("emails/r0.run", "Nobody; Lights On\r\n");
    tmp.write("emails/r1.run", "Kitchen; Lights On\r\n");
    tmp.write("emails/r2.run", "Hall; E000\r\n");
    startVelmar({"/cancel"});

    const QByteArray kitchen = bytes({8, 55, 1, 'e', 'E', 'V', 1, 1, 1, 0, 0});
    const QByteArray hall = bytes({8, 55, 2, 'e', 'E', 'V', 1, 1, 1, 0, 0});
    ASSERT_TRUE(waitForFrame(kitchen, 15000)) << output().toStdString();
    EXPECT_TRUE(waitForLog("Unknown device in event request: "));
    QByteArray layout = "Kitchen; Lights On\r\n";
    for (int i = 0; i < 8; ++i)
        layout += "\r\n";
    layout += "Direct Event Dont change this file\r\n55\r\n1\r\n1\r\n1\r\n1\r\n0\r\n0\r\n";
    EXPECT_EQ(tmp.read("emails/Kitchen, Lights On.run"), layout);
    EXPECT_FALSE(tmp.exists("emails/r0.run"));
    EXPECT_FALSE(tmp.exists("emails/r1.run"));

    // Once the kitchen confirms, its file goes; the hall's event keeps coming back.
    sim.setNoConfirm({55, 1}, false);
    ASSERT_TRUE(waitForFrame(bytes({2, 55, 1, 'O', 'K'}), 10000));
    EXPECT_TRUE(waitForLog("Kitchen - Lights On"));
    EXPECT_TRUE(waitFor([&] { return !tmp.exists("emails/Kitchen, Lights On.run"); }, 5000));
    EXPECT_TRUE(waitFor([&] { return framesEqual(hall).size() >= 3; }, 10000));
    EXPECT_EQ(emails(), QStringList{"Hall, E000.run"});
    EXPECT_EQ(sim.executedEvents({55, 1}).size(), 1u);
    EXPECT_EQ(stopVelmar(), 0);
}

TEST_F(CycleE2e, HundredRequestsFromFourWritersRunOnceEachAcrossAKill) {
    ASSERT_TRUE(sim.addController({55, 1}, ControllerType::Quartel));
    sim.setTextPause(10);
    addDevice(55, 1, "Kitchen");
    constexpr int kEvents = 100;
    defineEvents(55, 1, kEvents);
    tmp.mkdir("emails");
    startVelmar({"/cancel"});
    // Four programs drop 25 requests each, written in two parts as a slow writer would.
    std::vector<std::thread> writers;
    const QString dir = tmp.path("emails");
    for (int w = 0; w < 4; ++w) {
        writers.emplace_back([w, dir] {
            for (int i = w; i < kEvents; i += 4) {
                QFile f(QStringLiteral("%1/w%2-%3.run").arg(dir).arg(w).arg(i));
                if (!f.open(QIODevice::WriteOnly))
                    continue;
                f.write("Kitchen; ");
                f.flush();
                f.write(QStringLiteral("E%1\r\n").arg(i, 3, 10, QChar('0')).toLatin1());
            }
        });
    }
    for (auto& t : writers)
        t.join();
    auto executed = [&] { return sim.executedEvents({55, 1}); };
    // Both waits share one deadline well inside the test's time-out.
    QDeadlineTimer deadline(95000);
    ASSERT_TRUE(waitFor([&] { return executed().size() >= 30; },
                        static_cast<int>(deadline.remainingTime())))
        << output().toStdString();
    velmar.kill();
    velmar.waitForFinished(5000);
    startVelmar({"/cancel"});
    ASSERT_TRUE(waitFor([&] { return executed().size() >= kEvents && emails().isEmpty(); },
                        static_cast<int>(std::max<qint64>(deadline.remainingTime(), 1))))
        << executed().size() << " executed, waiting: " << emails().join(' ').toStdString();
    pump(500);
    std::map<QByteArray, int> times;
    for (const QByteArray& e : executed())
        ++times[e];
    EXPECT_EQ(times.size(), static_cast<std::size_t>(kEvents));  // none lost
    // Only an event the controller executed in the moment of the kill, before its
    // confirmation came back, can run a second time.
    int repeated = 0;
    for (const auto& [event, n] : times)
        repeated += n - 1;
    EXPECT_LE(repeated, 1);
    EXPECT_EQ(stopVelmar(), 0);
}

}  // namespace
}  // namespace velmar::test
