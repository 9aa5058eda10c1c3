#include "support/receive_rig.h"

#include <QDir>
#include <QFile>

namespace velmar::test {

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
