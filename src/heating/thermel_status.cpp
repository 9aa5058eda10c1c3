#include "heating/thermel_status.h"

#include <QStringList>

#include "base/text_file.h"
#include "devices/conversions.h"

namespace velmar {

namespace {
bool bit(std::uint8_t byte, int n) {
    return (byte >> n) & 1;
}
}  // namespace

void ThermelStatus::statusAccepted(const StatusChange& change) {
    const StatusFrame& f = change.frame;
    if (!change.state) {
        // A heating controller without a device file still gets the forwarded readings.
        if (f.isThermel()) {
            sendTemperatures();
            retimeAfterReception();
        }
        return;
    }
    const an& d = *change.state;
    if (f.isThermel()) {
        decodeThermel(f, d);
        sendTemperatures();
        writeThermelFiles(d);
    }
    // The channels the forwarding table names, from any device; only channels 1..8 exist in
    // the frame.
    for (std::size_t e = 0; e < tables_.TEMP.size(); ++e) {
        const TemperatureSource& src = tables_.TEMP[e];
        if (src.adrh == d.adrh && src.adrl == d.adrl && src.channel >= 1 && src.channel <= 8) {
            tables_.temph[e] = f.B(1 + 2 * src.channel);
            tables_.templ[e] = f.B(2 + 2 * src.channel);
        }
    }
}

void ThermelStatus::decodeThermel(const StatusFrame& f, const an& d) {
    ThermelState& t = thermel;
    const auto L = [&](int n) { return tables_.label(n); };
    const QString& dev = d.devname;
    const auto setFlag = [&](bool on, int label) {
        if (on)
            files_.cr(dev, L(label));
        else
            files_.dr(dev, L(label));
    };
    t.CURRENT_PGM = f.B(38);
    t.current_program = f.B(39);
    const std::uint8_t b47 = f.B(47), b48 = f.B(48), b49 = f.B(49), b50 = f.B(50), b51 = f.B(51);
    t.recu_speed = b51 & 3;
    t.recu_temperature = b50 & 31;

    QString mode = L(1) + QString::number(t.recu_speed) + QLatin1String(", ") + L(2) +
                   (bit(b50, 7) ? L(3) : L(4)) + (bit(b50, 6) ? L(5) : L(6));
    const int modeBits[4][3] = {{7, 7, 8}, {6, 9, 10}, {5, 11, 12}, {4, 13, 14}};
    for (const auto& mb : modeBits) {
        const bool on = bit(b51, mb[0]);
        if (on)
            mode += L(mb[1]);
        setFlag(on, mb[2]);
    }
    t._recu_mode = mode;
    if (t.recu_speed > 0)
        files_.crw(dev, L(15), mode);
    else
        files_.dr(dev, L(15));

    t.went = bit(b49, 5) ? L(18) : L(19);
    setFlag(bit(b49, 5), 17);
    if (bit(b49, 4))
        t.went += L(20);
    setFlag(bit(b49, 4), 21);
    if (bit(b49, 6))
        t.went += QLatin1String(" ,+");
    if (bit(b49, 7))
        t.went += QLatin1String(" ,-");

    t.sola = bit(b49, 2) ? L(18) : L(19);
    setFlag(bit(b49, 2), 23);

    t.koci = bit(b49, 3) ? L(18) : L(19);
    setFlag(bit(b49, 3), 24);
    if (bit(b49, 1))
        t.koci += L(26);
    setFlag(bit(b49, 1), 25);
    if (bit(b48, 4))
        t.koci += L(27);
    setFlag(bit(b48, 4), 28);
    if (bit(b48, 5))
        t.koci += QLatin1String(" ,!!Alarm!!");
    setFlag(bit(b48, 5), 29);
    if (bit(b48, 6))
        t.koci += L(30);
    // The power flag is up while the power-off bit is clear.
    setFlag(!bit(b48, 6), 31);
    if (bit(b48, 7))
        t.koci += L(32);
    setFlag(bit(b48, 7), 33);
    if (bit(b47, 0))
        t.koci += L(34);
    setFlag(bit(b47, 0), 35);

    t.kom_level = b48 & 7;
    if (t.kom_level == 0)
        t.komi = L(19);
    else if (t.kom_level == 7)
        t.komi = QStringLiteral("!!Alarm!!");
    else
        t.komi = QString::number(t.kom_level);
    if (bit(b49, 0))
        t.komi += L(37);
    if (bit(b48, 3))
        t.komi += L(38);
    if (!t.komi.isEmpty())
        files_.crw(dev, L(39), t.komi);

    t.HADCPrev = t.HADC;
    for (int i = 0; i < 16; ++i) {
        const auto ui = static_cast<std::size_t>(i);
        t.HADC[ui] = gettemplm(f.B(3 + 2 * i), f.B(4 + 2 * i), d.RCAL[1], d.vcc, 10);
        if (t.HADC[ui] == t.HADCPrev[ui])
            continue;
        QStringList lines{fixedText(t.HADC[ui], 2)};
        while (lines.size() < 8)
            lines << QString();
        const QString base = QLatin1String("logs\\") + dev;
        for (const QString& name :
             {tables_.heatadcnames[ui], QLatin1String("TEMP") + QString::number(i)}) {
            if (!files_.usableName(name))
                continue;
            files_.AdcVisualFV(base + QLatin1String("\\Temps\\") + name + QLatin1String(".txt"),
                               base + QLatin1String("\\All\\") + name + QLatin1String(".txt"),
                               lines);
        }
    }
}

void ThermelStatus::sendTemperatures() {
    port_.AutoQuery.stop();
    if (rt_.flags.linkel_companion) {
        files_.flag(QStringLiteral("Linkel.stp"),
                    QStringLiteral("Error creating flag file: Linkel.stp "));
        return;
    }
    const QByteArray image = temperatureFrame(tables_, port_.flags.linkel_addressing);
    if (port_.flags.tcpgatewayenabled)
        port_.writer.Write_rs232_TCP(image);
    else
        port_.writer.Write_rs232(image);
}

void ThermelStatus::retimeAfterReception() {
    port_.AutoQuery.setPause(rt_.settings.timing.AFTER_RECEPTION);
    if (!port_.flags.offline && !rt_.flags.linkel_companion)
        port_.AutoQuery.start();
}

void ThermelStatus::writeThermelFiles(const an& d) {
    const ThermelState& t = thermel;
    const auto H = [&](int i) { return numberText(t.HADC[static_cast<std::size_t>(i)]); };
    const auto L = [&](int n) { return tables_.label(n); };
    QString logName = L(47);
    if (!files_.usableName(logName))
        logName = QStringLiteral("heating");
    const QStringList summary{
        logName + QLatin1Char(' ') + dateTimeText(rt_.clock.now()),
        QString(77, QLatin1Char('-')),
        QLatin1String("Program: ") + QString::number(d.currentprogram),
        L(39) + QLatin1String(": (") + H(4) + QLatin1String(", ") + H(6) + QLatin1String(", ") +
            H(5) + QLatin1String(") [") + t.komi + QLatin1Char(']'),
        L(42) + QLatin1String(": (") + H(10) + QLatin1String(") [") + t.koci + QLatin1Char(']'),
        L(43) + QLatin1String(": (") + H(2) + QLatin1String(", ") + H(0) + QLatin1String(", ") +
            H(11) + QLatin1Char(')'),
        L(44) + QLatin1String(": (") + H(9) + QLatin1String(") [") + t.sola + QLatin1Char(']'),
        L(45) + QLatin1String(": (") + H(14) + QLatin1Char(')'),
        t.went,
        L(46) + QLatin1String(": (") + H(7) + QLatin1Char(')'),
        QLatin1String("Zewnętrzna PN: (") + H(8) + QLatin1Char(')'),
        QLatin1String("PD: (") + H(1) + QLatin1Char(')'),
    };
    QString error;
    if (!writeLinesAtomic(rt_.root.path(QLatin1String("logs\\") + logName + QLatin1String(".log")),
                          summary, &error))
        rt_.log.admem(QLatin1String("Error writing status file: ") + error);

    retimeAfterReception();

    const QStringList heater{QString::number(t.kom_level),
                             t._recu_mode,
                             QString::number(t.recu_speed),
                             QString::number(t.recu_temperature),
                             QString::number(t.current_program),
                             QString(),
                             QString(),
                             QString()};
    files_.AdcVisualFV(QLatin1String("logs\\") + d.devname + QLatin1String("\\heater.txt"),
                       QStringLiteral("logs\\heater.txtx"), heater);
}

}  // namespace velmar
