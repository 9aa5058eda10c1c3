#include "log/log_files.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QFile>
#include <functional>

#include "log/event_log.h"
#include "support/fake_clock.h"
#include "support/temp_root.h"

namespace velmar {
namespace {

class LogFilesTest : public ::testing::Test {
  protected:
    LogFilesTest() {
        log.setSink([this](const QString& text) { logged += text; });
    }

    test::TempRoot t;
    DataRoot root{t.root()};
    test::FakeClock clock;
    EventLog log{root, clock};
    LogFiles files{root, log, clock};
    QString logged;
};

TEST_F(LogFilesTest, WriteLogExactBytes) {
    t.mkdir("logs/V");
    t.mkdir("status/V");
    files.WriteLog("V\\a.log", "dev", "ON 1", "", "on");
    EXPECT_FALSE(t.exists("status/V/a.log"));
    clock.advanceMs(61000);
    files.WriteLog("V\\a.log", "dev", "ON 2", "V", "on");
    files.WriteLog("V\\a.log", "dev", QStringLiteral("żar"), "V", "on");
    EXPECT_EQ(t.read("logs/V/a.log"),
              "2026-12-09 10:11:12 :    dev ->    ON 1\r\n"
              "2026-12-09 10:12:13 :    dev ->    ON 2\r\n"
              "2026-12-09 10:12:13 :    dev ->    \xBF\x61r\r\n");
    EXPECT_EQ(t.read("status/V/a.log"), "dev - \xBF\x61r\r\n");
    EXPECT_EQ(logged, QString());
}

TEST_F(LogFilesTest, FailuresAreLoggedWithTheirFileNames) {
    t.mkdir("logs/V");
    struct Case {
        std::function<void()> act;
        QString message;
    };
    const Case cases[] = {
        {[&] { files.WriteLog("W\\a.log", "dev", "x", "", ""); },
         "Error writing log file: W\\a.log -> " + t.path("logs/W/a.log")},
        {[&] { files.WriteLog("V\\a.log", "dev", "x", "V", ""); },
         "Error writing  file: status\\V\\a.log -> " + t.path("status/V/a.log")},
        {[&] { files.crfile("none\\x.blk"); },
         "Error writing crfile: none\\x.blk ->" + t.path("none/x.blk")},
        {[&] { files.copygraph("../x", "ON", "on"); }, "Error copygraph: invalid name"},
        {[&] { files.copygraph("dev", "ON", "a/b"); }, "Error copygraph: invalid name"},
        {[&] { files.copygraph("a\\b", "ON", "on"); }, "Error copygraph: invalid name"},
    };
    for (const Case& c : cases) {
        logged.clear();
        c.act();
        EXPECT_TRUE(logged.contains(c.message)) << logged.toStdString();
    }
    // A refused device name touches nothing.
    EXPECT_FALSE(t.exists("x.log"));
    EXPECT_FALSE(t.exists(".stp"));
    EXPECT_FALSE(t.exists("status"));
}

TEST_F(LogFilesTest, CopygraphUpdatesEveryView) {
    t.write("all graphics/V1/dev - on.asc", "picture 1");
    t.write("all graphics/V2/dev - on.asc", "picture 2");
    t.write("views/V2/dev - on.asc", "shown already");
    t.mkdir("all graphics/V3.old");
    t.write("all graphics/readme", "not a view");

    files.copygraph("dev", "ON 1", "on");

    const QByteArray line = "2026-12-09 10:11:12 :    dev ->    ON 1\r\n";
    EXPECT_EQ(t.read("views/V1/dev - on.asc"), "picture 1");
    EXPECT_EQ(t.read("views/V2/dev - on.asc"), "shown already");
    EXPECT_EQ(t.read("logs/V1/V1.log"), line);
    EXPECT_FALSE(t.exists("logs/V2/V2.log"));
    EXPECT_EQ(t.read("logs/V1/dev.log"), line);
    EXPECT_EQ(t.read("logs/V2/dev.log"), line);
    EXPECT_EQ(t.read("status/V1/V1.log"), "dev - ON 1\r\n");
    EXPECT_FALSE(t.exists("status/V2/V2.log"));
    EXPECT_EQ(t.read("status/V2/dev.log"), "dev - ON 1\r\n");
    EXPECT_EQ(t.read("V2.stp"), "1\r\n");
    for (const char* gone :
         {"V1.blk", "V2.blk", "V1.stp", "V3.old.stp", "logs/V3.old", "readme.stp", "logs/readme"}) {
        EXPECT_FALSE(t.exists(gone)) << gone;
    }

    // The picture is in place now: the view log keeps its single line.
    files.copygraph("dev", "ON 2", "on");
    EXPECT_EQ(t.read("logs/V1/V1.log"), line);
    EXPECT_EQ(t.read("status/V1/dev.log"), "dev - ON 2\r\n");
    EXPECT_EQ(logged, QString());
}

TEST_F(LogFilesTest, CopygraphWithoutViews) {
    files.copygraph("dev", "ON", "on");
    EXPECT_EQ(t.read(".stp"), "1\r\n");
}

}  // namespace
}  // namespace velmar

namespace velmar {
namespace {

// A flag in place is not rewritten (the data root would change and every case-insensitive
// look-up in it would need a new listing); a flag that went away or was changed is written.
TEST_F(LogFilesTest, FlagInPlaceIsLeftAlone) {
    auto inode = [&] {
        struct stat st {};
        return ::stat(QFile::encodeName(t.path(".stp")).constData(), &st) == 0 ? st.st_ino : 0;
    };
    ASSERT_TRUE(files.crfile(".stp"));
    const auto first = inode();
    ASSERT_NE(first, 0u);
    ASSERT_TRUE(files.crfile(".stp"));
    EXPECT_EQ(inode(), first);
    struct Case {
        const char* what;
        std::function<void()> change;
    } cases[] = {
        {"deleted", [&] { QFile::remove(t.path(".stp")); }},
        {"emptied", [&] { t.write(".stp", ""); }},
        {"changed", [&] { t.write(".stp", "10\r\n"); }},
    };
    for (const Case& c : cases) {
        c.change();
        ASSERT_TRUE(files.crfile(".stp")) << c.what;
        EXPECT_EQ(t.read(".stp"), QByteArray("1\r\n")) << c.what;
    }
    EXPECT_EQ(logged, QString());
}

}  // namespace
}  // namespace velmar
