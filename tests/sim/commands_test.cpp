#include "sim/commands.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "sim/simulator.h"

namespace velmar::sim {
namespace {

class CommandsTest : public ::testing::Test {
  protected:
    CommandsTest() : commands_(sim_) {
        EXPECT_TRUE(sim_.addController({55, 1}, ControllerType::Quartel));
        EXPECT_TRUE(sim_.addController({2, 1}, ControllerType::Outrel));
        EXPECT_TRUE(sim_.addController({1, 1}, ControllerType::Thermel));
    }

    // Everything a command could change that the simulator shows.
    QByteArray snapshot() const {
        QByteArray s;
        for (const auto& [address, type] : sim_.controllers()) {
            s += address.toString().toLatin1() + controllerTypeName(type).toLatin1() + ';';
        }
        for (Address a : {Address{55, 1}, Address{2, 1}, Address{1, 1}}) {
            s += sim_.statusMessage(a)->toHex() + ';';
        }
        s += sim_.linkelAddressing() ? "linkel" : "direct";
        return s;
    }

    Simulator sim_;
    CommandInterpreter commands_;
};

TEST_F(CommandsTest, MalformedCommandsAreRefusedAndChangeNothing) {
    const char* lines[] = {
        "bogus",
        "ADD 55-3 quartel",
        "add 55-3",
        "add 55-3 quartel extra",
        "add 55-3 robot",
        "add 55/3 quartel",
        "add 55-1 quartel",
        "add 0-0 quartel",
        "add 254-254 outrel",
        "silent 55-1",
        "silent 55-1 yes",
        "silent 9-9 on",
        "noconfirm 55-1 1",
        "text 55-1",
        "text 300-1 hi",
        "raw",
        "raw 0g",
        "raw 123",
        "restart",
        "restart 55-1 now",
        "program",
        "program maybe",
        "program 55-1",
        "program 55-1 maybe",
        "program 55-1 ok x",
        "program 55-1 ok 1 2",
        "program 9-9 ok",
        "memory",
        "memory 55-1",
        "memory 55-1 ww",
        "memory 55-1 w",  // no block written yet
        "memory 9-9 w",
        "linkel",
        "linkel yes",
        "stream",
        "stream -5",
        "stream 10ms",
        "turnaround x",
        "pause 99999999",
        "set 55-1",
        "set 55-1 adc 1",
        "set 55-1 adc 9 100",
        "set 55-1 adc 1 70000",
        "set 55-1 adc x 1",
        "set 55-1 out 33 1",
        "set 55-1 out 1 2",
        "set 55-1 out 1 on",
        "set 55-1 in 0 1",
        "set 55-1 fast 9 1",
        "set 55-1 program -1",
        "set 55-1 program 256",
        "set 55-1 zone 1",
        "set 2-1 sensel 4 01",
        "set 2-1 sensel 1 0102030405060708090A0B0C0D0E0F",
        "set 2-1 sensel 1",
        "set 2-1 sensel 1 zz",
        "set 1-1 in 1 1",
        "set 1-1 out 25 1",
        "set 55-1 byte 52 1",
        "set 55-1 byte 3 256",
        "set 55-1 colour 1 1",
        "set 9-9 out 1 1",
        "status 9-9",
        "frames now",
        "quit now",
        "termios x",
    };
    const QByteArray before = snapshot();
    for (const char* line : lines) {
        const CommandReply reply = commands_.run(line);
        EXPECT_FALSE(reply.ok) << line;
        EXPECT_FALSE(reply.quit) << line;
        EXPECT_TRUE(reply.text().startsWith("error: ")) << line;
        EXPECT_TRUE(reply.text().endsWith('\n')) << line;
        EXPECT_EQ(reply.text().count('\n'), 1) << line;
        EXPECT_EQ(snapshot(), before) << line;
    }
}

TEST_F(CommandsTest, SetCommandsReachTheirStatusBytes) {
    struct Case {
        const char* line;
        Address address;
        int offset;
        int value;
    };
    const Case cases[] = {
        {"set 55-1 adc 2 1023", {55, 1}, 5, 0x03},
        {"set 55-1 adc 2 1023", {55, 1}, 6, 0xFF},
        {"set 55-1 out 9 1", {55, 1}, 20, 0x01},
        {"set 55-1 out 25 1", {55, 1}, 24, 0x01},
        {"set 55-1 in 8 1", {55, 1}, 22, 0x80},
        {"set 55-1 fast 1 1", {55, 1}, 23, 0x01},
        {"set 55-1 program 12", {55, 1}, 29, 12},
        {"  set\t55-1  out 10 1\r", {55, 1}, 20, 0x03},
        {"set 55-1 out 9 0", {55, 1}, 20, 0x02},
        {"set 2-1 zone 7", {2, 1}, 28, 7},
        {"set 2-1 sensel 3 AA bb", {2, 1}, 62, 0xAA},
        {"set 2-1 sensel 3 AA bb", {2, 1}, 63, 0xBB},
        {"set 2-1 sensel 1 0000000000000000000011223344", {2, 1}, 30, 0x11},
        {"set 2-1 sensel 1 0000000000000000000011223344", {2, 1}, 33, 0x44},
        {"set 1-1 adc 16 1000", {1, 1}, 33, 0x03},
        {"set 1-1 program 4", {1, 1}, 38, 4},
        {"set 1-1 byte 49 160", {1, 1}, 49, 0xA0},
    };
    for (const Case& c : cases) {
        const CommandReply reply = commands_.run(c.line);
        EXPECT_EQ(reply.text(), "ok\n") << c.line;
        const QByteArray status = *sim_.statusMessage(c.address);
        EXPECT_EQ(static_cast<std::uint8_t>(status[c.offset]), c.value) << c.line;
    }
}

TEST_F(CommandsTest, ControlCommands) {
    EXPECT_EQ(commands_.run("add 85-1 sensel").text(), "ok\n");
    EXPECT_EQ(sim_.controllers().size(), 4u);
    EXPECT_EQ(sim_.controllers().back().second, ControllerType::Sensel);
    EXPECT_EQ(commands_.run("linkel on").text(), "ok\n");
    EXPECT_TRUE(sim_.linkelAddressing());
    EXPECT_EQ(commands_.run("linkel off").text(), "ok\n");
    EXPECT_FALSE(sim_.linkelAddressing());
    for (const char* line :
         {"silent 55-1 on", "noconfirm 2-1 off", "program refuse", "program none", "program ok",
          "program 55-1 refuse 2", "program 2-1 none", "stream 0", "turnaround 2", "pause 30",
          "raw 06 0000 655245534554", "restart 2-1", "text 55-1 two words  kept", "clear"}) {
        EXPECT_EQ(commands_.run(line).text(), "ok\n") << line;
    }
    EXPECT_EQ(commands_.run("status 55-1").text(),
              sim_.statusMessage({55, 1})->toHex(' ').toUpper() + "\nok\n");
    EXPECT_EQ(commands_.run("status 85-1").text().left(7), "error: ");
    EXPECT_EQ(commands_.run("frames").text(), "ok\n");
    EXPECT_EQ(commands_.run("termios").text().left(7), "error: ");  // not started
    EXPECT_TRUE(commands_.run("help").lines.contains("linkel on|off"));

    for (const char* line : {"", "   ", "# a comment", "\r"}) {
        const CommandReply reply = commands_.run(line);
        EXPECT_TRUE(reply.empty) << line;
        EXPECT_TRUE(reply.text().isEmpty()) << line;
    }
    EXPECT_TRUE(commands_.run("quit").quit);
}

TEST_F(CommandsTest, TermiosOfARunningSimulator) {
    ASSERT_TRUE(sim_.start());
    const CommandReply reply = commands_.run("termios");
    ASSERT_TRUE(reply.ok);
    ASSERT_EQ(reply.lines.size(), 1);
    EXPECT_TRUE(reply.lines[0].startsWith("speed ")) << reply.lines[0].toStdString();
    EXPECT_TRUE(reply.lines[0].contains(" csize 8 parenb 0 ")) << reply.lines[0].toStdString();
}

}  // namespace
}  // namespace velmar::sim

namespace velmar::sim {
namespace {

TEST(PhysicalValues, RawChannelValues) {
    struct Case {
        double value;
        int temperatureRaw;
        int lightRaw;
    };
    // 21 degrees: (294.15 K x 10 mV) / 5000 mV x 1023 = 601.8; 100 % light reads 0.
    const Case cases[] = {
        {21.0, 602, 808}, {0.0, 559, 1023}, {100.0, 763, 0}, {-300.0, 0, 1023}, {1000.0, 1023, 0}};
    for (const Case& c : cases) {
        EXPECT_EQ(rawForTemperature(c.value), c.temperatureRaw) << c.value;
        EXPECT_EQ(rawForLight(c.value), c.lightRaw) << c.value;
    }
}

}  // namespace
}  // namespace velmar::sim
