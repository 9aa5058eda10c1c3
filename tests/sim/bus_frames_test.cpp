#include "sim/bus_frames.h"

#include <gtest/gtest.h>

#include "sim/controller.h"

namespace velmar::sim {
namespace {

QByteArray hex(const char* text) {
    return QByteArray::fromHex(text);
}

// The PC's acceptance rule for status frames: at a known length L the copy must repeat the
// message, counted from the message start plus the address offset F (0 direct, 3 with the
// four-byte address block). Written out here independently of the simulator.
bool repeatsAt52(const QByteArray& b, int f) {
    for (int j = 0; j <= f + 51; ++j) {
        if (f + 52 + j >= b.size() || b[j] != b[f + 52 + j]) {
            return false;
        }
    }
    return true;
}

bool repeatsAt72(const QByteArray& b, int f) {
    for (int j = 0; j <= 70; ++j) {
        if (f + 72 + j >= b.size() || b[f + j] != b[f + 72 + j]) {
            return false;
        }
    }
    return true;
}

TEST(BusFramesTest, EchoLayouts) {
    // Direct: the frame without its length byte.
    EXPECT_EQ(echoOf(hex("060000655245534554"), false), hex("0000655245534554"));
    EXPECT_EQ(echoOf(hex("0837016545560102030405"), false), hex("37016545560102030405"));
    // Linkel: the whole frame, destination and sender exchanged.
    EXPECT_EQ(echoOf(hex("080000FEFE655245534554"), true), hex("08FEFE0000655245534554"));
    EXPECT_EQ(echoOf(hex("0A3701FEFE6545560102030405"), true), hex("0AFEFE37016545560102030405"));
}

TEST(BusFramesTest, TextMessageLayouts) {
    EXPECT_EQ(*textMessage({55, 1}, "lEXEC", false), hex("37016C4558454300"));
    // Length byte: sender (2) + text (5) + zero (1) = 8, as the PC counts after the destination.
    EXPECT_EQ(*textMessage({55, 1}, "lEXEC", true), hex("08FEFE37016C4558454300"));
    EXPECT_EQ(*textMessage({2, 1}, "lRESTART", false), QByteArray("\x02\x01lRESTART", 10) + '\0');

    QString error;
    EXPECT_FALSE(textMessage({55, 1}, "", false, &error));
    EXPECT_FALSE(error.isEmpty());
    EXPECT_FALSE(textMessage({55, 1}, QByteArray("a\0b", 3), false));
    EXPECT_TRUE(textMessage({55, 1}, QByteArray(kMaxTextLength, 'x'), true));
    EXPECT_FALSE(textMessage({55, 1}, QByteArray(kMaxTextLength + 1, 'x'), true));
    const QByteArray longest = *textMessage({55, 1}, QByteArray(kMaxTextLength, 'x'), true);
    EXPECT_EQ(static_cast<std::uint8_t>(longest[0]) + 3, longest.size());
}

TEST(BusFramesTest, AddressesAndHexTokens) {
    struct Case {
        const char* text;
        bool valid;
        Address address;
    };
    const Case cases[] = {
        {"55-1", true, {55, 1}}, {"0-254", true, {0, 254}}, {"255-255", true, {255, 255}},
        {"256-1", false, {}},    {"55", false, {}},         {"55-", false, {}},
        {"-1", false, {}},       {"5a-1", false, {}},       {"55-1-2", false, {}},
        {"+5-1", false, {}},     {"", false, {}},           {"1234-1", false, {}},
    };
    for (const Case& c : cases) {
        const auto a = parseAddress(c.text);
        EXPECT_EQ(a.has_value(), c.valid) << c.text;
        if (a && c.valid) {
            EXPECT_EQ(*a, c.address) << c.text;
        }
    }
    EXPECT_EQ(*parseHexTokens({"06", "00", "0065"}), hex("06000065"));
    EXPECT_EQ(*parseHexTokens({"fE"}), hex("FE"));
    EXPECT_FALSE(parseHexTokens({"0"}));
    EXPECT_FALSE(parseHexTokens({"0g"}));
    EXPECT_FALSE(parseHexTokens({}));
    EXPECT_EQ(hexBytes(hex("0600ff")), "06 00 FF");
}

TEST(BusFramesTest, CutterCutsByLengthByte) {
    FrameCutter cutter;
    // Two frames and the start of a third in one read.
    auto cuts = cutter.feed(hex("01370171"
                                "0237014F4B"
                                "06"),
                            1000);
    ASSERT_EQ(cuts.size(), 2u);
    EXPECT_EQ(cuts[0].bytes, hex("01370171"));
    EXPECT_TRUE(cuts[0].complete);
    EXPECT_EQ(cuts[1].bytes, hex("0237014F4B"));
    EXPECT_EQ(cuts[1].startUs, 1000);
    // The rest of the third frame within 3 ms.
    cuts = cutter.feed(hex("0000655245534554"), 3900);
    ASSERT_EQ(cuts.size(), 1u);
    EXPECT_EQ(cuts[0].bytes, hex("060000655245534554"));
    EXPECT_EQ(cuts[0].startUs, 1000);
    EXPECT_FALSE(cutter.deadline());
    // A zero length byte is a three-byte frame.
    cuts = cutter.feed(hex("003701"), 5000);
    ASSERT_EQ(cuts.size(), 1u);
    EXPECT_EQ(cuts[0].bytes, hex("003701"));
}

TEST(BusFramesTest, CutterEndsFrameAfterMoreThan3msSilence) {
    FrameCutter cutter;
    EXPECT_TRUE(cutter.feed(hex("FF0102"), 10000).empty());
    ASSERT_TRUE(cutter.deadline());
    EXPECT_GT(*cutter.deadline(), 13000);
    EXPECT_FALSE(cutter.expire(13000));  // exactly 3 ms is not a gap yet
    // Garbage ended by silence, then a good frame in the same read.
    const auto cuts = cutter.feed(hex("01370171"), 13001);
    ASSERT_EQ(cuts.size(), 2u);
    EXPECT_EQ(cuts[0].bytes, hex("FF0102"));
    EXPECT_FALSE(cuts[0].complete);
    EXPECT_EQ(cuts[1].bytes, hex("01370171"));
    EXPECT_TRUE(cuts[1].complete);

    EXPECT_TRUE(cutter.feed(hex("05"), 20000).empty());
    const auto ended = cutter.expire(23001);
    ASSERT_TRUE(ended);
    EXPECT_EQ(ended->bytes, hex("05"));
    EXPECT_EQ(ended->startUs, 20000);
}

TEST(BusFramesTest, RoomControllerStatusFrame) {
    Controller c({55, 1}, ControllerType::Quartel);
    ASSERT_TRUE(c.setAnalog(1, 0x3FF));
    ASSERT_TRUE(c.setAnalog(8, 0x100));
    ASSERT_TRUE(c.setOutput(1, true));
    ASSERT_TRUE(c.setOutput(3, true));
    ASSERT_TRUE(c.setOutput(16, true));
    ASSERT_TRUE(c.setOutput(17, true));
    ASSERT_TRUE(c.setOutput(32, true));
    ASSERT_TRUE(c.setOutput(3, false));
    ASSERT_TRUE(c.setInput(2, true));
    ASSERT_TRUE(c.setFastInput(8, true));
    ASSERT_TRUE(c.setProgram(7));

    QByteArray expected(52, '\0');
    expected[0] = 55;
    expected[1] = 1;
    expected[2] = 's';
    expected[3] = 0x03;
    expected[4] = char(0xFF);
    expected[17] = 0x01;
    expected[18] = 0x00;
    expected[19] = 0x01;
    expected[20] = char(0x80);
    expected[21] = 0x01;
    expected[22] = 0x02;
    expected[23] = char(0x80);
    expected[24] = char(0x80);
    expected[29] = 7;
    EXPECT_EQ(c.statusMessage(), expected);

    const QByteArray direct = c.statusBlock(false);
    EXPECT_EQ(direct, expected + expected);
    EXPECT_TRUE(repeatsAt52(direct, 0));

    const QByteArray linkel = c.statusBlock(true);
    const QByteArray one = hex("34FEFE") + expected;
    EXPECT_EQ(linkel, one + one);
    EXPECT_TRUE(repeatsAt52(linkel, 3));
}

TEST(BusFramesTest, ExternalControllerStatusFrameCarriesSenselBytes) {
    Controller c({2, 1}, ControllerType::Outrel);
    ASSERT_TRUE(c.setZone(4));
    ASSERT_TRUE(c.setProgram(2));
    ASSERT_TRUE(c.setSensel(1, hex("A1A2A3A4A5A6A7A8A9AAB1B2B3B4")));
    ASSERT_TRUE(c.setSensel(3, hex("C1C2C3C4C5C6C7C8C9CAD1D2D3D4")));
    ASSERT_TRUE(c.setSensel(2, hex("E1")));  // a prefix only touches group A's first byte

    const QByteArray m = c.statusMessage();
    ASSERT_EQ(m.size(), 72);
    EXPECT_EQ(m.left(3), hex("020173"));
    EXPECT_EQ(m[28], 4);
    EXPECT_EQ(m[29], 2);
    EXPECT_EQ(m.mid(30, 4), hex("B1B2B3B4"));
    EXPECT_EQ(m.mid(34, 4), hex("00000000"));
    EXPECT_EQ(m.mid(38, 4), hex("D1D2D3D4"));
    EXPECT_EQ(m.mid(42, 10), hex("A1A2A3A4A5A6A7A8A9AA"));
    EXPECT_EQ(m.mid(52, 10), hex("E1000000000000000000"));
    EXPECT_EQ(m.mid(62, 10), hex("C1C2C3C4C5C6C7C8C9CA"));

    const QByteArray direct = c.statusBlock(false);
    EXPECT_EQ(direct, m + m);
    EXPECT_TRUE(repeatsAt72(direct, 0));
    EXPECT_FALSE(repeatsAt52(direct, 0));

    const QByteArray linkel = c.statusBlock(true);
    EXPECT_EQ(linkel, hex("90FEFE") + m + m);
    EXPECT_EQ(static_cast<std::uint8_t>(linkel[0]) + 3, linkel.size());
    EXPECT_TRUE(repeatsAt72(linkel, 3));
}

TEST(BusFramesTest, HeatingControllerStatusFrame) {
    Controller c({1, 1}, ControllerType::Thermel);
    ASSERT_TRUE(c.setAnalog(1, 614));
    ASSERT_TRUE(c.setAnalog(16, 1000));
    ASSERT_TRUE(c.setOutput(1, true));
    ASSERT_TRUE(c.setOutput(24, true));
    ASSERT_TRUE(c.setProgram(3));
    ASSERT_TRUE(c.setByte(50, 0xD6));
    ASSERT_TRUE(c.setByte(51, 0x82));
    const QByteArray m = c.statusMessage();
    ASSERT_EQ(m.size(), 52);
    EXPECT_EQ(m.left(5), hex("0101730266"));
    EXPECT_EQ(m.mid(33, 2), hex("03E8"));
    EXPECT_EQ(m.mid(35, 3), hex("010080"));
    EXPECT_EQ(m[38], 3);
    EXPECT_EQ(m.mid(50, 2), hex("D682"));
    EXPECT_TRUE(repeatsAt52(c.statusBlock(false), 0));
    EXPECT_TRUE(repeatsAt52(c.statusBlock(true), 3));
}

}  // namespace
}  // namespace velmar::sim
