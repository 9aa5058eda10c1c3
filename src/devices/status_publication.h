#pragma once

#include <QDateTime>
#include <QHash>
#include <QString>
#include <QStringList>

#include "devices/device_state.h"
#include "devices/status_change.h"
#include "devices/status_publisher.h"
#include "log/runtime.h"

namespace velmar {

// The status text of a device ("logs\<device>.txt"): the name and time, the program (not for
// the heating controller), the external controller's zone, the eight channels, the active
// outputs and inputs and the expanders' alarm. Pure.
QStringList statusText(const StatusChange& change, const OutrelState& outrel, const QDateTime& now);

// The files a device's accepted frame changes: the value files of the channels that changed,
// the output flags, the input events, the external controller's "external.stp" flag, and the
// status text.
class StatusPublication {
  public:
    StatusPublication(Runtime& rt, StatusFiles& files) : rt_(rt), files_(files) {}

    // Flags and value files; before the alarms are evaluated.
    void files(const StatusChange& change);
    // The status text; after the alarms are evaluated.
    void text(const StatusChange& change, const OutrelState& outrel);

  private:
    void publishChannel(const an& d, int k, bool thermelFormat);

    Runtime& rt_;
    StatusFiles& files_;
};

// The pictures and sounds of a device's outputs and inputs in each view (`widoki`): put in place
// when an element's state changes or is first seen.
class StatusViews {
  public:
    StatusViews(Runtime& rt, StatusFiles& files, const QStringList& views)
        : rt_(rt), files_(files), views_(views) {}

    void publish(const StatusChange& change);

  private:
    void encode_status(const QString& view, const an& d);

    Runtime& rt_;
    StatusFiles& files_;
    const QStringList& views_;
    // State of each view element last put in place, by view + "\" + element.
    QHash<QString, bool> shown_;
};

}  // namespace velmar
