#pragma once

#include <QByteArray>
#include <QStringList>

namespace velmar::test {

// The Kitchen (55-1) of the configuration's acceptance: a room controller's 248-line device
// file at the form's defaults, except for its own lines: output 3 "Pump" and events on it, a
// direct event to 55-2, thresholds, levels, temperatures and the movement settings.
inline QStringList kitchenDeviceLines() {
    QStringList l;
    l << "Kitchen"
      << "Quartel"
      << "55"
      << "1"
      << "19200"
      << "255"
      << "1"
      << "40"
      << "25"
      << "On";
    for (int k = 0; k < 8; ++k)
        l << ""
          << ""
          << ""
          << ""
          << "";
    for (int k = 0; k < 24; ++k)
        l << "0";
    for (int k = 0; k < 16; ++k)
        l << "None"
          << ""
          << "";
    for (int k = 0; k < 4; ++k)
        l << "0"
          << "100"
          << "2"
          << ""
          << ""
          << ""
          << ""
          << "";
    for (int k = 0; k < 4; ++k)
        l << "0"
          << "100"
          << "1"
          << ""
          << ""
          << ""
          << ""
          << "";
    l << "Light Level"
      << "Temperature";
    for (int k = 3; k <= 8; ++k)
        l << QStringLiteral("A/D Converter %1").arg(k);
    for (int k = 1; k <= 24; ++k)
        l << QStringLiteral("Output %1").arg(k);
    for (int k = 1; k <= 8; ++k)
        l << QStringLiteral("Digital Input %1").arg(k);
    for (int k = 1; k <= 8; ++k)
        l << QStringLiteral("Fast Input %1").arg(k);
    for (int k = 1; k <= 4; ++k)
        l << QStringLiteral("Light Controller %1").arg(k);
    for (int k = 1; k <= 4; ++k)
        l << QStringLiteral("Temperature Controller %1").arg(k);
    l << "OFF"
      << "OFF"
      << "0"
      << "0"
      << "0"
      << "255";
    const auto set = [&l](int line, const char* text) { l[line - 1] = QLatin1String(text); };
    set(11, "50");
    set(12, "80");
    set(14, "Pump<-(1)");
    set(15, "Pump<-(0)");
    set(75, "Alarm");
    set(77, "Pump<-(toggle)");
    set(99, "Warning");
    set(100, "lDirEvt-3702AABBCCDDEE");
    set(155, "20");
    set(156, "22.5");
    set(157, "1");
    set(159, "Pump<-(1)");
    set(160, "Pump<-(0)");
    set(197, "Pump");
    set(245, "3");
    set(246, "0");
    set(247, "513");
    set(248, "30");
    return l;
}

inline QByteArray joinedCrLf(const QStringList& lines) {
    QByteArray out;
    for (const QString& line : lines)
        out += line.toLatin1() + "\r\n";
    return out;
}

}  // namespace velmar::test
