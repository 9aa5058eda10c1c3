#pragma once

#include <QString>

#include "app/config_files.h"
#include "app/switches.h"
#include "base/clock.h"
#include "base/data_root.h"
#include "events/cycle_state.h"
#include "events/query_timer.h"

namespace velmar {

class Commands;
class DeviceRegistry;
class EventActions;
class EventFiles;
class EventLog;
class LogFiles;

// One tick of `AutoQuery`: the due scheduled events, at most one event file, then one piece of
// device work chosen by the timer's branch: poll the controller in turn, reset it when it has
// been silent for four minutes, or wait after such a reset.
class QueryCycle {
  public:
    struct Context {
        const DataRoot& root;
        EventLog& log;
        LogFiles& logFiles;
        const Clock& clock;
        DeviceRegistry& registry;
        Commands& commands;
        EventFiles& files;
        EventActions& actions;
        QueryCycleState& state;
        QueryTimer& AutoQuery;
        const TimingSettings& timing;
        const Settings& settings;
        const StartupFlags& flags;
        const QString& audioext;
    };

    // A controller silent for longer than this is reset when its turn comes.
    static constexpr std::int64_t kSilentMs = 4 * 60 * 1000;

    explicit QueryCycle(Context ctx) : ctx_(ctx) {}

    void tick();
    // The minute clock asks for the scheduled events at the next tick.
    void requestScheduled() { copyScheduled_ = true; }
    // Puts the rotation at the start of a freshly built poll table.
    void restart();

  private:
    bool silent(int index) const;
    void announce(const char* source, const char* target);
    void debugLog(const QString& text);

    Context ctx_;
    bool copyScheduled_ = true;
};

}  // namespace velmar
