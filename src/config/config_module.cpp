#include "config/config_module.h"

#include <QTimer>

namespace velmar {

ConfigModule::ConfigModule(Runtime& runtime, BusModule& bus, DevicesModule& devices,
                           EventsModule& events)
    : rt(runtime),
      engine(runtime, bus.port, bus.messages),
      model(runtime, bus, devices, events, engine) {
    // A maintenance request runs as the operator would: the window shown, one second later the
    // device picked and its settings saved and sent. The event scan has paused the query cycle
    // meanwhile; nothing here blocks.
    rt.actions.add(QStringLiteral("QLSaveCfg"), [this](const QStringList& args) {
        const QString device = args.value(0);
        if (model.show)
            model.show();
        QTimer::singleShot(1000, &engine, [this, device] {
            if (!model.pick(device)) {
                rt.log.admem(QLatin1String("Maintenance request for an unknown device: ") + device +
                             QLatin1String(" - QLSaveCfg"));
                return;
            }
            model.saveSettingsAndUpdate();
        });
        return true;
    });
}

void ConfigModule::started() {
    model.create();
}

void ConfigModule::initialWork() {
    model.doinitialstuff();
}

void ConfigModule::stopTimers() {
    engine.stop();
}

}  // namespace velmar
