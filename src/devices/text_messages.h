#pragma once

#include <QString>

#include "bus/messages.h"
#include "devices/alarm_state.h"
#include "devices/status_publisher.h"
#include "log/runtime.h"

namespace velmar {

class DeviceRegistry;

// The controllers' text messages as the device tables know them: the sender's name and type,
// the message's alias (its long text in the log line, its pictures and sound), and the zone
// changes of the external controller, which go out by SMS.
class TextMessages {
  public:
    TextMessages(Runtime& rt, const DeviceRegistry& registry, StatusFiles& files,
                 AlarmState& alarms)
        : rt_(rt), registry_(registry), files_(files), alarms_(alarms) {}

    // `getname`: a polled controller is a "Quartel", a device of the alarm table an "Alarm";
    // anyone else is "(h,l)" of type "all", not known.
    SenderInfo sender(DeviceAddress address) const;
    // "lZONE-<n>": the security zone changed; a reported alarm is withdrawn first.
    void react(const msg::Text& text);
    // `write_alias_cmd` and the sound: the log line "<device> ->    <text>", the alias's view
    // pictures and its recording.
    void announce(const msg::Text& text);

  private:
    void playSound(const QString& device, const QString& shortcommand);

    Runtime& rt_;
    const DeviceRegistry& registry_;
    StatusFiles& files_;
    AlarmState& alarms_;
};

}  // namespace velmar
