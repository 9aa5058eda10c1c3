#include "events/bluetooth.h"

#include <stdexcept>

#include "base/log_text.h"
#include "base/text_file.h"
#include "devices/name_forms.h"

namespace velmar {

Bluetooth::Bluetooth(Runtime& rt, QObject* parent) : QObject(parent), rt_(rt) {
    disablbluetooth.setInterval(5000);
    connect(&disablbluetooth, &QTimer::timeout, this, [this] {
        disablebluetooth = false;
        disablbluetooth.stop();
        if (rt_.flags.debugtimer)
            rt_.log.admem(QStringLiteral("disable blue"));
    });
}

void Bluetooth::onCommands(const msg::Bluetooth& m) {
    for (qsizetype i = 0; i < m.commands.size(); ++i) {
        if (disablebluetooth)
            continue;
        const QString& command = m.commands[i];
        rt_.log.admem(QLatin1String("BlueTooth command: ") + logText(command));
        const QString stem = QLatin1String("bt-") + getfilename(dateTimeText(rt_.clock.now())) +
                             QLatin1Char('_') + QString::number(m.ends.value(i));
        QString error;
        rt_.root.makeDir(QStringLiteral("emails"));
        if (!createUnique(rt_.root.path(QStringLiteral("emails")), stem, QStringLiteral(".run"),
                          joinLines({command}), &error)) {
            throw std::runtime_error(error.toStdString());
        }
    }
    disablebluetooth = true;
    disablbluetooth.start();
}

}  // namespace velmar
