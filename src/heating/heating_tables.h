#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <array>
#include <cstdint>

#include "base/data_root.h"

namespace velmar {

class EventLog;

// One entry of the temperature forwarding table: the Thermel gets channel `channel` of device
// adrh-adrl. An entry of zeros matches no device.
struct TemperatureSource {
    std::int32_t adrh = 0;
    std::int32_t adrl = 0;
    std::int32_t channel = 0;
};

// What the status decoder needs of the heating controller's configuration: the forwarding table
// ("temperatures.cfg"), the readings forwarded, the labels ("lang\<L>.het") and the channel names
// ("lang\heat-adc.<L>").
struct HeatingTables {
    static constexpr int kForwardEntries = 6;  // entry 6 is never loaded
    static constexpr int kLoadedEntries = 5;
    static constexpr int kLabels = 50;
    static constexpr int kChannels = 16;

    // `TEMP`: entries 1..6 at indexes 0..5.
    std::array<TemperatureSource, kForwardEntries> TEMP{};
    // `temph`, `templ`: the latest raw bytes of each entry's channel; 0 until a reading arrives.
    std::array<std::uint8_t, kForwardEntries> temph{};
    std::array<std::uint8_t, kForwardEntries> templ{};
    // `heati`[1..50]; index 0 unused.
    std::array<QString, kLabels + 1> heati;
    std::array<QString, kChannels> heatadcnames;

    HeatingTables();
    // Label n, empty outside 1..50.
    const QString& label(int n) const;
};

// The 50 labels written when the label file is missing (47 texts and three empty lines).
QStringList defaultHeatingLabels();
QStringList defaultHeatAdcNames();

// Parses the forwarding table: line e is "H,L,C;"; missing lines give 200, 200, 2.
std::array<TemperatureSource, HeatingTables::kForwardEntries> parseTemperatureSources(
    const QStringList& lines);

// Start-up: reads "temperatures.cfg" (all entries stay 0 without it), the labels and channel
// names, writing the defaults of the latter two when missing. `locale` is the user locale number.
void loadHeatingTables(const DataRoot& root, EventLog& log, const QString& locale,
                       HeatingTables& tables);

// The "T" frame image to the heating controller: count 15, 1-1, "T", the five forwarded
// readings, two zero bytes. With Linkel addressing the PC's address follows the destination.
QByteArray temperatureFrame(const HeatingTables& tables, bool linkelAddressing);

}  // namespace velmar
