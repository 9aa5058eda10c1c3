#include "support/receive_rig.h"

#include <QDir>
#include <QFile>
#include <QStringList>

namespace velmar::test {

QByteArray deviceFile(const QString& name, int h, int l, const QString& type, bool external) {
    QStringList lines(250);
    lines[0] = name;
    lines[1] = type;
    lines[2] = QString::number(h);
    lines[3] = QString::number(l);
    lines[186] = QStringLiteral("Light Level");
    lines[187] = QStringLiteral("Temperature");
    for (int k = 3; k <= 8; ++k)
        lines[185 + k] = QStringLiteral("A/D Converter %1").arg(k);
    for (int k = 1; k <= 24; ++k)
        lines[193 + k] = QStringLiteral("Output %1").arg(k);
    for (int k = 1; k <= 8; ++k) {
        lines[217 + k] = QStringLiteral("Digital Input %1").arg(k);
        lines[225 + k] = QStringLiteral("Fast Input %1").arg(k);
    }
    lines[243] = external ? QStringLiteral("ON") : QString();
    return lines.join(QStringLiteral("\r\n")).toUtf8() + "\r\n";
}

ReceiveRig::ReceiveRig(const QString& rootDir, const Clock& clock, SerialOutput* serial)
    : modules(rootDir, clock, serial),
      rt(modules.rt),
      root(rt.root),
      log(rt.log),
      logFiles(rt.logFiles),
      settings(rt.settings),
      timing(rt.settings.timing),
      startup(rt.flags),
      flags(modules.bus.port.flags),
      writer(modules.bus.port.writer),
      AutoQueryTimer(modules.AutoQueryTimer),
      AutoQuery(modules.bus.port.AutoQuery),
      messages(modules.bus.messages),
      decoder(modules.bus.decoder),
      receive(modules.bus.receive),
      registry(modules.devices.registry),
      status(modules.devices.status),
      alarms(modules.devices.alarms),
      names(modules.events.names),
      cycle(modules.events.cycle) {
    rt.flags.notstart = true;
}

void ReceiveRig::addDevice(int h, int l, const QString& name, const QString& type) {
    QDir().mkpath(root.root() + QStringLiteral("devices aliases"));
    QFile f(root.root() + QStringLiteral("devices aliases/%1-%2.dev").arg(h).arg(l));
    if (f.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        f.write((name + "\r\n" + type + "\r\n" + QString::number(h) + "\r\n" + QString::number(l) +
                 "\r\n")
                    .toLatin1());
    }
}

}  // namespace velmar::test
