#include "devices/status_decoder.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QLocale>
#include <map>

#include "devices/registry.h"
#include "support/bus_helpers.h"
#include "support/fake_clock.h"
#include "support/receive_rig.h"
#include "support/temp_root.h"

namespace velmar {
namespace {

using test::bytes;

struct StatusParts {
    test::TempRoot tmp;
    test::FakeClock clock;
    test::CaptureSerial serial;
    QStringList commands;
    QString rootDir;
    explicit StatusParts(const QString& sub) : rootDir(tmp.root() + sub) { QDir().mkpath(rootDir); }
};

// A status frame of `length` bytes from h-l: channel bytes and the rest given by offset.
QByteArray frame(int h, int l, int length, const std::map<int, int>& at, int prefix = 0) {
    QByteArray f(prefix + length, '\0');
    for (int i = 0; i < prefix; ++i)
        f[i] = static_cast<char>(i == 0 ? length + 2 : 254);
    f[prefix] = static_cast<char>(h);
    f[prefix + 1] = static_cast<char>(l);
    f[prefix + 2] = 's';
    for (const auto& [offset, value] : at) {
        if (offset < length)
            f[prefix + offset] = static_cast<char>(value);
        else
            ADD_FAILURE() << "offset " << offset << " outside a " << length << "-byte frame";
    }
    return f;
}

QByteArray twice(const QByteArray& f) {
    return f + f;
}

class StatusDecoderTest : public ::testing::Test, protected StatusParts, public test::ReceiveRig {
  protected:
    explicit StatusDecoderTest(const QString& sub = QString())
        : StatusParts(sub),
          ReceiveRig(rootDir, clock, &serial),
          decoder(status),
          heating(modules.heating.tables),
          thermel(modules.heating.status.thermel),
          wasalarm(alarms.wasalarm),
          alarmextender(alarms.alarmextender),
          tcpIndexInc(startup.TCP_INDEX_INC) {
        status.sensel.setRunCommand([this](DeviceAddress to, const QByteArray& t) {
            commands << QStringLiteral("%1,%2 %3")
                            .arg(to.adrh)
                            .arg(to.adrl)
                            .arg(QString::fromLatin1(t.toHex(' ')));
        });
        writeDevice(55, 1, "Kitchen", "Quartel", false);
    }

    // A device file as the configuration writes it: default names, calibration created.
    void writeDevice(int h, int l, const QString& name, const QString& type, bool external) {
        QDir().mkpath(rootDir + "devices aliases");
        QFile f(rootDir + QStringLiteral("devices aliases/%1-%2.dev").arg(h).arg(l));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(test::deviceFile(name, h, l, type, external));
    }

    void load() {
        registry.scanDevices();
        registry.loadnames_ql();
        for (int m = 1; m <= 5; ++m)
            registry.load_sensel(m);
    }

    QByteArray file(const QString& rel) const {
        QFile f(rootDir + rel);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
    }
    bool has(const QString& rel) const { return QFile::exists(rootDir + rel); }

    QByteArray wire() const { return serial.frames.empty() ? QByteArray() : serial.frames.back(); }

    StatusDecoder& decoder;
    HeatingTables& heating;
    ThermelState& thermel;
    bool& wasalarm;
    int& alarmextender;
    std::int32_t& tcpIndexInc;
};

const std::map<int, int> kKitchen = {{3, 0x03}, {4, 0xE8}, {19, 0x05}, {29, 0x02}};

TEST_F(StatusDecoderTest, DoubledFramePublishesCacheTextValuesAndOutputs) {
    load();
    decoder.set_ql(twice(frame(55, 1, 52, kKitchen)));

    QByteArray cache = bytes({52, 55, 1, 0x03, 0xE8}) + QByteArray(14, '\0') + bytes({0x05}) +
                       QByteArray(9, '\0') + bytes({0x02}) + QByteArray(22, '\0') +
                       bytes({55, 0});  // offset 52 is the repetition's first byte
    ASSERT_EQ(cache.size(), 54);
    EXPECT_EQ(file("logs/status/55-1.stat").toHex(' '), cache.toHex(' '));
    EXPECT_EQ(file("logs/status/55-1.sta"), cache);
    const auto snapshot = decoder.panelSnapshot();
    EXPECT_EQ(QByteArray(reinterpret_cast<const char*>(snapshot.data()), 54), cache);

    QByteArray text =
        "Kitchen 2026-12-09 10:11:12\r\n"
        "Program:  (2)\r\n"
        "Light Level: 97.75%   [T=215.6 [C],  U=4.888 [V],  97.75 [%]]\r\n"
        "Temperature: 0%   [T=-273.2 [C],  U=0 [V],  0 [%]]\r\n";
    for (int k = 3; k <= 8; ++k)
        text += QStringLiteral("A/D Converter %1: 0%   [T=-273.2 [C],  U=0 [V],  0 [%]]\r\n")
                    .arg(k)
                    .toLatin1();
    text += "\r\nActive Outs:\r\nOutput 1\r\nOutput 3\r\n\r\nActive Inputs:\r\n";
    EXPECT_EQ(file("logs/Kitchen.txt"), text);

    const QByteArray value = "215.60\r\n2.20\r\n97.75\r\n\r\n\r\n\r\n\r\n\r\n";
    for (const char* name :
         {"logs/Kitchen/Temps/Light Level.txt", "logs/Kitchen/All/Light Level.txt",
          "logs/Kitchen/Temps/Light Level.txtv", "logs/Kitchen/All/Light Level.txtv",
          "logs/Kitchen/All/Light Level.tx"}) {
        EXPECT_EQ(file(name), value) << name;
    }
    EXPECT_FALSE(has("logs/Kitchen/Temps/Temperature.txt"));  // unchanged channel

    for (const char* name : {"logs/Kitchen/Output 1.txt", "logs/Kitchen/All/Output 1.txt",
                             "logs/Kitchen/Output 3.txt", "logs/Kitchen/All/Output 3.txt"}) {
        EXPECT_EQ(file(name), "1\r\n") << name;
    }
    EXPECT_FALSE(has("logs/Kitchen/Output 2.txt"));
    EXPECT_TRUE(registry.rms[0].recent.isValid());

    auto next = kKitchen;
    next[19] = 0x01;
    decoder.set_ql(twice(frame(55, 1, 52, next)));
    EXPECT_TRUE(has("logs/Kitchen/Output 1.txt"));
    EXPECT_FALSE(has("logs/Kitchen/Output 3.txt"));
    EXPECT_FALSE(has("logs/Kitchen/All/Output 3.txt"));
}

TEST_F(StatusDecoderTest, FramesThatDoNotRepeatAreDropped) {
    load();
    auto other = kKitchen;
    other[40] = 1;
    for (const QByteArray& block :
         {frame(55, 1, 52, kKitchen), frame(55, 1, 52, kKitchen) + frame(55, 1, 52, other),
          twice(frame(55, 1, 52, kKitchen)).chopped(1)}) {
        decoder.set_ql(block);
        EXPECT_FALSE(has("logs/status/55-1.stat"));
        EXPECT_FALSE(has("logs/Kitchen.txt"));
        EXPECT_EQ(decoder.panelSnapshot()[0], 0);
    }
}

TEST_F(StatusDecoderTest, StatusFrameAfterATextMessageInTheSameBlock) {
    load();
    const QByteArray block =
        bytes({55, 2}) + "lHELLO" + QByteArray(1, '\0') + twice(frame(55, 1, 52, kKitchen));
    decoder.set_ql(block);
    EXPECT_EQ(file("logs/status/55-1.stat").left(5), bytes({52, 55, 1, 0x03, 0xE8}));
    EXPECT_EQ(findStatusFrame(bytes({0, 0, 1, 2, 's', 0}), 0), 2);
    EXPECT_EQ(findStatusFrame(bytes({1, 2, 'l', 'x'}), 0), -1);
}

TEST_F(StatusDecoderTest, UnknownSenderNeverOverwritesAnotherDevice) {
    load();
    decoder.set_ql(twice(frame(55, 1, 52, kKitchen)));
    decoder.set_ql(twice(frame(55, 9, 52, {{19, 0xFF}, {29, 7}})));
    const an* kitchen = registry.stateOf(55, 1);
    ASSERT_NE(kitchen, nullptr);
    EXPECT_EQ(kitchen->currentprogram, 2);
    EXPECT_TRUE(kitchen->out[0]);
    EXPECT_FALSE(kitchen->out[1]);
    EXPECT_FALSE(has("logs/Kitchen/Output 2.txt"));
    EXPECT_EQ(file("logs/status/55-9.stat").left(3), bytes({52, 55, 9}));
    EXPECT_EQ(decoder.panelSnapshot()[2], 9);
}

TEST_F(StatusDecoderTest, ExtendedAddressFramesOf72And55BytesAreAccepted) {
    writeDevice(2, 1, "Outside", "Quartel", true);
    load();
    tcpIndexInc = 3;
    const std::map<int, int> data = {{3, 1}, {19, 2}, {28, 4}, {29, 5}, {70, 9}};
    decoder.set_ql(twice(frame(2, 1, 72, data, 3)));
    const QByteArray stat = file("logs/status/2-1.stat");
    ASSERT_EQ(stat.size(), 74);
    EXPECT_EQ(stat.left(5), bytes({72, 2, 1, 's', 1}));  // offsets 2.. from byte 3
    EXPECT_EQ(static_cast<int>(stat[71]), 9);            // offset 70
    EXPECT_EQ(file("Velmar$#AQuery.cfg"), "1\r\n");
    ASSERT_NE(registry.stateOf(2, 1), nullptr);
    EXPECT_EQ(registry.stateOf(2, 1)->currentprogram, 5);
    EXPECT_EQ(decoder.outrel.currentzone, 4);
    EXPECT_TRUE(has("external.stp"));

    QFile::remove(rootDir + "Velmar$#AQuery.cfg");
    QFile::remove(rootDir + "logs/status/2-1.stat");
    decoder.set_ql(twice(frame(2, 1, 55, {{29, 6}}, 3)));
    EXPECT_EQ(file("logs/status/2-1.stat").left(1), bytes({72}));
    ASSERT_NE(registry.stateOf(2, 1), nullptr);
    EXPECT_EQ(registry.stateOf(2, 1)->currentprogram, 6);
    EXPECT_TRUE(has("Velmar$#AQuery.cfg"));
}

TEST_F(StatusDecoderTest, LargeFramesUseCode122) {
    load();
    decoder.set_ql(twice(frame(55, 1, 122, {{29, 3}, {121, 8}})));
    const QByteArray stat = file("logs/status/55-1.stat");
    ASSERT_EQ(stat.size(), 124);
    EXPECT_EQ(static_cast<int>(stat[0]), 122);
    EXPECT_EQ(static_cast<int>(stat[121]), 8);
    EXPECT_EQ(static_cast<int>(stat[122]), 55);  // offset 122: the repetition's first byte
    EXPECT_TRUE(has("Velmar$#AQuery.cfg"));
}

TEST_F(StatusDecoderTest, TemperatureForwardingToTheHeatingController) {
    writeDevice(1, 1, "Thermel", "Quartel", false);
    load();
    heating.TEMP = parseTemperatureSources({"55,1,2;", "55,1,9;"});
    AutoQuery.setPause(7000);
    decoder.set_ql(twice(frame(55, 1, 52, {{5, 0x02}, {6, 0x66}, {19, 1}})));
    EXPECT_TRUE(serial.frames.empty());
    decoder.set_ql(twice(frame(1, 1, 52, {{38, 4}, {29, 0x33}})));
    EXPECT_EQ(wire().toHex(' '),
              bytes({0x0D, 1, 1, 0x54, 0x02, 0x66, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}).toHex(' '));
    EXPECT_EQ(AutoQuery.interval(), timing.AFTER_RECEPTION);
    EXPECT_TRUE(AutoQuery.isActive());
    // The heating controller's program is its byte 38, not the temperature byte 29.
    ASSERT_NE(registry.stateOf(1, 1), nullptr);
    EXPECT_EQ(registry.stateOf(1, 1)->currentprogram, 4);
    EXPECT_EQ(thermel.CURRENT_PGM, 4);

    flags.linkel_addressing = true;
    decoder.set_ql(twice(frame(1, 1, 52, {})));
    EXPECT_EQ(
        wire().toHex(' '),
        bytes({0x0F, 1, 1, 254, 254, 0x54, 0x02, 0x66, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}).toHex(' '));
}

TEST_F(StatusDecoderTest, HeatingControllerWithoutDeviceFileGetsReadingsOnly) {
    load();
    heating.TEMP = parseTemperatureSources({"55,1,1;"});
    decoder.set_ql(twice(frame(55, 1, 52, kKitchen)));
    decoder.set_ql(twice(frame(1, 1, 52, {{38, 4}})));
    EXPECT_EQ(wire().left(6), bytes({0x0D, 1, 1, 'T', 0x03, 0xE8}));
    EXPECT_EQ(AutoQuery.interval(), timing.AFTER_RECEPTION);
    ASSERT_NE(registry.stateOf(55, 1), nullptr);
    EXPECT_EQ(registry.stateOf(55, 1)->currentprogram, 2);
    EXPECT_FALSE(has("logs/heater.txt"));
}

TEST_F(StatusDecoderTest, HeatingControllerFlagsSummaryAndValues) {
    writeDevice(1, 1, "Thermel", "Quartel", false);
    load();
    // Channel 0 = 614 (26.9), ventilation on with level 2, boiler power ok, fireplace level 3.
    decoder.set_ql(twice(
        frame(1, 1, 52, {{3, 0x02}, {4, 0x66}, {49, 0x20}, {51, 0x82}, {48, 0x03}, {39, 7}})));
    EXPECT_TRUE(has("logs/Thermel/Wentilation.txt"));
    EXPECT_TRUE(has("logs/Thermel/Radiator.txt"));
    EXPECT_TRUE(has("logs/Thermel/Kociol - Power.txt"));
    EXPECT_FALSE(has("logs/Thermel/Solar Pompa.txt"));
    EXPECT_EQ(file("logs/Thermel/Kominek.txt"), "3\r\n");
    EXPECT_EQ(file("logs/Thermel/Went.txt"), "Level:2, Mode:Summer, Auto, Radiator, \r\n");
    EXPECT_EQ(file("logs/Thermel/Temps/TEMP0.txt"), "26.90\r\n\r\n\r\n\r\n\r\n\r\n\r\n\r\n");
    EXPECT_EQ(file(QString::fromUtf8("logs/Thermel/All/Temperatura Zasobnik Środek.txt")),
              file("logs/Thermel/Temps/TEMP0.txt"));
    EXPECT_EQ(file("logs/heater.txt"),
              "3\r\nLevel:2, Mode:Summer, Auto, Radiator, \r\n2\r\n0\r\n7\r\n\r\n\r\n\r\n");
    const QByteArray summary = file("logs/Ogrzewanie.log");
    EXPECT_TRUE(summary.startsWith("Ogrzewanie 2026-12-09 10:11:12\r\n" + QByteArray(77, '-') +
                                   "\r\nProgram: 0\r\nKominek: (-273.2, -273.2, -273.2) [3]\r\n"))
        << summary.toStdString();
    EXPECT_TRUE(summary.contains("Zbiornik: (-273.2, 26.9, -273.2)\r\n"));

    decoder.set_ql(twice(frame(1, 1, 52, {{48, 0x40}})));
    EXPECT_FALSE(has("logs/Thermel/Wentilation.txt"));
    EXPECT_FALSE(has("logs/Thermel/Kociol - Power.txt"));
    EXPECT_FALSE(has("logs/Thermel/Went.txt"));
}

TEST_F(StatusDecoderTest, ForwardedChannelOutsideTheFrameIsIgnored) {
    load();
    heating.TEMP = parseTemperatureSources({"55,1,200;", "55,1,0;", "55,1,8;"});
    decoder.set_ql(twice(frame(55, 1, 52, {{17, 3}, {18, 4}})));
    EXPECT_EQ(heating.temph[0], 0);
    EXPECT_EQ(heating.temph[1], 0);
    EXPECT_EQ(heating.temph[2], 3);
    EXPECT_EQ(heating.templ[2], 4);
}

TEST_F(StatusDecoderTest, NumbersUseDotsWhateverTheLocale) {
    load();
    // The default locale is the process's: the next test gets back the one it had.
    struct LocaleGuard {
        QLocale saved;
        ~LocaleGuard() { QLocale::setDefault(saved); }
    } guard;
    QLocale::setDefault(QLocale(QLocale::German));
    decoder.set_ql(twice(frame(55, 1, 52, kKitchen)));
    QLocale::setDefault(guard.saved);
    EXPECT_EQ(file("logs/Kitchen/Temps/Light Level.txt").left(12), "215.60\r\n2.20");
    EXPECT_TRUE(file("logs/Kitchen.txt").contains("97.75%   [T=215.6 [C],  U=4.888"));
}

TEST_F(StatusDecoderTest, BadNamesMakeNoFilesAndAreLoggedOnce) {
    load();
    an* kitchen = registry.stateOf(55, 1);
    ASSERT_NE(kitchen, nullptr);
    kitchen->outn[0] = "../escape";
    kitchen->outn[2] = "";
    kitchen->adcn[0] = "a/b";
    decoder.set_ql(twice(frame(55, 1, 52, kKitchen)));
    decoder.set_ql(twice(frame(55, 1, 52, {{3, 1}, {19, 5}})));
    EXPECT_FALSE(has("logs/escape.txt"));
    EXPECT_FALSE(has("logs/Kitchen/.txt"));
    EXPECT_EQ(QDir(rootDir + "logs/Kitchen").entryList(QDir::Files), QStringList());
    const QByteArray all = file("logs/all.log");
    EXPECT_EQ(all.count("\"../escape\""), 1);
    EXPECT_EQ(all.count("\"a/b\""), 1);
}

TEST_F(StatusDecoderTest, InputsRaiseInputSetEvents) {
    load();
    decoder.set_ql(twice(frame(55, 1, 52, {{22, 0x81}, {23, 0x02}})));
    EXPECT_TRUE(has("logs/InputSet/Digital Input 1.txt"));
    EXPECT_TRUE(has("logs/InputSet/Digital Input 8.txt"));
    EXPECT_TRUE(has("logs/InputSet/Fast Input 2.txt"));
    EXPECT_TRUE(
        file("logs/Kitchen.txt")
            .endsWith("Active Inputs:\r\nFast Input 2\r\nDigital Input 1\r\nDigital Input 8\r\n"));
}

// Every file dated 2000-01-01, so that a rewrite in place shows as a new modification time
// even within one tick of the file system's clock.
void backdate(const QString& dir) {
    QDirIterator it(dir, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    const timespec old[2] = {{946684800, 0}, {946684800, 0}};
    while (it.hasNext())
        ::utimensat(AT_FDCWD, QFile::encodeName(it.next()).constData(), old, 0);
}

// Identity of a file's content: atomic writes put a new inode in place, writes in place a new
// modification time (after backdate()).
std::map<QString, std::pair<ino_t, qint64>> snapshot(const QString& dir) {
    std::map<QString, std::pair<ino_t, qint64>> out;
    QDirIterator it(dir, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString p = it.next();
        struct stat st {};
        if (::stat(QFile::encodeName(p).constData(), &st) == 0)
            out[p] = {st.st_ino,
                      static_cast<qint64>(st.st_mtim.tv_nsec) + st.st_mtim.tv_sec * 1000000000LL};
    }
    return out;
}

int changedFiles(const std::map<QString, std::pair<ino_t, qint64>>& before,
                 const std::map<QString, std::pair<ino_t, qint64>>& after, QStringList* names) {
    int n = 0;
    for (const auto& [path, id] : after) {
        const auto it = before.find(path);
        if (it == before.end() || it->second != id) {
            ++n;
            *names << path;
        }
    }
    return n;
}

TEST_F(StatusDecoderTest, SteadyStateRewritesOnlyTheStatusText) {
    writeDevice(2, 1, "Outside", "Quartel", true);
    load();
    const QByteArray kitchen = twice(frame(55, 1, 52, kKitchen));
    const QByteArray outside = twice(frame(2, 1, 52, {{3, 1}, {19, 3}, {22, 1}, {45, 4}}));
    decoder.set_ql(kitchen);
    decoder.set_ql(outside);
    QFile::remove(rootDir + "logs/InputSet/Digital Input 1.txt");  // consumed by its reader
    QFile::remove(rootDir + "external.stp");
    clock.advanceMs(1000);
    backdate(rootDir);
    const auto before = snapshot(rootDir);
    decoder.set_ql(kitchen);
    QStringList names;
    EXPECT_EQ(changedFiles(before, snapshot(rootDir), &names), 1) << names.join(", ").toStdString();

    backdate(rootDir);
    const auto before2 = snapshot(rootDir);
    decoder.set_ql(outside);
    names.clear();
    // The status text, and the events its readers consumed.
    EXPECT_EQ(changedFiles(before2, snapshot(rootDir), &names), 3)
        << names.join(", ").toStdString();
}

class OutrelTest : public StatusDecoderTest {
  protected:
    OutrelTest() {
        writeDevice(2, 1, "Outside", "Quartel", true);
        QStringList names;
        for (int k = 1; k <= 39; ++k)
            names << (k == 3 ? "Win" : k == 4 ? "@Door" : k == 5 ? "a/b" : QString::number(k));
        writeLines("devices aliases/Sensel 1.nam", names);
        writeLines("devices aliases/Sensel 1.mov", {"", "", "5-1 7-2", "6-0"});
        QStringList second;
        for (int k = 1; k <= 39; ++k)
            second << QStringLiteral("M2-%1").arg(k);
        writeLines("devices aliases/Sensel 2.nam", second);
        settings.smsadmins = {"600100200", "600100300"};
        settings.smsreports = {"700"};
        load();
    }
    void writeLines(const QString& rel, const QStringList& lines) {
        QFile f(rootDir + rel);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(lines.join("\r\n").toUtf8() + "\r\n");
    }
    // The external controller's frame with its expanders is 72 bytes long.
    void send(const std::map<int, int>& data) { decoder.set_ql(twice(frame(2, 1, 72, data))); }
    QStringList sms() const { return QDir(rootDir + "smsout").entryList(QDir::Files); }
};

TEST_F(OutrelTest, WarningBitCreatesFlagAndLogLineOnly) {
    send({});
    commands.clear();
    send({{42, 0x04}});
    EXPECT_EQ(file("logs/Warning/Win.txt"), "1\r\n");
    EXPECT_TRUE(file("logs/Warning.log").endsWith("Warning ->    Win\r\n"));
    EXPECT_FALSE(has("logs/Alarm/Win.txt"));
    EXPECT_EQ(commands, QStringList({"55,5 16 01", "55,7 16 02"}));
    EXPECT_TRUE(sms().isEmpty());
    EXPECT_FALSE(file("logs/Outside.txt").contains("Alarm:"));

    send({});
    EXPECT_FALSE(has("logs/Warning/Win.txt"));
}

TEST_F(OutrelTest, ShortFrameCarriesTheFirstExpanderOnly) {
    decoder.set_ql(twice(frame(2, 1, 52, {{42, 0x04}})));
    EXPECT_TRUE(has("logs/Warning/Win.txt"));
    // The repetition's address bytes are not read as the second expander's warning bits.
    EXPECT_FALSE(has("logs/Warning/M2-2.txt"));
    EXPECT_FALSE(has("logs/Warning.log") && file("logs/Warning.log").contains("M2-"));
}

TEST_F(OutrelTest, AlarmSendsOneSmsPerAdministratorOnce) {
    send({});
    send({{47, 0x1C}});  // inputs 3, 4 ("@Door", disabled) and 5 (unusable name)
    EXPECT_TRUE(has("logs/Alarm/Win.txt"));
    EXPECT_FALSE(has("logs/Alarm/@Door.txt"));
    EXPECT_TRUE(file("logs/Alarm.log").contains("Alarm ->    @Door\r\n"));  // logged all the same
    const QStringList files = sms();
    ASSERT_EQ(files.size(), 2) << files.join(",").toStdString();
    EXPECT_TRUE(files[0].startsWith("600100200-"));
    EXPECT_TRUE(files[1].startsWith("600100300-"));
    EXPECT_EQ(file("smsout/" + files[0]), "600100200\r\nAlarm: Win\r\n");
    EXPECT_TRUE(file("logs/Outside.txt").endsWith("Alarm: Win,\r\n"));
    EXPECT_TRUE(file("logs/all.log").contains("SECU: Win,"));
    EXPECT_FALSE(wasalarm);

    send({});
    send({{47, 0x04}});  // again while the first requests still wait
    EXPECT_EQ(sms().size(), 2);
}

TEST_F(OutrelTest, InputFortyOfModuleTwoEnablesTheReportList) {
    send({});
    send({{47, 0x04}, {61, 0x80}});
    EXPECT_EQ(alarmextender, 2);
    EXPECT_TRUE(wasalarm);
    EXPECT_EQ(sms().size(), 3);
    EXPECT_TRUE(has("smsout/" + sms().last()));
    EXPECT_TRUE(sms().last().startsWith("700-"));
    send({{47, 0x04}});
    EXPECT_EQ(alarmextender, 0);
}

TEST_F(OutrelTest, ActiveBitsRaiseSensorSetAndOnlyChangedGroupsAreEvaluated) {
    send({{30, 0x04}});
    EXPECT_TRUE(has("logs/Active/Win.txt"));
    EXPECT_TRUE(has("logs/SensorSet/Win.txt"));
    EXPECT_FALSE(has("logs/Active.log"));
    QFile::remove(rootDir + "logs/Active/Win.txt");
    send({{30, 0x04}, {42, 0x04}});  // the active group did not change
    EXPECT_FALSE(has("logs/Active/Win.txt"));
    EXPECT_TRUE(has("logs/Warning/Win.txt"));
    send({});
    EXPECT_TRUE(has("logs/SensorSet/Win.txt"));  // consumed by its reader only
}

class StatusDecoderAtRootTest : public StatusDecoderTest {
  protected:
    StatusDecoderAtRootTest() : StatusDecoderTest("home@site/") {}
};

TEST_F(StatusDecoderAtRootTest, DataRootWithAtSignWorks) {
    load();
    decoder.set_ql(twice(frame(55, 1, 52, kKitchen)));
    EXPECT_TRUE(has("logs/Kitchen/Output 1.txt"));
    EXPECT_TRUE(has("logs/Kitchen/Temps/Light Level.txt"));
}

}  // namespace
}  // namespace velmar
