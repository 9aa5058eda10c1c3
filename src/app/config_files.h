#pragma once

#include <QString>
#include <QStringList>
#include <cstdint>

#include "base/data_root.h"

namespace velmar {

class EventLog;

// Timing values of "autoquery.cfg", in milliseconds.
struct TimingSettings {
    std::int32_t QUERY_DEV = 1000;
    std::int32_t EMAIL_RUN = 100;
    std::int32_t WAIT_FOR_RESET_DEV = 4000;
    std::int32_t TEMP_QUERY_DEV = 1500;
    std::int32_t AFTER_CONFIRMATION = 50;
    std::int32_t AFTER_RECEPTION = 100;
    std::int32_t TRANSLATE_EVENT_TO_DIRECT = 20;
    std::int32_t SECU_RECEPTION = 100;
    std::int32_t OTHER_RECEPTION = 50;
    std::int32_t AFTER_ALARM_RECEPTION = 3000;

    static TimingSettings builtIn() { return {}; }
    // The administrator set of "/admin"; replaces the values in memory, never in the file.
    static TimingSettings adminSet();
    bool operator==(const TimingSettings&) const = default;
};

// What "bin\tcpevent.cfg" says about the TCP-event launcher.
struct TcpEventLauncher {
    QString program;           // data root + "bin/" + line 1
    QString workingDirectory;  // data root + "bin/"
    QString parameters;        // line 2
};

struct Settings {
    TimingSettings timing;
    QString charset = QStringLiteral("windows-1250");
    QString language = QStringLiteral("PL");
    std::int32_t logsize = 100000;
    bool linkel_addressing = false;
    bool disableExtern = false;
    QStringList smsadmins;
    QStringList smsreports;
    TcpEventLauncher tcpEvent;
};

// The 21 lines written when "autoquery.cfg" is missing.
QStringList autoqueryDefaultLines();
// Reads the ten values (line 2, 4, ... 20) with chkint(1, 10000, fallback 1200).
TimingSettings parseAutoquery(const QStringList& lines);

// Each reader creates its file with the defaults when it is missing (failures are logged and
// the defaults kept) and then reads it.
TimingSettings readOrCreateAutoquery(const DataRoot& root, EventLog& log);
void readOrCreateCharset(const DataRoot& root, EventLog& log, Settings& settings);
std::int32_t readOrCreateLogsize(const DataRoot& root, EventLog& log);
// One recipient a line; an absent file gives an empty list.
QStringList readRecipients(const DataRoot& root, const QString& name);
TcpEventLauncher readOrCreateTcpEventCfg(const DataRoot& root, EventLog& log);

// Writes a default file only when it is missing; logs a failure with the file's name and cause.
bool writeDefaultFile(const DataRoot& root, EventLog& log, const QString& name,
                      const QStringList& lines);

}  // namespace velmar
