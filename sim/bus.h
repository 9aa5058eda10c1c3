#pragma once

#include <QByteArray>
#include <QString>
#include <vector>

#include "sim/bus_frames.h"
#include "sim/controller.h"

namespace velmar::sim {

struct BusSettings {
    bool linkelAddressing = false;
    ProgramAnswer programAnswer = ProgramAnswer::Ok;
    int turnaroundMs = 1;  // from the end of the PC's frame to an echo or a status answer
    int textPauseMs = 50;  // from the PC's "OK" to "lEXEC" or a programming acknowledgement
};

// Something a controller writes to the PC, delayMs after the frame that caused it.
struct Transmission {
    int delayMs = 0;
    QByteArray bytes;
};

// A memory block for a controller: its command letter names a configuration block ("w", "u",
// "W", "U") or an event table ("0".."9", ":", "A".."K"), or its payload is at least 37 bytes
// (every memory block is, no command is).
bool isProgrammingBlock(const QByteArray& payload);

// The controllers on the bus and how they answer the PC. Not thread-safe; the simulator guards
// it.
class Bus {
  public:
    // Fails for a taken address, the broadcast address 0-0 and the PC's 254-254.
    bool add(Address address, ControllerType type, QString* error = nullptr);
    Controller* find(Address address);
    const Controller* find(Address address) const;
    const std::vector<Controller>& controllers() const { return controllers_; }

    // The answers to one frame from the PC. A frame addressed to 0-0 is answered by the first
    // controller (in the order added) that is not silent, so that answers never collide.
    //   "q": the status block (turnaround);
    //   "OK": confirms the controller's last echo; after an "eEV..." frame it sends "lEXEC",
    //     after a programming block "lOKWRROM" or "lERWRROM" (text pause);
    //   any other frame longer than 5 bytes: the echo (turnaround).
    // `complete` is false when silence ended the frame before its length byte was reached; such
    // a frame is ignored, except with Linkel addressing when it is exactly 2 bytes short: the PC's
    // binary writer counts the destination address in the length byte of frames into which it
    // inserts its own address.
    std::vector<Transmission> onFrame(const QByteArray& frame, bool complete);

    BusSettings settings;

  private:
    Controller* target(Address destination);

    std::vector<Controller> controllers_;
};

}  // namespace velmar::sim
