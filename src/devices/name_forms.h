#pragma once

#include <QString>

#include "base/data_root.h"
#include "log/event_log.h"

namespace velmar {

// The file-name form of a name: "<" and ">" become blanks, ":" and "/" become ", ", "\" a
// blank; a result longer than 215 characters keeps its first 215 followed by " etc".
QString getfilename(const QString& text);

// The ASCII form of a name: the 18 Polish letters lose their marks (ą -> a, Ł -> L, ...), every
// other character from code 128 up becomes "_".
QString getascival(const QString& text);

// `name` when it can be a file name in the data root (the name rule, and not longer than the
// file system allows), otherwise `fallback`, logging "error naming rule".
QString test_naming_rule(const DataRoot& root, EventLog& log, const QString& name,
                         const QString& fallback);

}  // namespace velmar
