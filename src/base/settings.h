#pragma once

#include <QString>
#include <QStringList>
#include <cstdint>

namespace velmar {

// What the configuration files say, read once at start-up (by app/config_files) and read by
// every layer above.

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
    // The total size "backup-logs\" is kept under (bytes; 0 keeps everything): "logsize.cfg"
    // line 2, 100 MiB when the line is absent.
    std::int64_t backuplogs = kBackupLogsDefault;
    static constexpr std::int64_t kBackupLogsDefault = 100LL * 1024 * 1024;
    bool linkel_addressing = false;
    bool disableExtern = false;
    QStringList smsadmins;
    QStringList smsreports;
    TcpEventLauncher tcpEvent;
    // The extension of the recordings in "audios\" (".mp3" unless the first file there says
    // otherwise), found at start-up.
    QString audioext = QStringLiteral(".mp3");
};

}  // namespace velmar
