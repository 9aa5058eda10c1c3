#include "devices/conversions.h"

#include <gtest/gtest.h>

#include <QLocale>

#include "devices/device_state.h"

namespace velmar {
namespace {

struct Channel {
    std::uint8_t high, low;
    double percent, light, temp;
};

TEST(Conversions, ChannelValuesWithDefaultCalibration) {
    const Channel table[] = {
        {0x03, 0xFF, 100.0, 0.0, 226.8},  // 2268.5 rounds to even
        {0x03, 0xE8, 97.751710654936463, 2.2, 215.6},
        {0x01, 0x00, 25.024437927663733, 75.0, -148.0},
        {0x02, 0x66, 60.019550342130987, 40.0, 26.9},
        {0x00, 0x00, 0.0, 100.0, -273.2},  // -2731.5 rounds to even
    };
    for (const Channel& c : table) {
        SCOPED_TRACE(testing::Message() << int(c.high) << "," << int(c.low));
        EXPECT_DOUBLE_EQ(calculate_adc_value(c.high, c.low), c.percent);
        EXPECT_DOUBLE_EQ(getlight(c.high, c.low), c.light);
        EXPECT_DOUBLE_EQ(gettemplm(c.high, c.low, -27315, 5000, 10), c.temp);
    }
}

TEST(Conversions, RawValuesAboveTenBitsAreNotClipped) {
    EXPECT_GT(calculate_adc_value(0x04, 0x00), 100.0);
    EXPECT_EQ(calcindex(0xFF, 0xFF), 65535);
    EXPECT_EQ(gettemplm(1, 0, 0, 5000, 0), 0.0);  // no division by zero
}

TEST(Conversions, GetstrvalUsesTheSecondChannelsOffsetAndDots) {
    an device;
    device.RCAL[0] = 0;  // not used by the text
    const QLocale saved;
    QLocale::setDefault(QLocale(QLocale::Polish));
    EXPECT_EQ(getstrval(0x03, 0xE8, device), "T=215.6 [C],  U=4.888 [V],  97.75 [%]");
    device.RCAL[1] = 0;
    EXPECT_EQ(getstrval(0x00, 0x00, device), "T=0 [C],  U=0 [V],  0 [%]");
    EXPECT_EQ(fixedText(2.2, 2), "2.20");
    QLocale::setDefault(saved);
}

TEST(Conversions, EthernetChannelScaling) {
    ethan dev;
    dev.adcsFactor[3] = 0.5;
    dev.adcsOffset[3] = -10;
    dev.adcsPrecision[3] = 1;
    dev.adcssuffix[3] = " C";
    EXPECT_DOUBLE_EQ(CalculateValue(dev, 301, 3), 140.5);
    EXPECT_EQ(GetStringValue(dev, 301, 3), "140.5 C");
    EXPECT_DOUBLE_EQ(CalculateFactor(dev, 301, 3), 150.5);
    EXPECT_EQ(GetStringValue(dev, 301, 17), "");
    EXPECT_EQ(CalculateValue(dev, 301, -1), 0.0);
}

TEST(Conversions, RoundingIsHalfToEven) {
    EXPECT_EQ(roundTo(0.125, 2), 0.12);
    EXPECT_EQ(roundTo(2.5, 0), 2.0);
    EXPECT_EQ(roundTo(3.5, 0), 4.0);
}

TEST(Conversions, TemperatureCounts) {
    struct Row {
        const char* text;
        std::uint16_t value;
        std::uint8_t high, low;
    };
    const Row rows[] = {
        {"-10", 0xFF60, 0xFF, 0x60}, {"22.5", 0x0168, 0x01, 0x68}, {"-50", 0xFCE0, 0xFC, 0xE0},
        {"abc", 0x0000, 0x00, 0x00}, {"101", 0x0000, 0x00, 0x00},  {"22,5", 0x0000, 0x00, 0x00},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.text);
        const std::uint16_t v = temp_value(QString::fromLatin1(r.text), 0, 100, -50);
        EXPECT_EQ(v, r.value);
        EXPECT_EQ(temp_high_nibble(v), r.high);
        EXPECT_EQ(temp_low_nibble(v), r.low);
    }
}

TEST(Conversions, ThresholdBytes) {
    EXPECT_EQ(adc_value(1023, 0), 255);
    EXPECT_EQ(adc_value(514, 0), 128);
    EXPECT_EQ(adc_value(-1, 400), 100);
    EXPECT_EQ(adc_value(1024, 8), 2);
    EXPECT_EQ(calclsb(7), 0xC0);
    EXPECT_EQ(calclsb(1), 0x40);
    EXPECT_EQ(adc_value_s("0.5", 0, 1, 0), 128);  // 511.5 rounds to 512
    EXPECT_EQ(adc_value_s("1", 0, 1, 0), 255);
    EXPECT_EQ(adc_value_s("x", 0.1, 1, 0), 25);
    EXPECT_EQ(adc_value_s("1.5", 0.1, 1, 0), 25);

    const std::int32_t lower[8] = {1, 2, 3, 0, 4, 5, 6, 7};
    const std::int32_t upper[8] = {1023, 0, 0, 0, 0, 0, 0, 2};
    std::uint8_t out[4] = {};
    adccalclsb(lower, upper, out);
    EXPECT_EQ(out[0], 1 + 4 * 2 + 16 * 3);
    EXPECT_EQ(out[1], 0 + 4 * 1 + 16 * 2 + 64 * 3);
    EXPECT_EQ(out[2], 3);
    EXPECT_EQ(out[3], 64 * 2);
}

TEST(Conversions, HeatingControllerBytes) {
    struct Row {
        std::int32_t x;
        std::uint8_t high, low;
    };
    for (const Row& r : {Row{612, 2, 100}, Row{1023, 3, 255}, Row{1024, 0, 0}, Row{-1, 0, 0}}) {
        std::uint8_t h = 9, l = 9;
        get_temp_value_for_heart(r.x, h, l);
        EXPECT_EQ(h, r.high) << r.x;
        EXPECT_EQ(l, r.low) << r.x;
    }
}

}  // namespace
}  // namespace velmar
