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

ReceiveRig::ReceiveRig(const QString& rootDir, const Clock& clock, SerialOutput& serial,
                       ReceivedMessageHandlers& handlers, ProgrammingEvents& programming,
                       RunCommand runCommand)
    : root(rootDir),
      log(root, clock),
      logFiles(root, log, clock),
      writer(log, flags),
      names(root, log),
      registry(root, log, clock, names),
      decoder(
          DecoderContext{root, log, logFiles, clock, registry, writer, cycle, AutoQuery, timing,
                         settings, audioext, admins, tcpIndexInc, debug, wasalarm, alarmextender},
          handlers),
      receive(ReceivePath::Context{log, writer, decoder, programming, AutoQuery, timing, flags,
                                   debug, notstart, &serial, nullptr, std::move(runCommand)}) {
    writer.setSerialOutput(&serial);
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
