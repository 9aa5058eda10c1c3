#include "devices/conversions.h"

#include <QLocale>
#include <algorithm>
#include <cmath>

#include "devices/device_state.h"

namespace velmar {

std::int32_t calcindex(std::uint8_t high, std::uint8_t low) {
    return high * 256 + low;
}

double calculate_adc_value(std::uint8_t high, std::uint8_t low) {
    return (high * 25600.0 + low * 100.0) / 1023.0;
}

double getlight(std::uint8_t high, std::uint8_t low) {
    const double v = calcindex(high, low);
    return std::nearbyint((1023.0 - v) * 1000.0 / 1023.0) / 10.0;
}

double gettemplm(std::uint8_t high, std::uint8_t low, std::int32_t offset, std::int32_t vcc,
                 std::int32_t divisor) {
    if (divisor == 0)
        return 0;
    const double v = calcindex(high, low);
    return std::nearbyint(10.0 * (v * vcc / (divisor * 1023.0) + offset / 100.0)) / 10.0;
}

QString numberText(double value) {
    return QLocale::c().toString(value, 'g', 15);
}

QString fixedText(double value, int decimals) {
    return QLocale::c().toString(value, 'f', decimals);
}

double roundTo(double value, int decimals) {
    double scale = 1;
    for (int i = 0; i < decimals; ++i)
        scale *= 10;
    return std::nearbyint(value * scale) / scale;
}

QString getstrval(std::uint8_t high, std::uint8_t low, const an& device) {
    const double v = calcindex(high, low);
    // Every channel's text uses the offset of the second channel, as the controllers' own
    // displays do.
    const double t = gettemplm(high, low, device.RCAL[1], device.vcc, 10);
    const double u = std::nearbyint(v * 5000.0 / 1023.0) / 1000.0;
    const double p = std::nearbyint(v * 10000.0 / 1023.0) / 100.0;
    return QLatin1String("T=") + numberText(t) + QLatin1String(" [C],  ") + QLatin1String("U=") +
           numberText(u) + QLatin1String(" [V]") + QLatin1String(",  ") + numberText(p) +
           QLatin1String(" [%]");
}

namespace {
bool validChannel(int channel) {
    return channel >= 0 && channel < 17;
}
}  // namespace

double CalculateFactor(const ethan& device, std::int32_t raw, int channel) {
    if (!validChannel(channel))
        return 0;
    return raw * device.adcsFactor[static_cast<std::size_t>(channel)];
}

double CalculateValue(const ethan& device, std::int32_t raw, int channel) {
    if (!validChannel(channel))
        return 0;
    const auto c = static_cast<std::size_t>(channel);
    const int decimals = std::clamp(device.adcsPrecision[c], 0, 10);
    return roundTo(raw * device.adcsFactor[c] + device.adcsOffset[c], decimals);
}

QString GetStringValue(const ethan& device, std::int32_t raw, int channel) {
    if (!validChannel(channel))
        return QString();
    return numberText(CalculateValue(device, raw, channel)) +
           device.adcssuffix[static_cast<std::size_t>(channel)];
}

std::uint8_t adc_value(std::int32_t index, std::int32_t fallback) {
    if (index >= 0 && index <= 1023)
        return static_cast<std::uint8_t>(index / 4);
    return static_cast<std::uint8_t>((fallback >> 2) & 0xFF);
}

std::uint8_t calclsb(std::int32_t value) {
    return static_cast<std::uint8_t>((value & 3) << 6);
}

void adccalclsb(const std::int32_t (&lower)[8], const std::int32_t (&upper)[8],
                std::uint8_t (&out)[4]) {
    const std::int32_t* groups[4] = {lower, lower + 4, upper, upper + 4};
    for (int g = 0; g < 4; ++g) {
        int byte = 0;
        for (int i = 3; i >= 0; --i)
            byte = byte * 4 + (groups[g][i] & 3);
        out[g] = static_cast<std::uint8_t>(byte);
    }
}

namespace {
double numberOr(const QString& text, double fallback, double max, double min) {
    bool ok = false;
    const double v = QLocale::c().toDouble(text.trimmed(), &ok);
    if (!ok || !std::isfinite(v) || v < min || v > max)
        return fallback;
    return v;
}
}  // namespace

std::int32_t adc_value_s(const QString& text, double fallback, double max, double min) {
    const double v = numberOr(text, fallback, max, min);
    const auto scaled = static_cast<std::int32_t>(std::nearbyint(v * 1023.0));
    return scaled >> 2;
}

std::uint16_t temp_value(const QString& text, double fallback, double max, double min) {
    constexpr double TEMP_QUANT_12 = 0.0625;
    const double v = numberOr(text, fallback, max, min);
    const auto count = static_cast<std::int32_t>(std::nearbyint(v / TEMP_QUANT_12));
    return static_cast<std::uint16_t>(count & 0xFFFF);
}

void get_temp_value_for_heart(std::int32_t x, std::uint8_t& high, std::uint8_t& low) {
    if (x < 0 || x > 1023) {
        high = 0;
        low = 0;
        return;
    }
    high = static_cast<std::uint8_t>(x / 256);
    low = static_cast<std::uint8_t>(x % 256);
}

}  // namespace velmar
