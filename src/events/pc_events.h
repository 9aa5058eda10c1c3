#pragma once

#include <QDateTime>
#include <QString>
#include <functional>
#include <vector>

#include "bus/bus_port.h"
#include "log/runtime.h"

namespace velmar {

class Commands;

// One of the PC's own scheduled events (`local_event`): what to do and when. The numbers hold
// their "every" value when the event runs every hour (24), minute (60), day of the week, day of
// the month, month or year (0).
struct local_event {
    QString event_name;  // "EXECUTEF": the file to open
    QString event_type;  // "RESTART", "PROGRAMALL", "AUTOEVENT", "EXECUTEF"
    int hour = 0;
    int min = 0;
    int daym = 0;
    int dayw = 0;  // 1 = Sunday .. 7
    int month = 0;
    int year = 0;  // year - 2000
};

// The PC's scheduled events: loaded from the event table ("db\events.db", table "events", the
// records whose "Device_Name" is "PC") and run once a minute (`local_events`), after the time
// is sent to every controller.
class PcEvents {
  public:
    static constexpr int kMaxEvents = 1001;

    PcEvents(Runtime& rt, BusPort& port, Commands& commands)
        : rt_(rt), port_(port), commands_(commands) {}

    // `update_pc_events`: nothing as the Linkel's companion; a missing table (or column) gives
    // no events.
    void update_pc_events();
    // `local_events`: the events due in the current minute, each minute once (a clock stepped
    // back or a timer that fires twice in a minute runs nothing again).
    void local_events();

    // Whether the serial port is open (the time goes out only then).
    std::function<bool()> serialOpen;
    // Opens a file with its associated program in the file's directory; false when no program
    // is associated. `xdg-open` by default.
    std::function<bool(const QString& file)> open;

    std::vector<local_event> pc_events;
    int PCEventsCount = 0;

  private:
    bool due(const local_event& e, const QDateTime& now) const;
    void run(const local_event& e);

    Runtime& rt_;
    BusPort& port_;
    Commands& commands_;
    QDateTime lastMinute_;
};

// The default opener: asks xdg-mime for the program of the file's type and runs xdg-open in
// the file's directory.
bool openWithAssociatedProgram(const QString& file);

}  // namespace velmar
