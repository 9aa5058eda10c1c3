#include "app/first_run.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>

#include "log/event_log.h"
#include "support/fake_clock.h"
#include "support/temp_root.h"

namespace velmar {
namespace {

class FirstRunTest : public ::testing::Test {
  protected:
    FirstRunTest() : root(t.root()), log(root, clock) { t.mkdir("logs"); }
    test::TempRoot t;
    test::FakeClock clock;
    DataRoot root;
    EventLog log;
};

TEST_F(FirstRunTest, EmptyRootGetsEveryFileByteForByte) {
    const QByteArray r = t.root().toUtf8();
    const std::vector<std::pair<QString, QByteArray>> files = {
        {"ir/winamp.usr",
         "Play/Pause{$2#399}\r\nStop{$1#5CC2}\r\nFile{$2#3E8}\r\nNext Track{$2#3D6}\r\nPrevious "
         "Track{$2#3D7}\r\nNext Program{$2#390}\r\nPrevious Program{$2#391}\r\nForward{$2#39C}\r\n"
         "Backward{$2#39B}\r\nMenu Left{$2#3E2}\r\nMenu Right{$2#3E1}\r\nMenu Top{$2#3C2}\r\nMenu "
         "Bottom{$2#3C3}\r\nDisplay{$2#3C1}\r\nTimer{$2#3E0}\r\nMenu{$2#3CD}\r\nVolume "
         "+{$2#92}\r\nVolume -{$2#93}\r\nEject{$2#396}\r\nShuffle{$2#3D8}\r\nRepeat{$1#523D}\r\n"
         "\r\n"},
        {"killexec/velmar.runs",
         "Velmar Manager\r\nvelmar.exe\r\n/ne /nd /nr /nt\r\n100000\r\n120\r\n" + r +
             "external.stp\r\n\r\n"},
        {"exec/email.runs", "Email Gateway for Velmar\r\nPostRelay.exe\r\n\r\n120\r\n120\r\n\r\n"},
        {"exec/sms.runs", "Sms Gateway for Velmar\r\nTextRelay.exe\r\n\r\n90\r\n30\r\n\r\n"},
        {"exec/wdt.runs", "System Monitor for Velmar\r\nWatchman.exe\r\n\r\n200000\r\n40\r\n" + r +
                              "wdt.blk\r\n\r\n"},
        {"killexec/ftp.runs_",
         "Ftp Gateway for Velmar\r\nFileRelay.exe\r\n/U:user /P:kiwi /W:server /D:directory  "
         "/Interval:30 /RecreateDirs /Incremental /CP:UTF8 /CPF:UTF8\r\n1000\r\n120\r\n" +
             r + "FileRelay.stp\r\n\r\n"},
        {"killexec/bluetooth.runs_",
         "BlueTooth Gateway for Velmar\r\nRadioRelay.exe\r\n\r\n10000000\r\n100\r\n\r\n"},
        {"killexec/Soundbox.runs",
         "Soundbox for Velmar\r\nSoundbox.exe\r\n\r\n10000000\r\n110\r\n\r\n"},
        {"preinstalled.txt", "1\r\n"}};
    runFirstRunInstallation(root, log);
    for (const auto& [name, bytes] : files)
        EXPECT_EQ(t.read(name), bytes) << name.toStdString();
    EXPECT_EQ(QDir(t.root()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot,
                                       QDir::Name),
              QStringList({"exec", "ir", "killexec", "logs", "preinstalled.txt"}));
    EXPECT_EQ(
        QDir(t.path("killexec")).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
        QStringList({"bluetooth.runs_", "ftp.runs_", "Soundbox.runs", "velmar.runs"}));
}

TEST_F(FirstRunTest, PreinstalledMarkerStopsEverything) {
    runFirstRunInstallation(root, log);
    QFile::remove(t.path("exec/email.runs"));
    t.write("exec/sms.runs", "edited");
    runFirstRunInstallation(root, log);
    EXPECT_FALSE(t.exists("exec/email.runs"));
    EXPECT_EQ(t.read("exec/sms.runs"), QByteArray("edited"));

    test::TempRoot other;
    other.write("preinstalled.txt", "");
    const DataRoot otherRoot(other.root());
    runFirstRunInstallation(otherRoot, log);
    EXPECT_FALSE(other.exists("ir"));
    EXPECT_FALSE(other.exists("exec"));
}

TEST_F(FirstRunTest, ExistingDirectoriesAreReusedWhateverTheirCase) {
    t.mkdir("KillExec");
    runFirstRunInstallation(root, log);
    EXPECT_FALSE(t.exists("killexec"));
    EXPECT_TRUE(t.exists("KillExec/velmar.runs"));
}

TEST_F(FirstRunTest, AudioNameListsFromQuartelTexts) {
    // Third lines: listed unless empty or recorded as "Audios\<line>.wma" or ".mp3".
    const std::vector<std::pair<QString, QByteArray>> quartel = {
        {"b.txt", "x\r\ny\r\nKitchen light\r\n"},
        {"A.txt", "x\r\ny\r\nHall\r\n"},
        {"c.TXT", "x\r\ny\r\n\r\nnot this\r\n"},
        {"d.txt", "x\r\ny\r\n"},
        {"e.txt", "x\ny\nGarage\n"},
        {"f.txt", "x\ny\nDoor"},
        {"g.txt", "x\ny\nGate\n"},
        {"h.dat", "x\ny\nIgnored\n"}};
    for (const auto& [name, bytes] : quartel)
        t.write("aliases/Quartel/" + name, bytes);
    t.mkdir("aliases/Quartel/sub.txt");
    t.write("AUDIOS/garage.WMA", "");
    t.write("AUDIOS/Door.mp3", "");
    t.write("AUDIOS/Gate.ogg", "");

    writeAudioNameLists(root, log);
    EXPECT_EQ(t.read("audios.nam"),
              QByteArray("[NAMES]\r\nTrack 1=Hall\r\nTrack 2=Kitchen light\r\nTrack 3=Gate\r\n"));
    EXPECT_FALSE(t.exists("inext1.nam"));
}

TEST_F(FirstRunTest, AudioNameListsWithoutSources) {
    writeAudioNameLists(root, log);
    EXPECT_EQ(t.read("audios.nam"), QByteArray("[NAMES]\r\n"));
    for (int k = 1; k <= 5; ++k)
        EXPECT_FALSE(t.exists(QString("inext%1.nam").arg(k)));
}

TEST_F(FirstRunTest, ExpanderNameLists) {
    t.write("devices aliases/Sensel 2.nam", "Window\r\n\r\nDoor\r\n");
    t.write("devices aliases/Sensel 5.nam", "");
    t.write("devices aliases/Sensel 6.nam", "Out of range\r\n");
    t.write("Audios/Window.mp3", "");  // no audio check for expander names
    writeAudioNameLists(root, log);
    EXPECT_EQ(t.read("inext2.nam"),
              QByteArray("[NAMES]\r\nTrack 1=Window\r\nTrack 2=\r\nTrack 3=Door\r\n"));
    EXPECT_EQ(t.read("inext5.nam"), QByteArray("[NAMES]\r\n"));
    for (int k : {1, 3, 4, 6})
        EXPECT_FALSE(t.exists(QString("inext%1.nam").arg(k))) << k;
}

}  // namespace
}  // namespace velmar
