#include "devices/status_publisher.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>

#include "log/event_log.h"
#include "support/fake_clock.h"
#include "support/temp_root.h"

namespace velmar {
namespace {

class StatusFilesTest : public ::testing::Test {
  protected:
    test::TempRoot tmp;
    test::FakeClock clock{QDateTime::currentDateTime()};
    DataRoot root{tmp.root()};
    EventLog log{root, clock};
    StatusFiles files{root, log, clock};

    QStringList sms() const { return QDir(tmp.path("smsout")).entryList(QDir::Files); }
};

TEST_F(StatusFilesTest, SmsTextsLoseOnlyALoneFinalComma) {
    struct Row {
        const char* text;
        const char* body;
    };
    const Row rows[] = {
        {"Alarm: Win,", "Alarm: Win"},
        {"Alarm: Win,Door,", "Alarm: Win,Door,"},
        {"Alarm: Win,,", "Alarm: Win,,"},
        {"Zone 1 -> Zmiana Zabezpieczen.", "Zone 1 -> Zmiana Zabezpieczen."},
        {"Alarm: Łąka,", "Alarm: Laka"},
    };
    int n = 0;
    for (const Row& r : rows) {
        const QString number = QString::number(100 + n++);
        const QString text = QString::fromUtf8(r.text);
        files.createsms(number, text);
        const QString name = "smsout/" + number + "-" + StatusFiles::smsStem(text) + ".txt";
        EXPECT_EQ(tmp.read(name), number.toLatin1() + "\r\n" + r.body + "\r\n") << r.text;
    }
    EXPECT_EQ(StatusFiles::smsStem("Alarm: Win,"), "Alarm   Win ");
}

TEST_F(StatusFilesTest, SmsRequestIsNotRepeatedWhileWaitingOrJustSent) {
    files.createsms("600", "Alarm: Win,");
    ASSERT_EQ(sms().size(), 1);
    files.createsms("600", "Alarm: Win,");
    EXPECT_EQ(sms().size(), 1);

    // The gateway renames a sent request to ".snt"; it blocks a repeat for about a minute.
    const QString sent = tmp.path("smsout/" + sms().first().chopped(4) + ".snt");
    ASSERT_TRUE(QFile::rename(tmp.path("smsout/" + sms().first()), sent));
    files.createsms("600", "Alarm: Win,");
    EXPECT_EQ(sms(), QStringList({QFileInfo(sent).fileName()}));

    clock.advanceMs(61000);
    files.createsms("600", "Alarm: Win,");
    EXPECT_EQ(sms().size(), 1);
    EXPECT_TRUE(sms().first().endsWith(".txt"));

    files.createsms("", "Alarm: Win,");
    files.createsms("601", "");
    files.createsms("../x", "Alarm");
    EXPECT_EQ(sms().size(), 1);
    EXPECT_FALSE(QFile::exists(tmp.path("x-Alarm.txt")));
}

TEST_F(StatusFilesTest, AnalogueValueFileTargets) {
    tmp.mkdir("logs");
    files.AdcVisualFV("logs\\D\\Temps\\T.txt", "logs\\heater.txtx", {"1", "2"});
    for (const char* name : {"logs/D/Temps/T.txt", "logs/D/Temps/T.txtv", "logs/heater.txtx",
                             "logs/heater.txtxv", "logs/heater.txt"}) {
        EXPECT_EQ(tmp.read(name), "1\r\n2\r\n") << name;
    }
}

TEST_F(StatusFilesTest, FlagsNeverOverwriteAndBadNamesAreRefused) {
    tmp.mkdir("logs");
    tmp.write("logs/Dev/Lamp.txt", "custom");
    files.cr("Dev", "Lamp");
    EXPECT_EQ(tmp.read("logs/Dev/Lamp.txt"), "custom");
    EXPECT_EQ(tmp.read("logs/Dev/All/Lamp.txt"), "1\r\n");
    files.dr("Dev", "Lamp");
    EXPECT_FALSE(tmp.exists("logs/Dev/Lamp.txt"));
    EXPECT_FALSE(tmp.exists("logs/Dev/All/Lamp.txt"));
    files.dr("Dev", "Lamp");  // missing: no error

    for (const char* bad : {"", "..", "a\\b", "x:y", "a/b"})
        files.crin(QString::fromLatin1(bad));
    EXPECT_FALSE(tmp.exists("logs/InputSet"));
    files.crin("Door");
    EXPECT_EQ(tmp.read("logs/InputSet/Door.txt"), "1\r\n");

    files.crw("Dev", "Went", "Level 2");
    EXPECT_EQ(tmp.read("logs/Dev/Went.txt"), "Level 2\r\n");
    files.crw("Dev", "Went", "Level 3");
    EXPECT_EQ(tmp.read("logs/Dev/Went.txt"), "Level 3\r\n");
}

}  // namespace
}  // namespace velmar
