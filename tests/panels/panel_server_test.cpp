#include "panels/panel_server.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>
#include <functional>
#include <memory>
#include <vector>

#include "base/data_root.h"
#include "base/run_counters.h"
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

// The log lines without their time stamps and line ends, one a line.
std::string texts(const QStringList& lines) {
    static const QRegularExpression stamp(
        QStringLiteral("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d :\\s*|\\r?\\n$"));
    QStringList out;
    for (const QString& line : lines)
        out << QString(line).remove(stamp);
    return out.join('\n').toStdString();
}

// A port that "tcp.txt" accepts (2..10000) and that nothing holds at the moment.
std::uint16_t freeTcpTxtPort() {
    for (int i = 0; i < 3000; ++i) {
        const auto candidate = static_cast<std::uint16_t>(7000 + (getpid() * 13 + i * 7) % 3000);
        QTcpServer one, two;
        if (one.listen(QHostAddress::LocalHost, candidate) &&
            two.listen(QHostAddress(QStringLiteral("127.0.0.2")), candidate))
            return candidate;
    }
    return 0;
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
    Socket connectClient(bool readChallenge = true,
                         const QHostAddress& to = QHostAddress::LocalHost) {
        auto s = std::make_unique<QTcpSocket>();
        s->connectToHost(to, server_.port());
        EXPECT_TRUE(s->waitForConnected(5000));
        if (readChallenge) {
            EXPECT_EQ(readN(*s, 6), kChallenge);
        }
        return s;
    }
    Socket login(const QHostAddress& to = QHostAddress::LocalHost) {
        auto s = connectClient(true, to);
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
    RunCounters counters_;
    PanelServer server_{log_, clock_, kKey, &counters_};
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

TEST_F(PanelServerTest, ListenIsRetriedUntilThePortIsFree) {
    auto holder = std::make_unique<QTcpServer>();
    ASSERT_TRUE(holder->listen(QHostAddress::LocalHost, 0));
    const std::uint16_t port = holder->serverPort();
    PanelServerOptions o;
    o.listenAddress = QHostAddress::LocalHost;
    o.port = port;
    QString error;
    EXPECT_FALSE(server_.start(o, &error));
    EXPECT_FALSE(server_.isListening());
    const QString where = QStringLiteral("127.0.0.1:") + QString::number(port);
    EXPECT_TRUE(error.endsWith(" (" + where + ")")) << error.toStdString();
    EXPECT_EQ(texts(lines_), ("Error Initializing server socket: " + error).toStdString());
    // The retry after 1 s fails as well, quietly.
    ASSERT_TRUE(waitUntil([&] { return server_.listenFailures() >= 2; }, 10000));
    EXPECT_EQ(logged("Error Initializing server socket: "), 1);
    EXPECT_EQ(logged("Panel server"), 0);
    holder.reset();
    // Both are set on the network thread, one after the other.
    ASSERT_TRUE(
        waitUntil([&] { return server_.isListening() && server_.listenFailures() == 0; }, 15000));
    EXPECT_EQ(server_.port(), port);
    auto p = panel();
    ASSERT_TRUE(waitUntil([&] { return logged("Connecting Visualisation Panel: ") == 1; }));
    EXPECT_EQ(texts(lines_.filter("Panel server listening on ")),
              ("Panel server listening on " + where).toStdString());
    EXPECT_EQ(logged("Error Initializing server socket: "), 1);
}

TEST_F(PanelServerTest, StopEndsTheRetries) {
    QTcpServer holder;
    ASSERT_TRUE(holder.listen(QHostAddress::LocalHost, 0));
    PanelServerOptions o;
    o.listenAddress = QHostAddress::LocalHost;
    o.port = holder.serverPort();
    EXPECT_FALSE(server_.start(o));
    EXPECT_EQ(server_.stop(), QString());
    holder.close();
    QTcpSocket late;
    late.connectToHost(QHostAddress::LocalHost, o.port);
    EXPECT_FALSE(late.waitForConnected(2500));  // the retry after 1 s never came
}

TEST_F(PanelServerTest, PanelStreamsAreCounted) {
    start();
    auto a = panel();
    auto b = panel();
    auto submitting = login();  // not a panel
    ASSERT_TRUE(waitUntil([&] { return logged("Connecting Visualisation Panel: ") == 2; }));
    EXPECT_EQ(counters_.panelsConnected.load(), 2);
    send(*submitting, QByteArray("\x0a\x37\x01\x01\x01\x00\x00\x00\x00\x00\x00", 11));
    EXPECT_EQ(readN(*submitting, 1), "+");
    send(*submitting, QByteArray(1, '\x01'));  // then a panel stream
    ASSERT_TRUE(waitUntil([&] { return logged("Connecting Visualisation Panel: ") == 3; }));
    EXPECT_EQ(counters_.panelsConnected.load(), 3);
    send(*a, QByteArray(1, '\0'));
    ASSERT_TRUE(waitUntil([&] { return counters_.panelsConnected.load() == 2; }));
    b->abort();
    ASSERT_TRUE(waitUntil([&] { return counters_.panelsConnected.load() == 1; }));
    EXPECT_EQ(server_.stop(), QString());
    EXPECT_EQ(counters_.panelsConnected.load(), 0);
}

TEST_F(PanelServerTest, WithoutAKeyNoPanelLogsIn) {
    PanelServer keyless(log_, clock_, std::nullopt, &counters_);
    PanelServerOptions o;
    o.listenAddress = QHostAddress::LocalHost;
    o.port = 0;
    ASSERT_TRUE(keyless.start(o));
    const QString disabled = QStringLiteral("Panel logins disabled: ");
    EXPECT_EQ(logged(disabled), 1);
    EXPECT_TRUE(lines_.filter(disabled).value(0).contains("\"linkelnet.cfg\""));
    // The real key's answer, and the one of the all-zero key a file that was not read leaves.
    for (const LoginKey& key : {kKey, LoginKey{}}) {
        QTcpSocket s;
        s.connectToHost(QHostAddress::LocalHost, keyless.port());
        ASSERT_TRUE(s.waitForConnected(5000));
        const QByteArray challenge = readN(s, 6);
        ASSERT_EQ(challenge, kChallenge);
        const auto r =
            CalculateChalangeResponse(reinterpret_cast<const std::uint8_t*>(challenge.data()), key);
        send(s, QByteArray(reinterpret_cast<const char*>(r.data()), 13) + "\x01x");
        EXPECT_EQ(readToEnd(s), QByteArray());  // closed without a byte
    }
    ASSERT_TRUE(waitUntil([&] { return logged(") Rejected") == 2; }));
    EXPECT_EQ(logged("127.0.0.1 ("), 2);
    EXPECT_EQ(logged("Connecting Visualisation Panel: "), 0);
    EXPECT_EQ(logged(disabled), 1);  // at the start, not per client
    EXPECT_EQ(counters_.panelsConnected.load(), 0);
}

TEST(ReadTcpTxtTest, Lines) {
    const QHostAddress local = QHostAddress::LocalHost;
    struct Case {
        const char* file;  // nullptr: no file
        std::uint16_t port;
        QHostAddress address;
        int cap;
        QStringList logged;
    };
    const QString e = QStringLiteral("Error reading configuration file: tcp.txt -> ");
    const Case cases[] = {
        {nullptr, 9876, QHostAddress::Any, 200, {}},
        {"2\r\n", 2, QHostAddress::Any, 200, {}},
        {" 10000 \r\n127.0.0.1\r\n10000\r\n", 10000, local, 10000, {}},
        {"9000\r\n  \r\n", 9000, QHostAddress::Any, 200, {}},
        {"9000\r\n::1\r\n", 9000, QHostAddress::LocalHostIPv6, 200, {}},
        {"", 9876, QHostAddress::Any, 200, {e + "line 1: \"\", using 9876"}},
        {"1\r\n\r\n0\r\n", 9876, QHostAddress::Any, 200, {e + "line 1: \"1\", using 9876"}},
        {"10001\r\n::1\r\n1",
         9876,
         QHostAddress::LocalHostIPv6,
         1,
         {e + "line 1: \"10001\", using 9876"}},
        {"0x10\r\n", 9876, QHostAddress::Any, 200, {e + "line 1: \"0x10\", using 9876"}},
        {"abc\r\ngarbage\r\n50",
         9876,
         local,
         50,
         {e + "line 1: \"abc\", using 9876",
          e + "line 2: \"garbage\" is not an IP address, listening on 127.0.0.1 only"}},
        {"9000\r\nlocalhost\r\n",
         9000,
         local,
         200,
         {e + "line 2: \"localhost\" is not an IP address, listening on 127.0.0.1 only"}},
        {"9000\r\n127.0.0.1.5\x01\r\n",
         9000,
         local,
         200,
         {e + "line 2: \"127.0.0.1.5\\x01\" is not an IP address, listening on 127.0.0.1 only"}},
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
        QStringList lines;
        log.setSink([&](const QString& text) { lines << text; });
        const PanelServerOptions o = readTcpTxt(root, log);
        EXPECT_EQ(o.port, c.port);
        EXPECT_EQ(o.listenAddress, c.address);
        EXPECT_EQ(o.maxConnections, c.cap);
        EXPECT_EQ(texts(lines), c.logged.join('\n').toStdString());
    }
}

// The address that line 2 names is the one listened on: 127.0.0.1 and 127.0.0.2 are both this
// machine, but only the one listened on answers.
TEST_F(PanelServerTest, TcpTxtLineTwoIsTheAddressListenedOn) {
    const QHostAddress one = QHostAddress::LocalHost, two(QStringLiteral("127.0.0.2"));
    struct Case {
        const char* line2;
        QHostAddress answers, silent;
    };
    const Case cases[] = {{"garbage", one, two}, {"127.0.0.2", two, one}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line2);
        const std::uint16_t port = freeTcpTxtPort();
        ASSERT_NE(port, 0);
        tmp_.write("tcp.txt", QByteArray::number(port) + "\r\n" + c.line2 + "\r\n");
        PanelServer server(log_, clock_, kKey);
        ASSERT_TRUE(server.start(readTcpTxt(root_, log_)));
        EXPECT_EQ(server.port(), port);
        QTcpSocket good, bad;
        good.connectToHost(c.answers, port);
        EXPECT_TRUE(good.waitForConnected(5000));
        EXPECT_EQ(readN(good, 6), kChallenge);
        bad.connectToHost(c.silent, port);
        EXPECT_FALSE(bad.waitForConnected(5000));
        EXPECT_EQ(bad.error(), QAbstractSocket::ConnectionRefusedError);
    }
    EXPECT_EQ(texts(lines_),
              "Error reading configuration file: tcp.txt -> line 2: \"garbage\" is "
              "not an IP address, listening on 127.0.0.1 only");
}

}  // namespace
}  // namespace velmar
