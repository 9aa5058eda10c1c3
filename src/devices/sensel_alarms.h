#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <functional>

#include "base/device_address.h"
#include "devices/alarm_state.h"
#include "devices/device_state.h"
#include "devices/status_change.h"
#include "log/runtime.h"

namespace velmar {

class DeviceRegistry;
class StatusFiles;

// Evaluation of the input expanders' status that the external controller reports: flag files
// per input and kind, the kind's log, view graphics, sounds, notifications of room controllers
// and the alarm text with its log line and SMS requests. Only groups whose bytes changed since
// the last evaluation are evaluated.
class SenselAlarms {
  public:
    // Sends a text command and pauses the query cycle (`run_command` of the query cycle); used
    // for the movement notifications of room controllers. Set by the event engine.
    using RunCommand = std::function<void(DeviceAddress, const QByteArray&)>;
    enum Mode { Active = 1, Alarm = 2, Warning = 3 };

    SenselAlarms(Runtime& rt, const DeviceRegistry& registry, StatusFiles& files,
                 OutrelState& outrel, AlarmState& alarms, const QStringList& views);
    void setRunCommand(RunCommand runCommand) { runCommand_ = std::move(runCommand); }

    // An external controller's frame: evaluates the expanders it carries; an alarm goes into
    // `change.alarm`, the log ("SECU: ...") and the SMS requests of the administrators (and of
    // the report recipients while an expander's alarm line is up).
    void publish(StatusChange& change);

    // `getalarmstate`: module m (1..3); returns the names of the inputs that went into alarm,
    // each followed by ",".
    QString getalarmstate(int m);
    // `cra` / `dra`: publish / clear input k (1..40) of module m in a mode.
    QString cra(int m, int k, int mode);
    void dra(int m, int k, int mode);

    static QString kindWord(int mode);

  private:
    // Evaluates bytes [first, first + count) of the status as inputs 1..inputs in `mode`.
    QString group(int m, int first, int count, int inputs, int mode);
    void notify(std::int32_t adrl, std::int32_t option);

    Runtime& rt_;
    const DeviceRegistry& registry_;
    StatusFiles& files_;
    OutrelState& outrel_;
    AlarmState& alarms_;
    const QStringList& views_;
    RunCommand runCommand_;
};

}  // namespace velmar
