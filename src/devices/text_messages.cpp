#include "devices/text_messages.h"

#include <exception>

#include "base/chkint.h"
#include "base/log_text.h"
#include "base/names.h"
#include "devices/registry.h"

namespace velmar {

SenderInfo TextMessages::sender(DeviceAddress a) const {
    SenderInfo info{QStringLiteral("(%1,%2)").arg(a.adrh).arg(a.adrl), QStringLiteral("all"),
                    false};
    try {
        const int room = registry_.pollIndexOf(a.adrh, a.adrl);
        if (room >= 0)
            return {registry_.rms[static_cast<std::size_t>(room)].name, QStringLiteral("Quartel"),
                    true};
        const int alarm = registry_.alarmIndexOf(a.adrh, a.adrl);
        if (alarm >= 0)
            return {registry_.alrm[static_cast<std::size_t>(alarm)].name, QStringLiteral("Alarm"),
                    true};
    } catch (const std::exception& e) {
        rt_.log.admem(QLatin1String("Error getting name: ") + QString::fromLocal8Bit(e.what()));
    }
    return info;
}

void TextMessages::react(const msg::Text& t) {
    if (!t.command.startsWith(QLatin1String("lZONE-")))
        return;
    const int zone = chkint(t.command.mid(6), 0, 40, 0);
    if (alarms_.wasalarm && alarms_.alarmextender == 0) {
        alarms_.wasalarm = false;
        for (const QString& r : rt_.settings.smsreports)
            files_.createsms(r, QStringLiteral("Odwolanie Alarmu."));
    }
    const QString text = registry_.zonenames[static_cast<std::size_t>(zone)] +
                         QLatin1String(" -> Zmiana Zabezpieczen.");
    for (const QString& a : rt_.settings.smsadmins)
        files_.createsms(a, text);
    // The helper supervision's timer looks at the SMS gateway again in 4 s.
    rt_.actions.run(QStringLiteral("RestartSmsTimer"), {QStringLiteral("4000")});
}

void TextMessages::announce(const msg::Text& t) {
    QString shortcommand = t.command;
    QString longcommand = t.command;
    if (const als* alias = registry_.findAlias(t.senderType, t.command)) {
        shortcommand = alias->shortcommand;
        longcommand = alias->longcommand;
        rt_.logFiles.copygraph(t.senderName, t.command, shortcommand);
    }
    // The text came from the bus (or from an alias file): cut and made printable for the log.
    // Each message is an event of its own, written even when it reads like a failure.
    rt_.log.admemEvent(t.senderName + QLatin1String(" ->    ") + logText(longcommand));
    playSound(t.senderName, shortcommand);
}

void TextMessages::playSound(const QString& device, const QString& shortcommand) {
    // Most installations have no sounds: one look at the folder spares both look-ups.
    if (!rt_.root.exists(QStringLiteral("audios")))
        return;
    const QString& ext = rt_.settings.audioext;
    const QString own = device + QLatin1String(" (") + shortcommand + QLatin1Char(')') + ext;
    // Message texts come from the bus: only names that are valid file names are looked up.
    if (isValidName(own) && rt_.root.exists(QLatin1String("audios\\") + own)) {
        rt_.logFiles.cp(
            QLatin1String("audios\\") + own,
            QLatin1String("audio to play\\") + device + QLatin1Char('-') + shortcommand + ext,
            true);
        return;
    }
    const QString shared = shortcommand + ext;
    if (isValidName(shared) && rt_.root.exists(QLatin1String("audios\\") + shared)) {
        rt_.logFiles.cp(QLatin1String("audios\\") + shared,
                        QLatin1String("audio to play\\") + shared, true);
    }
}

}  // namespace velmar
