#pragma once

#include <QObject>
#include <QStringList>
#include <QTimer>
#include <atomic>
#include <memory>
#include <vector>

#include "app/config_files.h"
#include "app/run_status.h"
#include "app/subsystems.h"
#include "app/switches.h"
#include "bus/query_timer.h"
#include "log/log_digest.h"
#include "log/runtime.h"

namespace velmar {

// Entries of the notification-area pop-up menu, in menu order.
enum class MenuAction {
    EventsManager,
    ViewResults,
    AlarmConfiguration,
    QuartelConfiguration,
    RunCommand,
    Heating,
    About,
    ShutDown,
    Administration,
    AdministrationCD,
    EthernetModuleConfiguration,
};

struct MenuEntry {
    MenuAction action;
    QString caption;
    QString hint;
    bool visible = true;
    bool enabled = true;
};

// What the main window, the Results window and the tray icon show. Headless mode keeps the
// same state without windows.
struct MainWindowState {
    QString caption = QStringLiteral("Velmar Manager");
    bool mainVisible = false;
    bool resultsVisible = false;
    bool trayEnabled = false;
    bool controlsVisible = false;  // option boxes, "Run", "Cancel", progress bar, label
    QString countdownLabel = QStringLiteral("Auto Execute selected options in :");
    int progress = 0;
    int progressMax = 90;
    StartupOptions options;
    bool generateLayersVisible = true;
    std::vector<MenuEntry> menu;
};

// The main window's model: its timers and the start-up, countdown, "Run", "Cancel" and shutdown
// logic over the runtime (data root, log, settings, flags) and the modules' steps. Windows are
// thin views over it.
class Manager : public QObject {
    Q_OBJECT
  public:
    // `arguments` are the documented switches only (the Linux options already taken out).
    Manager(Runtime& rt, QStringList arguments, Subsystems* subsystems = nullptr,
            QObject* parent = nullptr);
    ~Manager() override;

    // Start-up steps 1-36, then the timers run.
    void start();

    Runtime& runtime() { return rt_; }
    const DataRoot& dataRoot() const { return rt_.root; }
    const Clock& clock() const { return rt_.clock; }
    EventLog& log() { return rt_.log; }
    LogFiles& logFiles() { return rt_.logFiles; }
    LogDigest& logDigest() { return digest_; }
    const Settings& settings() const { return rt_.settings; }
    const RuntimeFlags& flags() const { return rt_.flags; }
    const MainWindowState& windowState() const { return state_; }
    const QString& audioext() const { return rt_.settings.audioext; }
    const QStringList& recu_actions() const { return recu_actions_; }
    bool notstart() const { return rt_.flags.notstart; }
    void setNotstart(bool value) { rt_.flags.notstart = value; }
    bool terminating() const { return Terminat_.load(); }
    const QStringList& arguments() const { return arguments_; }
    Subsystems& subsystems() { return *subsystems_; }
    // Replaces the do-nothing subsystems; call before start().
    void setSubsystems(Subsystems* subsystems) { subsystems_ = subsystems; }
    // The start-up option boxes, read by the update sequence.
    const StartupOptions& options() const { return state_.options; }

    // Operator actions
    void setOption(int index, bool checked);  // 0 time, 1 events, 2 reset, 3 configuration
    void run();
    void cancel();
    void shutdown();
    void mainWindowActivated();
    void trigger(MenuAction action);
    // The running figures: one log line and "logs\manager.status" (SIGUSR1).
    void reportStatus() { status_.report(); }

    // The main window's timers, under their documented names.
    QTimer Timer1;
    QTimer AutoQuery;
    // `AutoQuery` with the branch of its next tick: every user of the query cycle's timer
    // goes through it.
    QueryTimer queryTimer{AutoQuery};
    QTimer UpdateAfterReset;
    QTimer Cancelbut;
    QTimer oneHour;
    QTimer smstimer;
    QTimer Timer2;
    // The configuration window's one-minute clock (log digest, PC-side schedule).
    QTimer minuteClock;

  signals:
    void stateChanged();
    // A window the model cannot show itself (Results, About, and the later windows).
    void windowRequested(velmar::MenuAction action);
    void quitRequested(int exitCode);

  private:
    void debugLog(const char* word);
    void timer1Tick();
    void cancelbutTick();
    void oneHourTick();
    void smstimerTick();
    void timer2Tick();
    void updateAfterResetTick();
    void autoQueryTick();
    void minuteClockTick();
    void armMinuteClock();
    void buildMenu();
    void startTcpEventHelpers();
    void loadRecuActions();
    void findAudioExt();
    void stopMainTimers();
    void makeDirs(std::initializer_list<const char*> names);

    Runtime& rt_;
    QStringList arguments_;
    LogDigest digest_;
    RunStatus status_;
    SwitchEffects effects_;
    MainWindowState state_;
    std::unique_ptr<Subsystems> ownSubsystems_;
    Subsystems* subsystems_;
    QString captionn_;
    QStringList recu_actions_;
    bool notmanulalexec_ = false;
    bool started_ = false;
    bool ran_ = false;
    bool shutDown_ = false;
    std::atomic<bool> Terminat_{false};
};

}  // namespace velmar
