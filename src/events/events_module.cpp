#include "events/events_module.h"

namespace velmar {

EventsModule::EventsModule(Runtime& runtime, BusModule& busModule, DevicesModule& devicesModule,
                           const StartupOptions& options, QTimer& UpdateAfterReset)
    : rt(runtime),
      bus(busModule),
      devices(devicesModule),
      names(runtime.root, runtime.log),
      commands(runtime, busModule.port),
      files(runtime, busModule.port, names, cycle),
      queryCycle(runtime, busModule.port, devicesModule.registry, commands, files, cycle),
      update(runtime, busModule.port, commands, devicesModule.registry, UpdateAfterReset, options),
      afterRestart(runtime, busModule.port, commands, options),
      confirmations(runtime, busModule.port, cycle, devicesModule.registry),
      bluetooth(runtime),
      pcEvents(runtime, busModule.port, commands) {
    pcEvents.serialOpen = [this] { return bus.serial.isOpen(); };
    pcEvents.open = openWithAssociatedProgram;
    rt.actions.add(QStringLiteral("ReloadScheduledEvents"), [this](const QStringList&) {
        pcEvents.update_pc_events();
        return true;
    });
    const auto runCommand = [this](DeviceAddress to, const QByteArray& text) {
        commands.run_command(to, text);
    };
    bus.receive.runCommand = runCommand;
    devices.status.sensel.setRunCommand(runCommand);
    MessageDispatcher& messages = bus.messages;
    messages.subscribe<msg::Text>([this](const msg::Text& m) { confirmations.onText(m); });
    messages.subscribe<msg::Bluetooth>(
        [this](const msg::Bluetooth& m) { bluetooth.onCommands(m); });
    messages.subscribe<msg::ExternalEvent>([this](const msg::ExternalEvent& m) {
        rt.log.admem(m.line);
        if (m.target)
            files.execeventextern(*m.target, m.event);
    });
    messages.subscribe<msg::RestartNotice>(
        [this](const msg::RestartNotice& m) { afterRestart.onRestartNotice(m.from); });
}

void EventsModule::load() {
    names.load_mem_secu();
}

void EventsModule::tablesBuilt() {
    registerPolledControllers(names, devices.registry);
    for (const QString& name : devices.registry.scannedNames)
        files.createmaintanance(name);
    cycle = QueryCycleState{};
    queryCycle.restart();
}

void EventsModule::minuteTick() {
    queryCycle.requestScheduled();
    pcEvents.local_events();
}

void EventsModule::stopTimers() {
    afterRestart.timer.stop();
    bluetooth.disablbluetooth.stop();
}

}  // namespace velmar
