#include "base/chkint.h"

#include <gtest/gtest.h>

#include <QStringList>

namespace velmar {
namespace {

TEST(ChkintTest, ParsesStrictSigned32BitDecimal) {
    const std::vector<std::pair<QString, std::int32_t>> parsed = {{"0", 0},
                                                                  {"42", 42},
                                                                  {"-7", -7},
                                                                  {"+5", 5},
                                                                  {"007", 7},
                                                                  {"  12\t", 12},
                                                                  {"100000\r", 100000},
                                                                  {" -3 \r", -3},
                                                                  {"2147483647", INT32_MAX},
                                                                  {"-2147483648", INT32_MIN}};
    for (const auto& [text, value] : parsed)
        EXPECT_EQ(parseInt32(text), value) << text.toStdString();
    const QStringList refused = {"",
                                 " ",
                                 "+",
                                 "-",
                                 "1.5",
                                 "1,5",
                                 "0x10",
                                 "12a",
                                 "1 2",
                                 "--1",
                                 "\r12",
                                 "2147483648",
                                 "-2147483649",
                                 "99999999999999999999",
                                 QStringLiteral("\u0661\u0662")};
    for (const QString& text : refused)
        EXPECT_EQ(parseInt32(text), std::nullopt) << '"' << text.toStdString() << '"';
}

TEST(ChkintTest, Int64Bounds) {
    EXPECT_EQ(parseInt64("9223372036854775807"), INT64_MAX);
    EXPECT_EQ(parseInt64("-9223372036854775808"), INT64_MIN);
    EXPECT_EQ(parseInt64("9223372036854775808"), std::nullopt);
    EXPECT_EQ(parseInt64("2147483648"), 2147483648LL);
}

TEST(ChkintTest, RangeAndFallback) {
    struct Case {
        const char* text;
        std::int32_t min, max, fallback, expected;
    };
    const Case cases[] = {{"1", 1, 10000, 1200, 1},      {"10000", 1, 10000, 1200, 10000},
                          {"0", 1, 10000, 1200, 1200},   {"10001", 1, 10000, 1200, 1200},
                          {"abc", 1, 10000, 1200, 1200}, {"", 0, 1000000, 100000, 100000},
                          {"0", 0, 1000000, 100000, 0},  {"-1", 0, 1000000, 100000, 100000},
                          {"-5", -10, -1, 99, -5},       {"5", 7, 3, -1, -1}};
    for (const Case& c : cases)
        EXPECT_EQ(chkint(c.text, c.min, c.max, c.fallback), c.expected) << c.text;
}

}  // namespace
}  // namespace velmar
