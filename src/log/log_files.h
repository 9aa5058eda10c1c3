#pragma once

#include <QHash>
#include <QString>
#include <cstdint>
#include <mutex>
#include <optional>

#include "base/clock.h"
#include "base/data_root.h"

namespace velmar {

class EventLog;

// The small file operations of the event log and the per-view history files. Names are data-
// root relative system names ("logs\x.log", "views\V\..."); failures are logged and the work
// goes on.
class LogFiles {
  public:
    LogFiles(const DataRoot& root, EventLog& log, const Clock& clock);

    // Appends devn + " ->    " + commn as a stamped line to "logs\" + filename; when `views`
    // is not empty also rewrites "status\" + filename with the line devn + " - " + commn.
    // `shortcommand` is not used.
    void WriteLog(const QString& filename, const QString& devn, const QString& commn,
                  const QString& views, const QString& shortcommand);
    // Updates every view in "all graphics\" for one device message.
    void copygraph(const QString& devname, const QString& command, const QString& shortcommand);
    // A flag file of the single line "1" / its removal.
    bool crfile(const QString& name);
    bool delfile(const QString& name);
    // Copies one relative name to another; with `failIfExists` an existing target is kept and
    // the result is false.
    bool cp(const QString& source, const QString& target, bool failIfExists);

  private:
    const DataRoot& root_;
    EventLog& log_;
    const Clock& clock_;
    bool ftime_ = true;
    // Flag files this object wrote or found holding "1", by path, with the identity they had
    // then: one stat tells that such a flag is still in place, unchanged.
    struct FlagStamp {
        std::uint64_t inode = 0;
        std::int64_t mtimeNs = 0;
        std::int64_t size = 0;
        bool operator==(const FlagStamp&) const = default;
    };
    static std::optional<FlagStamp> flagStamp(const QByteArray& nativePath);
    std::mutex flagsMutex_;
    QHash<QString, FlagStamp> flags_;
};

}  // namespace velmar
