#include "log/event_log.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <functional>
#include <thread>
#include <vector>

#include "base/data_root.h"
#include "base/run_counters.h"
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

// The ".log" copies stay the ".logs" files' bytes whatever happens to either between lines.
TEST_F(EventLogTest, CopiesStayIdenticalThroughHandEditsAndRotation) {
    struct Case {
        const char* name;
        std::function<void(test::TempRoot&, EventLog&)> meddle;
        bool logsKept;  // every line written is still in "all.logs"
    };
    auto rm = [](const char* f) {
        return [f](test::TempRoot& t, EventLog&) { QFile::remove(t.path(QLatin1String(f))); };
    };
    auto cut = [](const char* f) {
        return [f](test::TempRoot& t, EventLog&) { QFile(t.path(QLatin1String(f))).resize(10); };
    };
    const std::vector<Case> cases = {
        {"nothing", [](test::TempRoot&, EventLog&) {}, true},
        {"copy deleted", rm("logs/all.log"), true},
        {"class copy deleted", rm("logs/tcp.log"), true},
        {"copy truncated", cut("logs/all.log"), true},
        {"copy grown",
         [](test::TempRoot& t, EventLog&) {
             QFile f(t.path("logs/all.log"));
             f.open(QIODevice::Append);
             f.write("stray\r\n");
         },
         true},
        {"copy replaced, same size",
         [](test::TempRoot& t, EventLog&) {
             const QByteArray old = t.read("logs/all.log");
             QFile::remove(t.path("logs/all.log"));
             t.write("logs/all.log", QByteArray(old.size(), 'x'));
         },
         true},
        {"logs deleted", rm("logs/all.logs"), false},
        {"logs truncated", cut("logs/all.logs"), false},
        {"rotated", [](test::TempRoot&, EventLog& l) { l.setLogSize(100); }, false},
        {"resync", [](test::TempRoot&, EventLog& l) { l.resync(); }, true},
        {"closed", [](test::TempRoot&, EventLog& l) { l.close(); }, true},
    };
    for (const Case& c : cases) {
        QDir(tmp_.path("logs")).removeRecursively();
        QDir(tmp_.path("backup-logs")).removeRecursively();
        tmp_.mkdir("logs");
        EventLog log(root_, clock_);
        log.setLogSize(0);
        QByteArray expected;
        for (int i = 0; i < 40; ++i) {
            if (i == 20)
                c.meddle(tmp_, log);
            const QString text = QStringLiteral("TCP line %1").arg(i);
            log.admem(text);
            expected += "2026-12-09 10:11:12 :    " + text.toLatin1() + "\r\n";
        }
        for (const char* f : {"all", "tcp"}) {
            const QByteArray logs = tmp_.read(QStringLiteral("logs/%1.logs").arg(f));
            EXPECT_FALSE(logs.isEmpty()) << c.name << " " << f;
            EXPECT_EQ(tmp_.read(QStringLiteral("logs/%1.log").arg(f)), logs) << c.name << " " << f;
        }
        if (c.logsKept)
            EXPECT_EQ(tmp_.read("logs/all.logs"), expected) << c.name;
        else
            EXPECT_TRUE(tmp_.read("logs/all.logs").endsWith("TCP line 39\r\n")) << c.name;
    }
}

// A write that fails part-way (the file size limit stands in for a full disk) is taken back,
// counted and reported; once the disk takes lines again the copy is whole again.
TEST_F(EventLogTest, FailedWriteIsTakenBackCountedAndMended) {
    RunCounters counters;
    log_.setCounters(&counters);
    QStringList sunk;
    log_.setSink([&](const QString& t) { sunk.append(t); });
    log_.admem(QStringLiteral("first"));
    const QByteArray before = tmp_.read("logs/all.logs");
    ASSERT_EQ(before.size(), 32);

    struct rlimit old {};
    ::getrlimit(RLIMIT_FSIZE, &old);
    struct sigaction ignore {
    }, previous{};
    ignore.sa_handler = SIG_IGN;
    ::sigaction(SIGXFSZ, &ignore, &previous);
    struct rlimit limit = old;
    limit.rlim_cur = 40;  // the next line fits only in part
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limit), 0);
    log_.admem(QStringLiteral("second"));
    ::setrlimit(RLIMIT_FSIZE, &old);
    ::sigaction(SIGXFSZ, &previous, nullptr);

    EXPECT_EQ(tmp_.read("logs/all.logs"), before);  // no half line
    EXPECT_EQ(counters.logWriteFailures.load(), 1);
    ASSERT_EQ(sunk.size(), 3);
    EXPECT_TRUE(sunk[2].contains(QLatin1String("Error writing log file: ")))
        << sunk[2].toStdString();
    EXPECT_TRUE(sunk[2].contains(QLatin1String("all.logs: "))) << sunk[2].toStdString();

    log_.admem(QStringLiteral("third"));
    EXPECT_EQ(tmp_.read("logs/all.logs"), before + "2026-12-09 10:11:12 :    third\r\n");
    EXPECT_EQ(tmp_.read("logs/all.log"), tmp_.read("logs/all.logs"));
    EXPECT_EQ(counters.logWriteFailures.load(), 1);
}

// With the disk full every line fails: each is counted, the pane is told once and then once a
// minute with the count.
TEST_F(EventLogTest, FullDiskNoteIsSummarised) {
    if (::access("/dev/full", W_OK) != 0)
        GTEST_SKIP() << "no /dev/full";
    RunCounters counters;
    log_.setCounters(&counters);
    ASSERT_EQ(::symlink("/dev/full", tmp_.path("logs/all.logs").toLocal8Bit().constData()), 0);
    QStringList notes;
    log_.setSink([&](const QString& t) {
        if (t.contains(QLatin1String("Error writing log file: ")))
            notes.append(t);
    });
    for (int i = 0; i < 100; ++i) {
        log_.admem(QStringLiteral("status %1").arg(i));
        clock_.advanceMs(100);
    }
    EXPECT_EQ(counters.logWriteFailures.load(), 100);
    ASSERT_EQ(notes.size(), 1);
    const QString note = notes[0].chopped(1);
    EXPECT_TRUE(note.endsWith(QLatin1String(": No space left on device"))) << note.toStdString();
    clock_.advanceMs(51000);
    log_.admem(QStringLiteral("status again"));
    ASSERT_EQ(notes.size(), 2);
    EXPECT_EQ(notes[1], QStringLiteral("2026-12-09 10:12:13 :    ") + note.mid(25) +
                            QStringLiteral(" (repeated 100 times)\n"));
}

TEST(EventLogFailures, WhichTextsAreFailures) {
    struct Case {
        const char* text;
        bool failure;
    };
    const Case cases[] = {
        {"Error writing status file: logs\\status\\55-1.txt", true},
        {"Connection to Linkel Error", true},
        {"Low battery WARNING", true},
        {"Upload failed: no answer", true},
        {"I/O Exception: disk", true},
        {"cant set comm params: /dev/ttyS0", true},
        {"  Can't open port", true},
        {"Event Lights on executed", false},
        {"Living room ->    Front door opened", false},
        {"TCP Server Lookup", false},
        {"Decanting", false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(EventLog::isFailure(QString::fromLatin1(c.text)), c.failure) << c.text;
}

// A failure repeated within a minute is written once, then summarised after the minute or by
// flushRepeats(); ordinary lines are written every time.
TEST_F(EventLogTest, RepeatedFailuresAreSummarised) {
    struct Step {
        std::int64_t advanceMs;
        const char* text;     // null: flushRepeats()
        const char* written;  // what "all.logs" gains, "" for nothing
        bool event = false;   // through admemEvent()
    };
    const char* e = "Error reading file: x.cfg";
    const std::vector<Step> steps = {
        {0, e, "10:11:12 :    Error reading file: x.cfg"},
        {1000, e, ""},
        {1000, e, ""},
        {0, "Event Lights on executed", "10:11:14 :    Event Lights on executed"},
        {0, "Event Lights on executed", "10:11:14 :    Event Lights on executed"},
        {0, "Error reading file: y.cfg", "10:11:14 :    Error reading file: y.cfg"},
        // What a controller says is written every time, whatever it says.
        {0, "Kitchen ->    Water leak warning", "10:11:14 :    Kitchen ->    Water leak warning",
         true},
        {0, "Kitchen ->    Water leak warning", "10:11:14 :    Kitchen ->    Water leak warning",
         true},
        {57999, e, ""},  // 59.999 s after its line
        {1, e, "10:12:12 :    Error reading file: x.cfg (repeated 4 times)"},
        {1000, e, ""},
        {0, nullptr, "10:12:13 :    Error reading file: x.cfg"},  // one pending: as it stands
        {1000, e, ""},
        {0, e, ""},
        {0, nullptr, "10:12:14 :    Error reading file: x.cfg (repeated 2 times)"},
        {0, nullptr, ""},
        {60000, nullptr, ""},  // nothing came for a minute: forgotten
        {0, e, "10:13:14 :    Error reading file: x.cfg"},
    };
    QByteArray expected;
    int n = 0;
    for (const Step& s : steps) {
        clock_.advanceMs(s.advanceMs);
        if (s.text && s.event)
            log_.admemEvent(QString::fromLatin1(s.text));
        else if (s.text)
            log_.admem(QString::fromLatin1(s.text));
        else
            log_.flushRepeats();
        if (*s.written)
            expected += QByteArray("2026-12-09 ") + s.written + "\r\n";
        EXPECT_EQ(tmp_.read("logs/all.logs"), expected) << "step " << n;
        ++n;
    }
    // Summaries of failures go to the class files like any line.
    EXPECT_TRUE(tmp_.read("logs/errors.logs").contains("x.cfg (repeated 4 times)"));
}

TEST_F(EventLogTest, PendingSummaryIsWrittenAtShutdown) {
    {
        EventLog log(root_, clock_);
        for (int i = 0; i < 3; ++i)
            log.admem(QStringLiteral("Error writing frame: timeout"));
        clock_.advanceMs(5000);
    }
    EXPECT_EQ(tmp_.read("logs/all.logs"),
              "2026-12-09 10:11:12 :    Error writing frame: timeout\r\n"
              "2026-12-09 10:11:12 :    Error writing frame: timeout (repeated 2 times)\r\n");
}

// After a rotation the oldest backups go until the folder is within the limit, each removal
// logged after the line.
TEST_F(EventLogTest, BackupFolderTrimmedOldestFirst) {
    struct Case {
        std::int64_t limit;
        std::vector<const char*> deleted;
    };
    const char* kOld[] = {"2026-12-01 00_00_00-all.logs", "2026-12-02 00_00_00-tcp.logs",
                          "2026-12-03 00_00_00-all.logs"};
    const std::vector<Case> cases = {
        {0, {}},
        {10000, {}},
        {4500, {}},
        {4499, {kOld[0]}},
        {2500, {kOld[0], kOld[1]}},
        {1000, {kOld[0], kOld[1], kOld[2]}},  // the backup just made stays
    };
    for (const Case& c : cases) {
        QDir(tmp_.path("backup-logs")).removeRecursively();
        for (const char* f : kOld)
            tmp_.write(QStringLiteral("backup-logs/") + QLatin1String(f), QByteArray(1000, 'o'));
        tmp_.write("logs/all.logs", QByteArray(1500, 'a'));
        log_.setLogSize(1400);
        log_.setBackupLimit(c.limit);
        log_.admem(QStringLiteral("next"));
        QByteArray expected = "2026-12-09 10:11:12 :    next\r\n";
        std::int64_t left = 4500;
        for (const char* f : c.deleted) {
            const int size = QByteArray(f).startsWith("2026-12-09") ? 1500 : 1000;
            left -= size;
            expected += QByteArray("2026-12-09 10:11:12 :    Log backup deleted: backup-logs\\") +
                        f + ", " + QByteArray::number(size) + " bytes (backups kept within " +
                        QByteArray::number(c.limit) + " bytes)\r\n";
            EXPECT_FALSE(tmp_.exists(QStringLiteral("backup-logs/") + QLatin1String(f)))
                << c.limit << " " << f;
        }
        EXPECT_EQ(tmp_.read("logs/all.logs"), expected) << c.limit;
        std::int64_t total = 0;
        for (const QFileInfo& fi : QDir(tmp_.path("backup-logs")).entryInfoList(QDir::Files))
            total += fi.size();
        EXPECT_EQ(total, left) << c.limit;
    }
}

// Only backups count and go; the one a rotation just made stays even when a clock set back
// gives it the oldest name; past a handful, removals are summed up in one line.
TEST_F(EventLogTest, BackupTrimKeepsTheNewBackupAndOtherFiles) {
    tmp_.write("backup-logs/notes.txt", QByteArray(5000, 'n'));
    tmp_.write("backup-logs/2026-12-09 10_11_12x-all.logs", QByteArray(5000, 'n'));
    for (int i = 0; i < 20; ++i)
        tmp_.write(QStringLiteral("backup-logs/2027-01-%1 00_00_00-all.logs")
                       .arg(i + 1, 2, 10, QChar('0')),
                   QByteArray(100, 'o'));
    // Large enough a limit that the lines about the removals do not rotate the log again.
    tmp_.write("logs/all.logs", QByteArray(3000, 'a'));
    log_.setLogSize(2900);
    log_.setBackupLimit(1000);
    log_.admem(QStringLiteral("next"));
    const QByteArray written = tmp_.read("logs/all.logs");
    EXPECT_EQ(written.count("Log backup deleted: backup-logs\\2027-01-"), 16) << written.data();
    EXPECT_TRUE(
        written.endsWith(" :    Log backups deleted: 4 more, 400 bytes (backups kept "
                         "within 1000 bytes)\r\n"))
        << written.data();
    EXPECT_EQ(QFileInfo(tmp_.path("backup-logs/2026-12-09 10_11_12-all.logs")).size(), 3000);
    EXPECT_TRUE(tmp_.exists("backup-logs/notes.txt"));
    EXPECT_TRUE(tmp_.exists("backup-logs/2026-12-09 10_11_12x-all.logs"));
}

TEST(EventLogNames, BackupName) {
    EXPECT_EQ(EventLog::backupName(QDateTime(QDate(2026, 1, 2), QTime(3, 4, 5)),
                                   QStringLiteral("tcp.logs")),
              QStringLiteral("2026-01-02 03_04_05-tcp.logs"));
}

}  // namespace
}  // namespace velmar
