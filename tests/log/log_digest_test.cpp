#include "log/log_digest.h"

#include <gtest/gtest.h>

#include "log/event_log.h"
#include "support/fake_clock.h"
#include "support/temp_root.h"

namespace velmar {
namespace {

// A data root, a clock on 2026-12-09 10:11:12 and the lines the digest logs.
class DigestTest : public ::testing::Test {
  protected:
    DigestTest() {
        t.mkdir("logs");
        log.setSink([this](const QString& text) { logged += text; });
    }
    QByteArray run() {
        LogDigest d(root, log, clock);
        d.getemailsconfig();
        d.getlogs();
        return t.read("emailsout/logs.txt");
    }

    test::TempRoot t;
    DataRoot root{t.root()};
    test::FakeClock clock;
    EventLog log{root, clock};
    QString logged;
};

TEST_F(DigestTest, ExactDigest) {
    t.write("emsubmittion.cfg", "To: a@b\r\nSubject: logs");
    t.write("emailblacklist.cfg", "noise\r\n");
    t.write("logs/all.log",
            "2026-12-08 23:59:59 :    yesterday\r\n"
            "2026-12-09 00:00:00 :    first noise\r\n"
            "continued line\r\n"
            "short\n"
            "2026-12-10 01:00:00 :    tomorrow\r\n");
    t.write("logs/alarms.log",
            "2026-12-09 10:00:00 :    ALARM noise zone 1\r\n"
            "2026-12-09 10:05:00 :    ALARM zone 2\r\n");
    t.write("logs/notes.txt", "line noise one\r\nline two");
    t.write("logs/my file.log", "\xB3\xF3\x64\x9F and more\r\n");  // cp1250 survives
    t.write("logs/sms.log", "ab\r\n");                             // four bytes or less: "1"
    t.write("logs/five.txt", "abcde");
    t.write("logs/Error.LOG", "20261208 no separators\r\n");
    t.write("logs/emails.log", "mail log, never sent\r\n");
    t.write("logs/all.logs", "growing file, never sent\r\n");
    t.write("logs/logs.txtt", "old digest\r\n");
    t.write("logs/x.html", "four-letter extension\r\n");

    const QByteArray tail = "\r\n\r\n!@#\r\n\r\n";
    const QByteArray expected =
        "To: a@b\r\nSubject: logs\r\n\r\n+-+-BEGIN_LOG_MESSAGE+-+-\r\n"
        "#@!logs/alarms-log.txt\r\nDate: 2026-12-09 10:11:12\r\n"
        "2026-12-09 10:05:00 :    ALARM zone 2\r\n\r\n" +
        tail + "#@!logs/five.txt\r\nabcde\r\n" + tail +
        "#@!logs/my_file-log.txt\r\nDate: 2026-12-09 10:11:12\r\n"
        "\xB3\xF3\x64\x9F and more\r\n\r\n" +
        tail + "#@!logs/notes.txt\r\nline noise one\r\nline two\r\n" + tail +
        "#@!logs/all-log.txt\r\nDate: 2026-12-09 10:11:12\r\n"
        "2026-12-10 01:00:00 :    tomorrow\r\nshort\r\ncontinued line\r\n\r\n" +
        tail +
        "#@!logs/Error-log.txt\r\nDate: 2026-12-09 10:11:12\r\n"
        "20261208 no separators\r\n\r\n" +
        tail + "#@!logs/sms-log.txt\r\nDate: 2026-12-09 10:11:12\r\n1\r\n\r\n" + tail +
        "+-+-END_LOG_MESSAGE+-+-\r\n";
    EXPECT_EQ(run(), expected);  // "emailsout" did not exist before
    EXPECT_EQ(t.read("logs/logs.txtt"), expected);
    EXPECT_EQ(logged, QString());
    // The work copies are gone, the sources stay.
    EXPECT_FALSE(t.exists("templogs/alarms.log"));
    EXPECT_FALSE(t.exists("templogs/later/all.log"));
    EXPECT_TRUE(t.exists("logs/all.log"));
    EXPECT_TRUE(t.exists("logs/sms.log"));
}

TEST_F(DigestTest, DateFilter) {
    struct Case {
        const char* line;
        bool kept;
    };
    const Case cases[] = {
        {"2026-12-09 00:00:00 :    today", true},
        {"2026-12-08 23:59:59 :    yesterday", false},
        {"2025-12-31 10:00:00 :    last year", false},
        {"2027-01-01 00:00:00 :    next year", true},
        {"2026/12/08 :    other separators", false},
        {"2026x12y08 :    any separator", false},
        {"2026-12-0x :    not a number", true},
        {"2026-1-08 :    one-digit month", true},
        {" 2026-12-08 :    leading blank", true},
        {"+026-12-08 :    sign", true},
        {"received text from a device", true},
        {"2026-12-08", true},  // ten characters or less
        {"", true},
    };
    QByteArray file;
    QByteArray kept;
    for (const Case& c : cases) {
        file += QByteArray(c.line) + "\r\n";
        if (c.kept)
            kept += QByteArray(c.line) + "\r\n";
    }
    t.write("logs/f.txt", file);
    EXPECT_EQ(run(), "\r\n+-+-BEGIN_LOG_MESSAGE+-+-\r\n#@!logs/f.txt\r\n" + kept +
                         "\r\n\r\n!@#\r\n\r\n+-+-END_LOG_MESSAGE+-+-\r\n");
}

TEST_F(DigestTest, Blacklist) {
    struct Case {
        const char* file;
        int count;
        QStringList entries;
    };
    QByteArray sixty;
    for (int i = 1; i <= 60; ++i)
        sixty += "entry" + QByteArray::number(i) + "\r\n";
    QStringList fifty;
    for (int i = 1; i <= 50; ++i)
        fifty << QStringLiteral("entry%1").arg(i);
    const Case cases[] = {
        {nullptr, 0, {}},        {"", 0, {}},
        {"a\nb", 2, {"a", "b"}}, {"a\r\nb\r\n\r\nc\r\n", 3, {"a", "b", ""}},
        {"\r\nc\r\n", 1, {""}},  {sixty.constData(), 50, fifty},
    };
    for (const Case& c : cases) {
        QFile::remove(t.path("emailblacklist.cfg"));
        if (c.file)
            t.write("emailblacklist.cfg", c.file);
        LogDigest d(root, log, clock);
        d.getemailsconfig();
        EXPECT_EQ(d.blacklistcount(), c.count) << (c.file ? c.file : "missing");
        EXPECT_EQ(d.blacklist(), c.entries) << (c.file ? c.file : "missing");
    }

    t.write("emailblacklist.cfg", "Pump\r\n\r\n");
    LogDigest d(root, log, clock);
    d.getemailsconfig();
    EXPECT_TRUE(d.blacklisted("x Pump y"));
    EXPECT_FALSE(d.blacklisted("x pump y"));
    EXPECT_FALSE(d.blacklisted(""));
    EXPECT_EQ(d.emsubmisionsettings(), QString());
}

TEST_F(DigestTest, FailuresAreLoggedAndTheDigestStillGoesOut) {
    t.write("templogs", "a file where the folder belongs");
    t.write("logs/a.txt", "hello world\r\n");
    EXPECT_EQ(run(), "\r\n+-+-BEGIN_LOG_MESSAGE+-+-\r\n+-+-END_LOG_MESSAGE+-+-\r\n");
    EXPECT_TRUE(logged.contains("I/O Exception: " + t.path("templogs") + ": cannot create"));
    EXPECT_TRUE(logged.contains("I/O Exception: " + t.path("templogs/a.txt")));
}

TEST_F(DigestTest, UnwritableGatewayFolderIsLogged) {
    t.write("emailsout", "a file where the folder belongs");
    t.write("logs/a.txt", "hello world\r\n");
    run();
    EXPECT_TRUE(logged.contains("I/O Exception: " + t.path("emailsout/logs.txt")));
    EXPECT_TRUE(t.read("logs/logs.txtt").contains("hello world"));
}

}  // namespace
}  // namespace velmar
