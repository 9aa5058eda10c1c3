#include "bus/frame_writer.h"

#include <gtest/gtest.h>

#include <vector>

#include "base/data_root.h"
#include "log/event_log.h"
#include "support/bus_helpers.h"
#include "support/fake_clock.h"
#include "support/temp_root.h"

namespace velmar {
namespace {

using test::bytes;
using test::CaptureSerial;
using test::CaptureTcp;

class FrameWriterTest : public ::testing::Test {
  protected:
    FrameWriterTest() : root_(tmp_.root()), log_(root_, clock_), writer_(log_, flags_, clock_) {
        writer_.setSerialOutput(&serial_);
        writer_.setTcpOutput(&tcp_);
        tmp_.mkdir("logs");
    }
    test::TempRoot tmp_;
    test::FakeClock clock_;
    DataRoot root_;
    EventLog log_;
    BusFlags flags_;
    CaptureSerial serial_;
    CaptureTcp tcp_;
    FrameWriter writer_;
};

TEST_F(FrameWriterTest, WireFramesAndEchoReferences) {
    enum Writer { Text, Bin, BinInsert, TextTcp, BinTcp };
    struct Case {
        const char* what;
        Writer writer;
        bool linkel;
        bool gateway;
        QByteArray image;
        QByteArray wire;
        QByteArray sentPrefix;  // what the device is expected to send back
        bool wasSend;
    };
    const QByteArray q = bytes({3, 55, 1, 'q'});
    const QByteArray ok = bytes({4, 55, 1, 'O', 'K'});
    const QByteArray reset = bytes({8, 0, 0, 'e', 'R', 'E', 'S', 'E', 'T'});
    const QByteArray resetLinkel = bytes({10, 0, 0, 254, 254, 'e', 'R', 'E', 'S', 'E', 'T'});
    const QByteArray adrch = bytes({11, 55, 3, 'e', 'A', 'D', 'R', 'C', 'H', 55, 4, 0});
    const std::vector<Case> cases = {
        {"query", Text, false, false, q, bytes({1, 55, 1, 'q'}), bytes({55, 1, 'q', 0, 0}), false},
        {"confirmation", Text, false, false, ok, bytes({2, 55, 1, 'O', 'K'}),
         bytes({55, 1, 'O', 'K', 0, 0}), false},
        {"binary 5 bytes", Bin, false, false, ok, bytes({2, 55, 1, 'O', 'K'}),
         bytes({55, 1, 'O', 'K', 0, 0}), true},
        {"reset broadcast", Text, false, false, reset,
         bytes({6, 0, 0, 'e', 'R', 'E', 'S', 'E', 'T'}),
         bytes({0, 0, 'e', 'R', 'E', 'S', 'E', 'T', 0, 0}), true},
        {"reset through a Linkel", Text, true, false, resetLinkel,
         bytes({8, 0, 0, 254, 254, 'e', 'R', 'E', 'S', 'E', 'T'}),
         bytes({8, 254, 254, 0, 0, 'e', 'R', 'E', 'S', 'E', 'T', 0, 0}), true},
        {"insertion", BinInsert, true, false, adrch,
         bytes({13, 55, 3, 254, 254, 'e', 'A', 'D', 'R', 'C', 'H', 55, 4, 0}),
         bytes({13, 254, 254, 55, 3, 'e', 'A', 'D', 'R', 'C', 'H', 55, 4, 0}), true},
        {"insertion on a direct bus", BinInsert, false, false, adrch,
         bytes({9, 55, 3, 'e', 'A', 'D', 'R', 'C', 'H', 55, 4, 0}),
         bytes({55, 3, 'e', 'A', 'D', 'R', 'C', 'H', 55, 4, 0}), true},
        {"text over TCP", TextTcp, false, true, reset,
         bytes({6, 0, 0, 'e', 'R', 'E', 'S', 'E', 'T'}),
         bytes({0, 0, 'e', 'R', 'E', 'S', 'E', 'T', 0, 0}), true},
        // One layout rule for every writer: through a Linkel the binary TCP writer's echo
        // reference has the addresses exchanged too.
        {"binary over TCP through a Linkel", BinTcp, true, true, resetLinkel,
         bytes({8, 0, 0, 254, 254, 'e', 'R', 'E', 'S', 'E', 'T'}),
         bytes({8, 254, 254, 0, 0, 'e', 'R', 'E', 'S', 'E', 'T', 0, 0}), true},
    };
    for (const Case& c : cases) {
        flags_.linkel_addressing = c.linkel;
        flags_.tcpgatewayenabled = c.gateway;
        serial_.frames.clear();
        tcp_.frames.clear();
        const QByteArray before = c.image;
        bool sent = false;
        switch (c.writer) {
            case Text:
                sent = writer_.Write_rs232(c.image);
                break;
            case Bin:
                sent = writer_.write_bin_rs232(c.image, false);
                break;
            case BinInsert:
                sent = writer_.write_bin_rs232(c.image, true);
                break;
            case TextTcp:
                sent = writer_.Write_rs232_TCP(c.image);
                break;
            case BinTcp:
                sent = writer_.write_bin_rs232_TCP(c.image);
                break;
        }
        EXPECT_TRUE(sent) << c.what;
        EXPECT_EQ(c.image, before) << c.what << ": the caller's image is unchanged";
        const auto& out = c.gateway ? tcp_.frames : serial_.frames;
        ASSERT_EQ(out.size(), 1u) << c.what;
        EXPECT_EQ(out[0].toHex(' '), c.wire.toHex(' ')) << c.what;
        const auto echo = writer_.echo();
        EXPECT_EQ(echo.sent.left(c.sentPrefix.size()).toHex(' '), c.sentPrefix.toHex(' '))
            << c.what;
        EXPECT_EQ(echo.was_send, c.wasSend) << c.what;
        EXPECT_EQ(echo.sentFrameLength, c.wire.size()) << c.what;
        EXPECT_EQ(static_cast<int>(echo.bytes_to_write), c.wire.size()) << c.what;
    }
}

TEST_F(FrameWriterTest, InsertionCutsLongFramesTo254Bytes) {
    flags_.linkel_addressing = true;
    QByteArray image(254, 'x');
    image[0] = static_cast<char>(253);
    ASSERT_TRUE(writer_.write_bin_rs232(image, true));
    ASSERT_EQ(serial_.frames.size(), 1u);
    EXPECT_EQ(serial_.frames[0].size(), 254);
    EXPECT_EQ(static_cast<std::uint8_t>(serial_.frames[0][0]), 253);
}

TEST_F(FrameWriterTest, MalformedImagesAreRefusedAndLogged) {
    const std::vector<QByteArray> images = {QByteArray(), bytes({2, 55, 1}), bytes({0}),
                                            bytes({9, 55, 1, 'q'}), bytes({255, 1, 2, 3})};
    for (const QByteArray& image : images) {
        EXPECT_FALSE(writer_.Write_rs232(image));
        EXPECT_FALSE(writer_.write_bin_rs232(image, true));
        EXPECT_FALSE(writer_.Write_rs232_TCP(image));
    }
    EXPECT_TRUE(serial_.frames.empty());
    EXPECT_TRUE(tmp_.read("logs/errors.logs").contains("Error writing frame: Write_rs232 -> "));
}

TEST_F(FrameWriterTest, OfflineSendsAndRecordsNothing) {
    writer_.Write_rs232(bytes({4, 55, 1, 'a', 'b'}));
    const QByteArray before = writer_.echo().sent;
    flags_.offline = true;
    EXPECT_FALSE(writer_.Write_rs232(bytes({8, 0, 0, 'e', 'R', 'E', 'S', 'E', 'T'})));
    EXPECT_FALSE(writer_.write_bin_rs232(bytes({4, 1, 1, 'x', 'y'}), false));
    EXPECT_FALSE(writer_.write_bin_rs232_TCP(bytes({4, 1, 1, 'x', 'y'})));
    EXPECT_EQ(serial_.frames.size(), 1u);
    EXPECT_EQ(writer_.echo().sent, before);
}

// The running figure counts the frames that went to the line, not those dropped in an outage.
TEST_F(FrameWriterTest, FramesDroppedWithoutAPortAreNotCountedAsSent) {
    RunCounters counters;
    writer_.setCounters(&counters);
    EXPECT_TRUE(writer_.Write_rs232(bytes({4, 55, 1, 'a', 'b'})));
    serial_.portOpen = false;
    writer_.Write_rs232(bytes({4, 55, 1, 'c', 'd'}));
    writer_.write_bin_rs232(bytes({4, 1, 1, 'x', 'y'}), false);
    serial_.portOpen = true;
    writer_.write_bin_rs232(bytes({4, 1, 1, 'x', 'y'}), false);
    EXPECT_EQ(serial_.frames.size(), 2u);
    EXPECT_EQ(counters.framesSent.load(), 2);
}

TEST(Cmpbuf, ComparesThePayloadOrTheWholeLinkelFrame) {
    struct Case {
        QByteArray sent;
        QByteArray received;
        int size;
        bool linkel;
        int result;
    };
    const QByteArray ref = bytes({0, 0, 'e', 'R', 'E', 'S', 'E', 'T', 0, 0});
    const std::vector<Case> cases = {
        {ref, bytes({0, 0, 'e', 'R', 'E', 'S', 'E', 'T'}), 8, false, 0},
        {ref, bytes({9, 9, 'e', 'R', 'E', 'S', 'E', 'T'}), 8, false, 0},  // address not compared
        {ref, bytes({0, 0, 'e', 'R', 'E', 'S', 'E', 'X'}), 8, false, 1},
        {ref, bytes({0, 0, 'e', 'R', 'E'}), 8, false, 1},  // short echo reads zeros
        {ref, QByteArray(), 2, false, 0},                  // empty range
        {bytes({8, 254, 254, 0, 0, 'e'}), bytes({99, 254, 254, 0, 0, 'e'}), 5, true, 0},
        {bytes({8, 254, 254, 0, 0, 'e'}), bytes({8, 254, 253, 0, 0, 'e'}), 5, true, 1},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(FrameWriter::cmpbuf(c.sent, c.received, c.size, c.linkel), c.result)
            << c.received.toHex(' ').constData();
    }
}

}  // namespace
}  // namespace velmar
