#include "events/commands.h"

#include <gtest/gtest.h>

#include <vector>

#include "devices/registry.h"
#include "events/update_sequence.h"
#include "log/runtime.h"
#include "support/bus_helpers.h"
#include "support/fake_clock.h"
#include "support/temp_root.h"

namespace velmar {
namespace {

using test::bytes;
using test::CaptureSerial;

class CommandsTest : public ::testing::Test {
  protected:
    CommandsTest()
        : clock(QDateTime(QDate(2026, 12, 9), QTime(10, 11, 12, 500))),
          rt(tmp.root(), clock),
          port(rt, AutoQueryTimer),
          commands(rt, port) {
        writer.setSerialOutput(&serial);
        tmp.mkdir("logs");
    }
    test::TempRoot tmp;
    test::FakeClock clock;
    Runtime rt;
    DataRoot& root = rt.root;
    EventLog& log = rt.log;
    CaptureSerial serial;
    QTimer AutoQueryTimer;
    BusPort port;
    BusFlags& flags = port.flags;
    FrameWriter& writer = port.writer;
    QueryTimer& AutoQuery = port.AutoQuery;
    Commands commands;
};

TEST_F(CommandsTest, SetTimeFrames) {
    // 2026-12-09 is a Wednesday: day of week 4 with Sunday = 1; 500 ms x 7 div 1000 = 3.
    const QByteArray t = bytes({12, 11, 10, 9, 4, 12, 26, 3});
    commands.set_time_all_devs();
    ASSERT_EQ(serial.frames.size(), 1u);
    EXPECT_EQ(serial.frames[0].toHex(' '),
              (bytes({20, 0, 0, 'c'}) + t + "--" + t + bytes({0})).toHex(' '));
    EXPECT_FALSE(writer.was_send());

    flags.linkel_addressing = true;
    commands.settime({0, 0});
    ASSERT_EQ(serial.frames.size(), 2u);
    EXPECT_EQ(serial.frames[1].toHex(' '),
              (bytes({22, 0, 0, 254, 254, 'c'}) + t + "--" + t + bytes({0})).toHex(' '));
}

TEST_F(CommandsTest, RunCommandPausesTheQueryCycle) {
    struct Case {
        bool linkel;
        bool offline;
        QByteArray wire;
        bool timerRunning;
    };
    const std::vector<Case> cases = {
        {false, false, bytes({1, 55, 1, 'q'}), true},
        {true, false, bytes({3, 55, 1, 254, 254, 'q'}), true},
        {false, true, QByteArray(), false},
    };
    for (const Case& c : cases) {
        flags.linkel_addressing = c.linkel;
        flags.offline = c.offline;
        serial.frames.clear();
        commands.query_device({55, 1});
        if (c.wire.isEmpty()) {
            EXPECT_TRUE(serial.frames.empty());
        } else {
            ASSERT_EQ(serial.frames.size(), 1u);
            EXPECT_EQ(serial.frames[0].toHex(' '), c.wire.toHex(' '));
        }
        EXPECT_EQ(AutoQuery.interval(), 5 * rt.settings.timing.QUERY_DEV);
        EXPECT_EQ(AutoQuery.isActive(), c.timerRunning);
        EXPECT_FALSE(writer.was_send());
    }
}

TEST_F(CommandsTest, ResetBroadcast) {
    commands.reset_all_devs();
    ASSERT_EQ(serial.frames.size(), 1u);
    EXPECT_EQ(serial.frames[0].toHex(' '),
              bytes({6, 0, 0, 'e', 'R', 'E', 'S', 'E', 'T'}).toHex(' '));
    EXPECT_TRUE(writer.was_send());
    EXPECT_TRUE(tmp.read("logs/all.logs").contains("Reset all devices"));
}

TEST_F(CommandsTest, UpdateSequenceSteps) {
    tmp.write("devices aliases/55-1.dev", "Kitchen\r\nQuartel\r\n55\r\n1\r\n");
    tmp.write("devices aliases/55-2.dev", "Hall\r\nQuartel\r\n55\r\n2\r\n");
    DeviceRegistry registry(root, log, clock);
    registry.scanDevices();
    QTimer update;
    StartupOptions options;
    options.resetDevices = true;
    options.updateTime = true;
    bool& notstart = rt.flags.notstart;
    UpdateSequence seq(rt, port, commands, registry, update, options);
    update.setInterval(1000);
    update.start();
    // Interval of `UpdateAfterReset` after each tick, and the frames sent.
    const std::vector<int> intervals = {1000, 15000, 300, 300, 300, 500, 500, 500};
    for (std::size_t i = 0; i < intervals.size(); ++i) {
        seq.tick();
        EXPECT_EQ(update.interval(), intervals[i]) << "tick " << i;
        EXPECT_EQ(AutoQuery.interval(), 15000);
        EXPECT_TRUE(AutoQuery.isActive());
    }
    EXPECT_FALSE(notstart);
    seq.tick();
    EXPECT_TRUE(notstart);
    EXPECT_FALSE(update.isActive());
    ASSERT_EQ(serial.frames.size(), 4u);  // the reset and three set-time frames
    EXPECT_EQ(serial.frames[0].size(), 9);
    for (int i = 1; i <= 3; ++i)
        EXPECT_EQ(serial.frames[static_cast<std::size_t>(i)].size(), 23);
}

}  // namespace
}  // namespace velmar
