#include "events/direct_events.h"

#include <gtest/gtest.h>

#include <vector>

#include "base/text_file.h"
#include "support/bus_helpers.h"

namespace velmar {
namespace {

using test::bytes;

TEST(DirectEvents, FileLayoutAndRoundTrip) {
    const DirectEvent e{QStringLiteral("Kitchen; Lights On"), 55, 1, {1, 3, 1, 255, 0}};
    EXPECT_EQ(joinLines(directEventLines(e)),
              "Kitchen; Lights On\r\n\r\n\r\n\r\n\r\n\r\n\r\n\r\n\r\n"
              "Direct Event Dont change this file\r\n55\r\n1\r\n1\r\n3\r\n1\r\n255\r\n0\r\n");
    EXPECT_EQ(directEventLines(e, true).size(), 18);
    const auto back = parseDirectEvent(directEventLines(e));
    ASSERT_TRUE(back.has_value());
    EXPECT_EQ(back->title, e.title);
    EXPECT_EQ(back->adrh, 55);
    EXPECT_EQ(back->adrl, 1);
    EXPECT_EQ(back->event, e.event);
}

TEST(DirectEvents, OnlyCompleteFilesAreExecuted) {
    const QStringList good = directEventLines({QStringLiteral("t"), 55, 1, {1, 2, 3, 4, 5}});
    struct Case {
        QStringList lines;
        bool accepted;
    };
    QStringList extra = good;
    extra << "1"
          << "2"
          << "3";  // the panel server writes three more numbers
    QStringList shifted = good;
    shifted.insert(3, "another title line");
    const std::vector<Case> cases = {
        {good, true},
        {extra, true},
        {shifted, true},
        {good.mid(0, good.size() - 1), false},  // still being written
        {QStringList{"t", "Direct Event Dont change this file", "55", "1", "1", "2", "3", "4", "x"},
         false},
        {QStringList{"t", "Direct Event Dont change this file", "55", "1", "1", "2", "3", "4",
                     "256"},
         false},
        {QStringList{"t", "Direct Event Dont change this file", "-1", "1", "1", "2", "3", "4", "5"},
         false},
        {QStringList{"Kitchen; Lights On"}, false},
        {QStringList(), false},
    };
    for (const Case& c : cases) {
        QString why;
        EXPECT_EQ(parseDirectEvent(c.lines, &why).has_value(), c.accepted)
            << c.lines.join('|').toStdString();
        if (!c.accepted) {
            EXPECT_FALSE(why.isEmpty());
        }
    }
}

TEST(DirectEvents, RequestLines) {
    struct Case {
        const char* line;
        bool ok;
        const char* device;
        const char* event;
        const char* schedule;
        bool scheduled;
    };
    const std::vector<Case> cases = {
        {"Kitchen; Lights On", true, "Kitchen", "Lights On", "", false},
        {"Kitchen; Lights On; -2026-12-24 18:00", true, "Kitchen", "Lights On", "2026-12-24 18:00",
         true},
        {"PC; WDTKill", true, "PC", "WDTKill", "", false},
        {"PC; Kitchen; QLSaveCfg", true, "PC", "Kitchen; QLSaveCfg", "", false},
        {"no separator", false, "", "", "", false},
    };
    for (const Case& c : cases) {
        const auto r = parseEventRequest(QString::fromLatin1(c.line));
        ASSERT_EQ(r.has_value(), c.ok) << c.line;
        if (!r)
            continue;
        EXPECT_EQ(r->device, QLatin1String(c.device));
        EXPECT_EQ(r->event, QLatin1String(c.event));
        EXPECT_EQ(r->schedule, QLatin1String(c.schedule));
        EXPECT_EQ(r->scheduled, c.scheduled);
    }
}

TEST(DirectEvents, FrameImages) {
    const EventBytes e{1, 2, 3, 4, 5};
    EXPECT_EQ(eventFrameImage(55, 1, e, false).toHex(' '),
              bytes({10, 55, 1, 'e', 'E', 'V', 1, 2, 3, 4, 5, 0, 0}).toHex(' '));
    EXPECT_EQ(eventFrameImage(55, 1, e, true).toHex(' '),
              bytes({12, 55, 1, 254, 254, 'e', 'E', 'V', 1, 2, 3, 4, 5, 0, 0}).toHex(' '));
}

TEST(DirectEvents, TextForms) {
    using Ten = std::array<std::uint8_t, 10>;
    EXPECT_EQ(DecodeDirect("lDirEvt-3701AABBCCDDEE"),
              (Ten{0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0x37, 0x01, 0, 0, 0}));
    EXPECT_EQ(DecodeDirect("lDirEvt-3701aabbccddee"),
              (Ten{0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0x37, 0x01, 0, 0, 0}));
    EXPECT_EQ(DecodeDirect("lDirEvt-3701"), Ten{});
    EXPECT_EQ(DecodeDirect("lOther-3701AABBCCDDEE"), Ten{});
    // A character that is not a digit repeats the digit before it; 0 for the first of a pair.
    EXPECT_EQ(DecodeDirect("lDirEvt-3x01AABBCCDDxE"),
              (Ten{0xAA, 0xBB, 0xCC, 0xDD, 0x0E, 0x33, 0x01, 0, 0, 0}));
    EXPECT_EQ(DecodeExt("lExtDev-5-a-17-b"), (EventBytes{22, 5, 97, 17, 98}));
    EXPECT_EQ(DecodeExt("lExtDev-5-a-x-b"), (EventBytes{22, 5, 97, 255, 98}));
}

}  // namespace
}  // namespace velmar
