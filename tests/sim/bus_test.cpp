#include "sim/bus.h"

#include <gtest/gtest.h>

namespace velmar::sim {
namespace {

QByteArray hex(const char* text) {
    return QByteArray::fromHex(text);
}

// What the bus answers, as "delay:hex" strings, easy to compare and to read in a failure.
std::vector<std::string> answers(Bus& bus, const QByteArray& frame, bool complete = true) {
    std::vector<std::string> out;
    for (const Transmission& t : bus.onFrame(frame, complete)) {
        out.push_back(std::to_string(t.delayMs) + ":" + t.bytes.toHex().toUpper().toStdString());
    }
    return out;
}

using Answers = std::vector<std::string>;

class BusTest : public ::testing::Test {
  protected:
    BusTest() {
        EXPECT_TRUE(bus_.add({55, 1}, ControllerType::Quartel));
        EXPECT_TRUE(bus_.add({55, 2}, ControllerType::Quartel));
        EXPECT_TRUE(bus_.add({85, 1}, ControllerType::Sensel));
    }
    Bus bus_;
};

TEST_F(BusTest, AddRefusesTakenAndReservedAddresses) {
    QString error;
    EXPECT_FALSE(bus_.add({55, 1}, ControllerType::Outrel, &error));
    EXPECT_FALSE(bus_.add({0, 0}, ControllerType::Quartel, &error));
    EXPECT_FALSE(bus_.add({254, 254}, ControllerType::Quartel, &error));
    EXPECT_FALSE(error.isEmpty());
    EXPECT_EQ(bus_.controllers().size(), 3u);
    EXPECT_EQ(bus_.find({55, 1})->type(), ControllerType::Quartel);
}

TEST_F(BusTest, DirectFramesAndTheirAnswers) {
    struct Case {
        const char* frame;
        Answers expected;
    };
    const QByteArray status = bus_.find({55, 2})->statusBlock(false);
    const Case cases[] = {
        // Longer than 5 bytes: echoed without the length byte after the turnaround.
        {"06370165524553455400", {}},  // 10 bytes but its length byte says 9: not a frame
        {"063701655245534554", {"1:3701655245534554"}},
        // Exactly 5 bytes: no echo.
        {"0237016162", {}},
        // Query: the status block.
        {"01370271", {"1:" + status.toHex().toUpper().toStdString()}},
        // Unknown address, empty payload: nothing.
        {"063703655245534554", {}},
        {"003701", {}},
        // The Sensel echoes, but has no status of its own.
        {"065501655245534554", {"1:5501655245534554"}},
        {"01550171", {}},
    };
    for (const Case& c : cases) {
        const QByteArray frame = hex(c.frame);
        const bool complete = static_cast<std::uint8_t>(frame[0]) + 3 == frame.size();
        EXPECT_EQ(answers(bus_, frame, complete), c.expected) << c.frame;
    }
}

TEST_F(BusTest, OkAfterEventEchoBringsExec) {
    EXPECT_EQ(answers(bus_, hex("0837016545560102030405")), Answers{"1:37016545560102030405"});
    EXPECT_EQ(answers(bus_, hex("01370171")).size(), 1u);  // a query in between changes nothing
    EXPECT_EQ(answers(bus_, hex("0237014F4B")), Answers{"50:37016C4558454300"});
    // A second "OK" confirms nothing.
    EXPECT_EQ(answers(bus_, hex("0237014F4B")), Answers{});
    // "OK" after an echo of something else than an event or a memory block.
    answers(bus_, hex("063701655245534554"));
    EXPECT_EQ(answers(bus_, hex("0237014F4B")), Answers{});
    // The confirmation must reach the controller that echoed.
    answers(bus_, hex("0837016545560102030405"));
    EXPECT_EQ(answers(bus_, hex("0237024F4B")), Answers{});
    EXPECT_EQ(answers(bus_, hex("0237014F4B")), Answers{"50:37016C4558454300"});
}

TEST_F(BusTest, ProgrammingBlocksAreAcknowledgedAsConfigured) {
    QByteArray block = hex("FC3701") + 'w' + QByteArray(251, '\xFF');
    ASSERT_EQ(block.size(), 255);
    struct Case {
        ProgramAnswer mode;
        Answers afterOk;
    };
    const Case cases[] = {
        {ProgramAnswer::Ok, {"50:37016C4F4B5752524F4D00"}},
        {ProgramAnswer::Refuse, {"50:37016C45525752524F4D00"}},
        {ProgramAnswer::None, {}},
    };
    for (const Case& c : cases) {
        bus_.settings.programAnswer = c.mode;
        const Answers echo = answers(bus_, block);
        ASSERT_EQ(echo.size(), 1u);
        EXPECT_EQ(echo[0], "1:" + block.mid(1).toHex().toUpper().toStdString());
        EXPECT_EQ(answers(bus_, hex("0237014F4B")), c.afterOk);
    }
    EXPECT_TRUE(isProgrammingBlock("W1234"));
    EXPECT_TRUE(isProgrammingBlock("A" + QByteArray(4, '\xFF')));
    EXPECT_TRUE(isProgrammingBlock(QByteArray(37, 'x')));
    EXPECT_FALSE(isProgrammingBlock("eRESET"));
    EXPECT_FALSE(isProgrammingBlock("T" + QByteArray(12, '\0')));
}

TEST_F(BusTest, BroadcastIsAnsweredByTheFirstControllerThatSpeaks) {
    EXPECT_EQ(answers(bus_, hex("060000655245534554")), Answers{"1:0000655245534554"});
    bus_.find({55, 1})->silent = true;
    const QByteArray status = bus_.find({55, 2})->statusBlock(false);
    EXPECT_EQ(answers(bus_, hex("01000071")),
              Answers{"1:" + status.toHex().toUpper().toStdString()});
    // The confirmation of a broadcast event goes to 0-0 as well, and the same controller ends it.
    answers(bus_, hex("0800006545560102030405"));
    EXPECT_EQ(answers(bus_, hex("0200004F4B")), Answers{"50:37026C4558454300"});
}

TEST_F(BusTest, LinkelAddressing) {
    bus_.settings.linkelAddressing = true;
    bus_.settings.turnaroundMs = 4;
    bus_.settings.textPauseMs = 30;
    // Text frame with the PC address written by the caller.
    EXPECT_EQ(answers(bus_, hex("080000FEFE655245534554")), Answers{"4:08FEFE0000655245534554"});
    // Query and "OK" are not echoed although longer than 5 bytes.
    const QByteArray status = bus_.find({55, 1})->statusBlock(true);
    EXPECT_EQ(answers(bus_, hex("033701FEFE71")),
              Answers{"4:" + status.toHex().toUpper().toStdString()});
    EXPECT_EQ(answers(bus_, hex("0A3701FEFE6545560102030405")),
              Answers{"4:0AFEFE37016545560102030405"});
    EXPECT_EQ(answers(bus_, hex("043701FEFE4F4B")), Answers{"30:08FEFE37016C4558454300"});
    // The binary writer's inserted form counts the destination in its length byte: silence ends
    // it 2 bytes short of L+3, and it is still a frame.
    EXPECT_EQ(answers(bus_, hex("0D3701FEFE654144524348020000"), false),
              Answers{"4:0DFEFE3701654144524348020000"});
    // Cut short by any other amount: ignored.
    EXPECT_EQ(answers(bus_, hex("0D3701FEFE6541445243480200"), false), Answers{});
}

}  // namespace
}  // namespace velmar::sim
