#include "bus/bus_module.h"

#include "bus/com_config.h"

namespace velmar {

BusModule::BusModule(Runtime& runtime, QTimer& autoQueryTimer)
    : rt(runtime),
      port(runtime, autoQueryTimer),
      messages(runtime),
      decoder(runtime, port, messages),
      receive(runtime, port, decoder, messages),
      serial(runtime),
      linkel(runtime, port, messages, LinkelNetConfig{}) {
    port.writer.setSerialOutput(&serial);
    port.writer.setTcpOutput(&linkel);
    receive.setOutputs(&serial, &linkel);
    linkel.ReadFromEthernet = [this](const QByteArray& block) { receive.ReadFromEthernet(block); };
    QObject::connect(
        &serial, &SerialLink::blockReceived, &serial,
        [this](const QByteArray& block) { receive.processSerialBlock(block); },
        Qt::QueuedConnection);
}

BusModule::~BusModule() {
    serial.stop(1000);
}

void BusModule::syncFlags() {
    port.flags.offline = rt.flags.offline;
    port.flags.linkel_addressing = rt.settings.linkel_addressing;
}

void BusModule::load() {
    linkelNet = readOrCreateLinkelNet(rt.root, rt.log);
}

void BusModule::tablesBuilt() {
    syncFlags();
}

void BusModule::startSerialThread() {
    syncFlags();
    serial.start(readComConfig(rt.root, &rt.log));
}

void BusModule::initialWork() {
    if (!rt.flags.via_linkel || port.flags.tcpgatewayenabled)
        return;
    if (!linkelNet.keyValid) {
        rt.log.admem(QLatin1String("Linkel link not started, no login key: ") + linkelNet.fault);
        return;
    }
    rt.log.admem(QStringLiteral("Connect Via Linkel"));
    linkel.setConfig(linkelNet);
    linkel.sendsoc(rt.flags.linkel_companion ? 1 : 3);
}

QString BusModule::stop() {
    linkel.stop();
    serial.stop(1000);
    return {};
}

void BusModule::joinThreads(int waitMs) {
    serial.stop(waitMs);
}

}  // namespace velmar
