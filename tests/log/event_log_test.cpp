#include "log/event_log.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QRegularExpression>
#include <thread>
#include <vector>

#include "base/data_root.h"
#include "support/fake_clock.h"
#include "support/temp_root.h"

namespace velmar {
namespace {

class EventLogTest : public ::testing::Test {
  protected:
    EventLogTest() : root_(tmp_.root()), log_(root_, clock_) { tmp_.mkdir("logs"); }

    test::TempRoot tmp_;
    test::FakeClock clock_;
    DataRoot root_;
    EventLog log_;
};

TEST_F(EventLogTest, LineFormatAndCopies) {
    QStringList sunk;
    log_.setSink([&](const QString& t) { sunk.append(t); });
    log_.admem(QStringLiteral("Reset all devices"));
    log_.admem(QString::fromUtf8("Łazienka: frame\r\nwith\0NUL", 26));
    const QByteArray expected =
        "2026-12-09 10:11:12 :    Reset all devices\r\n"
        "2026-12-09 10:11:12 :    \xA3"
        "azienka: frame\\r\\nwith\\0NUL\r\n";
    EXPECT_EQ(tmp_.read("logs/all.logs"), expected);
    EXPECT_EQ(tmp_.read("logs/all.log"), expected);
    ASSERT_EQ(sunk.size(), 2);
    EXPECT_EQ(sunk[0], QStringLiteral("2026-12-09 10:11:12 :    Reset all devices\n"));
    // No temporary file is left next to the logs.
    EXPECT_EQ(QDir(tmp_.path("logs")).entryList(QDir::Files | QDir::Hidden).size(), 2);
}

TEST_F(EventLogTest, ClassFilesChosenByKeywordInUpperCasedLine) {
    struct Case {
        const char* text;
        std::vector<const char*> files;  // class files that must receive the line
    };
    const std::vector<Case> cases = {
        {"TCP Server Lookup", {"tcp"}},
        {"Connection to Linkel Error", {"errors"}},
        {"no keyword here", {}},
        {"httpclient stcpx", {"tcp"}},
        {"Alarm zone 3 ERROR", {"alarms", "errors"}},
        {"secu armed, warning issued", {"secu", "warnings"}},
    };
    const char* all[] = {"tcp", "alarms", "secu", "warnings", "errors"};
    for (const Case& c : cases) {
        for (const char* f : all) {
            QFile::remove(tmp_.path(QStringLiteral("logs/%1.logs").arg(f)));
            QFile::remove(tmp_.path(QStringLiteral("logs/%1.log").arg(f)));
        }
        log_.admem(QString::fromLatin1(c.text));
        const QByteArray line =
            QByteArray("2026-12-09 10:11:12 :    ") + c.text + QByteArray("\r\n");
        for (const char* f : all) {
            const bool want = std::find_if(c.files.begin(), c.files.end(), [f](const char* x) {
                                  return qstrcmp(x, f) == 0;
                              }) != c.files.end();
            const QString logs = QStringLiteral("logs/%1.logs").arg(f);
            const QString copy = QStringLiteral("logs/%1.log").arg(f);
            EXPECT_EQ(tmp_.read(logs), want ? line : QByteArray()) << c.text << " " << f;
            EXPECT_EQ(tmp_.read(copy), want ? line : QByteArray()) << c.text << " " << f;
        }
        EXPECT_TRUE(tmp_.read("logs/all.logs").endsWith(line));
    }
}

TEST_F(EventLogTest, LongLineLandsWhole) {
    const QString text(5000, QLatin1Char('a'));
    log_.admem(text);
    EXPECT_EQ(tmp_.read("logs/all.logs"),
              "2026-12-09 10:11:12 :    " + QByteArray(5000, 'a') + "\r\n");
}

TEST_F(EventLogTest, RotationOverTheLimit) {
    struct Case {
        int logSize;
        int fileSize;
        bool armed;
        bool rotated;
    };
    // The file a line goes to is checked with every line, armed or not.
    const std::vector<Case> cases = {
        {100000, 150000, true, true}, {100000, 150000, false, true}, {100000, 100000, true, false},
        {0, 150000, true, false},     {10, 11, true, true},
    };
    for (const Case& c : cases) {
        QDir(tmp_.path("backup-logs")).removeRecursively();
        tmp_.write("logs/all.logs", QByteArray(c.fileSize, 'x'));
        log_.setLogSize(c.logSize);
        if (c.armed)
            log_.armCheck();
        log_.admem(QStringLiteral("next"));
        const QByteArray backup = tmp_.read("backup-logs/2026-12-09 10_11_12-all.logs");
        if (c.rotated) {
            EXPECT_EQ(backup, QByteArray(c.fileSize, 'x')) << c.logSize << "/" << c.fileSize;
            EXPECT_EQ(tmp_.read("logs/all.logs"), "2026-12-09 10:11:12 :    next\r\n");
            EXPECT_EQ(tmp_.read("logs/all.log"), "2026-12-09 10:11:12 :    next\r\n");
        } else {
            EXPECT_TRUE(backup.isEmpty());
            EXPECT_EQ(tmp_.read("logs/all.logs").size(), c.fileSize + 31);
        }
        EXPECT_FALSE(log_.checkArmed());
    }
}

TEST_F(EventLogTest, ArmedCheckAlsoRotatesFilesTheLineDoesNotReach) {
    log_.setLogSize(10);
    tmp_.write("logs/secu.logs", QByteArray(20, 's'));
    log_.admem(QStringLiteral("plain"));
    EXPECT_TRUE(tmp_.exists("logs/secu.logs"));
    log_.armCheck();
    log_.admem(QStringLiteral("plain"));
    EXPECT_FALSE(tmp_.exists("logs/secu.logs"));
    EXPECT_EQ(tmp_.read("backup-logs/2026-12-09 10_11_12-secu.logs"), QByteArray(20, 's'));
}

TEST_F(EventLogTest, RotationTakesFreeNameAndRotatesClassFiles) {
    log_.setLogSize(10);
    tmp_.write("backup-logs/2026-12-09 10_11_12-all.logs", "older");
    tmp_.write("logs/all.logs", QByteArray(20, 'a'));
    tmp_.write("logs/errors.logs", QByteArray(20, 'e'));
    log_.armCheck();
    log_.admem(QStringLiteral("x"));
    EXPECT_EQ(tmp_.read("backup-logs/2026-12-09 10_11_12-all.logs"), "older");
    EXPECT_EQ(tmp_.read("backup-logs/2026-12-09 10_11_12_-all.logs"), QByteArray(20, 'a'));
    EXPECT_EQ(tmp_.read("backup-logs/2026-12-09 10_11_12-errors.logs"), QByteArray(20, 'e'));
    EXPECT_FALSE(tmp_.exists("logs/errors.logs"));
}

TEST_F(EventLogTest, RotationThatCannotMoveDeletesAndSaysSo) {
    log_.setLogSize(40);
    tmp_.write("backup-logs", "a file where the folder should be");
    tmp_.write("logs/all.logs", QByteArray(50, 'a'));
    log_.armCheck();
    log_.admem(QStringLiteral("x"));
    const QByteArray all = tmp_.read("logs/all.logs");
    EXPECT_TRUE(all.startsWith("2026-12-09 10:11:12 :    x\r\n")) << all.constData();
    EXPECT_TRUE(all.contains("Error rotating log file: logs\\all.logs")) << all.constData();
    EXPECT_TRUE(tmp_.read("logs/errors.logs").contains("Error rotating log file"));
}

TEST_F(EventLogTest, UnwritableLogStillReachesSinkAndSaysWhyOnce) {
    QDir(tmp_.path("logs")).removeRecursively();
    tmp_.write("logs", "not a directory");
    QStringList sunk;
    log_.setSink([&](const QString& t) { sunk.append(t); });
    log_.admem(QStringLiteral("one"));
    log_.admem(QStringLiteral("two"));
    ASSERT_EQ(sunk.size(), 3);
    EXPECT_TRUE(sunk[0].endsWith(QLatin1String(":    one\n")));
    EXPECT_TRUE(sunk[1].contains(QLatin1String("Error writing log file: ")));
    EXPECT_TRUE(sunk[2].endsWith(QLatin1String(":    two\n")));
}

TEST_F(EventLogTest, LinesFromManyThreadsNeverInterleave) {
    constexpr int kThreads = 4;
    constexpr int kLines = 300;
    log_.setLogSize(0);  // no rotation: every line stays in one file
    QStringList sunk;
    log_.setSink([&](const QString& t) { sunk.append(t); });
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([this, t] {
            for (int i = 0; i < kLines; ++i)
                log_.admem(QStringLiteral("thread %1 line %2 %3")
                               .arg(t)
                               .arg(i)
                               .arg(QString(40, QLatin1Char('z'))));
        });
    }
    for (auto& th : threads)
        th.join();
    const QList<QByteArray> lines = tmp_.read("logs/all.logs").split('\n');
    ASSERT_EQ(lines.size(), kThreads * kLines + 1);
    const QRegularExpression re(
        QStringLiteral("^2026-12-09 10:11:12 :    thread (\\d) line (\\d+) z{40}\\r$"));
    std::vector<int> next(kThreads, 0);
    for (int i = 0; i < kThreads * kLines; ++i) {
        const QString line = QString::fromLatin1(lines[i]);
        const auto m = re.match(line);
        ASSERT_TRUE(m.hasMatch()) << lines[i].constData();
        // Each thread's lines keep their order, and the sink saw the file's order.
        const int t = m.captured(1).toInt();
        EXPECT_EQ(m.captured(2).toInt(), next[t]++);
        EXPECT_EQ(sunk[i], line.chopped(1) + QLatin1Char('\n'));
    }
    EXPECT_EQ(tmp_.read("logs/all.logs"), tmp_.read("logs/all.log"));
}

TEST(EventLogNames, BackupName) {
    EXPECT_EQ(EventLog::backupName(QDateTime(QDate(2026, 1, 2), QTime(3, 4, 5)),
                                   QStringLiteral("tcp.logs")),
              QStringLiteral("2026-01-02 03_04_05-tcp.logs"));
}

}  // namespace
}  // namespace velmar
