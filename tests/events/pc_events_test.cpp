#include "events/pc_events.h"

#include <gtest/gtest.h>

#include <QSqlDatabase>
#include <QSqlQuery>

#include "events/commands.h"
#include "support/bus_helpers.h"
#include "support/fake_clock.h"
#include "support/temp_root.h"

namespace velmar {
namespace {

class PcEventsTest : public ::testing::Test {
  protected:
    PcEventsTest() {
        tmp.mkdir("logs");
        port.writer.setSerialOutput(&serial);
        rt.log.setSink([this](const QString& l) { logged << l; });
        events.serialOpen = [] { return true; };
        events.open = [this](const QString& f) {
            opened << f;
            return false;  // no program takes it
        };
    }
    // Runs the minute at `at` and tells which events ran: "reset" for a reset broadcast,
    // the file name for an opened file.
    QStringList runAt(const QDateTime& at) { return runAt(events, at); }
    QStringList runAt(PcEvents& ev, const QDateTime& at) {
        clock.set(at);
        serial.frames.clear();
        opened.clear();
        ev.local_events();
        QStringList ran;
        for (const QByteArray& f : serial.frames)
            if (f.mid(3) == "eRESET")
                ran << "reset";
        return ran + opened;
    }

    test::TempRoot tmp;
    test::FakeClock clock;
    Runtime rt{tmp.root(), clock};
    QTimer autoQuery;
    BusPort port{rt, autoQuery};
    test::CaptureSerial serial;
    Commands commands{rt, port};
    PcEvents events{rt, port, commands};
    QStringList logged, opened;
};

TEST_F(PcEventsTest, DueByEveryField) {
    struct Case {
        const char* name;
        local_event e;
        QDateTime at;
        bool due;
    };
    const QDate monday(2026, 12, 7);
    const QTime half7(7, 30);
    const auto restart = [](int h, int m, int dow, int dom, int month, int year) {
        return local_event{"", "RESTART", h, m, dom, dow, month, year};
    };
    const Case cases[] = {
        {"daily 07:30", restart(7, 30, 0, 0, 0, 0), QDateTime(monday, half7), true},
        {"daily, another day", restart(7, 30, 0, 0, 0, 0), QDateTime(monday.addDays(3), half7),
         true},
        {"daily, 07:31", restart(7, 30, 0, 0, 0, 0), QDateTime(monday, QTime(7, 31)), false},
        {"Mondays on a Monday", restart(7, 30, 2, 0, 0, 0), QDateTime(monday, half7), true},
        {"Mondays on a Tuesday", restart(7, 30, 2, 0, 0, 0), QDateTime(monday.addDays(1), half7),
         false},
        {"2026 in 2026", restart(7, 30, 0, 0, 0, 26), QDateTime(monday, half7), true},
        {"2026 in 2027", restart(7, 30, 0, 0, 0, 26), QDateTime(QDate(2027, 1, 4), half7), false},
        {"every hour", restart(24, 30, 0, 0, 0, 0), QDateTime(monday, QTime(15, 30)), true},
        {"every minute", restart(24, 60, 0, 0, 0, 0), QDateTime(monday, QTime(15, 41)), true},
        {"day 9 of December", restart(7, 30, 0, 9, 12, 0), QDateTime(QDate(2026, 12, 9), half7),
         true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        PcEvents ev{rt, port, commands};
        ev.serialOpen = [] { return false; };
        ev.pc_events = {c.e};
        ev.PCEventsCount = 1;
        EXPECT_EQ(runAt(ev, c.at), c.due ? QStringList{"reset"} : QStringList{});
    }
}

TEST_F(PcEventsTest, EachMinuteRunsOnceAndTheTimeGoesOutFirst) {
    events.pc_events = {local_event{"/nowhere/report.pdf", "EXECUTEF", 24, 60, 0, 0, 0, 0}};
    events.PCEventsCount = 1;
    const QDateTime t(QDate(2026, 12, 9), QTime(7, 30, 1));
    EXPECT_EQ(runAt(t), QStringList{"/nowhere/report.pdf"});
    // The set-time broadcast went out before the event.
    EXPECT_EQ(logged.filter("Executing: ").size(), 1);
    // Unassociated: only the line. The timer firing twice, the clock set back: nothing more.
    EXPECT_EQ(runAt(t.addSecs(30)), QStringList{});
    EXPECT_EQ(runAt(t.addSecs(-120)), QStringList{});
    EXPECT_EQ(serial.frames.size(), 0u);
    EXPECT_EQ(runAt(t.addSecs(60)), QStringList{"/nowhere/report.pdf"});
    EXPECT_EQ(serial.frames.size(), 1u);
    EXPECT_EQ(serial.frames[0].mid(0, 4), QByteArray("\x14\x00\x00"
                                                     "c",
                                                     4));
    EXPECT_EQ(logged.filter("Executing: /nowhere/report.pdf").size(), 2);
    // While a controller is programmed the time waits.
    rt.flags.uploading = true;
    EXPECT_EQ(runAt(t.addSecs(120)), QStringList{"/nowhere/report.pdf"});
    EXPECT_EQ(serial.frames.size(), 0u);
}

TEST_F(PcEventsTest, LoadedFromTheEventTable) {
    tmp.mkdir("db");
    {
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "pc-events-test");
        db.setDatabaseName(tmp.path("db/events.db"));
        ASSERT_TRUE(db.open());
        QSqlQuery q(db);
        ASSERT_TRUE(
            q.exec("CREATE TABLE events (Device_Name TEXT, Event_Name TEXT, Signal_Name "
                   "TEXT, Mi INT, Ho INT, DOW INT, DOM INT, Mo INT, Ye INT)"));
        ASSERT_TRUE(
            q.exec("INSERT INTO events VALUES ('PC', 'a.txt', 'EXECUTEF', 30, 7, 0, 0, 0, 0),"
                   "('Kitchen', 'Lights', 'x', 0, 0, 0, 0, 0, 0),"
                   "('PC', '', 'RESTART', 75, -1, -2, 0, 13, 26)"));
        db.close();
    }
    QSqlDatabase::removeDatabase("pc-events-test");
    events.update_pc_events();
    ASSERT_EQ(events.PCEventsCount, 2);
    EXPECT_EQ(events.pc_events[0].event_name, "a.txt");
    EXPECT_EQ(events.pc_events[0].min, 30);
    EXPECT_EQ(events.pc_events[0].hour, 7);
    const local_event& r = events.pc_events[1];
    EXPECT_EQ(r.event_type, "RESTART");
    EXPECT_EQ(r.min, 60);  // out of range: every minute
    EXPECT_EQ(r.hour, 24);
    EXPECT_EQ(r.dayw, 0);
    EXPECT_EQ(r.month, 13);
    EXPECT_EQ(r.year, 26);
    // As the Linkel's companion, or without the table, nothing.
    rt.flags.linkel_companion = true;
    events.update_pc_events();
    EXPECT_EQ(events.PCEventsCount, 2);
    rt.flags.linkel_companion = false;
    QFile::remove(tmp.path("db/events.db"));
    events.update_pc_events();
    EXPECT_EQ(events.PCEventsCount, 0);
}

}  // namespace
}  // namespace velmar
