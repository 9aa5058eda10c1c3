#include "heating/heating_tables.h"

#include <gtest/gtest.h>

#include "base/text_file.h"
#include "log/event_log.h"
#include "support/bus_helpers.h"
#include "support/fake_clock.h"
#include "support/temp_root.h"

namespace velmar {
namespace {

TEST(HeatingLink, ForwardingTableLines) {
    struct Row {
        const char* line;
        TemperatureSource want;
    };
    const Row rows[] = {
        {"3,7,4;", {3, 7, 4}},     {"300,7,4;", {200, 7, 4}}, {"3,7,4", {3, 7, 2}},
        {"3,7;", {3, 200, 2}},     {"", {200, 200, 2}},       {"55,1,2;x", {55, 1, 2}},
        {"a,b,c;", {200, 200, 2}}, {"0,0,0;", {200, 200, 2}},
    };
    for (const Row& r : rows) {
        const auto t = parseTemperatureSources({QString::fromLatin1(r.line)});
        EXPECT_EQ(t[0].adrh, r.want.adrh) << r.line;
        EXPECT_EQ(t[0].adrl, r.want.adrl) << r.line;
        EXPECT_EQ(t[0].channel, r.want.channel) << r.line;
    }
    const auto t = parseTemperatureSources({"1,2,3;"});
    EXPECT_EQ(t[4].adrh, 200);  // missing lines
    EXPECT_EQ(t[5].adrh, 0);    // entry 6 is never loaded
}

TEST(HeatingLink, StartUpFilesAreCreatedOrRead) {
    test::TempRoot tmp;
    test::FakeClock clock;
    DataRoot root(tmp.root());
    EventLog log(root, clock);
    HeatingTables tables;
    loadHeatingTables(root, log, "1045", tables);
    const auto labels = readLines(tmp.path("lang/1045.het"));
    ASSERT_TRUE(labels);
    EXPECT_EQ(labels->size(), 50);
    EXPECT_EQ(labels->at(46), "Ogrzewanie");
    EXPECT_EQ(tmp.read("lang/1045.het").mid(0, 8), "Level:\r\n");
    EXPECT_EQ(tables.heati[46], QString::fromUtf8("T Wewnętrzna"));
    EXPECT_EQ(tables.TEMP[0].adrh, 0);  // no "temperatures.cfg"
    EXPECT_EQ(tables.heatadcnames[15], QString::fromUtf8("Temperatura Wyciąg Rekuperatora"));

    tmp.write("lang/1045.het", "A\r\nB\r\n");
    tmp.write("temperatures.cfg", "55,1,2;\r\n");
    loadHeatingTables(root, log, "1045", tables);
    EXPECT_EQ(tables.label(2), "B");
    EXPECT_EQ(tables.label(47), "");
    EXPECT_EQ(tables.label(51), "");
    EXPECT_EQ(tables.TEMP[0].adrl, 1);
    EXPECT_EQ(tables.TEMP[1].adrl, 200);
}

TEST(HeatingLink, TemperatureFrameImage) {
    HeatingTables tables;
    tables.temph[0] = 2;
    tables.templ[0] = 0x66;
    tables.temph[4] = 3;
    tables.templ[4] = 0xFF;
    tables.temph[5] = 9;  // entry 6 is not sent
    EXPECT_EQ(temperatureFrame(tables, false).toHex(' '),
              test::bytes({15, 1, 1, 'T', 2, 0x66, 0, 0, 0, 0, 0, 0, 3, 0xFF, 0, 0}).toHex(' '));
    EXPECT_EQ(temperatureFrame(tables, true).left(6).toHex(' '),
              test::bytes({17, 1, 1, 254, 254, 'T'}).toHex(' '));
}

}  // namespace
}  // namespace velmar
