#include "config/configuration.h"

#include <gtest/gtest.h>

#include "support/bus_helpers.h"
#include "support/fake_clock.h"
#include "support/kitchen.h"
#include "support/temp_root.h"
#include "support/test_modules.h"

namespace velmar {
namespace {

using test::joinedCrLf;
using test::kitchenDeviceLines;

class ConfigurationTest : public ::testing::Test {
  protected:
    ConfigurationTest() {
        tmp.mkdir("logs");
        m.rt.log.setSink([this](const QString& l) { logged << l; });
        tmp.write("com.cfg", "/dev/ttyUSB0\r\n115200\r\n");
    }
    void start(const QStringList& lines = kitchenDeviceLines()) {
        tmp.write("devices aliases/55-1.dev", joinedCrLf(lines));
        m.load();
        m.scan();
        model.create();
    }
    // The first block of the upload the last save started.
    QByteArray firstBlock() {
        if (m.config.engine.SendCfg.isActive())  // it waits for the bus to fall quiet
            m.config.engine.SendCfgTick();
        for (auto f = serial.frames.rbegin(); f != serial.frames.rend(); ++f)
            if (f->size() == 255 && f->at(3) == 'w')
                return *f;
        return {};
    }
    QStringList lines(const QString& rel) const {
        QStringList l = QString::fromLatin1(tmp.read(rel)).split("\r\n");
        if (!l.isEmpty() && l.back().isEmpty())
            l.removeLast();  // after the last line break
        return l;
    }
    bool loggedLine(const QString& part) const { return !logged.filter(part).isEmpty(); }

    test::TempRoot tmp;
    test::FakeClock clock;
    test::CaptureSerial serial;
    test::TestModules m{tmp.root(), clock, &serial};
    Configuration& model = m.config.model;
    QStringList logged;
};

TEST_F(ConfigurationTest, LoadAndSaveKeepTheFile) {
    start();
    EXPECT_EQ(model.settings.DName, "Kitchen");
    EXPECT_EQ(model.settings.AdcL[0].index, 511);  // "50": the first raw value shown as 50
    EXPECT_EQ(model.settings.O[2], "Pump");
    ASSERT_TRUE(model.saveSettingsAndUpdate());
    EXPECT_EQ(tmp.read("devices aliases/55-1.dev"), joinedCrLf(kitchenDeviceLines()));
    EXPECT_EQ(lines("com.cfg"), (QStringList{"/dev/ttyUSB0", "19200"}));
    // The registry has the rebuilt lists: a request resolves.
    const int k = m.events.names.devname_index("Kitchen");
    ASSERT_GT(k, 0);
    EXPECT_EQ(m.events.names.entry(k)->eventnamelist.value(7), "Pump<-(1)");
}

TEST_F(ConfigurationTest, SettingsThatAreRefused) {
    start();
    const struct {
        const char* name;
        std::function<void(DeviceSettings&)> edit;
        const char* logged;
    } cases[] = {
        {"a name that is a path", [](DeviceSettings& s) { s.DName = "../x"; },
         "Save refused: device name \"../x\" fails the naming rule"},
        {"another device's name",
         [](DeviceSettings& s) {
             s.DName = "Hall";
             s.DAddrL = choose(valueLists().addresses, "3");
         },
         "Save refused: device name \"Hall\" is the name of devices aliases\\55-2.dev"},
        {"an address outside 1..255",
         [](DeviceSettings& s) { s.DAddrH = choose(valueLists().addresses, "0"); },
         "Save refused: wrong address: 0-1"},
    };
    tmp.write("devices aliases/55-2.dev", "Hall\r\nQuartel\r\n55\r\n2\r\n");
    model.reload("Kitchen");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        model.pick("Kitchen");
        c.edit(model.settings);
        logged.clear();
        serial.frames.clear();
        EXPECT_FALSE(model.saveSettingsAndUpdate());
        EXPECT_TRUE(loggedLine(QLatin1String(c.logged))) << logged.join('\n').toStdString();
        EXPECT_FALSE(tmp.exists("devices aliases/55-3.dev"));
        EXPECT_FALSE(tmp.exists("devices aliases/0-1.dev"));
    }
}

TEST_F(ConfigurationTest, ImageDefaultsAndLimits) {
    QStringList dev = kitchenDeviceLines();
    dev[4] = "fast";   // RSspeed: not a speed
    dev[10] = "";      // AdcL1: no selection
    dev[155] = "120";  // TempH1: above what a controller takes
    start(dev);
    ASSERT_TRUE(model.saveSettingsAndUpdate());
    const QByteArray w = firstBlock();
    ASSERT_EQ(w.size(), 255);
    EXPECT_EQ(static_cast<std::uint8_t>(w[6]), 96);                        // 115200's code
    EXPECT_EQ(lines("com.cfg"), (QStringList{"/dev/ttyUSB0", "115200"}));  // untouched
    EXPECT_EQ(static_cast<std::uint8_t>(w[12]), 0);  // no selection: threshold 0
    EXPECT_EQ(w.mid(36, 2).toHex(), "0640");         // 100 degrees
    EXPECT_TRUE(loggedLine("Temperature out of range: TempH1 \"120\", sent as 100"));
    EXPECT_EQ(lines("devices aliases/55-1.dev").value(155), "120");  // the file keeps its text
}

TEST_F(ConfigurationTest, ListsAreFinalBeforeFieldsAreChosen) {
    QStringList dev = kitchenDeviceLines();
    dev[242] = "ON";   // analogue input 3 measures temperature
    dev[20] = "21.5";  // AdcL3
    dev[15] = "18";    // AdcL2
    start(dev);
    // 55-1 has a state record: its calibration gives inputs 2 and 3 their curves.
    EXPECT_EQ(model.thresholds[1].size(), 1024);
    EXPECT_TRUE(model.settings.CheckBox1);
    // A text no curve entry shows stays as it was and is saved unchanged.
    ASSERT_TRUE(model.saveSettingsAndUpdate());
    EXPECT_EQ(lines("devices aliases/55-1.dev").value(20), "21.5");
    EXPECT_EQ(lines("devices aliases/55-1.dev").value(15), "18");
}

TEST_F(ConfigurationTest, CompanionsOfAMovedDeviceGoUnderItsNewAddress) {
    start();
    tmp.write("devices aliases/55-1.pgm", "Program 0\r\nMorning\r\n");
    QFile::remove(tmp.path("events/Quartel/55-1.cev"));  // the set is rebuilt at the next load
    model.pick("Kitchen");
    // The program names come before the rebuild.
    EXPECT_EQ(lines("events/Quartel/55-1.lev").value(81), "Morning");
    const QByteArray oldAdv = tmp.read("devices aliases/55-1.adv");
    model.settings.DAddrL = choose(valueLists().addresses, "9");
    model.settings.DName = "Kitchen";
    ASSERT_TRUE(model.saveSettingsAndUpdate());
    for (const char* ext : {".dev", ".adv", ".oex", ".pgm"})
        EXPECT_TRUE(tmp.exists(QLatin1String("devices aliases/55-9") + ext)) << ext;
    EXPECT_EQ(tmp.read("devices aliases/55-1.adv"), oldAdv);
    EXPECT_TRUE(tmp.exists("devices aliases/55-1.dev"));
    EXPECT_TRUE(tmp.exists("devices aliases/55-9/O3.txt"));
}

TEST_F(ConfigurationTest, RemoveDeletesTheLoadedDevice) {
    tmp.write("devices aliases/55-2.dev", "Hall\r\nQuartel\r\n55\r\n2\r\n");
    start();
    model.pick("Kitchen");
    model.settings.DAddrL = choose(valueLists().addresses, "2");  // edited, not saved
    ASSERT_TRUE(model.removeDevice());
    EXPECT_FALSE(tmp.exists("devices aliases/55-1.dev"));
    EXPECT_TRUE(tmp.exists("devices aliases/55-2.dev"));
    EXPECT_EQ(model.devices.names, QStringList{"Hall"});
}

TEST_F(ConfigurationTest, ExternalControllerWithoutDex) {
    QStringList dev = kitchenDeviceLines();
    dev[1] = "Quartel";
    dev[3] = "1";
    dev[2] = "2";
    dev[243] = "ON";
    for (int k = 0; k < 24; ++k)
        dev[194 + k] = QStringLiteral("Gate %1").arg(k + 1);
    QStringList outrel = dev.mid(0, 244);
    for (int j = 0; j < 24; ++j)
        outrel << (j == 0 ? "Open" : "Bogus");
    outrel << dev.mid(244);
    tmp.write("devices aliases/2-1.dev", joinedCrLf(outrel));
    m.load();
    m.scan();
    model.create();
    ASSERT_EQ(model.settings.DName, "Kitchen");
    EXPECT_TRUE(model.settings.CheckBox2);
    EXPECT_EQ(model.settings.OutrelName[4], "Gate 5");
    EXPECT_EQ(model.settings.OutrelDefault[0].text, "Open");
    EXPECT_EQ(model.settings.OutrelDefault[1].text, "N/A");  // an unknown text: the list's first
    ASSERT_TRUE(model.saveSettingsAndUpdate());
    const QStringList saved = lines("devices aliases/2-1.dev");
    ASSERT_EQ(saved.size(), 272);
    EXPECT_EQ(saved.mid(194, 24), dev.mid(194, 24));
    EXPECT_EQ(lines("events/Quartel/2-1.lev").value(0), "Gate 1<-(N/A)");
}

TEST_F(ConfigurationTest, BluetoothAndOscillatorFiles) {
    tmp.write("btconfig.cfg", "xy\r\n12\r\n");
    tmp.write("fosc.cfg", "0\r\n");
    start();
    // A save before the initial work keeps the file's names, padded.
    ASSERT_TRUE(model.saveSettingsAndUpdate());
    EXPECT_EQ(tmp.read("btconfig.cfg"), "xya\r\n12aa\r\n");
    model.doinitialstuff();
    EXPECT_EQ(model.FOSC, 24);
    EXPECT_EQ(model.DIV_IR_TIM, 4);
    EXPECT_TRUE(
        loggedLine("Error reading configuration file: fosc.cfg -> line 1: \"0\", using 24"));
}

TEST_F(ConfigurationTest, CommandsToTheLoadedDevice) {
    start();
    serial.frames.clear();
    model.setBtModule();
    model.reset();
    ASSERT_EQ(serial.frames.size(), 2u);
    EXPECT_EQ(serial.frames[0].toHex(' '), "05 37 01 f9 ff ff ff ff");
    EXPECT_EQ(serial.frames[1].toHex(' '), "06 37 01 65 52 45 53 45 54");
}

TEST_F(ConfigurationTest, RenamedCaptionsRebuildTheEventsAtTheSave) {
    start();
    ASSERT_TRUE(model.rename("O3", "Heat pump"));
    EXPECT_FALSE(model.rename("Nothing7", "x"));
    ASSERT_TRUE(model.saveSettingsAndUpdate());
    EXPECT_EQ(tmp.read("devices aliases/55-1/O3.txt"), "Heat pump\r\n");
    EXPECT_EQ(lines("events/Quartel/55-1.lev").value(7), "Heat pump<-(1)");
    EXPECT_EQ(lines("devices aliases/55-1.dev").value(196), "Heat pump");
}

}  // namespace
}  // namespace velmar
