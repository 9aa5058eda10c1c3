#pragma once

#include <QByteArray>

#include "base/clock.h"
#include "base/data_root.h"
#include "bus/linkel_config.h"
#include "devices/status_publisher.h"

namespace velmar {

class DeviceRegistry;
class EventLog;

// Decodes the Ethernet controller's own status record (the Linkel link's 300-byte query answer)
// into its state record and publishes it: value files of changed channels, output, input, alarm,
// warning and monitoring flags, and its status text.
class LinkelStatus {
  public:
    LinkelStatus(const DataRoot& root, EventLog& log, const Clock& clock, DeviceRegistry& registry);

    // `set_status_linkel`: a record whose byte 1 is 0, or that is shorter than the record, is
    // ignored, as is any record while no Linkel is registered. Never throws.
    void set_status_linkel(const QByteArray& record);

    static constexpr int kRecordSize = kLinkelRecordSize;

  private:
    // Flag files of one element: created when on (never overwritten), deleted when off. Names
    // marked "@" are left out.
    void flags(const QString& name, bool on, const QStringList& onlyCreated,
               const QStringList& mirrored);

    EventLog& log_;
    const Clock& clock_;
    DeviceRegistry& registry_;
    StatusFiles files_;
};

}  // namespace velmar
