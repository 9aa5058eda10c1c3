#pragma once

#include <QString>
#include <array>

#include "devices/device_state.h"
#include "devices/status_frame.h"

namespace velmar {

class DeviceRegistry;

// What an accepted status frame changed: the frame, the sender's state record after the
// change (nullptr for a sender without a device file: it gets the status cache and the panel
// record only, never another device's state), and what the publishers need to know.
struct StatusChange {
    const StatusFrame& frame;
    an* state = nullptr;
    // The sender is the external controller (its expanders and zone are in the frame).
    bool outrel = false;
    // Channels 1..8 whose value differs from the frame before.
    std::array<bool, 8> channelChanged{};
    // The expander inputs that went into alarm ("Door,Window,"), set by the alarm publisher.
    QString alarm;
};

// Applies a frame to the sender's state record: the frame before becomes the "prev" values,
// the channels, outputs, inputs and program are the frame's; the external controller's zone
// and expander bytes go to `outrel`. No files, no bus.
StatusChange applyStatus(const StatusFrame& frame, an& state, OutrelState& outrel,
                         const DeviceRegistry& registry);

}  // namespace velmar
