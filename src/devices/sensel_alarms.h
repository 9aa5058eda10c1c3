#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <functional>

#include "base/data_root.h"
#include "devices/device_state.h"

namespace velmar {

class DeviceRegistry;
class EventLog;
class LogFiles;
class StatusFiles;

// Evaluation of the input expanders' status that the external controller reports: flag files
// per input and kind, the kind's log, view graphics, sounds, notifications of room controllers
// and the alarm text. Only groups whose bytes changed since the last evaluation are evaluated.
class SenselAlarms {
  public:
    using RunCommand = std::function<void(std::uint8_t, std::uint8_t, const QByteArray&)>;
    enum Mode { Active = 1, Alarm = 2, Warning = 3 };

    SenselAlarms(const DataRoot& root, const DeviceRegistry& registry, LogFiles& logFiles,
                 StatusFiles& files, OutrelState& outrel, int& alarmextender,
                 const QString& audioext, const QStringList& views, RunCommand runCommand);

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

    const DataRoot& root_;
    const DeviceRegistry& registry_;
    LogFiles& logFiles_;
    StatusFiles& files_;
    OutrelState& outrel_;
    int& alarmextender_;
    const QString& audioext_;
    const QStringList& views_;
    RunCommand runCommand_;
};

}  // namespace velmar
