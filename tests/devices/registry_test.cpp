#include "devices/registry.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFileInfo>
#include <functional>
#include <map>

#include "base/text_file.h"
#include "events/event_names.h"
#include "support/fake_clock.h"
#include "support/temp_root.h"

namespace velmar {
namespace {

class RegistryTest : public ::testing::Test {
  protected:
    RegistryTest() {
        t.mkdir("logs");
        log.setSink([this](const QString& text) { logged += text; });
    }

    // A 248-line device configuration file; `extra` sets line n (from 1).
    void writeDev(const QString& stem, const QString& name, const QString& type, int h, int l,
                  const std::map<int, QString>& extra = {}) {
        QStringList lines(248);
        lines[0] = name;
        lines[1] = type;
        lines[2] = QString::number(h);
        lines[3] = QString::number(l);
        for (const auto& [n, text] : extra)
            lines[n - 1] = text;
        t.write("devices aliases/" + stem + ".dev", joinLines(lines));
    }
    // The device scan, and the event engine's registration of the polled controllers.
    void scan() {
        reg.scanDevices();
        registerPolledControllers(events, reg);
    }
    QStringList entries(const QString& dir) const {
        return QDir(t.path(dir)).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    }

    test::TempRoot t;
    DataRoot root{t.root()};
    test::FakeClock clock;
    EventLog log{root, clock};
    EventNames events{root, log};
    DeviceRegistry reg{root, log, clock};
    QString logged;
};

TEST_F(RegistryTest, TemplateDeviceIsNeitherPolledNorRegistered) {
    writeDev("55-1", "Salon", "Quartel", 55, 1);
    writeDev("55-2", "TEMPLATE_room", "Quartel", 55, 2);
    scan();
    reg.loadnames_ql();
    EXPECT_EQ(reg.quartel_max, 1);
    EXPECT_EQ(reg.rms[0].name, "Salon");
    EXPECT_EQ(reg.rms[0].recent, clock.now());
    EXPECT_EQ(reg.rms[1].adrh, 0);
    EXPECT_EQ(reg.rms[1].adrl, 0);
    ASSERT_EQ(events.count(), 1);
    ASSERT_NE(events.entry(1), nullptr);
    EXPECT_EQ(events.entry(1)->devname, "Salon");
    EXPECT_EQ(reg.devstateCount, 2);
    ASSERT_NE(reg.stateOf(55, 2), nullptr);
    EXPECT_EQ(reg.stateOf(55, 2)->devname, "TEMPLATE_room");
    EXPECT_EQ(reg.pollIndexOf(55, 2), -1);
}

TEST_F(RegistryTest, ScanFillsEachTableToItsCapacityAndGoesOn) {
    writeDev("1-9", "TEMPLATE_x", "Quartel", 1, 9);
    for (int i = 1; i <= 22; ++i)
        writeDev(QString("55-%1").arg(i), QString("Room %1").arg(i), "Quartel", 55, i);
    // Listed after every room controller.
    writeDev("9-1", "Alarm 1", "Alarm", 9, 1);
    writeDev("9-2", "Alarm 2", "Alarm", 9, 2);
    scan();

    EXPECT_EQ(reg.quartel_max, DeviceRegistry::kMaxPolled);
    EXPECT_EQ(reg.rms[20].adrh, 0);
    EXPECT_EQ(reg.rms[20].adrl, 0);
    EXPECT_EQ(events.count(), 20);
    // Directory order: 55-1, 55-10 .. 55-19, 55-2, 55-20 .. 55-22, 55-3 .. 55-9.
    for (int i : {8, 9}) {
        EXPECT_EQ(reg.pollIndexOf(55, i), -1);
        EXPECT_TRUE(
            logged.contains(QString("Device table full: devices aliases\\55-%1.dev").arg(i)));
    }
    EXPECT_EQ(reg.pollIndexOf(55, 22), 14);
    EXPECT_EQ(reg.alarm_max, 2);
    EXPECT_EQ(reg.alarmIndexOf(9, 2), 1);
    EXPECT_EQ(reg.alrm[2].adrh, 0);
    // 25 device files: the state table takes the first 21.
    reg.loadnames_ql();
    EXPECT_EQ(reg.devstateCount, DeviceRegistry::kMaxDeviceFiles);
    EXPECT_EQ(reg.stateOf(9, 1), nullptr);
    EXPECT_TRUE(logged.contains("Device table full: devices aliases\\9-2.dev -> not loaded"));

    // Four alarm devices: three fit, no end marker, the fourth is named in the log.
    writeDev("9-3", "Alarm 3", "Alarm", 9, 3);
    writeDev("9-4", "Alarm 4", "Alarm", 9, 4);
    scan();
    EXPECT_EQ(reg.alarm_max, 3);
    EXPECT_EQ(reg.alarmIndexOf(9, 3), 2);
    EXPECT_TRUE(logged.contains("Alarm table full: devices aliases\\9-4.dev"));
}

TEST_F(RegistryTest, ScanningAgainRebuildsTheSameTables) {
    writeDev("55-1", "A", "Quartel", 55, 1);
    writeDev("55-2", "B", "Quartel", 55, 2);
    writeDev("55-3", "C", "Alarm", 55, 3);
    writeDev("55-4", "Dup", "Quartel", 55, 1);
    const auto snapshot = [&] {
        QStringList s;
        for (const deviceadr& d : reg.rms)
            s << QString("%1-%2 %3").arg(d.adrh).arg(d.adrl).arg(d.name);
        for (const deviceadr& d : reg.alrm)
            s << QString("%1-%2 %3").arg(d.adrh).arg(d.adrl).arg(d.name);
        return s << QString::number(reg.quartel_max) << QString::number(reg.alarm_max)
                 << QString::number(events.count());
    };
    scan();
    const QStringList first = snapshot();
    scan();
    EXPECT_EQ(snapshot(), first);
    EXPECT_EQ(reg.quartel_max, 2);
    EXPECT_EQ(events.count(), 2);
    EXPECT_TRUE(logged.contains("Duplicate device address: devices aliases\\55-4.dev"));

    QFile::remove(t.path("devices aliases/55-2.dev"));
    scan();
    EXPECT_EQ(reg.quartel_max, 1);
    EXPECT_EQ(reg.rms[1].adrh, 0);
}

TEST_F(RegistryTest, ExternalControllerIsPolledAt21) {
    writeDev("10-1", "A", "Quartel", 10, 1);
    writeDev("10-2", "B", "Quartel", 10, 2);
    const struct {
        QString type;
        int adrl, pollIndex, alarmIndex, externIndex;
    } cases[] = {
        {"Outrel", 1, 2, -1, 2}, {"Quartel", 1, 2, -1, 2},  {"Outrel", 5, 2, -1, -1},
        {"Alarm", 1, -1, 0, -1}, {"Thermo", 1, -1, -1, -1},
    };
    for (const auto& c : cases) {
        writeDev("2-1", "Outside", c.type, 2, c.adrl);
        scan();
        EXPECT_EQ(reg.pollIndexOf(2, c.adrl), c.pollIndex) << c.type.toStdString();
        EXPECT_EQ(reg.alarmIndexOf(2, c.adrl), c.alarmIndex) << c.type.toStdString();
        EXPECT_EQ(reg.extern_device_index, c.externIndex) << c.type.toStdString();
    }
}

TEST_F(RegistryTest, RefusedDeviceNamesTouchNothing) {
    writeDev("55-1", "Room", "Quartel", 55, 1);
    for (const QString name : {"../evil", "..", ".", "a/b", "x:y", ""}) {
        logged.clear();
        writeDev("55-3", name, "Quartel", 55, 3);
        scan();
        // A minute apart, so that the log does not fold the second refusal into a summary.
        clock.advanceMs(61000);
        reg.loadnames_ql();
        clock.advanceMs(61000);
        EXPECT_EQ(reg.pollIndexOf(55, 3), -1) << name.toStdString();
        EXPECT_EQ(reg.stateOf(55, 3), nullptr) << name.toStdString();
        EXPECT_EQ(events.devname_index(name), 0) << name.toStdString();
        EXPECT_EQ(logged.count("Error device name: devices aliases\\55-3.dev"), 2)
            << logged.toStdString();
    }
    EXPECT_EQ(entries("logs"), QStringList{"Room"});
    EXPECT_EQ(entries(""), (QStringList{"devices aliases", "logs"}));
    EXPECT_FALSE(QFileInfo::exists(t.path("../evil")));
}

TEST_F(RegistryTest, DeviceFileFields) {
    t.mkdir("logs/SALON");  // an existing folder is used whatever its case
    writeDev(
        "55-1", "Salon", "Quartel", 55, 1,
        {{11, "20"},   {12, "abc"},  {16, "-50"},    {17, "151"}, {21, "33.5"},
         {47, "80"},   {123, "5"},   {125, "11"},    {149, "3"},  {155, "18"},
         {164, "-1"},  {181, "0"},   {187, "Light"}, {194, "A8"}, {195, QStringLiteral("Łąka")},
         {218, "O24"}, {219, "In1"}, {234, "Int8"},  {235, "L1"}, {242, "T4"},
         {243, "ON"},  {244, "on"}});
    writeDev("55-2", "Hall", "Quartel", 55, 2, {{243, "OFF"}, {244, "ON"}});
    QStringList oex;
    for (int i = 25; i <= 35; ++i)
        oex << QString("Dedicated %1").arg(i);
    t.write("devices aliases/55-2.oex", joinLines(oex));
    reg.loadnames_ql();

    ASSERT_NE(reg.stateOf(55, 1), nullptr);
    const an& s = *reg.stateOf(55, 1);
    EXPECT_EQ(s.adcmin, (std::array<double, 8>{20, -50, 33.5, 0, 0, 0, 0, 0}));
    EXPECT_EQ(s.adcmax, (std::array<double, 8>{100, 100, 100, 100, 100, 100, 100, 80}));
    EXPECT_EQ(s.lightmin[0], 5);
    EXPECT_EQ(s.lighthist, (std::array<double, 4>{10, 10, 10, 3}));
    EXPECT_EQ(s.tempmin[0], 18);
    EXPECT_EQ(s.tempmax[1], 100);
    EXPECT_EQ(s.temphist[3], 0);
    EXPECT_EQ(
        (QStringList{s.adcn[0], s.adcn[7], s.outn[0], s.outn[23], s.outn[24], s.inn[0], s.intn[7],
                     s.lightn[0], s.tempn[3]}),
        (QStringList{"Light", "A8", QStringLiteral("Łąka"), "O24", "", "In1", "Int8", "L1", "T4"}));
    EXPECT_TRUE(s.an3temp2);
    EXPECT_FALSE(s.extern_);
    ASSERT_NE(reg.stateOf(55, 2), nullptr);
    const an& h = *reg.stateOf(55, 2);
    EXPECT_TRUE(h.extern_);
    EXPECT_EQ(h.outn[24], "Dedicated 25");
    EXPECT_EQ(h.outn[34], "Dedicated 35");

    EXPECT_EQ(entries("logs"), (QStringList{"Hall", "SALON"}));
    for (const QString dev : {"Hall", "SALON"})
        EXPECT_EQ(entries("logs/" + dev), (QStringList{"All", "Ins", "Outs", "Temps"}));
}

TEST_F(RegistryTest, CalibrationFile) {
    const QByteArray defaults = "5000\r\n" + QByteArray("-27315\r\n").repeated(8);
    const struct {
        QByteArray content;  // empty: no file
        int vcc;
        std::array<std::int32_t, 3> rcal;  // RCAL0, RCAL1, RCAL7
    } cases[] = {
        {"", 5000, {-27315, -27315, -27315}},
        {"5000\r\n-27000\r\n", 5000, {-27000, -27315, -27315}},
        {"4800\n-5000\n-60000\n-10000\n-60001\nx\n\n-27315\n-12345",
         4800,
         {-27315, -60000, -12345}},
        {"6001\r\n", 5000, {-27315, -27315, -27315}},
    };
    writeDev("55-1", "Salon", "Quartel", 55, 1);
    for (const auto& c : cases) {
        QFile::remove(t.path("devices aliases/55-1.cal"));
        if (!c.content.isEmpty())
            t.write("devices aliases/55-1.cal", c.content);
        reg.loadnames_ql();
        EXPECT_EQ(reg.devstate[0].vcc, c.vcc) << c.content.toStdString();
        const auto& rcal = reg.devstate[0].RCAL;
        EXPECT_EQ((std::array<std::int32_t, 3>{rcal[0], rcal[1], rcal[7]}), c.rcal)
            << c.content.toStdString();
        EXPECT_EQ(t.read("devices aliases/55-1.cal"), c.content.isEmpty() ? defaults : c.content);
    }
    QFile::remove(t.path("devices aliases/55-1.cal"));
    t.mkdir("devices aliases/55-1.cal");
    reg.loadnames_ql();
    EXPECT_TRUE(logged.contains("Error reading file: devices aliases\\55-1.cal -> "));
    EXPECT_EQ(reg.devstate[0].vcc, 5000);
}

TEST_F(RegistryTest, EthernetDeviceList) {
    const struct {
        QByteArray file;
        int adrh, adrl;  // -2: refused
    } cases[] = {
        {"000254\r\nLinkel\r\n", 0, 254}, {"055003\r\nGarage\r\n", 55, 3},
        {"abc12\r\nX\r\n", -1, 12},       {"\r\nEmpty\r\n", -2, 0},
        {"..\r\nUp\r\n", -2, 0},          {"a:b\r\nColon\r\n", -2, 0},
        {"001001\r\n../x\r\n", -2, 0},
    };
    int n = 0;
    for (const auto& c : cases)
        t.write(QString("devs/%1.cfg").arg(n++, 2, 10, QChar('0')), c.file);
    reg.readethernetdevs();
    EXPECT_EQ(reg.ethernetdevscount, 3);
    EXPECT_EQ(reg.linkelIndex, 0);
    EXPECT_EQ(reg.eth[0].path, "000254");
    EXPECT_FALSE(reg.eth[0].recent.isValid());
    for (const auto& c : cases) {
        if (c.adrh != -2) {
            EXPECT_GE(reg.ethIndexOf(c.adrh, c.adrl), 0) << c.file.toStdString();
        }
    }
    EXPECT_EQ(logged.count("fails the naming rule"), 4);
    EXPECT_TRUE(logged.contains("Error device folder: devs\\04.cfg -> folder \"..\""));
    EXPECT_TRUE(logged.contains("Error device name: devs\\06.cfg -> name \"../x\""));
    EXPECT_EQ(entries("logs/Linkel"), (QStringList{"Adcs", "All", "Inputs", "Outs"}));

    QFile::remove(t.path("devs/00.cfg"));
    reg.readethernetdevs();
    EXPECT_EQ(reg.linkelIndex, -1);
    EXPECT_EQ(reg.ethernetdevscount, 2);
}

TEST_F(RegistryTest, EthernetNamesAndChannelScaling) {
    t.write("devs/linkel.cfg", "000254\r\nLinkel\r\n");
    t.write("000254/AdcNames.txt", "Hall\r\nBath\r\n");
    t.write("000254/ADCPrograms.txt", "Day\r\n");  // found whatever its case
    t.write("000254/SecuPrograms.txt", "Armed\r\n");
    t.write("000254/ZonesNames.txt", QByteArray("Z\r\n").repeated(30));
    t.write("000254/AdcConfig.cfg", "2\r\nx\r\n9\r\n5\r\n");
    t.write("000254/ADCSensorTypes.txt", "PT100\r\nLM35\r\nHumidity\r\n");
    t.write("000254/ADCS/LM35 1.cfg",
            "50000000000000\r\n-1\r\n25000000000\r\n2\r\n1\r\n\xB0\x43\r\n");
    t.write("000254/ADCS/PT100 2.cfg", "bad\r\n");
    reg.readethernetdevs();
    const ethan& s = reg.ethstate[0];
    EXPECT_EQ(s.adcsnames[1], "Bath");
    EXPECT_EQ(s.adcprogramsnames[0], "Day");
    EXPECT_EQ(s.programsnames[0], "Armed");
    EXPECT_EQ(s.zonenames[21], "Z");
    EXPECT_EQ(s.adcsVCC[0], 5000);
    EXPECT_EQ(s.adcsOffset[0], -1e-10);
    EXPECT_EQ(s.adcsFactor[0], 2.5);
    EXPECT_EQ(s.adcsPrecision[0], 2);
    EXPECT_EQ(s.adcsOption[0], 1);
    EXPECT_EQ(s.adcssuffix[0], QStringLiteral("°C"));
    EXPECT_EQ(s.adcsVCC[1], -1e-10);  // unparsable type -> first type, unparsable value
    EXPECT_TRUE(logged.contains("Error reading file: 000254\\ADCS\\Humidity 3.cfg"));
    EXPECT_TRUE(logged.contains("Error reading file: 000254\\ADCS\\Humidity 4.cfg"));
}

TEST_F(RegistryTest, Aliases) {
    t.write("aliases/Quartel/Door open.txt", "Front door open\r\nred\r\nDoor\r\n");
    t.write("aliases/Alarm/Door open.txt", "Alarm door\r\nNavy\r\nAD\r\n");
    t.write("aliases/Alarm/Bell.txt", "Bell\r\nPink");
    t.write("aliases/Alarm/notes.doc", "x");
    reg.read_aliases();
    reg.read_aliases();
    EXPECT_EQ(reg.alias_max, 3);
    EXPECT_EQ(reg.alias_current, 3);
    const als* q = reg.findAlias("QUARTEL", "door OPEN");
    ASSERT_NE(q, nullptr);
    EXPECT_EQ(q->color, 0x0000FFu);
    EXPECT_EQ(q->longcommand, "Front door open");
    EXPECT_EQ(q->shortcommand, "Door");
    ASSERT_NE(reg.findAlias("Alarm", "Door open"), nullptr);
    EXPECT_EQ(reg.findAlias("Alarm", "Door open")->color, 0x800000u);
    ASSERT_NE(reg.findAlias("Alarm", "Bell"), nullptr);
    EXPECT_EQ(reg.findAlias("Alarm", "Bell")->color, 0u);
    EXPECT_EQ(reg.findAlias("all", "Bell"), nullptr);
    EXPECT_FALSE(reg.insertalias("alarm", "BELL", "Red", "x", "y"));

    for (int i = reg.alias_max; i < DeviceRegistry::kAliasTableSize; ++i)
        EXPECT_TRUE(reg.insertalias("all", QString::number(i), "", "", ""));
    EXPECT_FALSE(reg.insertalias("all", "one more", "", "", ""));
    EXPECT_TRUE(logged.contains("Alias table full: all\\one more -> not loaded"));
}

TEST_F(RegistryTest, InputExpanderAndZoneNames) {
    QByteArray nam = "Hall\r\n@Garage\r\n3\r\n4\r\n5\r\n6\r\n\r\n";
    nam += QByteArray("n\r\n").repeated(33);  // 40 lines: the last is not read
    t.write("devices aliases/Sensel 2.nam", nam);
    t.write("devices aliases/Sensel 2.mov",
            "12-1\r\n12-3 14-1\r\n\r\n300-1 5-2\r\nabc\r\n7-2 8\r\n");
    t.write("devices aliases/zones.sms", QByteArray("zone\r\n").repeated(50));
    reg.load_sensel(2);
    reg.load_zonenames();

    EXPECT_EQ(reg.alnames[2][1], "Hall");
    EXPECT_FALSE(reg.disablealarms[2][1]);
    EXPECT_EQ(reg.alnames[2][2], "@Garage");
    EXPECT_TRUE(reg.disablealarms[2][2]);
    EXPECT_EQ(reg.alnames[2][7], "7");
    EXPECT_EQ(reg.alnames[2][39], "n");
    EXPECT_EQ(reg.alnames[2][40], "");
    const std::array<int, 4> movement[] = {
        {12, 1, 0, 0}, {12, 0, 14, 1}, {0, 0, 0, 0}, {0, 1, 5, 2}, {0, 0, 0, 0}, {7, 2, 0, 0},
    };
    for (int k = 1; k <= 6; ++k) {
        const std::array<int, 4> got = {reg.movementadr[2][k], reg.movmentopts[2][k],
                                        reg.movementadr2[2][k], reg.movmentopts2[2][k]};
        EXPECT_EQ(got, movement[k - 1]) << "line " << k;
    }
    EXPECT_EQ(reg.zonenames[48], "zone");
    EXPECT_EQ(reg.zonenames[49], "");

    reg.load_sensel(6);
    EXPECT_TRUE(logged.contains("Error input expander: module 6"));
}

}  // namespace
}  // namespace velmar
