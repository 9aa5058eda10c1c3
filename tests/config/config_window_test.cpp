#include "config/config_window.h"

#include <gtest/gtest.h>

#include <QGroupBox>
#include <QTabWidget>

#include "support/bus_helpers.h"
#include "support/fake_clock.h"
#include "support/kitchen.h"
#include "support/temp_root.h"
#include "support/test_modules.h"

namespace velmar {
namespace {

using test::joinedCrLf;
using test::kitchenDeviceLines;

class ConfigWindowTest : public ::testing::Test {
  protected:
    ConfigWindowTest() {
        tmp.mkdir("logs");
        tmp.write("com.cfg", "/dev/ttyUSB0\r\n19200\r\n");
        tmp.write("devices aliases/55-1.dev", joinedCrLf(kitchenDeviceLines()));
        QStringList hall = kitchenDeviceLines();
        hall[0] = "Hall";
        hall[3] = "2";
        hall[10] = "70";
        tmp.write("devices aliases/55-2.dev", joinedCrLf(hall));
        m.load();
        m.scan();
        model.create();
    }
    template <typename W>
    W* field(const char* name) {
        W* w = window.findChild<W*>(QLatin1String(name));
        EXPECT_NE(w, nullptr) << name;
        return w;
    }
    QString devLine(const QString& rel, int line) const {
        return QString::fromLatin1(tmp.read(rel)).split("\r\n").value(line - 1);
    }

    test::TempRoot tmp;
    test::FakeClock clock;
    test::CaptureSerial serial;
    test::TestModules m{tmp.root(), clock, &serial};
    Configuration& model = m.config.model;
    ConfigWindow window{model};
};

TEST_F(ConfigWindowTest, AnEditedThresholdIsSavedAndProgrammed) {
    QComboBox* low = field<QComboBox>("AdcL1");
    ASSERT_NE(low, nullptr);
    EXPECT_EQ(low->currentText(), "50");
    low->setCurrentIndex(614);
    ASSERT_EQ(low->currentText(), "60");
    serial.frames.clear();
    window.saveButton()->click();

    EXPECT_EQ(devLine("devices aliases/55-1.dev", 11), "60");
    if (serial.frames.empty())
        m.config.engine.SendCfgTick();  // it waited for the bus to fall quiet
    ASSERT_FALSE(serial.frames.empty());
    const QByteArray w = serial.frames.front();
    ASSERT_EQ(w.size(), 255);
    EXPECT_EQ(w.at(3), 'w');  // after the frame's start and the address
    // "60" is the raw value 614: its eight high bits, and its two low ones packed with the
    // other inputs' low bits.
    EXPECT_EQ(static_cast<std::uint8_t>(w[12]), 0x99);
    EXPECT_EQ(static_cast<std::uint8_t>(w[48]), 0x02);
}

TEST_F(ConfigWindowTest, PickingADeviceShowsItsFields) {
    QComboBox* device = field<QComboBox>("DName");
    QComboBox* low = field<QComboBox>("AdcL1");
    ASSERT_TRUE(device && low);
    emit device->textActivated(QStringLiteral("Hall"));
    EXPECT_EQ(model.settings.DName, "Hall");
    EXPECT_EQ(device->currentText(), "Hall");
    EXPECT_EQ(low->currentText(), "70");
    EXPECT_EQ(field<QComboBox>("DAddrL")->currentText(), "2");
}

TEST_F(ConfigWindowTest, RenamesAndRemovalGoThroughTheModel) {
    model.rename(QStringLiteral("ADC1"), QStringLiteral("Daylight"));
    const auto boxes = window.findChildren<QGroupBox*>();
    const bool shown = std::any_of(boxes.begin(), boxes.end(),
                                   [](QGroupBox* b) { return b->title() == "Daylight"; });
    EXPECT_TRUE(shown);

    QString asked;
    window.confirmRemove = [&asked](const QString& d) {
        asked = d;
        return false;
    };
    window.removeButton()->click();
    EXPECT_EQ(asked, "Kitchen");
    EXPECT_TRUE(tmp.exists("devices aliases/55-1.dev"));  // not confirmed: kept
    window.confirmRemove = [](const QString&) { return true; };
    window.removeButton()->click();
    EXPECT_FALSE(tmp.exists("devices aliases/55-1.dev"));
}

}  // namespace
}  // namespace velmar
