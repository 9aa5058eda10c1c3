#include "sim/sim_main.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>
#include <future>

#include "sim/bus_frames.h"

namespace velmar::sim {
namespace {

// A pipe whose ends close with the object.
struct Pipe {
    Pipe() { EXPECT_EQ(pipe2(fds, O_CLOEXEC), 0); }
    ~Pipe() {
        closeRead();
        closeWrite();
    }
    void closeRead() {
        if (fds[0] >= 0) {
            ::close(fds[0]);
            fds[0] = -1;
        }
    }
    void closeWrite() {
        if (fds[1] >= 0) {
            ::close(fds[1]);
            fds[1] = -1;
        }
    }
    void write(const QByteArray& bytes) {
        ASSERT_EQ(::write(fds[1], bytes.constData(), bytes.size()), bytes.size());
    }
    // One line without its "\n"; empty after the deadline.
    QByteArray readLine(int timeoutMs = 5000) {
        QByteArray line;
        const std::int64_t deadline = monotonicUs() / 1000 + timeoutMs;
        for (;;) {
            pollfd p{fds[0], POLLIN, 0};
            const std::int64_t left = deadline - monotonicUs() / 1000;
            if (left <= 0 || ::poll(&p, 1, static_cast<int>(left)) <= 0) {
                return {};
            }
            char c;
            if (::read(fds[0], &c, 1) != 1) {
                return {};
            }
            if (c == '\n') {
                return line;
            }
            line.append(c);
        }
    }
    QByteArray readAll() {
        QByteArray all;
        char buffer[4096];
        ssize_t n;
        while ((n = ::read(fds[0], buffer, sizeof buffer)) > 0) {
            all.append(buffer, n);
        }
        return all;
    }
    int fds[2] = {-1, -1};
};

// velmar-sim run on a thread with pipes for its standard streams and its stop signal.
class SimRun {
  public:
    explicit SimRun(const QStringList& args) {
        result_ = std::async(std::launch::async, [this, args] {
            const int code = runSimulator(args, in.fds[0], out.fds[1], err.fds[1], stop.fds[0]);
            out.closeWrite();
            err.closeWrite();
            return code;
        });
    }
    ~SimRun() {
        if (result_.valid()) {
            stop.write("x");
            result_.wait();
        }
    }
    int wait() { return result_.get(); }

    Pipe in, out, err, stop;

  private:
    std::future<int> result_;
};

// The PC side of the terminal, raw.
int openPc(const QByteArray& path) {
    const int fd = ::open(path.constData(), O_RDWR | O_NOCTTY);
    termios t{};
    tcgetattr(fd, &t);
    cfmakeraw(&t);
    tcsetattr(fd, TCSANOW, &t);
    return fd;
}

QByteArray readExactly(int fd, qsizetype count) {
    QByteArray bytes;
    while (bytes.size() < count) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 5000) <= 0) {
            break;
        }
        char buffer[256];
        const ssize_t n =
            ::read(fd, buffer, std::min<qsizetype>(sizeof buffer, count - bytes.size()));
        if (n <= 0) {
            break;
        }
        bytes.append(buffer, n);
    }
    return bytes;
}

TEST(SimMainTest, ControllersFromArgumentsAndCommandsFromInput) {
    QTemporaryDir dir;
    const QString record = dir.filePath(QStringLiteral("rec.txt"));
    SimRun run({QStringLiteral("55-1:quartel"), QStringLiteral("--record"), record,
                QStringLiteral("2-1:outrel")});
    const QByteArray first = run.out.readLine();
    ASSERT_TRUE(first.startsWith("pty /dev/pts/")) << first.toStdString();
    const int pc = openPc(first.mid(4));
    ASSERT_GE(pc, 0);

    const QByteArray query = QByteArray::fromHex("01020171");
    ASSERT_EQ(::write(pc, query.constData(), query.size()), query.size());
    EXPECT_EQ(readExactly(pc, 144).left(3), QByteArray::fromHex("020173"));

    run.in.write("set 55-1 out 1 1\nnonsense\n\nstatus 55-1\ntext 55-1 two words  kept\nframes\n");
    EXPECT_EQ(run.out.readLine(), "ok");
    EXPECT_EQ(run.out.readLine(), "error: unknown command 'nonsense'");
    const QByteArray status = run.out.readLine();
    EXPECT_EQ(status.left(9), "37 01 73 ");
    EXPECT_EQ(status.split(' ').value(19), "01");
    EXPECT_EQ(run.out.readLine(), "ok");
    EXPECT_EQ(run.out.readLine(), "ok");
    EXPECT_EQ(readExactly(pc, 18), QByteArray("\x37\x01two words  kept", 17) + '\0');
    const QByteArray frameLine = run.out.readLine();
    EXPECT_TRUE(frameLine.endsWith(" 01 02 01 71")) << frameLine.toStdString();
    EXPECT_EQ(run.out.readLine(), "ok");

    run.in.write("quit\n");
    EXPECT_EQ(run.wait(), 0);
    ::close(pc);
    QFile file(record);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), frameLine + '\n');
}

TEST(SimMainTest, EndOfInputDoesNotEndTheSimulatorButTheStopSignalDoes) {
    SimRun run({QStringLiteral("55-1:quartel")});
    const QByteArray first = run.out.readLine();
    ASSERT_TRUE(first.startsWith("pty "));
    run.in.closeWrite();
    const int pc = openPc(first.mid(4));
    const QByteArray query = QByteArray::fromHex("01370171");
    ASSERT_EQ(::write(pc, query.constData(), query.size()), query.size());
    EXPECT_EQ(readExactly(pc, 104).size(), 104);
    ::close(pc);
    run.stop.write("x");
    EXPECT_EQ(run.wait(), 0);
}

TEST(SimMainTest, BadArgumentsEndWithUsage) {
    const QStringList cases[] = {
        {QStringLiteral("55-1:robot")},
        {QStringLiteral("55-1")},
        {QStringLiteral("quartel:55-1")},
        {QStringLiteral("--record")},
        {QStringLiteral("--bogus")},
        {QStringLiteral("55-1:quartel"), QStringLiteral("55-1:outrel")},
        {QStringLiteral("--config"), QStringLiteral("/nonexistent/sim.cfg")},
    };
    for (const QStringList& args : cases) {
        SimRun run(args);
        EXPECT_EQ(run.wait(), 2) << args.join(' ').toStdString();
        EXPECT_TRUE(run.out.readAll().isEmpty()) << args.join(' ').toStdString();
        EXPECT_TRUE(run.err.readAll().startsWith("velmar-sim: ")) << args.join(' ').toStdString();
    }
}

TEST(SimMainTest, ConfigurationFileRunsBeforeThePtyLine) {
    QTemporaryDir dir;
    const QString good = dir.filePath(QStringLiteral("good.cfg"));
    const QString bad = dir.filePath(QStringLiteral("bad.cfg"));
    {
        QFile f(good);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("# room controllers\n\nadd 55-3 quartel\r\nset 55-3 out 2 1\nlinkel on\n");
        QFile g(bad);
        ASSERT_TRUE(g.open(QIODevice::WriteOnly));
        g.write("add 55-3 quartel\nset 55-3 out 99 1\n");
    }
    {
        SimRun run({QStringLiteral("--config"), good});
        EXPECT_TRUE(run.out.readLine().startsWith("pty "));
        run.in.write("status 55-3\nquit\n");
        EXPECT_EQ(run.wait(), 0);
        EXPECT_EQ(run.out.readAll(), "37 03 73" + QByteArray(" 00").repeated(16) + " 02" +
                                         QByteArray(" 00").repeated(32) + "\nok\nok\n");
    }
    {
        SimRun run({QStringLiteral("--config"), bad});
        EXPECT_EQ(run.wait(), 2);
        EXPECT_TRUE(run.out.readAll().isEmpty());
        const QByteArray err = run.err.readAll();
        EXPECT_TRUE(err.contains("bad.cfg:2: output must be 1..32")) << err.toStdString();
    }
}

}  // namespace
}  // namespace velmar::sim
