#include "app/run_status.h"

#include <gtest/gtest.h>

#include "support/fake_clock.h"
#include "support/temp_root.h"

namespace velmar {
namespace {

TEST(RunStatus, LineAndFileCarryEveryFigure) {
    test::TempRoot t;
    t.mkdir("logs");
    t.mkdir("emails");
    t.write("emails/a.run", "x\r\n");
    t.write("emails/b.run", "y\r\n");
    t.write("emails/c.txt", "not an event\r\n");
    test::FakeClock clock;
    Runtime rt(t.root(), clock);
    QString logged;
    rt.log.setSink([&](const QString& line) { logged += line; });
    RunStatus status(rt);
    clock.advanceMs(90061 * 1000LL);  // 1 day, 1 h, 1 min, 1 s
    rt.counters.framesSent = 7;
    rt.counters.framesReceived = 5;
    rt.counters.echoFailures = 1;
    rt.counters.serialReconnects = 2;
    rt.counters.linkelReconnects = 3;
    rt.counters.panelsConnected = 4;
    rt.counters.logWriteFailures = 6;
    status.report();
    EXPECT_TRUE(logged.contains(
        "Status: uptime 1d 01:01:01, frames sent 7, received 5, echo failures 1, serial "
        "reconnects 2, Linkel reconnects 3, panels connected 4, event files waiting 2, log write "
        "failures 6"))
        << logged.toStdString();
    EXPECT_EQ(t.read("logs/manager.status"),
              QByteArray("uptime_s=90061\nframes_sent=7\nframes_received=5\necho_failures=1\n"
                         "serial_reconnects=2\nlinkel_reconnects=3\npanels_connected=4\n"
                         "event_files_waiting=2\nlog_write_failures=6\n"));
    // The minute's rewrite logs nothing without debugging.
    logged.clear();
    rt.counters.framesSent = 8;
    status.minute();
    EXPECT_EQ(logged, QString());
    EXPECT_TRUE(t.read("logs/manager.status").contains("frames_sent=8\n"));
    rt.flags.debugtimer = true;
    status.minute();
    EXPECT_TRUE(logged.contains("Status: uptime"));
}

}  // namespace
}  // namespace velmar
