#include "devices/linkel_status.h"

#include <exception>

#include "devices/conversions.h"
#include "devices/name_forms.h"
#include "devices/registry.h"
#include "log/event_log.h"

namespace velmar {

namespace {
constexpr int kChannels = 16;
constexpr int kOutputs = 160;
constexpr int kInputs = 96;

bool bitAt(const QByteArray& r, int firstByte, int n) {
    const int at = firstByte + n / 8;
    return at < r.size() && ((static_cast<std::uint8_t>(r[at]) >> (n % 8)) & 1);
}

std::uint8_t byteAt(const QByteArray& r, int at) {
    return at >= 0 && at < r.size() ? static_cast<std::uint8_t>(r[at]) : 0;
}

template <std::size_t N>
QString nameIn(const std::array<QString, N>& names, std::int32_t n, std::int32_t below) {
    return n >= 0 && n < below && static_cast<std::size_t>(n) < N
               ? names[static_cast<std::size_t>(n)]
               : QString();
}
}  // namespace

LinkelStatus::LinkelStatus(const DataRoot& root, EventLog& log, const Clock& clock,
                           DeviceRegistry& registry)
    : log_(log), clock_(clock), registry_(registry), files_(root, log, clock) {}

void LinkelStatus::flags(const QString& name, bool on, const QStringList& onlyCreated,
                         const QStringList& mirrored) {
    // "@" in a name marks an element without flag files; the data root may contain one.
    if (name.contains(QLatin1Char('@')) || !files_.usableName(name))
        return;
    const QString file = name + QLatin1String(".txt");
    for (const QString& dir : mirrored) {
        if (on)
            files_.flag(dir + file, QLatin1String("Error creating flag file: ") + dir + file +
                                        QLatin1Char(' '));
        else
            files_.remove(dir + file);
    }
    if (!on)
        return;
    for (const QString& dir : onlyCreated)
        files_.flag(dir + file,
                    QLatin1String("Error creating flag file: ") + dir + file + QLatin1Char(' '));
}

void LinkelStatus::set_status_linkel(const QByteArray& r) {
    try {
        const int index = registry_.linkelIndex;
        if (index < 0 || index >= static_cast<int>(registry_.ethstate.size()) ||
            r.size() < kRecordSize || byteAt(r, 1) == 0)
            return;
        ethan& s = registry_.ethstate[static_cast<std::size_t>(index)];
        const QString& name = s.devname;
        if (!files_.usableName(name))
            return;
        s.adcsprev = s.adcs;
        s.xdinsprev = s.xdins;
        s.xdoutsprev = s.xdouts;
        s.rollersprev = s.rollers;
        s.prevprogram = s.currentprogram;
        s.prevzone = s.currentzone;

        const QString base = QLatin1String("logs\\") + name + QLatin1Char('\\');
        QString adcSection;
        for (int i = 0; i < kChannels; ++i) {
            const auto ui = static_cast<std::size_t>(i);
            const std::uint8_t hi = byteAt(r, 72 + 2 * i);
            const std::uint8_t lo = byteAt(r, 73 + 2 * i);
            s.adcs[ui] = calculate_adc_value(hi, lo);
            s.adcsind[ui] = calcindex(hi, lo);
            const QString value = GetStringValue(s, s.adcsind[ui], i);
            const QString& channel = s.adcsnames[ui];
            if (!channel.contains(QLatin1Char('@'))) {
                adcSection += QLatin1Char('\t') + channel + QLatin1String(":\t") + value +
                              QLatin1String("\r\n");
            }
            if (s.adcs[ui] == s.adcsprev[ui])
                continue;
            const QStringList line{value};
            const QString byName = getfilename(channel);
            if (files_.usableName(byName)) {
                files_.writeIfChanged(
                    base + QLatin1String("Adcs\\") + byName + QLatin1String(".txt"), line,
                    QStringLiteral("Error writing flag file: "));
            }
            files_.writeIfChanged(
                base + QLatin1String("Adcs\\Adc") + QString::number(i + 1) + QLatin1String(".txt"),
                line, QStringLiteral("Error writing flag file: "));
        }

        const QString logs = QLatin1String("Logs\\") + name + QLatin1Char('\\');
        QString outs;
        for (int n = 0; n < kOutputs; ++n) {
            const auto un = static_cast<std::size_t>(n);
            s.xdouts[un] = bitAt(r, 104, n);
            const QString& out = s.xdoutsnames[un];
            flags(out, s.xdouts[un], {},
                  {logs + QLatin1String("Outs\\"), logs, logs + QLatin1String("All\\")});
            if (s.xdouts[un] && !out.isEmpty())
                outs += QLatin1Char('\t') + out;
        }

        QString inputs, alarms, warnings, monitorings;
        for (int n = 0; n < kInputs; ++n) {
            const auto un = static_cast<std::size_t>(n);
            s.xdins[un] = bitAt(r, 124, n);
            s.xalarms[un] = bitAt(r, 136, n);
            s.xwarnings[un] = bitAt(r, 148, n);
            s.xmonitorings[un] = bitAt(r, 160, n);
            const QString& in = s.xdinsnames[un];
            flags(in, s.xdins[un], {QStringLiteral("Logs\\ActiveSet\\")},
                  {logs + QLatin1String("Inputs\\"), logs, logs + QLatin1String("All\\")});
            flags(in, s.xalarms[un], {QStringLiteral("Logs\\AlarmSet\\")},
                  {QStringLiteral("Logs\\Alarm\\")});
            flags(in, s.xwarnings[un], {QStringLiteral("Logs\\WarningSet\\")},
                  {QStringLiteral("Logs\\Warning\\")});
            flags(in, s.xmonitorings[un], {QStringLiteral("Logs\\MonitoringSet\\")},
                  {QStringLiteral("Logs\\Monitoring\\")});
            if (in.isEmpty() || in.contains(QLatin1Char('@')))
                continue;
            const QString item = QLatin1Char('\t') + in;
            if (s.xdins[un])
                inputs += item;
            if (s.xalarms[un])
                alarms += item;
            if (s.xwarnings[un])
                warnings += item;
            if (s.xmonitorings[un])
                monitorings += item;
        }

        s.currentprogram = byteAt(r, 172);
        s.currentzone = byteAt(r, 173);
        s.currentadcprogram = byteAt(r, 174);
        s.currentprogramname = nameIn(s.programsnames, s.currentprogram, 24);
        s.currentzonename = nameIn(s.zonenames, s.currentzone, 21);
        s.currentadcprogramname = nameIn(s.adcprogramsnames, s.currentadcprogram, 24);

        const QStringList text{
            name + QLatin1Char(' ') + dateTimeText(clock_.now()),
            QString(),
            QString(),
            QLatin1String("Program:\t") + s.currentprogramname + QLatin1String(" (") +
                QString::number(s.currentprogram) + QLatin1Char(')'),
            QString(),
            QLatin1String("Zone: \t") + s.currentzonename + QLatin1String(" (") +
                QString::number(s.currentzone) + QLatin1Char(')'),
            QString(),
            QLatin1String("ADCs: ") + adcSection,
            QString(),
            QLatin1String("Outs: ") + outs,
            QString(),
            QLatin1String("Alarm Sensors: ") + alarms,
            QString(),
            QLatin1String("Warning Sensors: ") + warnings,
            QString(),
            QLatin1String("Monitoring Sensors: ") + monitorings,
            QString(),
            QLatin1String("Inputs: ") + inputs,
        };
        files_.writeIfChanged(QLatin1String("logs\\") + name + QLatin1String(".txt"), text,
                              QStringLiteral("Error writing status file: "));
    } catch (const std::exception& e) {
        log_.admem(QLatin1String("Error decoding linkel status: ") +
                   QString::fromLocal8Bit(e.what()));
    }
}

}  // namespace velmar
