#pragma once

// devices/: the device tables and name files, the status decoding (parse, accept, apply,
// publish), the Linkel's own status record, the text messages' names, aliases and sounds, the
// zones, the input expanders and the alarm state. May include base/, log/, lang/ and bus/;
// events/ and every folder above may include it.

#include "base/module.h"
#include "bus/bus_module.h"
#include "devices/alarm_state.h"
#include "devices/linkel_status.h"
#include "devices/registry.h"
#include "devices/status_decoder.h"
#include "devices/status_publisher.h"
#include "devices/text_messages.h"
#include "log/runtime.h"

namespace velmar {

class DevicesModule : public Module {
  public:
    // Subscribes to status frames, query records, the Linkel's record and text messages.
    DevicesModule(Runtime& rt, BusModule& bus);

    // The expanders' and zones' names, the message aliases, the device files' state records
    // and the Ethernet devices.
    void load() override;
    // The device scan: the poll and alarm tables.
    void scan();

    Runtime& rt;
    BusModule& bus;
    DeviceRegistry registry;
    // The publication files of the decoded state (one set of caches for all their writers).
    StatusFiles files;
    AlarmState alarms;
    StatusDecoder status;
    LinkelStatus linkelStatus;
    TextMessages texts;
};

}  // namespace velmar
