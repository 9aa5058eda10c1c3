#pragma once

#include <QString>
#include <cstdint>

namespace velmar {

struct an;
struct ethan;

// Conversions of the raw 10-bit converter readings the controllers send (high byte first) and of
// thresholds back into the bytes the controllers store. All pure; rounding is half to even.

// Raw value v = high * 256 + low.
std::int32_t calcindex(std::uint8_t high, std::uint8_t low);
// Channel value in % of full scale; not clipped (a raw value above 1023 gives more than 100).
double calculate_adc_value(std::uint8_t high, std::uint8_t low);
// Light level in %, one decimal: 1023 is dark.
double getlight(std::uint8_t high, std::uint8_t low);
// Temperature in degrees, one decimal: offset in 1/100 degree, vcc in mV.
double gettemplm(std::uint8_t high, std::uint8_t low, std::int32_t offset, std::int32_t vcc,
                 std::int32_t divisor);
// "T=<temp> [C],  U=<volts> [V],  <percent> [%]" of one channel of a bus device.
QString getstrval(std::uint8_t high, std::uint8_t low, const an& device);

// Scaled values of an Ethernet device's channel 0..16.
double CalculateFactor(const ethan& device, std::int32_t raw, int channel);
double CalculateValue(const ethan& device, std::int32_t raw, int channel);
QString GetStringValue(const ethan& device, std::int32_t raw, int channel);

// Number texts: the shortest general form (15 significant digits) and a fixed number of
// decimals, always with ".".
QString numberText(double value);
QString fixedText(double value, int decimals);
// Rounds to `decimals` places, halves to even.
double roundTo(double value, int decimals);

// A 10-bit threshold as one byte: index div 4 for 0..1023, else the fallback shifted right by 2.
std::uint8_t adc_value(std::int32_t index, std::int32_t fallback);
// The two low bits of a threshold placed in bits 6-7.
std::uint8_t calclsb(std::int32_t value);
// The low-bit bytes of eight lower and eight upper thresholds, four thresholds a byte (lower 1-4,
// lower 5-8, upper 1-4, upper 5-8): t1 mod 4 + 4 (t2 mod 4) + 16 (t3 mod 4) + 64 (t4 mod 4).
void adccalclsb(const std::int32_t (&lower)[8], const std::int32_t (&upper)[8],
                std::uint8_t (&out)[4]);
// A threshold text (default when unparsable or outside min..max) times 1023, rounded, shifted
// right by 2.
std::int32_t adc_value_s(const QString& text, double fallback, double max, double min);
// A temperature text (default when unparsable or outside min..max) as a signed count of
// 1/16 degree in 16-bit two's complement.
std::uint16_t temp_value(const QString& text, double fallback, double max, double min);
inline std::uint8_t temp_high_nibble(std::uint16_t v) {
    return static_cast<std::uint8_t>(v >> 8);
}
inline std::uint8_t temp_low_nibble(std::uint16_t v) {
    return static_cast<std::uint8_t>(v & 0xFF);
}
// Raw reading x as the two bytes sent to the heating controller; 0, 0 outside 0..1023.
void get_temp_value_for_heart(std::int32_t x, std::uint8_t& high, std::uint8_t& low);

}  // namespace velmar
