#include "devices/linkel_status.h"

#include <gtest/gtest.h>

#include <QDir>

#include "devices/registry.h"
#include "events/event_names.h"
#include "log/event_log.h"
#include "support/fake_clock.h"
#include "support/temp_root.h"

namespace velmar {
namespace {

class LinkelStatusTest : public ::testing::Test {
  protected:
    LinkelStatusTest() {
        QDir().mkpath(root.root() + "logs/Linkel");
        registry.linkelIndex = 0;
        ethan& s = registry.ethstate[0];
        s.devname = "Linkel";
        s.adcsnames[0] = "Boiler";
        s.adcsnames[1] = "@Hidden";
        s.adcsFactor[0] = 0.5;
        s.adcsOffset[0] = -10;
        s.adcsPrecision[0] = 1;
        s.adcssuffix[0] = " C";
        s.xdoutsnames[19] = "Pump";
        s.xdinsnames[0] = "Door";
        s.xdinsnames[1] = "@Gate";
        s.zonenames[2] = "Night";
        s.programsnames[1] = "Away";
    }
    // A recorded query answer: 300 bytes, byte 1 non-zero.
    static QByteArray record() {
        QByteArray r(300, '\0');
        r[1] = 1;
        r[72] = 0x01;  // channel 0 = 301
        r[73] = 0x2D;
        r[106] = 0x08;  // output 19
        r[124] = 0x03;  // inputs 0 and 1
        r[136] = 0x01;  // alarm of input 0
        r[172] = 1;
        r[173] = 2;
        return r;
    }
    QByteArray read(const QString& rel) { return tmp.read(rel); }

    test::TempRoot tmp;
    test::FakeClock clock;
    DataRoot root{tmp.root() + "a@b/"};
    EventLog log{root, clock};
    DeviceRegistry registry{root, log, clock};
    LinkelStatus linkel{root, log, clock, registry};
};

TEST_F(LinkelStatusTest, RecordPublishesValuesFlagsAndText) {
    linkel.set_status_linkel(record());
    const ethan& s = registry.ethstate[0];
    EXPECT_TRUE(s.xdouts[19]);
    EXPECT_EQ(s.adcsind[0], 301);
    EXPECT_EQ(read("a@b/logs/Linkel/Adcs/Boiler.txt"), "140.5 C\r\n");
    EXPECT_EQ(read("a@b/logs/Linkel/Adcs/Adc1.txt"), "140.5 C\r\n");
    for (const char* f : {"Outs/Pump.txt", "Pump.txt", "All/Pump.txt", "Inputs/Door.txt",
                          "Door.txt", "All/Door.txt"})
        EXPECT_EQ(read(QString("a@b/logs/Linkel/") + f), "1\r\n") << f;
    EXPECT_TRUE(tmp.exists("a@b/logs/ActiveSet/Door.txt"));
    EXPECT_TRUE(tmp.exists("a@b/logs/Alarm/Door.txt"));
    EXPECT_TRUE(tmp.exists("a@b/logs/AlarmSet/Door.txt"));
    EXPECT_FALSE(tmp.exists("a@b/logs/Linkel/@Gate.txt"));  // "@" in the name: no flag file
    const QByteArray text = read("a@b/logs/Linkel.txt");
    EXPECT_TRUE(text.contains("Program:\tAway (1)\r\n\r\nZone: \tNight (2)\r\n"))
        << text.toStdString();
    EXPECT_TRUE(text.contains("ADCs: \tBoiler:\t140.5 C\r\n"));
    EXPECT_FALSE(text.contains("Hidden"));
    EXPECT_TRUE(text.contains("Outs: \tPump\r\n"));
    EXPECT_TRUE(text.contains("Alarm Sensors: \tDoor\r\n"));
    EXPECT_TRUE(text.endsWith("Inputs: \tDoor\r\n"));

    QByteArray off = record();
    off[106] = 0;
    off[136] = 0;
    linkel.set_status_linkel(off);
    EXPECT_FALSE(tmp.exists("a@b/logs/Linkel/Pump.txt"));
    EXPECT_FALSE(tmp.exists("a@b/logs/Linkel/All/Pump.txt"));
    EXPECT_FALSE(tmp.exists("a@b/logs/Alarm/Door.txt"));
    EXPECT_TRUE(tmp.exists("a@b/logs/AlarmSet/Door.txt"));  // an event for its reader
}

TEST_F(LinkelStatusTest, EmptyOrShortRecordsAreIgnored) {
    QByteArray r = record();
    r[1] = 0;
    linkel.set_status_linkel(r);
    linkel.set_status_linkel(record().left(100));
    registry.linkelIndex = -1;
    linkel.set_status_linkel(record());
    EXPECT_FALSE(tmp.exists("a@b/logs/Linkel.txt"));
}

}  // namespace
}  // namespace velmar
