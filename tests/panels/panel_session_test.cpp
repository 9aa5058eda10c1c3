#include "panels/panel_session.h"

#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "support/fake_clock.h"

namespace velmar {
namespace {

const LoginKey kKey{0, 11, 22, 33, 44, 55, 66, 77, 88};

QByteArray bytes(std::initializer_list<int> values) {
    QByteArray b;
    for (int v : values)
        b.append(static_cast<char>(v));
    return b;
}

QByteArray response(const std::array<std::uint8_t, 6>& challenge, const LoginKey& key = kKey) {
    const auto r = CalculateChalangeResponse(challenge.data(), key);
    return QByteArray(reinterpret_cast<const char*>(r.data()), 13);
}

// A session on a fake clock, collecting everything it asks for.
struct Rig {
    explicit Rig(QDateTime start = QDateTime(QDate(2026, 12, 9), QTime(10, 11, 12, 345)),
                 const std::optional<LoginKey>& key = kKey)
        : clock(std::move(start)), s(key, QStringLiteral("127.0.0.7")) {}

    std::int64_t now() const { return clock.monotonicMs(); }
    void take(PanelSession::Actions a) {
        sent += a.send;
        log += a.log;
        if (a.submitted)
            submissions.append(a.records);
        panel = panel || a.panelStarted;
        closed = closed || a.close;
    }
    void start() { take(s.start(clock.now(), now())); }
    void feed(const QByteArray& b) { take(s.receive(b, now())); }
    void advance(std::int64_t ms) {
        clock.advanceMs(ms);
        take(s.tick(now()));
    }
    void login() {
        start();
        feed(response(s.challenge()));
        EXPECT_EQ(sent.mid(6), ">");
        sent.clear();
    }

    test::FakeClock clock;
    PanelSession s;
    QByteArray sent;
    QStringList log;
    QList<QList<QByteArray>> submissions;
    bool panel = false;
    bool closed = false;
};

TEST(PanelSessionTest, ChallengeComesFromTheTime) {
    Rig a;
    a.start();
    EXPECT_EQ(a.sent, bytes({345 & 0xFF, 12, 11, 10, 9, 12}));
    Rig b(QDateTime(QDate(2027, 1, 31), QTime(23, 59, 58, 999)));
    b.start();
    EXPECT_EQ(b.sent, bytes({999 & 0xFF, 58, 59, 23, 31, 1}));
}

TEST(PanelSessionTest, Login) {
    using Make = std::function<QByteArray(const std::array<std::uint8_t, 6>&)>;
    struct Case {
        const char* name;
        Make answer;
        int pieceSize;
        const char* host;  // nullptr: not looked up yet
        const char* logged;
    };
    const Make right = [](const auto& c) { return response(c); };
    const Case cases[] = {
        {"correct", right, 13, nullptr, nullptr},
        {"correct, one byte at a time", right, 1, nullptr, nullptr},
        {"last byte not 13", [](const auto& c) { return response(c).left(12) + bytes({14}); }, 13,
         nullptr, "127.0.0.7 (127.0.0.7) Rejected"},
        {"answer to another challenge",
         [](auto c) {
             c[0] ^= 1;
             return response(c);
         },
         13, nullptr, "127.0.0.7 (127.0.0.7) Rejected"},
        {"wrong key, host known",
         [](const auto& c) {
             LoginKey k = kKey;
             k[5] ^= 0x80;
             return response(c, k);
         },
         1, "hall-panel", "127.0.0.7 (hall-panel) Rejected"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Rig r;
        if (c.host)
            r.s.setHost(QString::fromLatin1(c.host));
        r.start();
        r.sent.clear();
        const QByteArray answer = c.answer(r.s.challenge());
        for (int i = 0; i < answer.size(); i += c.pieceSize)
            r.feed(answer.mid(i, c.pieceSize));
        EXPECT_EQ(r.sent, c.logged ? "" : ">");  // a rejected client gets not a single byte
        EXPECT_EQ(r.closed, c.logged != nullptr);
        EXPECT_EQ(r.log, c.logged ? QStringList{c.logged} : QStringList());
    }
}

TEST(PanelSessionTest, WithoutAKeyEveryLoginIsRefused) {
    using Make = std::function<QByteArray(const std::array<std::uint8_t, 6>&)>;
    const std::pair<const char*, Make> answers[] = {
        {"the real key's answer", [](const auto& c) { return response(c); }},
        // What a key that could not be read holds.
        {"an all-zero key's answer", [](const auto& c) { return response(c, LoginKey{}); }},
        {"thirteen zero bytes", [](const auto&) { return QByteArray(13, '\0'); }},
    };
    for (const auto& [name, answer] : answers) {
        SCOPED_TRACE(name);
        Rig r(QDateTime(QDate(2026, 12, 9), QTime(10, 11, 12, 345)), std::nullopt);
        r.start();
        r.sent.clear();
        r.feed(answer(r.s.challenge()));
        EXPECT_EQ(r.sent, "");
        EXPECT_TRUE(r.closed);
        EXPECT_EQ(r.log, QStringList{"127.0.0.7 (127.0.0.7) Rejected"});
    }
}

TEST(PanelSessionTest, ResponseMustBeCompleteWithinTwoSeconds) {
    Rig r;
    r.start();
    r.feed(response(r.s.challenge()).left(12));
    r.advance(1999);
    EXPECT_FALSE(r.closed);
    r.advance(1);
    EXPECT_TRUE(r.closed);
    r.feed(bytes({13}));  // too late: nothing happens any more
    EXPECT_EQ(r.sent.size(), 6);
    EXPECT_TRUE(r.log.isEmpty());
}

TEST(PanelSessionTest, ModeByteAndCommandLoop) {
    enum Outcome { Waiting, Panel, Closed };
    struct Step {
        QByteArray feed;
        int thenMs;
    };
    struct Case {
        const char* name;
        std::vector<Step> steps;  // after the login
        Outcome outcome;
    };
    const Case cases[] = {
        {"mode 0", {{bytes({0}), 0}}, Closed},
        {"mode 2", {{bytes({2}), 0}}, Closed},
        {"mode 9", {{bytes({9}), 0}}, Closed},
        {"no mode for 2 s", {{"", 2000}}, Closed},
        {"1, other byte", {{bytes({1, 'x'}), 0}}, Panel},
        {"1, 0", {{bytes({1, 0}), 0}}, Closed},
        {"1, 99 ms silence", {{bytes({1}), 99}}, Waiting},
        {"1, 100 ms silence", {{bytes({1}), 100}}, Panel},
        {"each 1 waits anew", {{bytes({1}), 90}, {bytes({1}), 99}}, Waiting},
        {"each 1 waits anew, then silence", {{bytes({1}), 90}, {bytes({1}), 100}}, Panel},
        {"q waits 2 s", {{bytes({1, 'q'}), 1999}}, Waiting},
        {"q, 2 s silence", {{bytes({1, 'q'}), 2000}}, Panel},
        {"q, then 1 keeps 2 s", {{bytes({1, 'q'}), 1500}, {bytes({1}), 1999}}, Waiting},
        {"q, other byte", {{bytes({1, 'q'}), 500}, {"A", 0}}, Panel},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Rig r;
        r.login();
        for (const Step& step : c.steps) {
            r.feed(step.feed);
            r.advance(step.thenMs);
        }
        EXPECT_EQ(r.panel, c.outcome == Panel);
        EXPECT_EQ(r.closed, c.outcome == Closed);
        EXPECT_TRUE(r.sent.isEmpty());
        EXPECT_EQ(r.log, c.outcome == Panel
                             ? QStringList{"Connecting Visualisation Panel: 127.0.0.7 (127.0.0.7)"}
                             : QStringList());
    }
}

TEST(PanelSessionTest, Submission) {
    const QByteArray a = bytes({55, 1, 3, 1, 2, 3, 4, 5, 6, 7});
    const QByteArray b = bytes({56, 1, 7, 9, 9, 9, 9, 9, 9, 9});
    const QByteArray zero = bytes({57, 1, 0, 8, 8, 8, 8, 8, 8, 8});
    struct Case {
        const char* name;
        int mode;
        QByteArray data;
        int pieceSize;
        bool silenceAfter;  // the submission ends by time-out
        QList<QByteArray> accepted;
        int next;  // the byte after "+"; -1: none
    };
    const Case cases[] = {
        {"two records", 20, a + b, 20, false, {a, b}, 1},
        {"two records, byte by byte", 20, a + b, 1, false, {a, b}, 2},
        {"byte 2 zero counts but is not accepted", 30, a + zero + b, 7, false, {a, b}, 0},
        {"five stray bytes", 15, a + bytes({1, 2, 3, 4, 5}), 15, false, {a}, -1},
        {"short remainder, then silence", 30, a + b.left(5), 3, true, {a}, 1},
        {"nothing at all", 10, QByteArray(), 1, true, {}, -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Rig r;
        r.login();
        r.feed(bytes({c.mode}));
        for (int i = 0; i < c.data.size(); i += c.pieceSize) {
            EXPECT_TRUE(r.sent.isEmpty());
            r.feed(c.data.mid(i, c.pieceSize));
            r.advance(999);  // each piece within the time-out
        }
        if (c.silenceAfter)
            r.advance(1000);
        EXPECT_EQ(r.sent, "+");
        ASSERT_EQ(r.submissions.size(), 1);
        EXPECT_EQ(r.submissions[0], c.accepted);
        EXPECT_EQ(r.log.value(0), "Events accepted from:127.0.0.7 (127.0.0.7)");
        EXPECT_FALSE(r.closed);
        if (c.next >= 0)
            r.feed(bytes({c.next}));
        else
            r.advance(1000);
        EXPECT_EQ(r.panel, c.next == 1);
        EXPECT_EQ(r.closed, c.next != 1);
    }
}

TEST(PanelSessionTest, FailureBeforeAcknowledgementLosesTheRecords) {
    Rig r;
    r.login();
    r.feed(bytes({20, 55, 1, 3, 1, 2, 3, 4, 5, 6, 7, 1, 2}));
    r.take(r.s.fail(QStringLiteral("reset")));
    EXPECT_TRUE(r.closed);
    EXPECT_TRUE(r.sent.isEmpty());
    EXPECT_TRUE(r.submissions.isEmpty());
    EXPECT_TRUE(r.log.isEmpty());  // only panel streams are reported
}

TEST(PanelSessionTest, PanelStreamEndsOnZeroAndReportsFailures) {
    Rig r;
    r.login();
    r.feed("\x01x abc\x01\xff");
    EXPECT_FALSE(r.closed);
    r.feed(bytes({0}));
    EXPECT_TRUE(r.closed);

    Rig f;
    f.login();
    f.feed("\x01x");
    f.take(f.s.fail(QStringLiteral("Connection reset by peer")));
    EXPECT_TRUE(f.closed);
    EXPECT_EQ(f.log.last(),
              "Dropping Visualisation Panel 127.0.0.7 (127.0.0.7): Connection reset by peer");
}

TEST(PanelSessionTest, StatusRecordsAtMostOncePerSecondPerDevice) {
    const QByteArray A("\x04\x37\x01\x10\x20", 5), B("\x04\x37\x01\x11\x20", 5);
    const QByteArray C("\x03\x37\x02\x05", 4);
    Rig r;
    r.login();
    r.take(r.s.publish(A, r.now()));  // not a panel yet
    r.feed("\x01x");
    const std::int64_t t0 = r.now();
    auto at = [&](std::int64_t ms) { r.advance(t0 + ms - r.now()); };
    r.take(r.s.publish(A, r.now()));
    EXPECT_EQ(r.sent, A);
    at(300);
    r.take(r.s.publish(A, r.now()));  // the same again: never sent
    at(500);
    r.take(r.s.publish(B, r.now()));  // changed: waits for the second to end
    at(600);
    r.take(r.s.publish(C, r.now()));  // another device: at once
    EXPECT_EQ(r.sent, A + C);
    EXPECT_EQ(r.s.deadline(), t0 + 1000);
    at(999);
    EXPECT_EQ(r.sent, A + C);
    at(1000);
    EXPECT_EQ(r.sent, A + C + B);
    at(5000);
    EXPECT_EQ(r.sent, A + C + B);
}

TEST(PanelSessionTest, StatusRecordPending) {
    const QByteArray A("\x03\x37\x01\x01", 4), A2("\x03\x37\x01\x02", 4), A3("\x03\x37\x01\x03", 4);
    const QByteArray X("\x03\x10\x05\x01", 4), X2("\x03\x10\x05\x02", 4);
    struct Case {
        const char* name;
        std::vector<std::pair<int, QByteArray>> published;  // at ms
        QByteArray sentByTwoSeconds;
    };
    const Case cases[] = {
        {"newest pending wins", {{0, A}, {100, A2}, {200, A3}}, A + A3},
        {"back to what the panel shows", {{0, A}, {100, A2}, {200, A}}, A},
        {"due records in arrival order", {{0, A}, {0, X}, {100, A2}, {200, X2}}, A + X + A2 + X2},
        {"after a second at once, even unchanged", {{0, A}, {1000, A}, {1500, A}}, A + A},
        {"bytes after the length are cut", {{0, A + "junk"}}, A},
        {"too short or no address",
         {{0, QByteArray("\x05\x37\x01", 3)}, {0, QByteArray("\x01\x37", 2)}, {0, QByteArray()}},
         QByteArray()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Rig r;
        r.login();
        r.feed("\x01x");
        const std::int64_t t0 = r.now();
        for (const auto& [ms, record] : c.published) {
            r.advance(t0 + ms - r.now());
            r.take(r.s.publish(record, r.now()));
        }
        r.advance(t0 + 2000 - r.now());
        EXPECT_EQ(r.sent.toHex(' '), c.sentByTwoSeconds.toHex(' '));
    }
}

}  // namespace
}  // namespace velmar
