#include "app/manager.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <functional>

#include "support/fake_clock.h"
#include "support/temp_root.h"

namespace velmar {
namespace {

// Records which subsystem hooks ran, in order.
class RecordingSubsystems : public Subsystems {
  public:
    QStringList calls;
    QString panelError;
    void createSerialThread() override { calls << "createSerialThread"; }
    void startSerialThread() override { calls << "startSerialThread"; }
    void buildDeviceTables() override { calls << "buildDeviceTables"; }
    void startEventScan() override { calls << "startEventScan"; }
    void loadModules() override { calls << "loadModules"; }
    void startPanelServer() override { calls << "startPanelServer"; }
    void stopConfigurationTimers() override { calls << "stopConfigurationTimers"; }
    void closeSerialPort() override { calls << "closeSerialPort"; }
    QString stopPanelServer() override {
        calls << "stopPanelServer";
        return panelError;
    }
};

// Runs the event loop until `done` holds or the deadline passes.
bool waitFor(const std::function<bool()>& done, int ms = 10000) {
    QDeadlineTimer deadline(ms);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

struct Fixture {
    explicit Fixture(QStringList args)
        : runtime(tmp.root(), clock), manager(runtime, std::move(args), &hooks) {}
    test::TempRoot tmp;
    test::FakeClock clock;
    RecordingSubsystems hooks;
    Runtime runtime;
    Manager manager;
};

TEST(Manager, StartUpHooksFollowTheSwitches) {
    struct Case {
        QStringList args;
        int deviceTableBuilds;
        bool serialStarted;
        bool eventScan;
    };
    const std::vector<Case> cases = {
        {{}, 1, true, true},
        {{"/offline"}, 2, false, false},
        {{"/offline", "/tcpquery"}, 3, false, true},
        {{"/viatcp"}, 2, false, true},
        {{"/Linkel"}, 2, false, true},
    };
    for (const Case& c : cases) {
        Fixture f(c.args);
        f.manager.start();
        EXPECT_EQ(f.hooks.calls.count("buildDeviceTables"), c.deviceTableBuilds)
            << c.args.join(' ').toStdString();
        EXPECT_EQ(f.hooks.calls.contains("startSerialThread"), c.serialStarted);
        EXPECT_EQ(f.hooks.calls.contains("startEventScan"), c.eventScan);
        EXPECT_EQ(f.hooks.calls.first(), QStringLiteral("createSerialThread"));
        EXPECT_TRUE(f.manager.Timer1.isActive());
    }
}

TEST(Manager, AdminSetStaysInMemory) {
    Fixture f({"/admin"});
    f.manager.start();
    EXPECT_EQ(f.manager.settings().timing, TimingSettings::adminSet());
    EXPECT_TRUE(f.tmp.read("autoquery.cfg").contains("\r\n1000\r\n;Querying devices interval"));
    const auto& menu = f.manager.windowState().menu;
    const auto admin = std::find_if(menu.begin(), menu.end(), [](const MenuEntry& e) {
        return e.action == MenuAction::Administration;
    });
    ASSERT_NE(admin, menu.end());
    EXPECT_TRUE(admin->visible);
}

TEST(Manager, LinkelHidesWindowAndConfigurationEntries) {
    Fixture f({"/Linkel"});
    f.manager.start();
    const MainWindowState& s = f.manager.windowState();
    EXPECT_FALSE(s.mainVisible);
    EXPECT_EQ(f.manager.flags().timer_start, 1);
    for (const MenuEntry& e : s.menu) {
        if (e.action == MenuAction::EventsManager || e.action == MenuAction::QuartelConfiguration) {
            EXPECT_FALSE(e.visible) << e.caption.toStdString();
        }
        if (e.action == MenuAction::RunCommand) {
            EXPECT_TRUE(e.enabled);
        }
    }
}

TEST(Manager, MenuEntriesInOrder) {
    Fixture f({});
    QStringList captions;
    for (const MenuEntry& e : f.manager.windowState().menu)
        captions << e.caption;
    EXPECT_EQ(captions, QStringList({"Events Manager", "View Results", "Alarm Configuration",
                                     "Quartel Configuration", "Run Command", "Heating", "About",
                                     "Shut down", "Administration", "Administration CD",
                                     "Ethernet Module Configuration"}));
}

TEST(Manager, OneSecondCountdownEndsInRun) {
    Fixture f({"/nd", "/e"});
    f.manager.start();
    EXPECT_TRUE(f.manager.windowState().mainVisible);
    ASSERT_TRUE(waitFor([&] { return f.hooks.calls.contains("startPanelServer"); }));
    const MainWindowState& s = f.manager.windowState();
    EXPECT_EQ(s.countdownLabel, QStringLiteral("Auto Execute selected options in : 0 s"));
    EXPECT_EQ(s.progress, 3);
    EXPECT_FALSE(s.mainVisible);
    EXPECT_TRUE(s.resultsVisible);
    EXPECT_TRUE(s.trayEnabled);
    EXPECT_TRUE(s.options.updateEvents);
    EXPECT_FALSE(f.manager.Timer1.isActive());
    EXPECT_TRUE(f.manager.Timer2.isActive());
    // Without an update sequence the start-up phase ends with the first update tick and the
    // query cycle is due 15 s later.
    ASSERT_TRUE(waitFor([&] { return f.manager.notstart(); }));
    EXPECT_FALSE(f.manager.UpdateAfterReset.isActive());
    EXPECT_TRUE(f.manager.AutoQuery.isActive());
    EXPECT_EQ(f.manager.AutoQuery.interval(), 15000);
}

TEST(Manager, CancelSwitchCancelsAfterTwoSeconds) {
    Fixture f({"/cancel"});
    f.manager.start();
    EXPECT_EQ(f.manager.Cancelbut.interval(), 2000);
    ASSERT_TRUE(waitFor([&] { return f.manager.notstart(); }));
    EXPECT_FALSE(f.hooks.calls.contains("startPanelServer"));
    EXPECT_EQ(f.manager.AutoQuery.interval(), 5000);
    EXPECT_TRUE(f.manager.AutoQuery.isActive());
    EXPECT_FALSE(f.manager.Timer1.isActive());
    EXPECT_FALSE(f.manager.Cancelbut.isActive());
    EXPECT_TRUE(f.manager.windowState().trayEnabled);
}

TEST(Manager, OfflineRunsOnceAndStopsEveryTimer) {
    // With "/nd" the countdown ends in "Run" in the same tick in which "/offline" runs.
    Fixture f({"/offline", "/nd"});
    f.manager.start();
    EXPECT_FALSE(f.manager.oneHour.isActive());
    ASSERT_TRUE(waitFor([&] { return f.hooks.calls.contains("startPanelServer"); }));
    EXPECT_EQ(f.hooks.calls.count("startPanelServer"), 1);
    for (QTimer* t : {&f.manager.Timer1, &f.manager.AutoQuery, &f.manager.UpdateAfterReset,
                      &f.manager.oneHour, &f.manager.smstimer, &f.manager.minuteClock})
        EXPECT_FALSE(t->isActive());
    EXPECT_TRUE(f.manager.Timer2.isActive());
}

TEST(Manager, OptionClickFreezesCountdown) {
    Fixture f({});
    f.manager.start();
    f.manager.setOption(2, true);
    EXPECT_FALSE(f.manager.Timer1.isActive());
    EXPECT_TRUE(f.manager.windowState().options.resetDevices);
}

TEST(Manager, ShutdownStopsEverythingAndReportsPanelError) {
    Fixture f({});
    f.hooks.panelError = QStringLiteral("socket busy");
    QList<int> quit;
    QObject::connect(&f.manager, &Manager::quitRequested, [&quit](int code) { quit << code; });
    f.manager.start();
    f.manager.trigger(MenuAction::ShutDown);
    ASSERT_EQ(quit.size(), 1);
    EXPECT_EQ(quit[0], 0);
    EXPECT_TRUE(f.manager.terminating());
    for (QTimer* t :
         {&f.manager.Timer1, &f.manager.oneHour, &f.manager.smstimer, &f.manager.minuteClock})
        EXPECT_FALSE(t->isActive());
    EXPECT_TRUE(f.tmp.read("logs/errors.logs")
                    .contains("Error deactivating server socket: socket busy\r\n"));
    const int closeAt = f.hooks.calls.indexOf("closeSerialPort");
    EXPECT_GE(closeAt, 0);
    EXPECT_LT(closeAt, f.hooks.calls.indexOf("stopPanelServer"));
    f.manager.shutdown();  // a second request does nothing
    EXPECT_EQ(quit.size(), 1);
}

TEST(Manager, RecuperationActionsAndAudioExtension) {
    Fixture f({});
    QByteArray heater;
    for (int i = 1; i <= 80; ++i)
        heater += "line " + QByteArray::number(i) + "\r\n";
    f.tmp.write("heater.evt", heater);
    f.tmp.write("audios/b.wav", "");
    f.tmp.write("audios/A.ogg", "");
    f.manager.start();
    ASSERT_EQ(f.manager.recu_actions().size(), 53);
    EXPECT_EQ(f.manager.recu_actions().first(), QStringLiteral("line 23"));
    EXPECT_EQ(f.manager.recu_actions().last(), QStringLiteral("line 75"));
    EXPECT_EQ(f.manager.audioext(), QStringLiteral(".ogg"));
}

TEST(Manager, UnwritableRootDoesNotStopStartUp) {
    Fixture f({"/nd"});
    f.tmp.write("logs", "a file where the folder should be");
    f.tmp.write("charset.cfg", "");  // empty: both values empty
    f.manager.start();
    EXPECT_TRUE(f.manager.Timer1.isActive());
    EXPECT_EQ(f.manager.settings().charset, QString());
    ASSERT_TRUE(waitFor([&] { return f.hooks.calls.contains("startPanelServer"); }));
}

}  // namespace
}  // namespace velmar
