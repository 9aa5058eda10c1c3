#include "events/event_definitions.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>

#include "events/direct_events.h"

#include "support/fake_clock.h"
#include "support/temp_root.h"

namespace velmar {
namespace {

class EventDefinitionsTest : public ::testing::Test {
  protected:
    EventDefinitionsTest() {
        tmp.mkdir("logs");
        rt.log.setSink([this](const QString& l) { logged << l; });
        kitchen.name = QStringLiteral("Kitchen");
        kitchen.adrh = QStringLiteral("55");
        kitchen.adrl = QStringLiteral("1");
        for (int k = 1; k <= 24; ++k)
            kitchen.outputs << QStringLiteral("Output %1").arg(k);
        kitchen.outputs[2] = QStringLiteral("Pump");
        for (int k = 1; k <= 4; ++k)
            kitchen.lightControllers << QStringLiteral("Light %1").arg(k);
        for (int n = 0; n <= 24; ++n)
            kitchen.programs << QStringLiteral("Program %1").arg(n);
        for (int k = 1; k <= 8; ++k) {
            kitchen.adcs << QStringLiteral("ADC %1").arg(k);
            kitchen.digitalInputs << QStringLiteral("Digital Input %1").arg(k);
            kitchen.fastInputs << QStringLiteral("Fast Input %1").arg(k);
        }
    }
    QStringList lines(const QString& ext, const QString& stem = QStringLiteral("55-1")) {
        return QString::fromLatin1(tmp.read("events/Quartel/" + stem + ext))
            .split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
    }

    test::TempRoot tmp;
    test::FakeClock clock;
    Runtime rt{tmp.root(), clock};
    QStringList logged;
    DeviceEventSource kitchen;
};

TEST_F(EventDefinitionsTest, RoomControllerSetInGroupOrder) {
    ASSERT_TRUE(recreateevents(rt, kitchen, false));
    const QStringList lev = lines(".lev");
    // 72 outputs, 9 light, 24 programs, 8 + 80 analogue, 64 input levels; no IR macros.
    ASSERT_EQ(lev.size(), 257);
    for (const char* ext : {".iev", ".nev", ".sev", ".cev"})
        EXPECT_EQ(lines(ext).size(), 257) << ext;
    EXPECT_EQ(lev.mid(6, 3), (QStringList{"Pump<-(0)", "Pump<-(1)", "Pump<-(toggle)"}));
    EXPECT_EQ(lines(".iev").mid(6, 3), (QStringList{"O3", "O3", "O3"}));
    EXPECT_EQ(lines(".sev").mid(6, 3), (QStringList{"0", "1", "2"}));
    EXPECT_EQ(lines(".cev")[7], "Pump<-(1)\tO3\tPump\t1");
    EXPECT_EQ(lev[72], "Light 1<-(-)");
    EXPECT_EQ(lev[87], "Program 7");
    EXPECT_EQ(lines(".cev")[87], "Program 7\tPGM7\tPGM7\tPGM7");
    EXPECT_EQ(lev[105], "ADC 1<-(Min;Max)");
    EXPECT_EQ(lev[113], "ADC 1 (0)<-(Min;Max)");
    EXPECT_EQ(lines(".iev")[114], "ADC20");
    EXPECT_EQ(lev[193], "Digital Input 1->(None)");
    EXPECT_EQ(lev[256], "Fast Input 8->(Error)");
    EXPECT_EQ(lines(".sev")[256], "3");
    EXPECT_EQ(tmp.read("AllEvents/Kitchen/Kitchen - Pump (toggle).run"),
              "Kitchen; Pump<-(toggle)\r\n");
    EXPECT_EQ(tmp.read("AllEvents/Kitchen/Kitchen - Program 7.run"), "Kitchen; Program 7\r\n");
}

TEST_F(EventDefinitionsTest, WhenASetIsRebuilt) {
    struct Case {
        const char* name;
        std::function<void()> before;
        bool force;
        bool rebuilt;
    };
    const QString stem = tmp.path("events/Quartel/55-1");
    const Case cases[] = {
        {"complete", [] {}, false, false},
        {"forced", [] {}, true, true},
        {"one file missing", [&] { QFile::remove(stem + ".cev"); }, false, true},
        {"cut short", [&] { tmp.write("events/Quartel/55-1.nev", "x\r\n"); }, false, true},
    };
    ASSERT_TRUE(recreateevents(rt, kitchen, false));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        c.before();
        // Every file back-dated: a rebuild puts new files in place.
        for (const char* ext : {".lev", ".iev", ".nev", ".sev", ".cev"}) {
            const timespec old[2] = {{946684800, 0}, {946684800, 0}};
            ::utimensat(AT_FDCWD, QFile::encodeName(stem + ext).constData(), old, 0);
        }
        EXPECT_EQ(recreateevents(rt, kitchen, c.force), c.rebuilt);
        for (const char* ext : {".lev", ".iev", ".nev", ".sev", ".cev"}) {
            EXPECT_EQ(QFileInfo(stem + ext).lastModified().date().year() != 2000, c.rebuilt) << ext;
            EXPECT_EQ(lines(ext).size(), 257) << ext;
        }
    }
    DeviceEventSource heating = kitchen;
    heating.adrh = heating.adrl = QStringLiteral("1");
    EXPECT_FALSE(recreateevents(rt, heating, true));
    EXPECT_FALSE(tmp.exists("events/Quartel/1-1.lev"));
}

TEST_F(EventDefinitionsTest, ExternalControllerFollowsItsExternalPrograms) {
    DeviceEventSource outrel = kitchen;
    outrel.name = QStringLiteral("Outside");
    outrel.adrh = QStringLiteral("2");
    outrel.adrl = QStringLiteral("1");
    outrel.outrel = true;
    for (int j = 1; j <= 24; ++j) {
        outrel.outrelOutputs << QStringLiteral("Out %1").arg(j);
        outrel.outrelActions[static_cast<std::size_t>(j - 1)] = {"N/A", "Close", "Open", "Stop"};
    }
    outrel.externalPrograms = {"Gate open", "Spare (None)"};
    tmp.write("devices aliases/Sensel zones.ext", "Night\r\nDay\r\n");
    ASSERT_TRUE(recreateevents(rt, outrel, false));
    const QStringList lev = lines(".lev", "2-1");
    ASSERT_EQ(lev.size(), 2 + 96 + 24 + 88 + 64);
    EXPECT_EQ(lev.mid(0, 3), (QStringList{"Gate open", "Spare (None)", "Out 1<-(N/A)"}));
    EXPECT_EQ(lines(".iev", "2-1").mid(0, 3), (QStringList{"Bat0", "Bat1", "Ext1"}));
    EXPECT_EQ(lines(".sev", "2-1")[5], "3");
    EXPECT_EQ(tmp.read("AllEvents/Outside/Outside - Gate open.run"), "Outside; Gate open\r\n");
    EXPECT_FALSE(tmp.exists("AllEvents/Outside/Outside - Spare (None).run"));  // chk_external
    EXPECT_EQ(tmp.read("AllEvents/Secu/Secu - Day.run"), "Secu; Day\r\n");
}

TEST_F(EventDefinitionsTest, IrMacrosFromTheDeviceFiles) {
    tmp.write("ir/Kitchen.ext", "TV on {12 34}\r\nRadio [fm] {56}\r\n");
    tmp.write("ir/Kitchen.mac", "TV on {12 34};Radio [fm] {56}\r\n");
    ASSERT_TRUE(recreateevents(rt, kitchen, false));
    const QStringList lev = lines(".lev");
    ASSERT_EQ(lev.size(), 258);
    EXPECT_EQ(lev[193], "IR (TV on;Radio )");
    EXPECT_EQ(lines(".sev")[193], "IR (0;1;-1;-1;)");
    EXPECT_EQ(lines(".iev")[193], "IR0");
    EXPECT_EQ(lines(".cev")[193], "IR (TV on;Radio ) TV on {12 34};Radio [fm] {56}");
    const PickerEvents e = readevents(rt, "Quartel", "55", "1");
    const auto code = convert_eventc(rt, e, QStringLiteral("IR (TV on;Radio )"), "ComboBox1");
    ASSERT_TRUE(code.ok());
    EXPECT_EQ(QByteArray(reinterpret_cast<const char*>(code.value->data()), 5).toHex(' '),
              "27 00 01 ff ff");
}

TEST_F(EventDefinitionsTest, NamesNeverEscapeTheRequestFolder) {
    kitchen.outputs[0] = QStringLiteral("a\\..\\..\\x");
    kitchen.programs[1] = QStringLiteral("../../up");
    ASSERT_TRUE(recreateevents(rt, kitchen, false));
    QStringList files;
    QDirIterator it(tmp.root(), QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString p = it.next().mid(tmp.root().size());
        if (p.endsWith(".run"))
            files << p;
    }
    for (const QString& f : files)
        EXPECT_TRUE(f.startsWith("AllEvents/Kitchen/")) << f.toStdString();
    EXPECT_TRUE(tmp.exists("AllEvents/Kitchen/Kitchen - a .. .. x (1).run"));
    EXPECT_TRUE(tmp.exists("AllEvents/Kitchen/Kitchen - .., .., up.run"));
}

TEST_F(EventDefinitionsTest, PickerTextsCompile) {
    ASSERT_TRUE(recreateevents(rt, kitchen, false));
    const PickerEvents e = readevents(rt, "Quartel", "55", "1");
    ASSERT_EQ(e.evntname.size(), 257);
    const struct {
        const char* text;
        const char* bytes;
        bool logged;
    } cases[] = {
        {"Pump<-(1)", "01 03 01 00 00 00 00 00 00 00", false},
        {"Program 7", "02 07 ff ff ff 00 00 00 00 00", false},
        {"lDirEvt-3702AABBCCDDEE", "aa bb cc dd ee 37 02 00 00 00", false},
        {"Gone<-(1)", "ff ff ff ff ff 00 00 00 00 00", true},
        {"", "ff ff ff ff ff 00 00 00 00 00", false},
    };
    for (const auto& c : cases) {
        logged.clear();
        const auto code = convert_eventc(rt, e, QLatin1String(c.text), "AdcLEv1");
        ASSERT_TRUE(code.ok()) << c.text;
        EXPECT_EQ(QByteArray(reinterpret_cast<const char*>(code.value->data()), 10).toHex(' '),
                  c.bytes)
            << c.text;
        EXPECT_EQ(!logged.filter("Event not in the device's list: AdcLEv1 -> ").isEmpty(), c.logged)
            << c.text;
    }
}

TEST_F(EventDefinitionsTest, ExternalDeviceTextIsItsOwnCode) {
    const auto code = convert_eventc(rt, PickerEvents{}, QStringLiteral("lExtDev-12-O-3-1"), "X");
    ASSERT_TRUE(code.ok());
    const EventBytes ext = DecodeExt(QStringLiteral("lExtDev-12-O-3-1"));
    EXPECT_TRUE(std::equal(ext.begin(), ext.end(), code.value->begin()));
    EXPECT_EQ((*code.value)[5] | (*code.value)[9], 0);
}

TEST(SchedulerTables, EmptyImage) {
    for (const bool alarm : {false, true}) {
        const auto t = clear_events_ram(55, 1, alarm);
        QString letters;
        for (const QByteArray& b : t) {
            ASSERT_EQ(b.size(), 260);
            EXPECT_EQ(static_cast<std::uint8_t>(b[0]), alarm ? 39 : 254);
            EXPECT_EQ(b.mid(1, 2), QByteArray("\x37\x01"));
            EXPECT_EQ(b.mid(4, 254), QByteArray(254, '\xFF'));
            EXPECT_EQ(b.mid(258), QByteArray(2, '\0'));
            letters += QLatin1Char(b[3]);
        }
        EXPECT_EQ(letters, "0123456789:ABCDEFGHIJK");
    }
}

}  // namespace
}  // namespace velmar
