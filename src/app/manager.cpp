#include "app/manager.h"

#include <QLocale>
#include <QProcess>
#include <clocale>

#include "app/first_run.h"
#include "base/dir_listing.h"
#include "base/text_file.h"

namespace velmar {

Manager::Manager(Runtime& rt, QStringList arguments, Subsystems* subsystems, QObject* parent)
    : QObject(parent),
      rt_(rt),
      arguments_(std::move(arguments)),
      digest_(rt.root, rt.log, rt.clock),
      status_(rt),
      subsystems_(subsystems) {
    if (!subsystems_) {
        ownSubsystems_ = std::make_unique<Subsystems>();
        subsystems_ = ownSubsystems_.get();
    }
    Timer1.setInterval(1000);
    AutoQuery.setInterval(30000);
    UpdateAfterReset.setInterval(1000);
    Cancelbut.setInterval(5000);
    oneHour.setInterval(10000);
    smstimer.setInterval(60000);
    minuteClock.setSingleShot(true);
    minuteClock.setTimerType(Qt::PreciseTimer);
    connect(&Timer1, &QTimer::timeout, this, &Manager::timer1Tick);
    connect(&Cancelbut, &QTimer::timeout, this, &Manager::cancelbutTick);
    connect(&oneHour, &QTimer::timeout, this, &Manager::oneHourTick);
    connect(&smstimer, &QTimer::timeout, this, &Manager::smstimerTick);
    connect(&Timer2, &QTimer::timeout, this, &Manager::timer2Tick);
    connect(&UpdateAfterReset, &QTimer::timeout, this, &Manager::updateAfterResetTick);
    connect(&AutoQuery, &QTimer::timeout, this, &Manager::autoQueryTick);
    connect(&minuteClock, &QTimer::timeout, this, &Manager::minuteClockTick);
    buildMenu();
}

Manager::~Manager() {
    // The subsystems may be gone already: only the manager's own timers are stopped here.
    Terminat_ = true;
    shutDown_ = true;
    stopMainTimers();
}

void Manager::makeDirs(std::initializer_list<const char*> names) {
    for (const char* name : names)
        rt_.root.makeDir(QString::fromUtf8(name));
}

void Manager::debugLog(const char* word) {
    if (rt_.flags.debugtimer)
        rt_.log.admem(QString::fromLatin1(word));
}

void Manager::start() {
    if (started_)
        return;
    started_ = true;
    // The switch list comes before any other output.
    for (const QString& arg : arguments_) {
        if (isHelpSwitch(arg)) {
            rt_.log.toSink(QString::fromLatin1(kHelpText));
            break;
        }
    }

    makeDirs({"logs", "AllEvents"});                                                 // 2
    digest_.getemailsconfig();                                                       // 3
    rt_.settings.linkel_addressing = rt_.root.exists(QStringLiteral("linkel.cfg"));  // 4
    rt_.settings.disableExtern = false;
    readOrCreateCharset(rt_.root, rt_.log, rt_.settings);  // 5
    rt_.settings.disableExtern =
        rt_.root.exists(QStringLiteral("Disable_Frequent_External_query.txt"));  // 6
    // "emailsout" receives the log digest; without it the digest would be lost.
    makeDirs({"emails", "emailstcp", "emails\\schedule", "db", "emailsout"});  // 7
    rt_.settings.timing = readOrCreateAutoquery(rt_.root, rt_.log);            // 9
    rt_.settings.smsadmins.clear();                                            // 11
    rt_.settings.smsreports.clear();
    notmanulalexec_ = false;
    state_.generateLayersVisible = false;
    subsystems_->createSerialThread();                                                   // 12
    makeDirs({"batch"});                                                                 // 13
    makeDirs({"extern events"});                                                         // 15
    runFirstRunInstallation(rt_.root, rt_.log);                                          // 16
    rt_.settings.smsadmins = readRecipients(rt_.root, QStringLiteral("smsadmins.cfg"));  // 17
    rt_.settings.smsreports = readRecipients(rt_.root, QStringLiteral("smsreports.cfg"));
    subsystems_->loadModules();  // 18
    makeDirs({"logs",
              "logs\\status",
              "support",
              "logs\\Alarm",
              "logs\\Active",
              "logs\\Warning",
              "logs\\Monitoring",
              "logs\\SensorSet",
              "logs\\ActiveSet",
              "logs\\MonitoringSet",
              "logs\\AlarmSet",
              "logs\\WarningSet",
              "logs\\InputSet",
              "logs\\InputClear",
              "audio to play",
              "backup-logs",
              "aliases",
              "aliases\\all",
              "smsout",
              "smsin"});                                                   // 19
    const LogsizeConfig logsize = readOrCreateLogsize(rt_.root, rt_.log);  // 20
    rt_.settings.logsize = logsize.logsize;
    rt_.settings.backuplogs = logsize.backupLogs;
    rt_.log.setLogSize(rt_.settings.logsize);
    rt_.log.setBackupLimit(rt_.settings.backuplogs);
    if (firstArgumentIs(arguments_, QStringLiteral("/adl")))  // 21
        writeAudioNameLists(rt_.root, rt_.log);
    loadRecuActions();                  // 23
    QLocale::setDefault(QLocale::c());  // 24
    std::setlocale(LC_NUMERIC, "C");
    makeDirs({"rxbuff", "txbuff", "logs"});  // 25
    findAudioExt();                          // 26
    state_.mainVisible = true;               // 27
    Timer1.start();
    oneHour.start();
    smstimer.start();
    armMinuteClock();

    rt_.flags.TCP_INDEX_INC = 0;  // 28
    applySwitches(arguments_, rt_.flags, state_.options, effects_);
    for (int i = 0; i < effects_.deviceTableRebuilds; ++i)
        subsystems_->buildDeviceTables();
    if (effects_.cancelRequested) {
        Cancelbut.setInterval(2000);
        Cancelbut.start();
    }
    if (effects_.disableOneHour)
        oneHour.stop();
    if (effects_.applyAdminSet)
        rt_.settings.timing = TimingSettings::adminSet();
    if (effects_.linkelMenu)
        state_.mainVisible = false;
    buildMenu();
    Timer1.start();

    subsystems_->buildDeviceTables();   // 29
    captionn_ = state_.countdownLabel;  // 30
    if (!(rt_.flags.offline && !rt_.flags.tcpqueryen))
        subsystems_->startEventScan();  // 31
    if (!rt_.flags.offline && !rt_.flags.via_linkel)
        subsystems_->startSerialThread();  // 32
    startTcpEventHelpers();                // 36
    subsystems_->createConfigurationWindow();
    rt_.log.admem(QLatin1String("Velmar Manager started, data root ") + rt_.root.root());
    emit stateChanged();
}

void Manager::loadRecuActions() {
    recu_actions_.clear();
    if (!rt_.root.exists(QStringLiteral("heater.evt")))
        return;
    const auto lines = readLines(rt_.root.path(QStringLiteral("heater.evt")));
    if (!lines) {
        rt_.log.admem(QStringLiteral("Error reading file: heater.evt"));
        return;
    }
    for (int i = 0; i < 53; ++i)
        recu_actions_.append(lines->value(22 + i));
}

void Manager::findAudioExt() {
    const QStringList files =
        listDir(rt_.root.path(QStringLiteral("audios")), QStringLiteral("*.*"), EntryKind::Files);
    if (files.isEmpty())
        return;
    const QString& first = files.first();
    const int dot = first.lastIndexOf(QLatin1Char('.'));
    rt_.settings.audioext = dot >= 0 ? first.mid(dot) : QString();
}

void Manager::startTcpEventHelpers() {
    const QString setup = QStringLiteral("bin\\LinkelSetup.exe");
    auto copyHelpers = [this, &setup] {
        if (!rt_.root.exists(setup))
            return;
        rt_.logFiles.cp(setup, QStringLiteral("bin\\PushEvent.exe"), true);
        rt_.logFiles.cp(setup, QStringLiteral("bin\\RunEvent.exe"), true);
    };
    copyHelpers();
    if (!rt_.root.exists(QStringLiteral("bin\\tcpevent.cfg")))
        copyHelpers();
    rt_.settings.tcpEvent = readOrCreateTcpEventCfg(rt_.root, rt_.log);
}

void Manager::buildMenu() {
    const bool linkel = effects_.linkelMenu;
    state_.menu = {
        {MenuAction::EventsManager, QStringLiteral("Events Manager"),
         QStringLiteral("Manage Events and Sheduler"), !linkel, false},
        {MenuAction::ViewResults, QStringLiteral("View Results"),
         QStringLiteral("Show Results Window"), true, true},
        {MenuAction::AlarmConfiguration, QStringLiteral("Alarm Configuration"),
         QStringLiteral("Configuration / Programming Alarm Devices"), false, false},
        {MenuAction::QuartelConfiguration, QStringLiteral("Quartel Configuration"),
         QStringLiteral("Configuration / Programming Quartel Devices"), !linkel, true},
        {MenuAction::RunCommand, QStringLiteral("Run Command"), QString(), true,
         rt_.flags.linkel_companion},
        {MenuAction::Heating, QStringLiteral("Heating"), QString(), true, false},
        {MenuAction::About, QStringLiteral("About"), QStringLiteral("About Application"), true,
         true},
        {MenuAction::ShutDown, QStringLiteral("Shut down"), QStringLiteral("Exit Application"),
         true, true},
        {MenuAction::Administration, QStringLiteral("Administration"), QString(),
         effects_.showAdministration && !linkel, false},
        {MenuAction::AdministrationCD, QStringLiteral("Administration CD"), QString(),
         effects_.showAdministrationCD && !linkel, false},
        {MenuAction::EthernetModuleConfiguration, QStringLiteral("Ethernet Module Configuration"),
         QString(), false, false},
    };
}

void Manager::setOption(int index, bool checked) {
    switch (index) {
        case 0:
            state_.options.updateTime = checked;
            break;
        case 1:
            state_.options.updateEvents = checked;
            break;
        case 2:
            state_.options.resetDevices = checked;
            break;
        default:
            state_.options.updateConfiguration = checked;
            break;
    }
    Timer1.stop();  // any click freezes the countdown until "Run" or "Cancel"
    emit stateChanged();
}

void Manager::timer1Tick() {
    debugLog("tm1");
    if (firstArgumentIs(arguments_, QStringLiteral("/cdr"))) {
        if (!rt_.actions.run(QStringLiteral("GenerateLayers")))
            rt_.log.admem(QStringLiteral("Layer generation not available: /cdr"));
        shutdown();
        return;
    }
    state_.controlsVisible = true;
    state_.progressMax = 90;
    state_.resultsVisible = false;
    mainWindowActivated();
    Timer1.setInterval(1000);
    state_.progress = std::min(state_.progress + 3, state_.progressMax);
    rt_.flags.timer_start -= 1;
    state_.countdownLabel =
        captionn_ + QLatin1Char(' ') + QString::number(rt_.flags.timer_start) + QLatin1String(" s");
    if (rt_.flags.timer_start == 0) {
        Timer1.stop();
        run();
        state_.resultsVisible = true;
        state_.mainVisible = false;
    }
    if (rt_.flags.offline) {
        UpdateAfterReset.stop();
        subsystems_->stopConfigurationTimers();
        AutoQuery.stop();
        oneHour.stop();
        smstimer.stop();
        rt_.flags.timer_start = 0;
        run();
        stopMainTimers();
    }
    Timer2.setInterval(10000);
    Timer2.start();
    emit stateChanged();
}

void Manager::stopMainTimers() {
    for (QTimer* t : {&Timer1, &AutoQuery, &UpdateAfterReset, &Cancelbut, &oneHour, &smstimer,
                      &Timer2, &minuteClock})
        t->stop();
    if (!shutDown_)
        subsystems_->stopConfigurationTimers();
}

void Manager::run() {
    // "/offline" with "/nd" reaches "Run" twice in one countdown tick: the update sequence
    // and the panel server start once.
    if (ran_)
        return;
    ran_ = true;
    AutoQuery.stop();
    Timer1.stop();
    state_.mainVisible = false;
    state_.resultsVisible = true;
    UpdateAfterReset.setInterval(1000);
    UpdateAfterReset.start();
    state_.trayEnabled = true;
    subsystems_->startPanelServer();
    if (rt_.flags.mobile && !rt_.actions.run(QStringLiteral("MobileExport")))
        rt_.log.admem(QStringLiteral("Mobile export not available: /mobile"));
    emit stateChanged();
}

void Manager::cancel() {
    state_.trayEnabled = true;
    Timer1.stop();
    state_.mainVisible = false;
    state_.resultsVisible = true;
    rt_.flags.notstart = true;
    queryTimer.pause(5000);
    emit stateChanged();
}

void Manager::cancelbutTick() {
    debugLog("ca n cel");
    Cancelbut.stop();
    Timer1.stop();
    cancel();
}

void Manager::oneHourTick() {
    oneHour.setInterval(36000000);
    debugLog("one hour");
    rt_.log.armCheck();
}

void Manager::smstimerTick() {
    debugLog("sms timer");
    smstimer.stop();
    subsystems_->startHelperSupervision();
}

void Manager::timer2Tick() {
    Timer2.stop();
    subsystems_->configWindowInitialWork();
}

void Manager::updateAfterResetTick() {
    if (subsystems_->updateAfterResetTick())
        return;
    // Without an update sequence the start-up phase ends at once; the query cycle follows
    // 15 s later, as after the last update step.
    UpdateAfterReset.stop();
    rt_.flags.notstart = true;
    queryTimer.pause(15000);
}

void Manager::autoQueryTick() {
    if (!subsystems_->queryCycleTick())
        AutoQuery.stop();
}

// The minute clock fires at second 1 of every minute (a 60 s interval would drift past
// minute boundaries, skipping or repeating minutes).
void Manager::armMinuteClock() {
    const QDateTime now = rt_.clock.now();
    const QTime t = now.time();
    qint64 ms = (61 - t.second()) * 1000LL - t.msec();
    if (ms > 60000)
        ms -= 60000;  // before second 1 of this minute
    minuteClock.start(static_cast<int>(std::max<qint64>(ms, 1)));
}

void Manager::minuteClockTick() {
    if (!shutDown_)
        armMinuteClock();
    digest_.getlogs();
    subsystems_->minuteClock();
    status_.minute();
    // Failures that repeated during the minute get their one summary line.
    rt_.log.flushRepeats();
}

void Manager::mainWindowActivated() {
    rt_.log.armCheck();
}

void Manager::trigger(MenuAction action) {
    switch (action) {
        case MenuAction::ShutDown:
            shutdown();
            return;
        case MenuAction::ViewResults:
            state_.resultsVisible = true;
            emit stateChanged();
            break;
        case MenuAction::RunCommand:
            if (rt_.flags.linkel_companion) {
                const TcpEventLauncher& l = rt_.settings.tcpEvent;
                if (l.program.isEmpty() ||
                    !QProcess::startDetached(l.program, QProcess::splitCommand(l.parameters),
                                             l.workingDirectory)) {
                    rt_.log.admem(QLatin1String("Error starting program: ") + l.program);
                }
                return;
            }
            break;
        default:
            break;
    }
    emit windowRequested(action);
}

void Manager::shutdown() {
    if (shutDown_)
        return;
    for (QTimer* t : {&UpdateAfterReset, &Timer1, &AutoQuery, &oneHour, &Cancelbut, &smstimer})
        t->stop();
    Terminat_ = true;
    subsystems_->stopConfigurationTimers();
    shutDown_ = true;
    stopMainTimers();
    subsystems_->closeSerialPort();
    const QString error = subsystems_->stopPanelServer();
    if (!error.isEmpty())
        rt_.log.admem(QLatin1String("Error deactivating server socket: ") + error);
    subsystems_->joinThreads(1000);
    rt_.log.admem(QStringLiteral("Velmar Manager shut down"));
    emit quitRequested(0);
}

}  // namespace velmar
