#pragma once

// log/: the event log (`admem`), its files and the e-mail log digest, and the runtime object
// that every module is handed. May include base/ only; every folder above may include it.

#include <QString>

#include "base/action_table.h"
#include "base/clock.h"
#include "base/data_root.h"
#include "base/run_counters.h"
#include "base/runtime_flags.h"
#include "base/settings.h"
#include "log/event_log.h"
#include "log/log_files.h"

namespace velmar {

// What every part of the running program shares: the data root, the event log and its file
// operations, the clock, the settings of the configuration files, the run-time flags, the
// table of named actions and the running figures. One object, made by the program's entry (or a
// test) and handed to every module; nothing in it is a process-wide global.
struct Runtime {
    Runtime(const QString& rootDir, const Clock& clockRef)
        : root(rootDir, &clockRef),
          clock(clockRef),
          log(root, clock, &counters),  // counted into only once the log writes lines
          logFiles(root, log, clock) {}
    Runtime(const Runtime&) = delete;
    Runtime& operator=(const Runtime&) = delete;

    DataRoot root;
    const Clock& clock;
    EventLog log;
    LogFiles logFiles;
    Settings settings;
    RuntimeFlags flags;
    ActionTable actions;
    RunCounters counters;
};

}  // namespace velmar
