#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QObject>
#include <QTimer>
#include <cstdint>
#include <functional>

#include "app/config_files.h"
#include "bus/frame_writer.h"
#include "events/query_timer.h"

namespace velmar {

class EventLog;
class Clock;

// The command primitives that put commands on the bus.
class Commands {
  public:
    struct Context {
        EventLog& log;
        const Clock& clock;
        FrameWriter& writer;
        QueryTimer& AutoQuery;
        const TimingSettings& timing;
        const BusFlags& flags;
        const bool& debugtimer;
    };

    explicit Commands(Context ctx) : ctx_(ctx) {}

    // Sends a text command to one controller, or to all with 0,0; afterwards the query cycle
    // pauses 5 x QUERY_DEV (and stays stopped offline).
    void run_command(std::uint8_t adrh, std::uint8_t adrl, const QByteArray& text);
    // "q": no echo is expected.
    void query_device(std::uint8_t adrh, std::uint8_t adrl);
    void reset_all_devs();
    void set_time_all_devs();
    void settime(std::uint8_t adrh, std::uint8_t adrl);

    // The set-time frame image for a given time. Direct bus: count 22, 25 bytes handed to the
    // writer (a 23-byte wire frame). Through a Linkel the image carries the PC's address after
    // the destination: count 24, a 25-byte wire frame with the length byte 22.
    static QByteArray setTimeImage(std::uint8_t adrh, std::uint8_t adrl, const QDateTime& now,
                                   bool linkelAddressing);

  private:
    Context ctx_;
};

}  // namespace velmar
