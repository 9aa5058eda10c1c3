#include "events/query_cycle.h"

#include "events/cycle_rig.h"

namespace velmar {
namespace {

using Branch = QueryTimer::Branch;

class QueryCycleTest : public test::CycleRig {
  protected:
    // Ticks until `polls` frames went out (at most 4 ticks per frame).
    QStringList polls(int count) {
        QStringList out;
        for (int i = 0; i < 4 * count && out.size() < count; ++i) {
            queryCycle.tick();
            out << takeFrames();
        }
        return out;
    }
};

TEST_F(QueryCycleTest, SilentControllerIsResetThenReported) {
    addDevice(10, 2, "B");
    scan();
    tmp.write("audios/trying reseting device.mp3", "r");
    tmp.write("audios/fail to reset device.mp3", "f");
    tmp.mkdir("audio to play");
    EXPECT_EQ(polls(1), QStringList{"01 0a 02 71"});

    clock.advanceMs(QueryCycle::kSilentMs + 1);
    AutoQuery.set(Branch::Poll, timing.QUERY_DEV);
    queryCycle.tick();
    EXPECT_EQ(takeFrames(), QStringList{"06 0a 02 65 52 45 53 45 54"});
    EXPECT_TRUE(loggedLine("Trying restart device which not responded for 4 minutes (10,2)"));
    EXPECT_EQ(tmp.read("audio to play/trying reset dev.mp3"), "r");
    EXPECT_EQ(AutoQuery.branch(), Branch::Wait);
    EXPECT_EQ(AutoQuery.interval(), timing.WAIT_FOR_RESET_DEV);

    // Just reset: the wait ends without a report and polling resumes.
    queryCycle.tick();
    EXPECT_TRUE(takeFrames().isEmpty());
    EXPECT_FALSE(loggedLine("Turn off then on"));
    EXPECT_EQ(AutoQuery.branch(), Branch::Poll);

    // Still silent four minutes later when a restart notice put the cycle into the wait state.
    clock.advanceMs(QueryCycle::kSilentMs + 1);
    AutoQuery.set(Branch::Wait, timing.WAIT_FOR_RESET_DEV);
    queryCycle.tick();
    EXPECT_TRUE(
        loggedLine("2026-12-09 10:19:12 Device (10,2) not responded. Turn off then on "
                   "power supply"));
    EXPECT_EQ(tmp.read("audio to play/fail reset dev.mp3"), "f");
    EXPECT_EQ(AutoQuery.branch(), Branch::Poll);
    EXPECT_EQ(polls(1), QStringList{"01 0a 02 71"});

    // Steps of the wall clock neither hide silence nor invent it.
    logged.clear();
    clock.set(clock.now().addDays(3));
    EXPECT_EQ(polls(1), QStringList{"01 0a 02 71"});
    EXPECT_FALSE(loggedLine("Trying restart"));
}

TEST_F(QueryCycleTest, BranchesDoNotDependOnIntervalValues) {
    addDevice(10, 1, "A");
    scan();
    const struct {
        const char* what;
        int all;  // every configured interval, 0 for the defaults
    } cases[] = {{"defaults", 0}, {"all equal, as an unreadable autoquery.cfg gives", 1200}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.all) {
            timing.QUERY_DEV = timing.EMAIL_RUN = timing.WAIT_FOR_RESET_DEV = c.all;
            timing.AFTER_RECEPTION = timing.SECU_RECEPTION = timing.OTHER_RECEPTION = c.all;
        }
        // A 3000 ms pause is followed by 2500 ms, then by the poll.
        AutoQuery.pause(3000);
        queryCycle.tick();
        EXPECT_EQ(AutoQuery.interval(), 2500);
        EXPECT_TRUE(takeFrames().isEmpty());
        queryCycle.tick();
        EXPECT_EQ(AutoQuery.branch(), Branch::Poll);
        EXPECT_EQ(AutoQuery.interval(), timing.QUERY_DEV);
        queryCycle.tick();
        EXPECT_EQ(takeFrames(), QStringList{"01 0a 01 71"});
        // Any other pause resumes the normal cycle with the next tick.
        AutoQuery.pause(timing.WAIT_FOR_RESET_DEV);
        queryCycle.tick();
        EXPECT_TRUE(takeFrames().isEmpty());
        EXPECT_EQ(polls(1), QStringList{"01 0a 01 71"});
        EXPECT_TRUE(AutoQuery.isActive());
    }
}

TEST_F(QueryCycleTest, NoDeviceWorkWithoutControllersOrWhenDisabled) {
    scan();
    for (int i = 0; i < 5; ++i) {
        clock.advanceMs(QueryCycle::kSilentMs + 1);
        queryCycle.tick();
    }
    EXPECT_TRUE(takeFrames().isEmpty());
    EXPECT_TRUE(AutoQuery.isActive());

    addDevice(10, 1, "A");
    scan();
    startup.querydevdisable = true;
    tmp.write("emails/r.run", "A; x\r\n");
    queryCycle.tick();
    EXPECT_FALSE(tmp.exists("emails/r.run"));  // files are still taken
    EXPECT_FALSE(AutoQuery.isActive());
    startup.querydevdisable = false;
    startup.offline = true;
    AutoQuery.start();
    queryCycle.tick();
    EXPECT_FALSE(AutoQuery.isActive());
    EXPECT_TRUE(takeFrames().isEmpty());
}

TEST_F(QueryCycleTest, ATakenFileReplacesThePollOfItsTick) {
    addController(55, 1, "Kitchen");
    scan();
    AutoQuery.set(Branch::Poll, timing.QUERY_DEV);
    tmp.write("emails/r1.run", "Kitchen; Lights On\r\n");
    tmp.write("emails/r2.run", "Kitchen; Lights Off\r\n");
    queryCycle.tick();
    EXPECT_EQ(takeFrames(), QStringList{"08 37 01 65 45 56 01 01 01 00 00"});
    EXPECT_EQ(AutoQuery.interval(), timing.EMAIL_RUN);  // another file waits
    queryCycle.tick();
    EXPECT_EQ(takeFrames(), QStringList{"08 37 01 65 45 56 01 01 00 00 00"});
    EXPECT_EQ(AutoQuery.branch(), Branch::Poll);
    queryCycle.tick();
    EXPECT_EQ(takeFrames(), QStringList{"01 37 01 71"});
}

}  // namespace
}  // namespace velmar
