#include "panels/panels_module.h"

namespace velmar {

PanelsModule::PanelsModule(Runtime& runtime, BusModule& busModule, DevicesModule& devicesModule,
                           EventsModule& eventsModule)
    : rt(runtime), bus(busModule), devices(devicesModule), events(eventsModule) {
    devices.status.addListener([this](const StatusChange&) {
        if (!server_)
            return;
        const auto cache = devices.status.panelSnapshot();
        if (cache[0] > 0)
            server_->publish(QByteArray(reinterpret_cast<const char*>(cache.data()), cache[0] + 1));
    });
}

void PanelsModule::run() {
    if (server_ || !rt.root.exists(QStringLiteral("tcp.txt")))
        return;
    const PanelServerOptions options = readTcpTxt(rt.root, rt.log);
    // Without a key that could be read no panel may log in (an all-zero key would let anyone).
    const std::optional<LoginKey> key =
        bus.linkelNet.keyValid ? std::optional<LoginKey>(bus.linkelNet.H) : std::nullopt;
    server_ = std::make_unique<PanelServer>(rt.log, rt.clock, key, &rt.counters);
    // Submissions arrive from the network thread; the files are written on the main thread.
    QObject::connect(
        server_.get(), &PanelServer::eventsSubmitted, &bus.linkel,
        [this](const QList<QByteArray>& records, const QString&) {
            events.files.writeTcpEvents(records);
        },
        Qt::QueuedConnection);
    // A listen that fails is logged by the server, which tries again until it is stopped.
    server_->start(options);
}

QString PanelsModule::stop() {
    return server_ ? server_->stop() : QString();
}

}  // namespace velmar
