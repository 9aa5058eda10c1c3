#include "sim/simulator.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>

namespace velmar::sim {
namespace {

QByteArray hex(const char* text) {
    return QByteArray::fromHex(text);
}

// A text message as the PC expects it with direct addressing: sender, text, zero byte.
QByteArray message(int high, int low, const char* text) {
    return QByteArray(1, char(high)) + char(low) + text + '\0';
}

std::int64_t nowMs() {
    return monotonicUs() / 1000;
}

// The PC's end of the line: the slave side of the pseudo-terminal, raw.
class PcSide {
  public:
    explicit PcSide(const QString& path) {
        fd_ = ::open(path.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        EXPECT_GE(fd_, 0) << path.toStdString();
        termios t{};
        tcgetattr(fd_, &t);
        cfmakeraw(&t);
        tcsetattr(fd_, TCSANOW, &t);
    }
    ~PcSide() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    int fd() const { return fd_; }

    void send(const QByteArray& bytes) {
        ASSERT_EQ(::write(fd_, bytes.constData(), bytes.size()), bytes.size());
    }

    // Exactly `count` bytes, or what arrived by the deadline. Tests read by length rather than
    // by silence: a test thread held up by a busy machine must not merge or split answers.
    QByteArray read(qsizetype count, int timeoutMs = 3000) {
        QByteArray bytes;
        const std::int64_t deadline = nowMs() + timeoutMs;
        while (bytes.size() < count) {
            const std::int64_t left = deadline - nowMs();
            pollfd p{fd_, POLLIN, 0};
            if (left <= 0 || ::poll(&p, 1, static_cast<int>(left)) <= 0) {
                break;
            }
            char buffer[512];
            const ssize_t n =
                ::read(fd_, buffer, std::min<qsizetype>(sizeof buffer, count - bytes.size()));
            if (n > 0) {
                bytes.append(buffer, n);
            }
        }
        return bytes;
    }
    // Reads what `expected` holds.
    QByteArray readLike(const QByteArray& expected) { return read(expected.size()); }

  private:
    int fd_ = -1;
};

class SimulatorTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(dir_.isValid());
        Simulator::Options options;
        options.recordPath = dir_.filePath(QStringLiteral("frames.txt"));
        sim_ = std::make_unique<Simulator>(options);
        ASSERT_TRUE(sim_->addController({55, 1}, ControllerType::Quartel));
        ASSERT_TRUE(sim_->addController({55, 2}, ControllerType::Quartel));
        ASSERT_TRUE(sim_->addController({2, 1}, ControllerType::Outrel));
        QString error;
        ASSERT_TRUE(sim_->start(&error)) << error.toStdString();
        ASSERT_TRUE(sim_->ptyPath().startsWith(QLatin1String("/dev/pts/")));
        pc_ = std::make_unique<PcSide>(sim_->ptyPath());
    }

    QTemporaryDir dir_;
    std::unique_ptr<Simulator> sim_;
    std::unique_ptr<PcSide> pc_;
};

TEST_F(SimulatorTest, EchoesDirectFramesByteForByte) {
    pc_->send(hex("060000655245534554"));
    EXPECT_EQ(pc_->readLike(hex("0000655245534554")), hex("0000655245534554"));
    pc_->send(hex("0837016545560102030405"));
    EXPECT_EQ(pc_->readLike(hex("37016545560102030405")), hex("37016545560102030405"));
    // Bytes 0x00 and 0xFF pass unchanged in both directions.
    pc_->send(hex("06370200FF0D0A1100"));
    EXPECT_EQ(pc_->readLike(hex("370200FF0D0A1100")), hex("370200FF0D0A1100"));
}

TEST_F(SimulatorTest, EchoesLinkelFramesWithAddressesExchanged) {
    sim_->setLinkelAddressing(true);
    pc_->send(hex("080000FEFE655245534554"));
    EXPECT_EQ(pc_->readLike(hex("08FEFE0000655245534554")), hex("08FEFE0000655245534554"));
    pc_->send(hex("0A3701FEFE6545560102030405"));
    EXPECT_EQ(pc_->readLike(hex("0AFEFE37016545560102030405")), hex("0AFEFE37016545560102030405"));
    pc_->send(hex("043701FEFE4F4B"));
    EXPECT_EQ(pc_->readLike(hex("08FEFE37016C4558454300")), hex("08FEFE37016C4558454300"));
}

TEST_F(SimulatorTest, SilentAndNoConfirmControllersStayQuiet) {
    // Answers go out in order, 20 ms apart: had 55-1 answered, its answer would come first.
    ASSERT_TRUE(sim_->setSilent({55, 1}, true));
    pc_->send(hex("01370171"));
    pc_->send(hex("0837016545560102030405"));
    pc_->send(hex("01370271"));
    EXPECT_EQ(pc_->readLike(sim_->statusMessage({55, 2})->repeated(2)),
              sim_->statusMessage({55, 2})->repeated(2));

    ASSERT_TRUE(sim_->setSilent({55, 1}, false));
    ASSERT_TRUE(sim_->setNoConfirm({55, 1}, true));
    pc_->send(hex("0837016545560102030405"));
    pc_->send(hex("01370171"));
    EXPECT_EQ(pc_->readLike(sim_->statusMessage({55, 1})->repeated(2)),
              sim_->statusMessage({55, 1})->repeated(2));
}

TEST_F(SimulatorTest, BroadcastIsAnsweredOnce) {
    pc_->send(hex("060000655245534554"));
    pc_->send(hex("01370271"));
    EXPECT_EQ(pc_->readLike(hex("0000655245534554")), hex("0000655245534554"));
    EXPECT_EQ(pc_->readLike(sim_->statusMessage({55, 2})->repeated(2)),
              sim_->statusMessage({55, 2})->repeated(2));
}

TEST_F(SimulatorTest, RecordsEveryFrameWithItsTime) {
    const std::int64_t before = monotonicUs();
    pc_->send(hex("01370171"));
    ASSERT_TRUE(sim_->waitForFrame([](const QByteArray& f) { return f == hex("01370171"); }, 3000));
    ASSERT_EQ(pc_->read(104).size(), 104);  // the answer to the query
    // Garbage that claims 258 bytes is ended by silence, and the next frame is cut correctly.
    pc_->send(hex("FF0102"));
    ASSERT_TRUE(sim_->waitForFrame([](const QByteArray& f) { return f == hex("FF0102"); }, 3000));
    pc_->send(hex("060000655245534554"));
    EXPECT_EQ(pc_->readLike(hex("0000655245534554")), hex("0000655245534554"));
    ASSERT_TRUE(sim_->waitForFrame([](const QByteArray& f) { return f.startsWith('\x06'); }, 3000));
    const std::int64_t after = monotonicUs();

    const auto frames = sim_->frames();
    ASSERT_EQ(frames.size(), 3u);
    EXPECT_EQ(frames[0].bytes, hex("01370171"));
    EXPECT_TRUE(frames[0].complete);
    EXPECT_EQ(frames[1].bytes, hex("FF0102"));
    EXPECT_FALSE(frames[1].complete);
    EXPECT_TRUE(frames[2].complete);
    EXPECT_LE(before, frames[0].timeUs);
    EXPECT_LE(frames[0].timeUs, frames[1].timeUs);
    EXPECT_LE(frames[1].timeUs, frames[2].timeUs);
    EXPECT_LE(frames[2].timeUs, after);

    QFile file(dir_.filePath(QStringLiteral("frames.txt")));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = file.readAll().split('\n');
    ASSERT_EQ(lines.size(), 4);
    EXPECT_TRUE(lines[3].isEmpty());
    const QRegularExpression format(QStringLiteral("^(\\d+)\\.(\\d{3}) (.*)$"));
    const char* bytes[] = {"01 37 01 71", "FF 01 02", "06 00 00 65 52 45 53 45 54"};
    for (int i = 0; i < 3; ++i) {
        const auto m = format.match(QString::fromLatin1(lines[i]));
        ASSERT_TRUE(m.hasMatch()) << lines[i].toStdString();
        EXPECT_EQ(m.captured(3), QLatin1String(bytes[i]));
        EXPECT_EQ(m.captured(1).toLongLong() * 1000 + m.captured(2).toLongLong(), frames[i].timeUs);
        EXPECT_EQ(lines[i], frames[i].line());
    }
    sim_->clearFrames();
    EXPECT_TRUE(sim_->frames().empty());
    EXPECT_FALSE(sim_->waitForFrame([](const QByteArray&) { return true; }, 0));
}

TEST_F(SimulatorTest, TextRestartAndRawGoOutAsSeparateBlocks) {
    ASSERT_TRUE(sim_->sendText({55, 1}, "lALARM"));
    ASSERT_TRUE(sim_->announceRestart({55, 2}));
    sim_->writeToPc(hex("1A3701"));
    EXPECT_EQ(pc_->readLike(message(55, 1, "lALARM")), message(55, 1, "lALARM"));
    EXPECT_EQ(pc_->readLike(message(55, 2, "lRESTART")), message(55, 2, "lRESTART"));
    EXPECT_EQ(pc_->readLike(hex("1A3701")), hex("1A3701"));
    sim_->setLinkelAddressing(true);
    ASSERT_TRUE(sim_->announceRestart({2, 1}));
    EXPECT_EQ(pc_->readLike(hex("0BFEFE0201") + "lRESTART" + '\0'),
              hex("0BFEFE0201") + "lRESTART" + '\0');
}

TEST_F(SimulatorTest, ReportsTheLineSettingsThePcChose) {
    termios t{};
    ASSERT_EQ(tcgetattr(pc_->fd(), &t), 0);
    cfsetispeed(&t, B19200);
    cfsetospeed(&t, B19200);
    t.c_cflag |= CSTOPB | PARENB;
    ASSERT_EQ(tcsetattr(pc_->fd(), TCSANOW, &t), 0);
    const auto settings = sim_->lineSettings();
    ASSERT_TRUE(settings);
    EXPECT_EQ(settings->speed, 19200u);
    EXPECT_TRUE(settings->twoStopBits);
    EXPECT_EQ(settings->dataBits, 8);
    EXPECT_EQ(formatLineSettings(*settings).left(12), QLatin1String("speed 19200 "));
}

TEST(SimulatorLifeTest, StopsAndRestartsOnANewTerminal) {
    Simulator sim;
    EXPECT_TRUE(sim.ptyPath().isEmpty());
    ASSERT_TRUE(sim.start());
    EXPECT_TRUE(sim.running());
    sim.stop();
    EXPECT_FALSE(sim.running());
    EXPECT_FALSE(sim.lineSettings());
    ASSERT_TRUE(sim.addController({55, 1}, ControllerType::Quartel));
    ASSERT_TRUE(sim.start());
    PcSide pc(sim.ptyPath());
    pc.send(hex("01370171"));
    EXPECT_EQ(pc.read(104).size(), 104);
}

TEST(SimulatorLifeTest, RecordFileThatCannotBeWrittenFailsTheStart) {
    Simulator::Options options;
    options.recordPath = QStringLiteral("/nonexistent-dir/frames.txt");
    Simulator sim(options);
    QString error;
    EXPECT_FALSE(sim.start(&error));
    EXPECT_TRUE(error.contains(QLatin1String("/nonexistent-dir/frames.txt")));
    EXPECT_FALSE(sim.running());
}

}  // namespace
}  // namespace velmar::sim
