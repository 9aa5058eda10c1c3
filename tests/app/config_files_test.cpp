#include "app/config_files.h"

#include <gtest/gtest.h>

#include <QFile>
#include <functional>

#include "bus/com_config.h"
#include "log/event_log.h"
#include "support/fake_clock.h"
#include "support/temp_root.h"

namespace velmar {
namespace {

const QByteArray kDefaultAutoquery =
    ";Altering this file may affect performance of whole system. In case of problems delete this "
    "file, it will be recreated with default values. All Times in mSec.\r\n"
    "1000\r\n;Querying devices interval\r\n"
    "100\r\n;Querying events in email directory interval\r\n"
    "4000\r\n;Waiting after sending reset command to device\r\n"
    "1500\r\n;Waiting for query devices\r\n"
    "50\r\n;Waiting for Confirmation from devices\r\n"
    "100\r\n;Waiting for reception from OL,TL,QL\r\n"
    "20\r\n;Translating event to direct interval\r\n"
    "100\r\n;Delaying after security command reception\r\n"
    "50\r\n;Delaying after reception of data\r\n"
    "3000\r\n;Delaying after reception of Alarm data\r\n";

TimingSettings timing(std::array<std::int32_t, 10> v) {
    return {v[0], v[1], v[2], v[3], v[4], v[5], v[6], v[7], v[8], v[9]};
}

class ConfigFilesTest : public ::testing::Test {
  protected:
    ConfigFilesTest() : root(t.root()), log(root, clock) {
        t.mkdir("logs");
        log.setSink([this](const QString& line) { logged += line; });
    }
    test::TempRoot t;
    test::FakeClock clock;
    DataRoot root;
    EventLog log;
    QString logged;
};

TEST_F(ConfigFilesTest, MissingAutoqueryIsWrittenWithDefaultsOnce) {
    EXPECT_EQ(readOrCreateAutoquery(root, log), TimingSettings::builtIn());
    EXPECT_EQ(t.read("autoquery.cfg"), kDefaultAutoquery);
    EXPECT_EQ(readOrCreateAutoquery(root, log), TimingSettings::builtIn());

    const QByteArray custom = "header\n5\n;c\n";  // never rewritten, whatever it holds
    t.write("autoquery.cfg", custom);
    EXPECT_EQ(readOrCreateAutoquery(root, log),
              timing({5, 1200, 1200, 1200, 1200, 1200, 1200, 1200, 1200, 1200}));
    EXPECT_EQ(t.read("autoquery.cfg"), custom);
    EXPECT_EQ(timing({1000, 100, 4000, 1500, 50, 100, 20, 100, 50, 3000}),
              TimingSettings::builtIn());
    EXPECT_EQ(timing({2000, 1000, 15000, 4500, 100, 100, 200, 500, 500, 3000}),
              TimingSettings::adminSet());
}

TEST_F(ConfigFilesTest, AutoqueryValues) {
    const std::vector<std::pair<QByteArray, std::int32_t>> queryDev = {
        {"0", 1200}, {"1", 1},      {"10000", 10000}, {"10001", 1200},
        {"", 1200},  {"abc", 1200}, {"-5", 1200},     {" 250 ", 250}};
    for (const auto& [line2, expected] : queryDev) {
        t.write("autoquery.cfg", ";h\r\n" + line2 + "\r\n;c\r\n7\r\n");
        const TimingSettings s = readOrCreateAutoquery(root, log);
        EXPECT_EQ(s.QUERY_DEV, expected) << line2.toStdString();
        EXPECT_EQ(s.EMAIL_RUN, 7);
    }
    // Only the first five lines: the rest falls back to 1200, not to the built-in defaults.
    const QList<QByteArray> five = kDefaultAutoquery.split('\n').mid(0, 5);
    t.write("autoquery.cfg", five.join('\n') + '\n');
    EXPECT_EQ(readOrCreateAutoquery(root, log),
              timing({1000, 100, 1200, 1200, 1200, 1200, 1200, 1200, 1200, 1200}));
    // Values sit on the even lines; comments are not parsed.
    QStringList lines(21, "9999");
    for (int i = 0; i < 10; ++i)
        lines[1 + 2 * i] = QString::number(i + 1);
    EXPECT_EQ(parseAutoquery(lines), timing({1, 2, 3, 4, 5, 6, 7, 8, 9, 10}));
}

TEST_F(ConfigFilesTest, Charset) {
    Settings s;
    readOrCreateCharset(root, log, s);
    EXPECT_EQ(t.read("charset.cfg"), QByteArray("windows-1250\r\nPL\r\n"));
    EXPECT_EQ(s.charset, "windows-1250");
    EXPECT_EQ(s.language, "PL");

    t.write("charset.cfg", "utf-8\r\n");
    readOrCreateCharset(root, log, s);
    EXPECT_EQ(s.charset, "utf-8");
    EXPECT_EQ(s.language, "");
    EXPECT_EQ(t.read("charset.cfg"), QByteArray("utf-8\r\n"));

    t.write("charset.cfg", "iso-8859-2\nEN");
    readOrCreateCharset(root, log, s);
    EXPECT_EQ(s.charset, "iso-8859-2");
    EXPECT_EQ(s.language, "EN");
}

TEST_F(ConfigFilesTest, Logsize) {
    EXPECT_EQ(readOrCreateLogsize(root, log).logsize, 100000);
    EXPECT_EQ(t.read("logsize.cfg"), QByteArray("100000\r\n"));
    const std::vector<std::pair<QByteArray, std::int32_t>> cases = {
        {"0\r\n", 0},        {"1000000\r\n", 1000000}, {"1000001\r\n", 100000},
        {"abc\r\n", 100000}, {"-1\r\n", 100000},       {"", 100000},
        {"2500", 2500},      {"\r\n7\r\n", 100000}};
    for (const auto& [bytes, expected] : cases) {
        t.write("logsize.cfg", bytes);
        EXPECT_EQ(readOrCreateLogsize(root, log).logsize, expected) << bytes.toStdString();
        EXPECT_EQ(t.read("logsize.cfg"), bytes);
    }
}

TEST_F(ConfigFilesTest, Recipients) {
    EXPECT_TRUE(readRecipients(root, "smsadmins.cfg").isEmpty());
    t.write("smsadmins.cfg", "+48600100200\r\n+48600100201\n");
    EXPECT_EQ(readRecipients(root, "smsadmins.cfg"), QStringList({"+48600100200", "+48600100201"}));
    EXPECT_FALSE(t.exists("smsreports.cfg"));
}

TEST_F(ConfigFilesTest, TcpEventDefaultAndLauncher) {
    const TcpEventLauncher l = readOrCreateTcpEventCfg(root, log);
    EXPECT_EQ(t.read("bin/tcpevent.cfg"), QByteArray("PushEvent.exe\r\n/EventsOnly\r\n"));
    EXPECT_EQ(l.program, t.root() + "bin/PushEvent.exe");
    EXPECT_EQ(l.workingDirectory, t.root() + "bin/");
    EXPECT_EQ(l.parameters, "/EventsOnly");

    t.write("bin/tcpevent.cfg", "RunEvent.exe\n");
    const TcpEventLauncher own = readOrCreateTcpEventCfg(root, log);
    EXPECT_EQ(own.program, t.root() + "bin/RunEvent.exe");
    EXPECT_EQ(own.parameters, "");
    EXPECT_EQ(t.read("bin/tcpevent.cfg"), QByteArray("RunEvent.exe\n"));
}

TEST_F(ConfigFilesTest, TcpEventProgramWithPathIsRefused) {
    for (const char* line1 : {"../evil", "/usr/bin/evil", "..", "sub\\x.exe", ""}) {
        t.write("bin/tcpevent.cfg", QByteArray(line1) + "\r\n/p\r\n");
        logged.clear();
        const TcpEventLauncher l = readOrCreateTcpEventCfg(root, log);
        EXPECT_EQ(l.program, "") << line1;
        EXPECT_EQ(l.workingDirectory, t.root() + "bin/");
        EXPECT_TRUE(logged.contains("tcpevent.cfg")) << line1;
    }
}

TEST_F(ConfigFilesTest, ExistingBinDirectoryIsFoundWhateverItsCase) {
    t.write("BIN/TcpEvent.cfg", "X.exe\r\n");
    const TcpEventLauncher l = readOrCreateTcpEventCfg(root, log);
    EXPECT_EQ(l.program, t.root() + "BIN/X.exe");
    EXPECT_FALSE(t.exists("bin"));
}

}  // namespace
}  // namespace velmar

namespace velmar {
namespace {

// Every value that falls back says which file and line, what it read and what it uses.
TEST_F(ConfigFilesTest, FallbacksNameFileLineAndValue) {
    struct Case {
        const char* file;
        QByteArray bytes;
        std::function<void()> read;
        QStringList lines;  // the log lines expected, in order
    } cases[] = {
        {"autoquery.cfg",
         "x\r\nabc\r\n;c\r\n100\r\n",
         [&] { readOrCreateAutoquery(root, log); },
         {"autoquery.cfg -> line 2: \"abc\", using 1200",
          "autoquery.cfg -> line 6: \"\", using 1200",
          "autoquery.cfg -> line 20: \"\", using 1200"}},
        {"logsize.cfg",
         "12ab\r\n",
         [&] { readOrCreateLogsize(root, log); },
         {"logsize.cfg -> line 1: \"12ab\", using 100000"}},
        {"logsize.cfg",
         "5000\r\n-3\r\n",
         [&] { readOrCreateLogsize(root, log); },
         {"logsize.cfg -> line 2: \"-3\", using 104857600"}},
        {"com.cfg",
         "/dev/ttyUSB0\r\nfast\r\n",
         [&] { readComConfig(root, &log); },
         {"com.cfg -> line 2: \"fast\", using 115200"}},
        {"com.cfg",
         "\r\n9600\r\n",
         [&] { readComConfig(root, &log); },
         {"com.cfg -> line 1: \"\", using com1 (/dev/ttyS0)"}},
        {"com.cfg",
         "com2\r\n9\x01\r\n",
         [&] { readComConfig(root, &log); },
         {"com.cfg -> line 2: \"9\\x01\", using 115200"}},
    };
    for (const Case& c : cases) {
        t.write(c.file, c.bytes);
        logged.clear();
        c.read();
        int from = 0;
        for (const QString& expected : c.lines) {
            const int at = static_cast<int>(logged.indexOf(
                QLatin1String("Error reading configuration file: ") + expected, from));
            EXPECT_GE(at, 0) << expected.toStdString() << "\n" << logged.toStdString();
            from = std::max(from, at);
        }
        if (QByteArray(c.file) == "autoquery.cfg") {
            EXPECT_EQ(logged.count(QLatin1String("autoquery.cfg -> line")), 9);
        }
        EXPECT_EQ(t.read(c.file), c.bytes);  // never rewritten
    }
}

TEST_F(ConfigFilesTest, GoodValuesAndMissingComCfg) {
    t.write("logsize.cfg", "5000\r\n0\r\n");
    EXPECT_EQ(readOrCreateLogsize(root, log).backupLogs, 0);
    t.write("logsize.cfg", "5000\r\n");
    EXPECT_EQ(readOrCreateLogsize(root, log).backupLogs, Settings::kBackupLogsDefault);
    t.write("com.cfg", "com3\r\n9600\r\n");
    const ComConfig c = readComConfig(root, &log);
    EXPECT_EQ(c.portName, "com3");
    EXPECT_EQ(c.baudRate, 9600);
    EXPECT_EQ(logged, QString());
    QFile::remove(root.path("com.cfg"));
    EXPECT_EQ(readComConfig(root, &log).portName, "com1");
    EXPECT_TRUE(logged.contains(
        "Error reading configuration file: com.cfg -> not found, opening com1 (/dev/ttyS0) at "
        "115200 bit/s"))
        << logged.toStdString();
}

}  // namespace
}  // namespace velmar
