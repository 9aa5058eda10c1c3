#include "bus/serial_link.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFile>
#include <QThread>
#include <functional>
#include <mutex>

#include "log/runtime.h"
#include "support/fake_clock.h"
#include "support/temp_root.h"

namespace velmar {
namespace {

const QByteArray kReset(
    "\x06\x00\x00"
    "eRESET",
    9);

// A pseudo-terminal pair. The test keeps the slave open as the simulator does, so that the
// settings the link gave the line stay readable; closing the master hangs the line up.
struct Pty {
    Pty() {
        char name[128] = {};
        if (::openpty(&master, &slave, name, nullptr, nullptr) != 0)
            return;
        path = QString::fromLocal8Bit(name);
        ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);
    }
    ~Pty() {
        closeMaster();
        if (slave >= 0)
            ::close(slave);
    }
    void closeMaster() {
        if (master >= 0)
            ::close(master);
        master = -1;
    }
    // What the link wrote, until `n` bytes came or the deadline passed.
    QByteArray read(int n, int timeoutMs) const {
        QByteArray got;
        QDeadlineTimer deadline(timeoutMs);
        while (got.size() < n && !deadline.hasExpired()) {
            pollfd p{master, POLLIN, 0};
            if (::poll(&p, 1, 20) <= 0)
                continue;
            char buf[256];
            const ssize_t r = ::read(master, buf, sizeof buf);
            if (r > 0)
                got.append(buf, r);
        }
        return got;
    }
    // The settings a serial line needs: the rate, 8 data bits, 1 stop bit, no flow control.
    bool settingsAre(speed_t speed) const {
        termios t{};
        return ::tcgetattr(slave, &t) == 0 && cfgetospeed(&t) == speed &&
               (t.c_cflag & CSIZE) == CS8 && !(t.c_cflag & CSTOPB) && !(t.c_cflag & CRTSCTS) &&
               !(t.c_iflag & (IXON | IXOFF));
    }

    int master = -1;
    int slave = -1;
    QString path;
};

double cpuMs() {
    timespec ts{};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return ts.tv_sec * 1000.0 + ts.tv_nsec / 1e6;
}

class SerialLinkTest : public ::testing::Test {
  protected:
    SerialLinkTest() {
        tmp.mkdir("logs");
        rt.log.setSink([this](const QString& text) {
            std::lock_guard lock(mutex);
            lines += text.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        });
        QObject::connect(
            &link, &SerialLink::blockReceived, &link,
            [this](const QByteArray& b) {
                std::lock_guard lock(mutex);
                received += b;
            },
            Qt::DirectConnection);
    }
    ~SerialLinkTest() override { link.stop(2000); }

    int count(const QString& text) {
        std::lock_guard lock(mutex);
        int n = 0;
        for (const QString& l : lines)
            n += l.contains(text) ? 1 : 0;
        return n;
    }
    QString log() {
        std::lock_guard lock(mutex);
        return lines.join(QLatin1Char('\n'));
    }
    QByteArray receivedBytes() {
        std::lock_guard lock(mutex);
        return received;
    }
    static bool waitFor(const std::function<bool()>& done, int timeoutMs) {
        QDeadlineTimer deadline(timeoutMs);
        while (!done()) {
            if (deadline.hasExpired())
                return false;
            QThread::msleep(10);
        }
        return true;
    }
    // Points the port's symlink at `target` in one step, as udev does.
    void repoint(const QString& target) {
        const QString next = linkPath + QStringLiteral(".new");
        QFile::remove(next);
        ASSERT_EQ(::symlink(target.toLocal8Bit().constData(), next.toLocal8Bit().constData()), 0);
        ASSERT_EQ(::rename(next.toLocal8Bit().constData(), linkPath.toLocal8Bit().constData()), 0);
    }
    // Both directions carry bytes through the link and the pseudo-terminal.
    void expectTraffic(const Pty& pty) {
        link.writeFrame(kReset);
        EXPECT_EQ(pty.read(kReset.size(), 5000), kReset);
        const QByteArray answer("\x37\x01lOK", 5);
        const QByteArray before = receivedBytes();
        ASSERT_EQ(::write(pty.master, answer.constData(), answer.size()), answer.size());
        EXPECT_TRUE(waitFor([&] { return receivedBytes() == before + answer; }, 5000));
    }

    test::TempRoot tmp;
    test::FakeClock clock;
    Runtime rt{tmp.root(), clock};
    std::mutex mutex;
    QStringList lines;
    QByteArray received;
    const QString linkPath = tmp.path(QStringLiteral("ttyBus"));
    SerialLink link{rt};
};

TEST_F(SerialLinkTest, HangUpIsOneLineAndThePortComesBackBehindTheRepointedSymlink) {
    Pty first;
    ASSERT_FALSE(first.path.isEmpty());
    repoint(first.path);
    link.start({linkPath, 9600});
    ASSERT_TRUE(
        waitFor([&] { return count("Serial port opened: " + linkPath + " (9600 bit/s)"); }, 5000))
        << log().toStdString();
    EXPECT_TRUE(first.settingsAre(B9600));
    expectTraffic(first);

    // The adapter goes: its line hangs up and its name vanishes.
    first.closeMaster();
    ASSERT_TRUE(waitFor([&] { return !link.isOpen(); }, 5000));
    ASSERT_EQ(::unlink(linkPath.toLocal8Bit().constData()), 0);
    for (int i = 0; i < 3; ++i)
        link.writeFrame(kReset);
    // Tries at 1 s and 3 s fail in silence; nothing spins meanwhile.
    const double cpuBefore = cpuMs();
    QThread::msleep(1500);
    EXPECT_LT(cpuMs() - cpuBefore, 300.0);
    EXPECT_EQ(count("Error reading com: " + linkPath + " -> hang-up"), 1) << log().toStdString();
    EXPECT_EQ(count("Error writing com"), 0);
    EXPECT_EQ(count("error opening com"), 0);
    EXPECT_EQ(count("Serial port " + linkPath +
                    " closed: frames to the bus are dropped until it is reopened"),
              1);

    Pty second;
    repoint(second.path);
    ASSERT_TRUE(waitFor([&] { return count("Serial port reopened: " + linkPath); }, 10000))
        << log().toStdString();
    EXPECT_TRUE(log().endsWith(" :    Serial port reopened: " + linkPath)) << log().toStdString();
    EXPECT_EQ(rt.counters.serialReconnects.load(), 1);
    EXPECT_TRUE(second.settingsAre(B9600));
    // Only frames written after the reopening reach the new line.
    expectTraffic(second);
    EXPECT_EQ(second.read(1, 200), QByteArray());
    EXPECT_EQ(count("Serial port opened"), 1);

    // Gone again at once: a port that keeps failing soon after each opening is not told about
    // on every round, neither its failures nor its reopenings.
    Pty third;
    repoint(third.path);
    second.closeMaster();
    ASSERT_TRUE(waitFor([&] { return rt.counters.serialReconnects.load() == 2; }, 10000))
        << log().toStdString();
    expectTraffic(third);
    EXPECT_EQ(count("Error reading com: "), 1) << log().toStdString();
    EXPECT_EQ(count("Serial port reopened: "), 1) << log().toStdString();
}

TEST_F(SerialLinkTest, MissingDeviceIsTriedUntilItAppears) {
    link.start({linkPath, 9600});
    ASSERT_TRUE(waitFor([&] { return count("error opening com: " + linkPath + " -> "); }, 5000));
    EXPECT_EQ(count("Cant connect to com: check port settings in \"com.cfg\" file"), 1);
    link.writeFrame(kReset);
    link.writeFrame(kReset);
    EXPECT_EQ(count("frames to the bus are dropped"), 1);

    Pty pty;
    repoint(pty.path);
    ASSERT_TRUE(waitFor([&] { return count("Serial port reopened: " + linkPath); }, 10000))
        << log().toStdString();
    EXPECT_EQ(count("error opening com"), 1) << log().toStdString();
    EXPECT_EQ(count("Serial port opened"), 0);
    EXPECT_EQ(rt.counters.serialReconnects.load(), 1);
    EXPECT_TRUE(pty.settingsAre(B9600));
    expectTraffic(pty);
}

TEST_F(SerialLinkTest, StopEndsTheWaitBetweenTwoTries) {
    link.start({linkPath, 9600});
    ASSERT_TRUE(waitFor([&] { return count("error opening com: "); }, 5000));
    // Past the first try again: inside the 2 s wait before the next.
    QThread::msleep(1500);
    QElapsedTimer stopping;
    stopping.start();
    link.stop(5000);
    EXPECT_LT(stopping.elapsed(), 1000);
    EXPECT_FALSE(link.isOpen());
    EXPECT_EQ(count("Error stopping"), 0);
}

TEST_F(SerialLinkTest, PseudoTerminalSettingsAreNotedWithDebugOnly) {
    for (const bool debug : {false, true}) {
        SCOPED_TRACE(debug ? "/debug" : "no /debug");
        rt.flags.debugtimer = debug;
        Pty pty;
        repoint(pty.path);
        {
            SerialLink own(rt);
            own.start({linkPath, 115200});
            ASSERT_TRUE(waitFor([&] { return count("Serial port opened: " + linkPath); }, 5000));
            EXPECT_TRUE(pty.settingsAre(B115200));
        }
        EXPECT_EQ(count("cant set comm params"), 0) << log().toStdString();
        EXPECT_EQ(count(" is a pseudo-terminal: it does not take the setting parity"),
                  debug ? 1 : 0)
            << log().toStdString();
        std::lock_guard lock(mutex);
        lines.clear();
    }
}

}  // namespace
}  // namespace velmar
