#pragma once

#include <QString>
#include <cstdint>

#include "base/data_root.h"

namespace velmar {

class EventLog;

// "com.cfg": line 1 the port name, line 2 the bit rate.
struct ComConfig {
    QString portName = QStringLiteral("com1");
    std::int32_t baudRate = 115200;
};

// Missing file: "com1" at 115200; an empty first line: "com1"; a second line that is not a
// number: 115200. With a log, each fallback says which file and line and what is used instead
// (a missing file names the device that will be opened).
ComConfig readComConfig(const DataRoot& root, EventLog* log = nullptr);
// Writes "com.cfg" (port name, bit rate); false with the cause in `error`.
bool writeComConfig(const DataRoot& root, const ComConfig& config, QString* error = nullptr);

// The device path of a port name: an absolute path is used as it is; "comN" (any case, with or
// without a leading "\\.\") means /dev/ttyS(N-1); any other name gets "/dev/" in front.
QString portDevicePath(const QString& portName);

}  // namespace velmar
