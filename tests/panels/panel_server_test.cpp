#include "panels/panel_server.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTcpSocket>
#include <QThread>
#include <functional>
#include <memory>
#include <vector>

#include "base/data_root.h"
#include "log/event_log.h"
#include "support/temp_root.h"

namespace velmar {
namespace {

using Socket = std::unique_ptr<QTcpSocket>;

const LoginKey kKey{0, 3, 141, 59, 26, 53, 58, 97, 93};
const QByteArray kChallenge("\x59\x0c\x0b\x0a\x09\x0c", 6);

// Wall time stands still (the challenge is known); time-outs run on the real monotonic clock.
class StillClock final : public Clock {
  public:
    QDateTime now() const override { return QDateTime(QDate(2026, 12, 9), QTime(10, 11, 12, 345)); }
    std::int64_t monotonicMs() const override { return system_.monotonicMs(); }

  private:
    SystemClock system_;
};

bool waitUntil(const std::function<bool()>& done, int ms = 5000) {
    QDeadlineTimer deadline(ms);
    while (!done() && !deadline.hasExpired()) {
        QCoreApplication::processEvents();
        QThread::msleep(5);
    }
    return done();
}

// Exactly n bytes, or what came before the time-out or the end of the connection.
QByteArray readN(QTcpSocket& s, int n, int ms = 5000) {
    QDeadlineTimer deadline(ms);
    QByteArray out;
    while (out.size() < n && !deadline.hasExpired()) {
        if (!s.bytesAvailable() && !s.waitForReadyRead(50) &&
            s.state() != QAbstractSocket::ConnectedState)
            break;
        out += s.read(n - out.size());
    }
    return out;
}

// Everything until the server closes the connection.
QByteArray readToEnd(QTcpSocket& s, int ms = 5000) {
    QDeadlineTimer deadline(ms);
    while (s.state() == QAbstractSocket::ConnectedState && !deadline.hasExpired())
        s.waitForReadyRead(50);
    return s.readAll();
}

void send(QTcpSocket& s, const QByteArray& bytes) {
    s.write(bytes);
    s.waitForBytesWritten(1000);
}

QByteArray answer(const QByteArray& challenge) {
    const auto r =
        CalculateChalangeResponse(reinterpret_cast<const std::uint8_t*>(challenge.data()), kKey);
    return QByteArray(reinterpret_cast<const char*>(r.data()), 13);
}

// A status record as the manager publishes it: L = 0x34, then the device.
QByteArray statusRecord(int device, char fill) {
    QByteArray r(53, fill);
    r[0] = 0x34;
    r[1] = static_cast<char>(device >> 8);
    r[2] = static_cast<char>(device & 0xFF);
    return r;
}

class PanelServerTest : public ::testing::Test {
  protected:
    PanelServerTest() : root_(tmp_.root()), log_(root_, clock_) {
        tmp_.mkdir("logs");
        log_.setSink([this](const QString& text) { lines_ << text; });
    }

    void start(int maxConnections = 200) {
        PanelServerOptions o;
        o.listenAddress = QHostAddress::LocalHost;
        o.port = 0;
        o.maxConnections = maxConnections;
        QString error;
        ASSERT_TRUE(server_.start(o, &error)) << error.toStdString();
    }
    Socket connectClient(bool readChallenge = true) {
        auto s = std::make_unique<QTcpSocket>();
        s->connectToHost(QHostAddress::LocalHost, server_.port());
        EXPECT_TRUE(s->waitForConnected(5000));
        if (readChallenge) {
            EXPECT_EQ(readN(*s, 6), kChallenge);
        }
        return s;
    }
    Socket login() {
        auto s = connectClient();
        send(*s, answer(kChallenge));
        EXPECT_EQ(readN(*s, 1), ">");
        return s;
    }
    Socket panel() {
        auto s = login();
        send(*s, QByteArray("\x01x", 2));
        return s;
    }
    int logged(const QString& part) {
        QCoreApplication::processEvents();
        return static_cast<int>(lines_.filter(part).size());
    }

    test::TempRoot tmp_;
    StillClock clock_;
    DataRoot root_;
    EventLog log_;
    QStringList lines_;
    PanelServer server_{log_, clock_, kKey};
};

TEST_F(PanelServerTest, FortyPanelsStreamTheFortyFirstGetsNothing) {
    start();
    std::vector<Socket> panels;
    for (int i = 0; i < 41; ++i) {
        panels.push_back(panel());
        ASSERT_TRUE(waitUntil([&] { return logged("Connecting Visualisation Panel: ") == i + 1; }));
    }
    EXPECT_EQ(server_.panelCount(), 40);
    EXPECT_EQ(server_.connectionCount(), 41);
    const QByteArray record = statusRecord(0x3701, 'k');
    ASSERT_TRUE(record.startsWith(QByteArray("\x34\x37\x01")));
    server_.publish(record + "not part of the record");
    for (std::size_t i = 0; i < 40; ++i)
        EXPECT_EQ(readN(*panels[i], 53).toHex(), record.toHex()) << i;
    EXPECT_FALSE(panels[40]->waitForReadyRead(300));

    // A panel that sends 0 is dropped; the others go on.
    send(*panels[1], QByteArray(1, '\0'));
    EXPECT_EQ(readToEnd(*panels[1]), QByteArray());
    EXPECT_TRUE(waitUntil([&] { return server_.panelCount() == 39; }));
    const QByteArray next = statusRecord(0x3702, 'z');
    server_.publish(next);
    for (std::size_t i = 0; i < 40; ++i) {
        if (i != 1) {
            EXPECT_EQ(readN(*panels[i], 53), next) << i;
        }
    }
    EXPECT_FALSE(panels[40]->waitForReadyRead(300));
    for (auto& p : panels)
        EXPECT_EQ(p->bytesAvailable(), 0);
}

TEST_F(PanelServerTest, PanelThatDoesNotReadIsDropped) {
    start();
    // A small receive window, so that the server's buffers fill soon.
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    const int window = 4096;
    ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &window, sizeof window);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(server_.port());
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::connect(fd, reinterpret_cast<const sockaddr*>(&to), sizeof to), 0);
    QTcpSocket stuck;
    ASSERT_TRUE(stuck.setSocketDescriptor(fd));
    send(stuck, answer(readN(stuck, 6)));
    EXPECT_EQ(readN(stuck, 1), ">");
    send(stuck, QByteArray("\x01x", 2));
    ASSERT_TRUE(waitUntil([&] { return server_.panelCount() == 1; }));
    // Distinct devices, so that every record goes out at once; 16 MiB at most.
    QByteArray record(256, 'x');
    record[0] = static_cast<char>(255);
    for (int device = 0; device < 65536 && server_.panelCount() == 1; ++device) {
        record[1] = static_cast<char>(device >> 8);
        record[2] = static_cast<char>(device & 0xFF);
        server_.publish(record);
        if (device % 1000 == 999)
            waitUntil([&] { return server_.panelCount() == 0; }, 20);
    }
    EXPECT_TRUE(waitUntil([&] { return server_.connectionCount() == 0; }));
    EXPECT_TRUE(waitUntil([&] { return logged("Dropping Visualisation Panel 127.0.0.1 (") == 1; }));
}

TEST_F(PanelServerTest, ConnectionsBeyondTheCapAreClosedAtOnceAndStarveNoPanel) {
    start(10);
    auto streaming = panel();
    std::vector<Socket> others;  // panels have no time-out: they keep their room
    for (int i = 0; i < 9; ++i)
        others.push_back(panel());
    ASSERT_TRUE(waitUntil([&] { return server_.panelCount() == 10; }));
    // A flood beyond the cap, half of it sending garbage: closed by the server without a byte.
    // A session would have sent its challenge first, so no challenge means no session (and no
    // login time-out) was ever made for them.
    std::vector<Socket> flood;
    for (int i = 0; i < 30; ++i) {
        flood.push_back(connectClient(false));
        if (i % 2 == 0)
            send(*flood.back(), QByteArray(40, static_cast<char>(i)));
    }
    for (auto& s : flood) {
        EXPECT_EQ(readToEnd(*s, 10000), QByteArray());
        EXPECT_NE(s->state(), QAbstractSocket::ConnectedState);
    }
    EXPECT_EQ(server_.connectionCount(), 10);
    const QByteArray record = statusRecord(0x3703, 'f');
    server_.publish(record);
    EXPECT_EQ(readN(*streaming, 53, 3000), record);
    others.clear();
    ASSERT_TRUE(waitUntil([&] { return server_.connectionCount() == 1; }));
    connectClient();  // room again: it gets its challenge
}

TEST_F(PanelServerTest, StopClosesEverything) {
    start();
    auto p1 = panel();
    auto p2 = panel();
    auto submitting = login();
    send(*submitting, QByteArray("\x14\x01\x02", 3));
    auto unanswered = connectClient();
    ASSERT_TRUE(waitUntil([&] { return server_.panelCount() == 2; }));
    const std::uint16_t port = server_.port();
    EXPECT_EQ(server_.stop(), QString());
    for (QTcpSocket* s : {p1.get(), p2.get(), submitting.get(), unanswered.get()})
        EXPECT_EQ(readToEnd(*s), QByteArray());
    EXPECT_EQ(server_.panelCount(), 0);
    EXPECT_EQ(server_.connectionCount(), 0);
    server_.publish(statusRecord(0x3701, 'a'));  // harmless now
    QTcpSocket late;
    late.connectToHost(QHostAddress::LocalHost, port);
    EXPECT_FALSE(late.waitForConnected(1000));
}

TEST_F(PanelServerTest, StartFailsOnABusyPort) {
    start();
    PanelServer second(log_, clock_, kKey);
    PanelServerOptions o;
    o.listenAddress = QHostAddress::LocalHost;
    o.port = server_.port();
    QString error;
    EXPECT_FALSE(second.start(o, &error));
    EXPECT_FALSE(error.isEmpty());
}

TEST(ReadTcpTxtTest, Lines) {
    struct Case {
        const char* file;  // nullptr: no file
        std::uint16_t port;
        QHostAddress address;
        int cap;
        int logged;
    };
    const Case cases[] = {
        {nullptr, 9876, QHostAddress::Any, 200, 0},
        {"2\r\n", 2, QHostAddress::Any, 200, 0},
        {"10000\r\n127.0.0.1\r\n10000\r\n", 10000, QHostAddress::LocalHost, 10000, 0},
        {"1\r\n\r\n0\r\n", 9876, QHostAddress::Any, 200, 0},
        {"10001\r\n::1\r\n1", 9876, QHostAddress::LocalHostIPv6, 1, 0},
        {"abc\r\nnot an address\r\n50", 9876, QHostAddress::Any, 50, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file ? c.file : "no file");
        test::TempRoot tmp;
        tmp.mkdir("logs");
        if (c.file)
            tmp.write("tcp.txt", c.file);
        StillClock clock;
        DataRoot root(tmp.root());
        EventLog log(root, clock);
        int lines = 0;
        log.setSink([&](const QString&) { ++lines; });
        const PanelServerOptions o = readTcpTxt(root, log);
        EXPECT_EQ(o.port, c.port);
        EXPECT_EQ(o.listenAddress, c.address);
        EXPECT_EQ(o.maxConnections, c.cap);
        EXPECT_EQ(lines, c.logged);
    }
}

}  // namespace
}  // namespace velmar
