#pragma once

#include <QObject>
#include <QTimer>

#include "base/device_address.h"
#include "base/runtime_flags.h"
#include "bus/bus_port.h"
#include "log/runtime.h"

namespace velmar {

class Commands;
class DeviceRegistry;

// The update sequence after "Run" (`UpdateAfterReset`): the optional reset broadcast, three
// optional set-time broadcasts, 500 ms per registered controller, then the end of the
// start-up phase. Every step holds the query cycle off for 15 s. With "Update Events" checked,
// step 0 shows the Events Manager (the action "ShowEventsManager"); the PC-side scheduled
// events are reloaded there ("ReloadScheduledEvents").
class UpdateSequence {
  public:
    UpdateSequence(Runtime& rt, BusPort& port, Commands& commands, const DeviceRegistry& registry,
                   QTimer& UpdateAfterReset, const StartupOptions& options)
        : rt_(rt),
          port_(port),
          commands_(commands),
          registry_(registry),
          UpdateAfterReset_(UpdateAfterReset),
          options_(options) {}

    // One tick of `UpdateAfterReset`.
    void tick();
    int step() const { return updateaftreset_; }

  private:
    void next(int ms);

    Runtime& rt_;
    BusPort& port_;
    Commands& commands_;
    const DeviceRegistry& registry_;
    QTimer& UpdateAfterReset_;
    const StartupOptions& options_;
    int updateaftreset_ = 0;
    int inx_ = 0;
};

// The configuration window's after-restart timer: when a controller announces a restart after
// the start-up phase, the time is broadcast three times, 1 s apart, then the events are
// uploaded to it (the action "UploadEvents", with "Update Events" checked) and the query cycle
// pauses 7.6 s.
class AfterRestart : public QObject {
    Q_OBJECT
  public:
    AfterRestart(Runtime& rt, BusPort& port, Commands& commands, const StartupOptions& options,
                 QObject* parent = nullptr);

    bool isActive() const { return timer.isActive(); }
    void start(int ms, DeviceAddress device);
    // A restart notice: the timer starts (3100 ms) unless it runs already.
    void onRestartNotice(DeviceAddress device);
    QTimer timer;

  private:
    void tick();
    Runtime& rt_;
    BusPort& port_;
    Commands& commands_;
    const StartupOptions& options_;
    int ticks_ = 0;
    DeviceAddress device_;
};

}  // namespace velmar
