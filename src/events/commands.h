#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QObject>
#include <QTimer>
#include <cstdint>
#include <functional>

#include "base/device_address.h"
#include "bus/bus_port.h"
#include "log/runtime.h"

namespace velmar {

// The command primitives that put commands on the bus.
class Commands {
  public:
    Commands(Runtime& rt, BusPort& port) : rt_(rt), port_(port) {}

    // Sends a text command to one controller, or to all with 0,0; afterwards the query cycle
    // pauses 5 x QUERY_DEV (and stays stopped offline).
    void run_command(DeviceAddress to, const QByteArray& text);
    // "q": no echo is expected.
    void query_device(DeviceAddress to);
    void reset_all_devs();
    void set_time_all_devs();
    void settime(DeviceAddress to);

    // The set-time frame image for a given time. Direct bus: count 22, 25 bytes handed to the
    // writer (a 23-byte wire frame). Through a Linkel the image carries the PC's address after
    // the destination: count 24, a 25-byte wire frame with the length byte 22.
    static QByteArray setTimeImage(std::uint8_t adrh, std::uint8_t adrl, const QDateTime& now,
                                   bool linkelAddressing);

  private:
    Runtime& rt_;
    BusPort& port_;
};

}  // namespace velmar
