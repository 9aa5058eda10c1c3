#pragma once

#include <QObject>
#include <QTimer>
#include <functional>

#include "app/switches.h"
#include "events/query_timer.h"

namespace velmar {

class Commands;
class DeviceRegistry;
class EventLog;

// The update sequence after "Run" (`UpdateAfterReset`): the optional reset broadcast, three
// optional set-time broadcasts, 500 ms per registered controller, then the end of the
// start-up phase. Every step holds the query cycle off for 15 s.
class UpdateSequence {
  public:
    struct Context {
        EventLog& log;
        Commands& commands;
        const DeviceRegistry& registry;
        QTimer& UpdateAfterReset;
        QueryTimer& AutoQuery;
        const StartupOptions& options;
        const bool& debugtimer;
        std::function<void(bool)> setNotstart;
        // Reloads the PC-side scheduled events; shows the Events Manager ("Update Events").
        std::function<void()> reloadScheduledEvents;
        std::function<void()> showEventsManager;
        // Whether the controllers get their events after a restart ("Update Events"); until
        // that upload is built, a checked "Update Events" is logged as not available.
        bool uploadsEvents = false;
    };

    explicit UpdateSequence(Context ctx) : ctx_(std::move(ctx)) {}

    // One tick of `UpdateAfterReset`.
    void tick();
    int step() const { return updateaftreset_; }

  private:
    void next(int ms);

    Context ctx_;
    int updateaftreset_ = 0;
    int inx_ = 0;
};

// The configuration window's after-restart timer: when a controller announces a restart after
// the start-up phase, the time is broadcast three times, 1 s apart, then the events are
// uploaded to it ("Update Events") and the query cycle pauses 7.6 s.
class AfterRestart : public QObject {
    Q_OBJECT
  public:
    struct Context {
        EventLog& log;
        Commands& commands;
        QueryTimer& AutoQuery;
        const StartupOptions& options;
        const bool& debugtimer;
        std::function<void(int adrh, int adrl)> uploadEvents;
    };

    explicit AfterRestart(Context ctx, QObject* parent = nullptr);

    bool isActive() const { return timer.isActive(); }
    void start(int ms, int adrh, int adrl);
    QTimer timer;

  private:
    void tick();
    Context ctx_;
    int ticks_ = 0;
    int adrh_ = 0;
    int adrl_ = 0;
};

}  // namespace velmar
