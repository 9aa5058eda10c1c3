#pragma once

#include <QString>
#include <cstdint>

namespace velmar {

// A bus address: address high `adrh` and address low `adrl`, each a byte value. Its text form
// "55-1" is the file stem of the device's files.
struct DeviceAddress {
    std::int32_t adrh = 0;
    std::int32_t adrl = 0;

    bool operator==(const DeviceAddress&) const = default;
    std::uint8_t high() const { return static_cast<std::uint8_t>(adrh); }
    std::uint8_t low() const { return static_cast<std::uint8_t>(adrl); }
    QString stem() const {
        return QString::number(adrh) + QLatin1Char('-') + QString::number(adrl);
    }
};

}  // namespace velmar
