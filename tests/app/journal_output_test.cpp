#include "app/journal_output.h"

#include <gtest/gtest.h>

namespace velmar {
namespace {

TEST(JournalOutput, StampsAreDroppedFromEveryLineThatHasOne) {
    struct Case {
        const char* text;
        const char* expected;
    };
    const Case cases[] = {
        {"2026-12-09 21:55:30 :    Velmar Manager started\n", "Velmar Manager started\n"},
        // Only the leading stamp goes; a stamp inside the text stays.
        {"2026-12-09 21:55:30 :    at 2026-12-09 21:55:30 :    x\n",
         "at 2026-12-09 21:55:30 :    x\n"},
        {"2026-12-09 21:55:30 :    \n", "\n"},
        {"2026-12-09 21:55:30 :    no line end", "no line end"},
        // Two lines in one piece, each stripped.
        {"2026-01-01 00:00:00 :    a\n2026-01-01 00:00:01 :    b\n", "a\nb\n"},
        // The help text has no stamps and passes as it is, tabs and CR LF included.
        {"Params:\r\n/adl\tGenerate\r\n\r\n", "Params:\r\n/adl\tGenerate\r\n\r\n"},
        // Near misses: a letter for a digit, three spaces instead of four, no colon, short.
        {"2026-12-O9 21:55:30 :    x\n", "2026-12-O9 21:55:30 :    x\n"},
        {"2026-12-09 21:55:30 :   x\n", "2026-12-09 21:55:30 :   x\n"},
        {"2026-12-09 21:55:30      x\n", "2026-12-09 21:55:30      x\n"},
        {"2026-12-09 21:55:30 :\n", "2026-12-09 21:55:30 :\n"},
        {"x 2026-12-09 21:55:30 :    y\n", "x 2026-12-09 21:55:30 :    y\n"},
        {"", ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(withoutLogStamps(QString::fromUtf8(c.text)).toStdString(), c.expected)
            << "input: " << c.text;
    }
}

TEST(JournalOutput, NonAsciiTextAfterTheStampIsKept) {
    EXPECT_EQ(withoutLogStamps(QString::fromUtf8("2026-12-09 21:55:30 :    Łazienka żółta\n")),
              QString::fromUtf8("Łazienka żółta\n"));
}

TEST(JournalOutput, JournalStreamMustNameStdoutsDeviceAndInode) {
    struct Case {
        const char* value;
        bool matches;
    };
    const Case cases[] = {
        {"8:12345", true},   {"8:12346", false},
        {"9:12345", false},  {"", false},
        {"8", false},        {":12345", false},
        {"8:", false},       {"8:12345:1", false},
        {"x:12345", false},  {"-8:12345", false},
        {"8:0x3039", false}, {"08:012345", true},  // leading zeros are still decimal
    };
    for (const Case& c : cases)
        EXPECT_EQ(journalStreamMatches(QByteArray(c.value), 8, 12345), c.matches)
            << "JOURNAL_STREAM=" << c.value;
}

TEST(JournalOutput, LargeDeviceAndInodeNumbers) {
    EXPECT_TRUE(journalStreamMatches("18446744073709551615:4294967296", 18446744073709551615ull,
                                     4294967296ull));
}

}  // namespace
}  // namespace velmar
