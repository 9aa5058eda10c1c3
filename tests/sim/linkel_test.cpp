#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <functional>
#include <vector>

#include "bus/linkel_config.h"
#include "devices/linkel_status.h"
#include "devices/status_decoder.h"
#include "sim/commands.h"
#include "sim/linkel.h"
#include "sim/sim_main.h"
#include "sim/simulator.h"

namespace velmar::sim {
namespace {

constexpr int kWaitMs = 5000;

QByteArray hex(const char* text) {
    return QByteArray::fromHex(text);
}

std::int64_t nowMs() {
    return monotonicUs() / 1000;
}

bool waitUntil(const std::function<bool()>& condition, int timeoutMs = kWaitMs) {
    const std::int64_t deadline = nowMs() + timeoutMs;
    while (!condition()) {
        if (nowMs() > deadline) {
            return false;
        }
        ::poll(nullptr, 0, 5);
    }
    return true;
}

// Exactly `count` bytes from fd, or what arrived by the deadline; `eof` tells whether the peer
// closed the connection (orderly or by a reset).
QByteArray readFd(int fd, qsizetype count, int timeoutMs = kWaitMs, bool* eof = nullptr) {
    QByteArray bytes;
    const std::int64_t deadline = nowMs() + timeoutMs;
    while (bytes.size() < count) {
        const std::int64_t left = deadline - nowMs();
        pollfd p{fd, POLLIN, 0};
        if (left <= 0 || ::poll(&p, 1, static_cast<int>(left)) <= 0) {
            break;
        }
        char buffer[512];
        const ssize_t n =
            ::read(fd, buffer, std::min<qsizetype>(sizeof buffer, count - bytes.size()));
        if (n <= 0) {
            if (eof) {
                *eof = true;
            }
            break;
        }
        bytes.append(buffer, n);
    }
    return bytes;
}

// The PC's end of the TCP connection.
class Client {
  public:
    explicit Client(std::uint16_t port) {
        fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.sin_port = htons(port);
        EXPECT_EQ(::connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    }
    ~Client() { ::close(fd_); }
    void send(const QByteArray& bytes) {
        ASSERT_EQ(::send(fd_, bytes.constData(), bytes.size(), MSG_NOSIGNAL), bytes.size());
    }
    QByteArray read(qsizetype count, int timeoutMs = kWaitMs) {
        return readFd(fd_, count, timeoutMs);
    }
    // True when the Linkel closes the connection within the wait; `rest` gets what came first.
    bool closes(QByteArray* rest = nullptr, int timeoutMs = kWaitMs) {
        bool eof = false;
        const QByteArray bytes = readFd(fd_, 1 << 16, timeoutMs, &eof);
        if (rest) {
            *rest = bytes;
        }
        return eof;
    }
    // One query-mode record: its first byte counts the bytes that follow.
    QByteArray record() {
        const QByteArray length = read(1);
        return length.isEmpty() ? length : length + read(static_cast<std::uint8_t>(length[0]));
    }

  private:
    int fd_ = -1;
};

// Key H[1..8] = 1..8 and a challenge of six zeros: r6 = H8^H3 = 0B, r7 = H7^H1 = 06,
// r8 = H6^H2 = 04, r9 = H5^H4 = 01, r10 = H1^H6 = 07, r11 = H7^H3 = 04.
const LinkelKey kKey{0, 1, 2, 3, 4, 5, 6, 7, 8};
const QByteArray kResponse = hex("000000000000 0B0604010704 0D");

class LinkelTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(sim_.addController({55, 1}, ControllerType::Quartel));
        ASSERT_TRUE(sim_.addController({85, 1}, ControllerType::Sensel));
        ASSERT_TRUE(sim_.addController({2, 1}, ControllerType::Outrel));
        ASSERT_TRUE(sim_.start());
        sim_.setLinkelChallenge({});
        QString error;
        ASSERT_TRUE(sim_.startLinkel(0, kKey, &error)) << error.toStdString();
        ASSERT_NE(sim_.linkelPort(), 0);
    }

    // Connects, reads the challenge, logs in and selects the mode.
    std::unique_ptr<Client> login(std::uint8_t mode) {
        auto client = std::make_unique<Client>(sim_.linkelPort());
        EXPECT_EQ(client->read(6), hex("000000000000"));
        client->send(kResponse);
        EXPECT_EQ(client->read(1), ">");
        client->send(QByteArray(1, static_cast<char>(mode)));
        EXPECT_TRUE(waitUntil([&] { return sim_.linkelMode() == mode; }));
        return client;
    }

    Simulator sim_;
};

TEST(LinkelResponse, MatchesTheManagersCalculation) {
    const LinkelChallenge challenges[] = {
        {}, {1, 2, 3, 4, 5, 6}, {0xFF, 0x80, 0x7F, 0, 0xA5, 0x5A}};
    const LinkelKey keys[] = {kKey, {0, 0xFF, 0xFE, 0x10, 0x20, 0x33, 0x44, 0x99, 0xC3}};
    for (const auto& c : challenges) {
        for (const auto& key : keys) {
            EXPECT_EQ(linkelResponse(c, key), CalculateChalangeResponse(c.data(), key));
        }
    }
}

TEST_F(LinkelTest, Login) {
    struct Case {
        const char* name;
        std::vector<QByteArray> writes;
        QByteArray reply;
        bool closes;
        bool accept = true;
        int timeoutMs = 5000;
    };
    std::vector<QByteArray> oneByOne;
    for (char byte : kResponse) {
        oneByOne.emplace_back(1, byte);
    }
    QByteArray wrongByte = kResponse;
    wrongByte[8] = 0x05;
    QByteArray wrongEnd = kResponse;
    wrongEnd[12] = 0x0C;
    const Case cases[] = {
        {"exact response", {kResponse}, ">", false},
        {"response in 13 writes", oneByOne, ">", false},
        {"wrong key byte", {wrongByte}, "", true},
        {"byte 12 not 13", {wrongEnd}, "", true},
        {"unknown mode byte", {kResponse + '\x02'}, ">", true},
        {"login refused", {kResponse}, "", false, false},
        {"12 bytes, then silence", {kResponse.left(12)}, "", true, true, 100},
        {"no mode byte in time", {kResponse}, ">", true, true, 1500},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        sim_.setLinkelAcceptLogin(c.accept);
        ASSERT_TRUE(sim_.setLinkelLoginTimeout(c.timeoutMs));
        {
            Client client(sim_.linkelPort());
            ASSERT_EQ(client.read(6), hex("000000000000"));
            for (const QByteArray& w : c.writes) {
                client.send(w);
            }
            if (c.closes) {
                QByteArray rest;
                EXPECT_TRUE(client.closes(&rest));
                EXPECT_EQ(rest, c.reply);
            } else {
                EXPECT_EQ(client.read(c.reply.size()), c.reply);
                // Nothing more comes, and the connection stays open.
                QByteArray rest;
                EXPECT_FALSE(client.closes(&rest, 300));
                EXPECT_TRUE(rest.isEmpty());
                EXPECT_TRUE(sim_.linkelClientConnected());
                EXPECT_EQ(sim_.linkelMode(), 0);
            }
        }
        ASSERT_TRUE(waitUntil([&] { return !sim_.linkelClientConnected(); }));
    }
    EXPECT_TRUE(sim_.frames().empty());
}

TEST_F(LinkelTest, OneClientAtATimeDropAndStop) {
    Client first(sim_.linkelPort());
    ASSERT_EQ(first.read(6).size(), 6);
    ASSERT_TRUE(waitUntil([&] { return sim_.linkelClientConnected(); }));
    QByteArray rest;
    Client second(sim_.linkelPort());
    EXPECT_TRUE(second.closes(&rest));
    EXPECT_TRUE(rest.isEmpty());

    sim_.dropLinkelClient();
    EXPECT_FALSE(sim_.linkelClientConnected());
    EXPECT_TRUE(first.closes());

    Client third(sim_.linkelPort());
    ASSERT_EQ(third.read(6).size(), 6);
    sim_.stopLinkel();
    EXPECT_EQ(sim_.linkelPort(), 0);
    EXPECT_TRUE(third.closes());
    ASSERT_TRUE(sim_.startLinkel(0, kKey));
    sim_.stop();
    EXPECT_EQ(sim_.linkelPort(), 0);
}

TEST(LinkelNetFile, PortAndKeyOrNothing) {
    // The address line is not the simulator's business (it listens on 127.0.0.1).
    const QByteArray good =
        "10.0.0.1\r\n0\r\n1\r\n2\r\n3\r\n4\r\n5\r\n6\r\n7\r\n255";  // parser test string
    const auto parsed = parseLinkelNet(good);
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->port, 0);
    EXPECT_EQ(parsed->key, (LinkelKey{0, 1, 2, 3, 4, 5, 6, 7, 255}));
    for (const char* bad :
         {"x\n65536\n1\n2\n3\n4\n5\n6\n7\n8\n", "x\n9\n1\n2\n3\n4\n5\n6\n7\n256\n",
          "x\n9\n1\n2\n-3\n4\n5\n6\n7\n8\n", "x\n9\n1\n2\n3\n4\n5\n6\n7\n"}) {
        EXPECT_FALSE(parseLinkelNet(bad)) << bad;
    }
}

TEST(LinkelCommands, ChangeTheRecordOrFail) {
    Simulator sim;
    CommandInterpreter commands(sim);
    struct Case {
        const char* line;
        bool ok;
        std::vector<std::pair<int, int>> changes;  // offset, value; nothing else may change
    };
    const Case cases[] = {
        {"linkel-out 160 on", true, {{123, 0x80}}},
        {"linkel-out 160 off", true, {{123, 0x00}}},
        {"linkel-adc 16 1023", true, {{102, 0x03}, {103, 0xFF}}},
        {"linkel-byte 172 5", true, {{172, 5}}},
        {"linkel-out 161 on", false, {}},
        {"linkel-out 1 1", false, {}},
        {"linkel-adc 1 1024", false, {}},
        {"linkel-byte 0 1", false, {}},
        {"linkel-query 0", false, {}},
        {"linkel-drop now", false, {}},
    };
    for (const Case& c : cases) {
        const QByteArray before = sim.linkelRecord();
        EXPECT_EQ(commands.run(c.line).ok, c.ok) << c.line;
        QByteArray expected = before;
        for (const auto& [offset, value] : c.changes)
            expected[offset] = static_cast<char>(value);
        EXPECT_EQ(sim.linkelRecord().toHex(' '), expected.toHex(' ')) << c.line;
    }
}

TEST(LinkelProgram, PrintsItsPortAfterThePty) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("linkelnet.cfg"));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("127.0.0.1\n0\n1\n2\n3\n4\n5\n6\n7\n8\n");
    file.close();
    int in[2], out[2];
    ASSERT_EQ(::pipe(in), 0);
    ASSERT_EQ(::pipe(out), 0);
    ASSERT_EQ(::write(in[1], "quit\n", 5), 5);
    ::close(in[1]);
    EXPECT_EQ(runSimulator({QStringLiteral("--linkel"), path}, in[0], out[1], out[1], -1), 0);
    ::close(out[1]);
    const QString printed = QString::fromLatin1(readFd(out[0], 4096));
    ::close(in[0]);
    ::close(out[0]);
    EXPECT_TRUE(printed.contains(QRegularExpression(
        QStringLiteral("^pty /dev/pts/\\d+\nlinkel 127\\.0\\.0\\.1:[1-9]\\d*\nok\n$"))))
        << printed.toStdString();
}

}  // namespace
}  // namespace velmar::sim
