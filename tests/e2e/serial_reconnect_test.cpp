// velmar on a serial port named by a symlink in "com.cfg" (as /dev/serial/by-id/... names an
// adapter) while the line goes away and comes back: the port is opened again on its own, the
// polls and a request that came in meanwhile reach the controllers, and the outage costs a
// few log lines.
#include <unistd.h>

#include <QDeadlineTimer>
#include <QFile>

#include "e2e_fixture.h"

namespace velmar::test {
namespace {

using sim::ControllerType;

const QByteArray kPoll = bytes({1, 55, 1, 'q'});

class SerialReconnectE2e : public E2eTest {
  protected:
    void SetUp() override {
        E2eTest::SetUp();
        ASSERT_TRUE(sim.addController({55, 1}, ControllerType::Quartel));
        addDevice(55, 1, "Kitchen");
        tmp.write("events/Quartel/55-1.iev", "O1\r\n");
        for (const char* ext : {".lev", ".nev", ".cev"})
            tmp.write(QLatin1String("events/Quartel/55-1") + ext, "Lights On\r\n");
        tmp.write("events/Quartel/55-1.sev", "1\r\n");
        tmp.write("com.cfg", (linkPath + "\r\n115200\r\n").toUtf8());
    }

    // Points the port's name at `target` in one step, as udev does.
    void point(const QString& target) {
        const QString next = linkPath + QStringLiteral(".new");
        QFile::remove(next);
        ASSERT_EQ(::symlink(target.toLocal8Bit().constData(), next.toLocal8Bit().constData()), 0);
        ASSERT_EQ(::rename(next.toLocal8Bit().constData(), linkPath.toLocal8Bit().constData()), 0);
    }
    // The adapter's name goes with it (a dangling name could meet another test's terminal).
    void unpoint() { ASSERT_EQ(::unlink(linkPath.toLocal8Bit().constData()), 0); }

    // Starts velmar without waiting for the port, which may be missing.
    void launch() {
        out_.clear();
        velmar.setProcessChannelMode(QProcess::MergedChannels);
        velmar.start(QStringLiteral(VELMAR_BIN_DIR "/velmar"),
                     QStringList{"--headless", "--root", tmp.root(), "/cancel"});
        ASSERT_TRUE(velmar.waitForStarted(5000));
        ASSERT_TRUE(waitForLog("Velmar Manager started")) << output().toStdString();
    }
    // The port comes back on `s`: polls reach it, the reopening is logged, the request dropped
    // during the outage runs, and velmar never exited.
    void expectHealedOn(const sim::Simulator& s) {
        EXPECT_TRUE(waitFor([&] { return polled(s); }, 35000)) << output().toStdString();
        EXPECT_TRUE(waitForLog("Serial port reopened: " + linkPath, 1000));
        EXPECT_TRUE(waitFor(
            [&] {
                return !s.executedEvents({55, 1}).empty();
            },
            15000))
            << output().toStdString();
        EXPECT_EQ(velmar.state(), QProcess::Running);
    }
    static bool polled(const sim::Simulator& s) {
        for (const auto& f : s.frames())
            if (f.bytes == kPoll)
                return true;
        return false;
    }
    int lines(const QString& text) { return static_cast<int>(output().count(text)); }
    // A request dropped into "emails\" while the port is closed, executed once it is back.
    void requestDuringOutage() { tmp.write("emails/r1.run", "Kitchen; Lights On\r\n"); }

    const QString linkPath = tmp.path(QStringLiteral("ttyBus"));
};

TEST_F(SerialReconnectE2e, LineComesBackOnAnotherTerminalBehindTheRepointedName) {
    point(sim.ptyPath());
    launch();
    ASSERT_TRUE(waitForLog("Serial port opened: " + linkPath + " (115200 bit/s)"))
        << output().toStdString();
    ASSERT_TRUE(waitFor([&] { return polled(sim); }, 15000)) << output().toStdString();

    sim.stop();  // its terminal closes: velmar's line hangs up
    unpoint();
    ASSERT_TRUE(
        waitFor([&] { return lines("Error reading com: ") + lines("Error writing com: "); }, 5000))
        << output().toStdString();
    requestDuringOutage();
    pump(5000);

    sim::Simulator next;
    ASSERT_TRUE(next.addController({55, 1}, ControllerType::Quartel));
    ASSERT_TRUE(next.start());
    point(next.ptyPath());
    expectHealedOn(next);

    const int failures = lines("Error reading com: ") + lines("Error writing com: ");
    const int dropped = lines("frames to the bus are dropped");
    EXPECT_EQ(failures, 1) << output().toStdString();
    EXPECT_LE(dropped, 1);
    EXPECT_LE(failures + dropped + lines("error opening com"), 3) << output().toStdString();
    EXPECT_EQ(lines("cant set comm params"), 0);
    EXPECT_EQ(lines("Serial port reopened: "), 1);
    EXPECT_EQ(stopVelmar(), 0);
    next.stop();
}

TEST_F(SerialReconnectE2e, MissingPortIsOpenedWhenItAppears) {
    launch();
    ASSERT_TRUE(waitForLog("Cant connect to com: check port settings in \"com.cfg\" file"))
        << output().toStdString();
    requestDuringOutage();
    pump(10000);
    EXPECT_FALSE(polled(sim));

    point(sim.ptyPath());
    expectHealedOn(sim);

    // The tries at 1, 3 and 7 s failed in silence.
    EXPECT_EQ(lines("Cant connect to com: "), 1) << output().toStdString();
    EXPECT_EQ(lines("error opening com: " + linkPath + " -> "), 1);
    EXPECT_LE(lines("frames to the bus are dropped"), 1);
    EXPECT_EQ(lines("Serial port opened"), 0);
    EXPECT_EQ(stopVelmar(), 0);
}

}  // namespace
}  // namespace velmar::test
