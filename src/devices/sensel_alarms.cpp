#include "devices/sensel_alarms.h"

#include "devices/registry.h"
#include "devices/status_publisher.h"
#include "log/log_files.h"

namespace velmar {

namespace {
bool bitOf(const QByteArray& status, int first, int k) {
    const int at = first + (k - 1) / 8;
    if (at < 0 || at >= status.size())
        return false;
    return (static_cast<std::uint8_t>(status[at]) >> ((k - 1) % 8)) & 1;
}

bool sameBytes(const QByteArray& a, const QByteArray& b, int first, int count) {
    for (int i = first; i < first + count; ++i) {
        const char x = i < a.size() ? a[i] : '\0';
        const char y = i < b.size() ? b[i] : '\0';
        if (x != y)
            return false;
    }
    return true;
}
}  // namespace

SenselAlarms::SenselAlarms(Runtime& rt, const DeviceRegistry& registry, StatusFiles& files,
                           OutrelState& outrel, AlarmState& alarms, const QStringList& views)
    : rt_(rt),
      registry_(registry),
      files_(files),
      outrel_(outrel),
      alarms_(alarms),
      views_(views) {}

void SenselAlarms::publish(StatusChange& change) {
    QString alarm;
    for (int m = 1; m <= 3; ++m) {
        if (change.frame.carriesModule(m))
            alarm += getalarmstate(m);
    }
    change.alarm = alarm;
    if (alarm.isEmpty())
        return;
    rt_.log.admem(QLatin1String("SECU: ") + alarm);
    if (alarms_.alarmextender > 0) {
        alarms_.wasalarm = true;
        for (const QString& number : rt_.settings.smsreports)
            files_.createsms(number, QLatin1String("Alarm: ") + alarm);
    }
    for (const QString& number : rt_.settings.smsadmins)
        files_.createsms(number, QLatin1String("Alarm: ") + alarm);
}

QString SenselAlarms::kindWord(int mode) {
    switch (mode) {
        case Active:
            return QStringLiteral("Active");
        case Alarm:
            return QStringLiteral("Alarm");
        default:
            return QStringLiteral("Warning");
    }
}

QString SenselAlarms::getalarmstate(int m) {
    if (m < 1 || m > 3)
        return QString();
    QString text = group(m, 5, 5, 40, Alarm);
    text += group(m, 0, 5, 40, Warning);
    text += group(m, 10, 4, 32, Active);
    return text;
}

QString SenselAlarms::group(int m, int first, int count, int inputs, int mode) {
    const auto um = static_cast<std::size_t>(m);
    const QByteArray& now = outrel_.inextstat[um];
    QByteArray& prev = outrel_.inextstatprev[um];
    if (sameBytes(now, prev, first, count))
        return QString();
    if (prev.size() < first + count)
        prev.resize(first + count, '\0');
    for (int i = first; i < first + count; ++i)
        prev[i] = i < now.size() ? now[i] : '\0';
    QString text;
    for (int k = 1; k <= inputs; ++k) {
        if (bitOf(now, first, k))
            text += cra(m, k, mode);
        else
            dra(m, k, mode);
    }
    if (mode == Alarm) {
        const int bit = 1 << (m - 1);
        if (bitOf(now, first, 40))
            alarms_.alarmextender |= bit;
        else
            alarms_.alarmextender &= ~bit;
    }
    return text;
}

void SenselAlarms::notify(std::int32_t adrl, std::int32_t option) {
    if (adrl <= 0 || !runCommand_)
        return;
    QByteArray text;
    text.append(static_cast<char>(22));
    text.append(static_cast<char>(option));
    runCommand_(DeviceAddress{55, static_cast<std::uint8_t>(adrl)}, text);
}

QString SenselAlarms::cra(int m, int k, int mode) {
    if (m < 1 || m > DeviceRegistry::kSenselModules || k < 1 || k > DeviceRegistry::kSenselInputs)
        return QString();
    const auto um = static_cast<std::size_t>(m);
    const auto uk = static_cast<std::size_t>(k);
    const QString& name = registry_.alnames[um][uk];
    const bool disabled = registry_.disablealarms[um][uk];
    const QString kind = kindWord(mode);
    notify(registry_.movementadr[um][uk], registry_.movmentopts[um][uk]);

    const bool usable = files_.usableName(name);
    if (usable && !disabled) {
        const QString own =
            QLatin1String("logs\\") + kind + QLatin1Char('\\') + name + QLatin1String(".txt");
        files_.flag(own, QStringLiteral("Error writing flag file 2: "));
        if (mode == Active) {
            files_.flag(QLatin1String("logs\\SensorSet\\") + name + QLatin1String(".txt"),
                        QLatin1String("Error writing flag file 3: ") + name + QLatin1Char(' '));
        }
    }
    if (!name.isEmpty() && mode > Active)
        rt_.logFiles.WriteLog(kind + QLatin1String(".log"), kind, name, QString(), QString());
    if (usable) {
        const QString picture = kind + QLatin1String(" - ") + name;
        for (const QString& view : views_) {
            if (view.isEmpty())
                break;
            const QString target = QLatin1String("views\\") + view + QLatin1Char('\\') + picture;
            files_.remove(target + QLatin1String(" (0).asc"));
            const QString source =
                QLatin1String("all graphics\\") + view + QLatin1Char('\\') + picture;
            if (rt_.root.exists(source + QLatin1String(" (1).asc")))
                rt_.logFiles.cp(source + QLatin1String(" (1).asc"),
                                target + QLatin1String(" (1).asc"), true);
        }
    }
    QString text;
    if (!disabled && usable) {
        const QString sound = name + rt_.settings.audioext;
        if (mode > Active && rt_.root.exists(QLatin1String("audios\\") + sound))
            rt_.logFiles.cp(QLatin1String("audios\\") + sound,
                            QLatin1String("audio to play\\") + sound, true);
        if (mode == Alarm)
            text = name + QLatin1Char(',');
    }
    notify(registry_.movementadr2[um][uk], registry_.movmentopts2[um][uk]);
    return text;
}

void SenselAlarms::dra(int m, int k, int mode) {
    if (m < 1 || m > DeviceRegistry::kSenselModules || k < 1 || k > DeviceRegistry::kSenselInputs)
        return;
    const QString& name =
        registry_.alnames[static_cast<std::size_t>(m)][static_cast<std::size_t>(k)];
    if (!files_.usableName(name))
        return;
    const QString kind = kindWord(mode);
    files_.remove(QLatin1String("logs\\") + kind + QLatin1Char('\\') + name +
                  QLatin1String(".txt"));
    const QString picture = kind + QLatin1String(" - ") + name;
    for (const QString& view : views_) {
        if (view.isEmpty())
            break;
        const QString target = QLatin1String("views\\") + view + QLatin1Char('\\') + picture;
        files_.remove(target + QLatin1String(" (1).asc"));
        const QString source = QLatin1String("all graphics\\") + view + QLatin1Char('\\') + picture;
        if (rt_.root.exists(source + QLatin1String(" (0).asc")))
            rt_.logFiles.cp(source + QLatin1String(" (0).asc"), target + QLatin1String(" (0).asc"),
                            true);
    }
}

}  // namespace velmar
