#include "events/event_files.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <functional>

#include "events/cycle_rig.h"

namespace velmar {
namespace {

using test::bytes;

// The file's modification time `seconds` before the clock's now. A file just written carries
// the machine's time, which is later than the fake clock's: it has not settled until aged.
void age(const Clock& clock, const QString& path, int seconds) {
    const std::int64_t ms = clock.now().toMSecsSinceEpoch() - seconds * 1000LL;
    timeval tv[2];
    tv[0].tv_sec = static_cast<time_t>(ms / 1000);
    tv[0].tv_usec = static_cast<suseconds_t>(ms % 1000 * 1000);
    tv[1] = tv[0];
    ASSERT_EQ(utimes(QFile::encodeName(path).constData(), tv), 0);
}

QByteArray directFile(const QString& title, std::initializer_list<int> numbers) {
    QByteArray out = title.toLatin1() + "\r\n";
    for (int i = 0; i < 8; ++i)
        out += "\r\n";
    out += "Direct Event Dont change this file\r\n";
    for (int n : numbers)
        out += QByteArray::number(n) + "\r\n";
    return out;
}

class EventFilesTest : public test::CycleRig {
  protected:
    EventFilesTest() {
        addController(55, 1, "Kitchen");
        addController(55, 2, "Hall");
        scan();
    }
};

TEST_F(EventFilesTest, RequestIsResolvedWrittenSentAndConfirmed) {
    tmp.write("emails/r1.run", "Kitchen; Lights On\r\n");
    EXPECT_TRUE(files.step().taken);
    EXPECT_EQ(emails(), QStringList{"Kitchen, Lights On.run"});
    EXPECT_EQ(tmp.read("emails/Kitchen, Lights On.run"),
              directFile("Kitchen; Lights On", {55, 1, 1, 1, 1, 0, 0}));
    EXPECT_EQ(takeFrames(), QStringList{"08 37 01 65 45 56 01 01 01 00 00"});

    // A second request while the first file waits for its confirmation takes the next name.
    tmp.write("emails/r2.run", "Kitchen; Lights Off\r\n");
    tmp.write("emails/r3.run", "Kitchen; Lights On\r\n");
    EXPECT_TRUE(files.step().taken);
    EXPECT_TRUE(files.step().taken);
    EXPECT_EQ(emails(), (QStringList{"Kitchen, Lights Off.run", "Kitchen, Lights On.run",
                                     "Kitchen, Lights On_.run"}));

    // Each confirmation deletes the oldest file sent to the confirming controller.
    confirm(55, 1);
    EXPECT_EQ(emails(), (QStringList{"Kitchen, Lights Off.run", "Kitchen, Lights On_.run"}));
    EXPECT_TRUE(loggedLine("Kitchen - Lights On"));
    EXPECT_EQ(AutoQuery.interval(), timing.SECU_RECEPTION);

    flags.linkel_addressing = true;
    takeFrames();
    tmp.write("emails/r4.run", "Hall; Lights On\r\n");
    files.step();
    EXPECT_EQ(takeFrames(), QStringList{"0a 37 02 fe fe 65 45 56 01 01 01 00 00"});
}

TEST_F(EventFilesTest, ConfirmationDeletesTheFileOfTheConfirmingController) {
    tmp.write("emails/a.run", directFile("Kitchen; Lights On", {55, 1, 1, 1, 1, 0, 0}));
    tmp.write("emails/b.run", directFile("Hall; Lights On", {55, 2, 1, 1, 1, 0, 0}));
    files.step();
    files.step();
    EXPECT_EQ(takeFrames().size(), 2);
    // The last file sent went to 55-2, but 55-1 confirms: its own file goes.
    confirm(55, 1);
    EXPECT_EQ(emails(), QStringList{"b.run"});
    EXPECT_TRUE(loggedLine("Kitchen - Lights On"));
    // Without a file in flight to the sender, the last executed file is the one confirmed.
    confirm(55, 1);
    EXPECT_TRUE(emails().isEmpty());
}

TEST_F(EventFilesTest, DroppedRequestsAreLoggedAndSendNothing) {
    tmp.write("Batch/night.mac", "x\r\n");
    const struct {
        const char* file;
        const char* line;
        QString logged;  // empty: nothing logged
        QString call;    // what the other parts were asked, empty: nothing
    } cases[] = {
        {"r.run", "Nobody; Lights On", "Unknown device in event request: ", {}},
        {"r.run", "Kitchen; Dance", "Unknown event in event request: ", {}},
        {"r.run", "Kitchen", "Unknown event in event request: ", {}},
        {"r.run", "PC; WDTKill; -12:00", "Schedule refused for PC requests", {}},
        {"r.run", "Batch; night; -12:00", "Schedule refused for Batch requests", {}},
        {"r.run", "Kitchen; Lights On; -12:00", {}, "schedule Kitchen|Lights On|1|12:00"},
        {"r.run", "Batch; day", "Batch macro not found", {}},
        {"r.run", "Batch; ../x", "Batch macro not found", {}},
        {"r.run", "Batch; night", {}, "batch night"},
        // A PC request counts only from a maintenance file, whose name begins with "support".
        {"r.run", "PC; WDTKill", "Unknown device in event request: ", {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        logged.clear();
        actions.calls.clear();
        tmp.write(QLatin1String("emails/") + c.file, QByteArray(c.line) + "\r\n");
        EXPECT_TRUE(files.step().taken);
        EXPECT_TRUE(emails().isEmpty());
        EXPECT_TRUE(takeFrames().isEmpty());
        EXPECT_EQ(actions.calls, c.call.isEmpty() ? QStringList() : QStringList{c.call});
        if (c.logged.isEmpty())
            EXPECT_TRUE(logged.isEmpty()) << logged.join('|').toStdString();
        else
            EXPECT_TRUE(loggedLine(c.logged)) << logged.join('|').toStdString();
    }
    EXPECT_FALSE(tmp.exists("wdtkill.cfg"));
}

TEST_F(EventFilesTest, MaintenanceRequests) {
    files.createmaintanance("Kitchen");
    EXPECT_EQ(tmp.read("maintanance/Kitchen/support Kitchen - QLSaveCfg.run"),
              "PC; Kitchen; QLSaveCfg\r\n");
    EXPECT_EQ(tmp.read("maintanance/FirmwareUpdate/support Kitchen - QuartelFlash.run"),
              "PC; Kitchen; QuartelFlash\r\n");
    EXPECT_EQ(tmp.read("maintanance/support PC - WDTKill.run"), "PC; WDTKill\r\n");
    EXPECT_EQ(QDir(tmp.path("maintanance/Kitchen")).entryList(QDir::Files).size(), 9);
    // An existing folder is left as it is.
    QFile::remove(tmp.path("maintanance/Kitchen/support Kitchen - QLSaveCfg.run"));
    files.createmaintanance("Kitchen");
    EXPECT_FALSE(tmp.exists("maintanance/Kitchen/support Kitchen - QLSaveCfg.run"));

    const struct {
        const char* request;
        bool available;
        const char* flag;  // the flag file afterwards, or nullptr for none
        QString call;
        QString logged;
        int pauseMs;  // the query timer's interval afterwards, 0: untouched
    } cases[] = {
        {"support PC - WDTKill.run", true, "wdtkill.cfg", {}, {}, 0},
        {"support PC - WDTDisable.run", true, "wdtdisable.cfg", {}, {}, 0},
        {"support PC - WDTEnable.run", true, "wdtkill.cfg", {}, {}, 0},
        {"support PC - WDTUnKill.run", true, nullptr, {}, {}, 0},
        {"FirmwareUpdate/support Kitchen - QuartelFlash.run",
         true,
         nullptr,
         "maintenance Kitchen QuartelFlash",
         {},
         120000},
        {"Kitchen/support Kitchen - QLUpdateIrCodes.run", false, nullptr,
         "maintenance Kitchen QLUpdateIrCodes",
         "Maintenance action not available: Kitchen - QLUpdateIrCodes", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.request);
        actions.calls.clear();
        actions.available = c.available;
        logged.clear();
        AutoQuery.setPause(777);
        const QString name = QString::fromLatin1(c.request).section('/', -1);
        tmp.write("emails/" + name, tmp.read(QLatin1String("maintanance/") + c.request));
        files.step();
        EXPECT_EQ(tmp.exists("wdtkill.cfg") || tmp.exists("wdtdisable.cfg"), c.flag != nullptr);
        if (c.flag) {
            EXPECT_EQ(tmp.read(c.flag), "1\r\n");
        }
        EXPECT_EQ(actions.calls, c.call.isEmpty() ? QStringList() : QStringList{c.call});
        if (!c.logged.isEmpty()) {
            EXPECT_TRUE(loggedLine(c.logged));
        }
        EXPECT_EQ(AutoQuery.interval(), c.pauseMs ? c.pauseMs : 777);
        EXPECT_TRUE(emails().isEmpty());
    }
}

TEST_F(EventFilesTest, OnlyCompleteFilesAreRead) {
    const struct {
        const char* name;
        QByteArray content;
        QByteArray rest;  // what the writer adds later
    } cases[] = {
        {"half.run", "Kitchen; Lights", " On\r\n"},
        {"direct.run", directFile("TCP Event; Direct Event", {55, 1, 1, 1}), "1\r\n0\r\n0\r\n"},
        {"partial.run", directFile("TCP Event; Direct Event", {55, 1, 1, 1, 1, 0}), "0\r\n"},
        {"title.run", "TCP Event; Direct Event\r\n\r\n", directFile("", {55, 1, 1, 1, 1, 0, 0})},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        logged.clear();
        const QString path = tmp.path(QLatin1String("emails/") + c.name);
        tmp.write(QLatin1String("emails/") + c.name, c.content);
        EXPECT_FALSE(files.step().taken);
        EXPECT_FALSE(files.step().taken);
        EXPECT_TRUE(takeFrames().isEmpty());
        EXPECT_EQ(emails(), QStringList{c.name});
        if (c.content.contains("Direct Event Dont")) {
            // Settled but damaged: logged once, kept for a later look.
            age(clock, path, 5);
            EXPECT_FALSE(files.step().taken);
            EXPECT_FALSE(files.step().taken);
            EXPECT_EQ(logged.filter("Error reading direct event: ").size(), 1);
            EXPECT_EQ(emails(), QStringList{c.name});
        }
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::Append));
        f.write(c.rest);
        f.close();
        EXPECT_TRUE(files.step().taken);
        EXPECT_EQ(takeFrames(), QStringList{"08 37 01 65 45 56 01 01 01 00 00"});
        confirm(55, 1);
        EXPECT_TRUE(emails().isEmpty());
    }
    // A request line without a line break is complete once the file has settled.
    tmp.write("emails/old.run", "Hall; Lights Off");
    EXPECT_FALSE(files.step().taken);
    age(clock, tmp.path("emails/old.run"), 2);
    EXPECT_TRUE(files.step().taken);
    EXPECT_EQ(takeFrames(), QStringList{"08 37 02 65 45 56 01 01 00 00 00"});
}

TEST_F(EventFilesTest, FilesAreTakenInTurnAndNotRetakenTooSoon) {
    tmp.write("emails/a.run", directFile("Kitchen; Lights On", {55, 1, 1, 1, 1, 0, 0}));
    tmp.write("emails/b.run", directFile("Hall; Lights On", {55, 2, 1, 1, 1, 0, 0}));
    tmp.write("emails/c.run", directFile("Hall; Lights Off", {55, 2, 1, 1, 0, 0, 0}));
    // 55-1 never confirms; 55-2 confirms each event.
    QStringList sent;
    for (int tick = 0; tick < 5; ++tick) {
        const auto step = files.step();
        for (const QString& f : takeFrames())
            sent << f.mid(3, 6) + f.mid(24, 2);
        if (step.taken && sent.last().startsWith("37 02"))
            confirm(55, 2);
        clock.advanceMs(timing.QUERY_DEV / 2);
    }
    // a, b, c, then a again only once QUERY_DEV has passed since it went out.
    EXPECT_EQ(sent, (QStringList{"37 01 01", "37 02 01", "37 02 00", "37 01 01"}));
    EXPECT_EQ(emails(), QStringList{"a.run"});

    // In a long round a file that arrives goes before the rest of the round.
    for (const char* name : {"b.run", "c.run", "d.run"})
        tmp.write(QLatin1String("emails/") + name, tmp.read("emails/a.run"));
    clock.advanceMs(timing.QUERY_DEV);
    files.step();
    EXPECT_EQ(takeFrames().size(), 1);  // a
    tmp.write("emails/0-new.run", directFile("Hall; Lights Off", {55, 2, 1, 1, 0, 0, 0}));
    age(clock, tmp.path("emails"), 10);  // the folder's time changes even within one clock tick
    clock.advanceMs(1000);               // listings in the middle of a round are a second apart
    files.step();
    EXPECT_EQ(takeFrames(), QStringList{"08 37 02 65 45 56 01 01 00 00 00"});
}

TEST_F(EventFilesTest, LimiterHoldsFilesAfterTwentyUnconfirmedExecutions) {
    for (int i = 0; i < 21; ++i)
        tmp.write(QStringLiteral("emails/e%1.run").arg(i, 2, 10, QChar('0')),
                  directFile("Kitchen; Lights On", {55, 1, 1, 1, 1, 0, 0}));
    std::vector<int> sentAt;
    for (int tick = 0; tick < 100; ++tick) {
        files.step();
        if (!takeFrames().isEmpty())
            sentAt.push_back(tick);
        clock.advanceMs(timing.QUERY_DEV);
    }
    ASSERT_GE(sentAt.size(), 21u);
    EXPECT_EQ(sentAt[19], 19);
    // Then 60 ticks without files.
    EXPECT_EQ(sentAt[20], 20 + EventFiles::kLimiterHoldTicks);

    // Fresh submissions start the limiter afresh.
    files.freshSubmissions();
    EXPECT_TRUE(cycle.chkeventenabled);
    EXPECT_EQ(cycle.autoquerycnter, 0);
}

TEST_F(EventFilesTest, ScheduledFilesAreWrittenNotSent) {
    for (int i = 0; i < 2; ++i)
        files.createDirectEvent(1, "Kitchen", "Lights On", "Kitchen; Lights On; -12:00", "12:00");
    EXPECT_EQ(QDir(tmp.path("emails/schedule")).entryList(QDir::Files),
              (QStringList{"Kitchen, Lights On12, 00.run", "Kitchen, Lights On_12, 00.run"}));
    EXPECT_EQ(tmp.read("emails/schedule/Kitchen, Lights On12, 00.run"),
              directFile("Kitchen; Lights On; -12:00", {55, 1, 1, 1, 1, 0, 0}));
    EXPECT_TRUE(takeFrames().isEmpty());
}

TEST_F(EventFilesTest, TcpEventsAreWrittenAndRun) {
    files.writeTcpEvents({bytes({55, 1, 1, 1, 1, 0, 0, 7, 8, 9}), bytes({55, 2, 1, 1, 0, 0, 0})});
    EXPECT_EQ(emails(), (QStringList{"2026-12-09 10_11_12.run", "2026-12-09 10_11_12_.run"}));
    EXPECT_EQ(tmp.read("emails/2026-12-09 10_11_12.run"),
              directFile("TCP Event; Direct Event", {55, 1, 1, 1, 1, 0, 0, 7, 8, 9}));
    files.step();
    files.step();
    EXPECT_EQ(takeFrames(), (QStringList{"08 37 01 65 45 56 01 01 01 00 00",
                                         "08 37 02 65 45 56 01 01 00 00 00"}));
}

TEST_F(EventFilesTest, ExternalEventsInTheSameSecondKeepTheirOwnFiles) {
    files.execeventextern({55, 2}, {21, 3, 1, 255, 255});
    files.execeventextern({55, 2}, {21, 4, 1, 255, 255});
    EXPECT_EQ(emails(), (QStringList{"2026-12-09 10, 11, 12.run", "2026-12-09 10, 11, 12_.run"}));
    EXPECT_EQ(tmp.read("emails/2026-12-09 10, 11, 12_.run"),
              directFile("lExternEvent", {55, 2, 21, 4, 1, 255, 255}));
    EXPECT_EQ(takeFrames().size(), 2);
    EXPECT_EQ(AutoQuery.interval(), timing.EMAIL_RUN);
    EXPECT_TRUE(AutoQuery.isActive());
    confirm(55, 2);
    EXPECT_EQ(emails(), QStringList{"2026-12-09 10, 11, 12_.run"});
    EXPECT_TRUE(loggedLine("External Device"));
}

// A direct event for the hall, padded with ignored lines to exactly `size` bytes.
QByteArray paddedDirectFile(int size) {
    QByteArray out = directFile("Hall; Lights On", {55, 2, 1, 1, 1, 0, 0});
    while (out.size() + 66 <= size)
        out += QByteArray(64, '-') + "\r\n";
    out += QByteArray(size - out.size() - 2, '-') + "\r\n";
    return out;
}

// Apart from the line break that ends each logged line.
bool hasControlCharacter(const QString& line) {
    for (const QChar c : line.endsWith('\n') ? line.chopped(1) : line) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7f)
            return true;
    }
    return false;
}

const char kHallOn[] = "08 37 02 65 45 56 01 01 01 00 00";
const char kKitchenOn[] = "08 37 01 65 45 56 01 01 01 00 00";

TEST_F(EventFilesTest, OddEntriesAreNeverReadAndEachIsLoggedOnce) {
    // A file outside the data root that a link points to: its first line is a request.
    QTemporaryDir outside;
    const QString secret = outside.filePath("secret.txt");
    const QByteArray marker = "Marker; outside-7f3a\r\n";
    {
        QFile f(secret);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(marker);
    }
    QByteArray big(EventFiles::kMaxEventFileBytes + 1, '\0');
    for (int i = 0; i < big.size(); ++i)
        big[i] = static_cast<char>(i * 7);
    tmp.write("emails/big.run", big);
    tmp.write("emails/exact.run", paddedDirectFile(EventFiles::kMaxEventFileBytes));
    ASSERT_EQ(tmp.read("emails/exact.run").size(), EventFiles::kMaxEventFileBytes);
    ASSERT_EQ(::symlink(QFile::encodeName(secret).constData(),
                        QFile::encodeName(tmp.path("emails/s.run")).constData()),
              0);
    // Opened without O_NONBLOCK, the FIFO would hold the scan (and this test) for ever.
    ASSERT_EQ(::mkfifo(QFile::encodeName(tmp.path("emails/x.run")).constData(), 0644), 0);
    tmp.mkdir("emails/d.run");
    // 4 kB of binary after a device name, without a line break: one long first line.
    QByteArray binary = "Nobody; ";
    for (int i = 0; binary.size() < 4096; ++i) {
        if (i % 256 != '\n')
            binary += static_cast<char>(i % 256);
    }
    tmp.write("emails/bin.run", binary);
    age(clock, tmp.path("emails/bin.run"), 5);

    const struct {
        const char* name;
        QString line;  // part of its one log line
    } cases[] = {
        {"big.run",
         QStringLiteral(" (65537 bytes), moved to ") + tmp.path("emails/rejected/big.run")},
        {"s.run", "Not an event file: " + tmp.path("emails/s.run") + " is a symbolic link"},
        {"x.run", "Not an event file: " + tmp.path("emails/x.run") + " is a FIFO"},
        {"d.run", "Not an event file: " + tmp.path("emails/d.run") + " is a folder"},
        {"bin.run",
         "Unknown device in event request: " + tmp.path("emails/bin.run") + " -> Nobody; "},
    };
    auto ticks = [&](int n) {
        for (int i = 0; i < n; ++i) {
            files.step();
            for (const QString& f : takeFrames()) {
                EXPECT_EQ(f, kHallOn);
                confirm(55, 2);
            }
            clock.advanceMs(std::max(timing.QUERY_DEV, 1000));
        }
    };
    ticks(20);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const QStringList lines = logged.filter(tmp.path(QLatin1String("emails/") + c.name));
        ASSERT_EQ(lines.size(), 1) << logged.join('\n').toStdString();
        EXPECT_TRUE(lines[0].contains(c.line)) << lines[0].toStdString();
    }
    // Exactly the limit is read and run; one byte more is moved aside intact.
    EXPECT_TRUE(loggedLine("Hall - Lights On"));
    EXPECT_FALSE(tmp.exists("emails/exact.run"));
    EXPECT_FALSE(tmp.exists("emails/big.run"));
    EXPECT_EQ(tmp.read("emails/rejected/big.run"), big);
    // The link and its target are untouched, and nothing of the target was logged.
    EXPECT_EQ(QFileInfo(tmp.path("emails/s.run")).symLinkTarget(), secret);
    QFile target(secret);
    ASSERT_TRUE(target.open(QIODevice::ReadOnly));
    EXPECT_EQ(target.readAll(), marker);
    EXPECT_TRUE(logged.filter("outside-7f3a").isEmpty());
    EXPECT_TRUE(logged.filter("Marker").isEmpty());
    // The binary request: cut at 200 characters, no raw control character in any line.
    for (const QString& l : logged)
        EXPECT_FALSE(hasControlCharacter(l)) << l.toStdString();
    const QString shown = logged.filter("bin.run").value(0).section(" -> ", 1).chopped(1);
    EXPECT_TRUE(shown.endsWith("...")) << shown.toStdString();
    EXPECT_EQ(QString(shown).replace(QRegularExpression("\\\\x[0-9A-F]{2}"), "#").size(), 203);
    // The folder "rejected" is no request.
    EXPECT_EQ(logged.filter("rejected").size(), 1);

    // A second file of the same name takes the next free name; the first stays as it was.
    tmp.write("emails/big.run", big + "2");
    // A new entry under a known name is judged afresh.
    ASSERT_TRUE(QDir(tmp.path("emails/d.run")).removeRecursively());
    ticks(2);
    ASSERT_EQ(::mkfifo(QFile::encodeName(tmp.path("emails/d.run")).constData(), 0644), 0);
    logged.clear();
    ticks(5);
    EXPECT_EQ(tmp.read("emails/rejected/big.run"), big);
    EXPECT_EQ(tmp.read("emails/rejected/big_.run"), big + "2");
    const QStringList again = logged.filter("Not an event file: ");
    ASSERT_EQ(again.size(), 1) << again.join("").toStdString();
    EXPECT_TRUE(
        again[0].endsWith("Not an event file: " + tmp.path("emails/d.run") + " is a FIFO\n"));

    // A good request after all of these runs.
    tmp.write("emails/good.run", "Kitchen; Lights On\r\n");
    files.step();
    EXPECT_EQ(takeFrames(), QStringList{kKitchenOn});
}

// Root reads any file whatever its permissions, so besides chmod 000 (tried only when not
// root) the file is made unreadable by a write lease this process holds: the scan's open
// with O_NONBLOCK fails at once with EWOULDBLOCK (and would hang without O_NONBLOCK).
TEST_F(EventFilesTest, UnreadableFileIsLoggedOnceAndAgainWhenItChanges) {
    const QString path = tmp.path("emails/z.run");
    const QByteArray native = QFile::encodeName(path);
    int holder = -1;
    struct sigaction ignore {
    }, old{};
    ignore.sa_handler = SIG_IGN;
    ::sigaction(SIGIO, &ignore, &old);  // the lease break would signal this process
    const struct {
        const char* cause;
        std::function<bool()> hold;  // false: the cause is not available here
        std::function<void()> release;
    } cases[] = {
        {"chmod 000", [&] { return ::geteuid() != 0 && ::chmod(native.constData(), 0) == 0; },
         [&] { ::chmod(native.constData(), 0644); }},
        {"write lease",
         [&] {
             holder = ::open(native.constData(), O_WRONLY | O_CLOEXEC);
             return holder >= 0 && ::fcntl(holder, F_SETLEASE, F_WRLCK) == 0;
         },
         [&] {
             ::fcntl(holder, F_SETLEASE, F_UNLCK);
             ::close(holder);
         }},
    };
    int covered = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.cause);
        tmp.write("emails/z.run", "Kitchen; Lights On\r\n");
        if (!c.hold()) {
            c.release();
            QFile::remove(path);
            continue;
        }
        ++covered;
        logged.clear();
        auto ticks = [&](int n) {
            for (int i = 0; i < n; ++i) {
                EXPECT_FALSE(files.step().taken);
                clock.advanceMs(timing.QUERY_DEV);
            }
        };
        ticks(6);
        EXPECT_EQ(logged.filter("Error reading direct event: " + path + ": ").size(), 1)
            << logged.join('\n').toStdString();
        // Its modification time changes: logged again, once (a minute later, so that the log
        // does not fold the line into a repeat summary).
        clock.advanceMs(61000);
        age(clock, path, 5);
        ticks(6);
        EXPECT_EQ(logged.filter("Error reading direct event: ").size(), 2);
        EXPECT_EQ(logged.size(), 2) << logged.join('\n').toStdString();
        c.release();
        EXPECT_TRUE(files.step().taken);
        EXPECT_EQ(takeFrames(), QStringList{kKitchenOn});
        confirm(55, 1);
        EXPECT_TRUE(emails().isEmpty());
    }
    ::sigaction(SIGIO, &old, nullptr);
    if (covered == 0)
        GTEST_SKIP() << "neither chmod 000 nor a write lease makes a file unreadable here";
}

}  // namespace
}  // namespace velmar
