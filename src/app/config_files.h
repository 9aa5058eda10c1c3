#pragma once

#include <QString>
#include <QStringList>
#include <cstdint>

#include "base/data_root.h"
#include "base/settings.h"

namespace velmar {

class EventLog;

// The 21 lines written when "autoquery.cfg" is missing.
QStringList autoqueryDefaultLines();
// Reads the ten values (line 2, 4, ... 20) with chkint(1, 10000, fallback 1200). Each value
// that falls back adds its line to `notes` (see configFallbackText).
TimingSettings parseAutoquery(const QStringList& lines, QStringList* notes = nullptr);

// Each reader creates its file with the defaults when it is missing (failures are logged and
// the defaults kept) and then reads it.
TimingSettings readOrCreateAutoquery(const DataRoot& root, EventLog& log);
void readOrCreateCharset(const DataRoot& root, EventLog& log, Settings& settings);
// "logsize.cfg": line 1 the size at which a log file is rotated (0 .. 1000000, default 100000);
// line 2 the total size limit of "backup-logs\" in bytes (0: no limit; absent: 100 MiB). A
// value that does not parse is logged and gives the default.
struct LogsizeConfig {
    std::int32_t logsize = 100000;
    std::int64_t backupLogs = Settings::kBackupLogsDefault;
};
LogsizeConfig readOrCreateLogsize(const DataRoot& root, EventLog& log);
// One recipient a line; an absent file gives an empty list.
QStringList readRecipients(const DataRoot& root, const QString& name);
TcpEventLauncher readOrCreateTcpEventCfg(const DataRoot& root, EventLog& log);

// Writes a default file only when it is missing; logs a failure with the file's name and cause.
bool writeDefaultFile(const DataRoot& root, EventLog& log, const QString& name,
                      const QStringList& lines);

}  // namespace velmar
