#include "events/event_compiler.h"

#include <gtest/gtest.h>

#include <QRegularExpression>

#include "events/event_names.h"
#include "support/fake_clock.h"
#include "support/temp_root.h"

namespace velmar {
namespace {

constexpr auto R = EventSource::Registry;
constexpr auto P = EventSource::Picker;
constexpr EventCode kU = kUnknownEvent;

std::string describe(const EventFields& e) {
    return (e.id + " | " + e.state + " | " + e.name).toStdString();
}

TEST(EventCompilerTest, CodeOfEveryFamily) {
    const QString longLimits = "L<-(10" + QString(235, u' ') + ";80)";  // cut to "...;8"
    const struct {
        EventFields event;
        EventCode code;
    } rows[] = {
        {{"O3", "1", "Pump<-(1)", R, 7}, {1, 3, 1, 0, 0}},
        {{"PGM7", "7", "", R, 0}, {2, 7, 255, 255, 255}},
        {{"PGR12", "x", "", R, 0}, {170, 12, 255, 255, 255}},  // state unused
        {{"hearta", "", "", R, 0}, {104, 97, 0, 0, 255}},
        {{"heartABCD", "", "", R, 0}, {104, 65, 66, 67, 255}},
        {{QStringLiteral("heart\u0142"), "", "", R, 0}, {104, 0xB3, 0, 0, 255}},  // cp1250 code
        {{"IR0", "IR (3;5;-1;-1;)", "", R, 0}, {39, 3, 5, 255, 255}},
        {{"IR1", "IR (0;255;256;-2;9)", "", R, 0}, {39, 0, 255, 255, 255}},
        {{"IR1", "IR (1;2;3;4)", "", R, 0}, {39, 1, 2, 3, 255}},  // "4)" is no number
        {{"IR1", "7;8;9;10;", "", R, 0}, {39, 7, 8, 9, 10}},      // no "(": the whole state
        {{"ADC3", "(Min;Max)", "Light<-(Min;Max)", R, 0}, {12, 3, 0, 255, 255}},
        {{"ADC3", "(Min;Max)", "Light<-(10;80)", R, 0}, {12, 3, 25, 204, 255}},
        {{"ADC1", "(Min;Max)", "Hum<-(50;12.5)", R, 0}, {12, 1, 128, 32, 255}},  // 511.5 -> 512
        {{"ADC14", "(Min;Max)", "Hum (4)<-(0.1;99.9)", R, 0}, {12, 1, 0, 255, 255}},
        {{"ADC2", "(Min;Max)", "x<-(-5;101)", R, 0}, {12, 2, 0, 255, 255}},  // out of range
        {{"ADC2", "(Min;Max)", "x<-(1e2;0x10)", R, 0}, {12, 2, 0, 255, 255}},
        {{"ADC2", "(Min;Max)", "x<-(30)", R, 0}, {12, 2, 0, 255, 255}},  // no ";"
        {{"ADC2", "(Min;Max)", longLimits, R, 0}, {12, 2, 25, 20, 255}},
        {{"Ext5", "3", "", R, 0}, {21, 5, 3, 255, 255}},
        {{"Lgt7", "x", "", R, 0}, {22, 7, 1, 255, 255}},
        {{"Bat9", "9", "", R, 4}, {38, 4, 255, 255, 255}},  // the registry counts positions
        {{"Bat0", "0", "", R, 300}, {38, 255, 255, 255, 255}},
        {{"Bat9", "9", "", P, 4}, {38, 9, 255, 255, 255}},
        {{"TempContr2", "(Min;Max)", "T<-(20;22.5)", R, 0}, {9, 1, 64, 1, 104}},
        {{"TempContr1", "(Min;Max)", "T<-(-10;100)", R, 0}, {8, 0xFF, 0x60, 0x06, 0x40}},
        {{"TempContr4", "(Min;Max)", "T<-(-50;0.03125)", R, 0}, {11, 0xFC, 0xE0, 0, 0}},
        {{"TempContr3", "(Min;Max)", "T<-(0.09375;x)", R, 0}, {10, 0, 2, 0x06, 0x40}},
        {{"TempContr5", "(Min;Max)", "T<-(Min;Max)", R, 0}, {255, 0, 0, 0x06, 0x40}},
        {{"LightContr2", "1", "", R, 0}, {4, 2, 1, 255, 255}},
        {{"ZONE0", "a", "Hall", R, 0}, {252, 97, 255, 255, 255}},
        {{"ZONE158", QStringLiteral("\u02D9"), "", R, 158}, {252, 255, 255, 255, 255}},
        {{"ZONE0", "a", "Hall", P, 0}, kU},  // zones are the registry's own
        {{"DigitalIn1", "2", "", R, 0}, kU},
        {{"AL1", "1", "", R, 0}, kU},
        {{"o3", "1", "", R, 0}, kU},
    };
    for (const auto& row : rows) {
        const Compiled<EventCode> c = compileEventCode(row.event);
        ASSERT_TRUE(c.ok()) << describe(row.event) << ": " << c.error.toStdString();
        EXPECT_EQ(*c.value, row.code) << describe(row.event);
    }
}

TEST(EventCompilerTest, MalformedNumbersAreErrors) {
    const struct {
        QString id, state, offending;
    } rows[] = {{"O", "1", "output number"}, {"O3", "on", "on"},
                {"O3", "256", "256"},        {"O3", "1.0", "1.0"},
                {"O3", "", "state"},         {"O1234567", "1", "12345"},
                {"PGMx7", "7", "x7"},        {"PGR", "1", "program number"},
                {"ADCx", "1", "x"},          {"Ext5", "x", "x"},
                {"Lgt0x1", "1", "0x1"},      {"LightContr", "1", "controller number"},
                {"LightContr1", "+", "+"}};
    for (const auto& row : rows) {
        const Compiled<EventCode> c = compileEventCode({row.id, row.state, "", R, 0});
        EXPECT_FALSE(c.ok()) << row.id.toStdString() << " " << row.state.toStdString();
        EXPECT_TRUE(c.error.contains(row.offending) && c.error.contains(row.id))
            << c.error.toStdString();
    }
}

TEST(EventCompilerTest, RegistryEntriesCompileToTenBytes) {
    test::TempRoot t;
    t.mkdir("logs");
    t.write("devices aliases/Sensel zones.ext", "Ground floor\r\nGarage\r\n");
    DataRoot root{t.root()};
    test::FakeClock clock;
    EventLog log{root, clock};
    EventNames names{root, log};
    names.load_mem_secu();
    ASSERT_EQ(names.load_mem_events("Kitchen", "55", "1"), 2);
    EventNameEntry& k = *names.entry(2);
    // Positions 0..15 ("_" is empty); one state short of the identifiers; names up to 10.
    k.EventIdlist = QString("O1 O1 O1 O2 O2 O2 O3 O3 O3 PGM7 ADC3 _ O4 Ox Bat5 O5").split(' ');
    k.EventStatelist = QString("0 1 2 0 1 2 0 1 2 7 (Min;Max) 1 _ 1 1").split(' ');
    k.eventnamelist = QString("_ _ _ _ _ _ _ Pump<-(1) _ _ Light<-(10;80)").split(' ');
    for (QStringList* list : {&k.EventIdlist, &k.EventStatelist, &k.eventnamelist})
        list->replaceInStrings(QRegularExpression("^_$"), QString());

    const std::vector<std::uint8_t> unknown = {255, 255, 255, 255, 255, 0, 0, 0, 0, 0};
    const struct {
        int position, entry;
        std::vector<std::uint8_t> bytes;  // empty: a compilation error
    } rows[] = {{7, 2, {1, 3, 1, 0, 0, 0, 0, 0, 0, 0}},
                {9, 2, {2, 7, 255, 255, 255, 0, 0, 0, 0, 0}},
                {10, 2, {12, 3, 25, 204, 255, 0, 0, 0, 0, 0}},
                {14, 2, {38, 14, 255, 255, 255, 0, 0, 0, 0, 0}},
                {1, 1, {252, 98, 255, 255, 255, 0, 0, 0, 0, 0}},
                {11, 2, unknown},  // empty identifier
                {12, 2, unknown},  // empty state
                {15, 2, unknown},  // identifier without a state
                {16, 2, unknown},
                {-1, 2, unknown},
                {2, 1, unknown},
                {0, 3, unknown},
                {0, 0, unknown},
                {0, -1, unknown},
                {0, EventNames::capacity + 1, unknown},
                {13, 2, {}}};
    for (const auto& row : rows) {
        const Compiled<EventArray> c = convert_eventcc(names, row.position, row.entry);
        const std::string where =
            "position " + std::to_string(row.position) + " entry " + std::to_string(row.entry);
        if (row.bytes.empty()) {
            EXPECT_FALSE(c.ok()) << where;
            EXPECT_TRUE(c.error.contains("\"x\"")) << c.error.toStdString();
            continue;
        }
        ASSERT_TRUE(c.ok()) << where << ": " << c.error.toStdString();
        EXPECT_EQ(std::vector<std::uint8_t>(c.value->begin(), c.value->end()), row.bytes) << where;
    }
}

}  // namespace
}  // namespace velmar
