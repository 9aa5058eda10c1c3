#pragma once

#include <QString>
#include <array>
#include <cstdint>
#include <optional>
#include <utility>

namespace velmar {

class EventNames;

// Five bytes a controller executes: the kind byte and four arguments.
using EventCode = std::array<std::uint8_t, 5>;
// The ten-byte form embedded into configurations: the event code, then the target address high,
// address low and three zeros for a code aimed at another device, or five zeros.
using EventArray = std::array<std::uint8_t, 10>;

// The code of an event the compiler does not know.
inline constexpr EventCode kUnknownEvent = {255, 255, 255, 255, 255};

// Which compiler asks: the configuration form's pickers, or the event-name registry that
// resolves event requests. Only the registry knows security zones ("ZONE"), and it numbers
// external programs ("Bat") by their position in the device's list.
enum class EventSource { Picker, Registry };

// One event as the definition files describe it.
struct EventFields {
    QString id;     // identifier, decides the kind ("O3", "PGM7", "ADC21", "Bat2", ...)
    QString state;  // signal state: the action's parameter as text
    QString name;   // event name; carries the limits of analogue and temperature events
    EventSource source = EventSource::Registry;
    int position = 0;  // the event's position in its device's list, from 0
};

// A compilation: the value, or why a number of the event did not parse. The caller logs the
// reason and drops the request; an unknown identifier is not an error (it gives kUnknownEvent).
template <typename T>
struct Compiled {
    std::optional<T> value;
    QString error;

    bool ok() const { return value.has_value(); }
    static Compiled failure(QString reason) { return {std::nullopt, std::move(reason)}; }
};

// The five event bytes of one event, by the prefix of its identifier (case-sensitive).
Compiled<EventCode> compileEventCode(const EventFields& event);

// An analogue limit in percent (0..100) as a threshold byte: the 10-bit value rounded (halves to
// even) and shifted right by 2.
std::uint8_t adcLimitByte(double percent);
// A temperature in degrees as a signed count of 1/16 degree, 16-bit two's complement (halves to
// even).
std::uint16_t tempCount(double degrees);

// `convert_eventcc`: compiles event `position` (from 0) of registry entry `entry` (from 1) into
// its ten bytes: the event code and five zeros. An entry that is not registered, a position
// outside the lists, or an empty identifier or state there gives kUnknownEvent.
Compiled<EventArray> convert_eventcc(const EventNames& names, int position, int entry);

}  // namespace velmar
