#include "devices/status_change.h"

#include "devices/conversions.h"
#include "devices/registry.h"

namespace velmar {

namespace {
// Outputs of the status frame beyond the 24 of the three output bytes.
constexpr int kDedicatedOutputs = 8;

bool bit(std::uint8_t byte, int n) {
    return (byte >> n) & 1;
}
}  // namespace

StatusChange applyStatus(const StatusFrame& f, an& d, OutrelState& outrel,
                         const DeviceRegistry& registry) {
    StatusChange change{f, &d, d.extern_, {}, {}};
    d.adcprev = d.adc;
    d.lightprev = d.light;
    d.tempprev = d.temp;
    d.outprev = d.out;
    d.intprev = d.int_;
    d.inprev = d.in;
    d.currentprogram = f.program();

    if (change.outrel) {
        outrel.currentzone = f.zone();
        outrel.currentzonename =
            outrel.currentzone >= 0 && outrel.currentzone < DeviceRegistry::kZoneNamesSize
                ? registry.zonenames[static_cast<std::size_t>(outrel.currentzone)]
                : QString();
        for (int m = 1; m <= 3; ++m) {
            if (f.carriesModule(m))
                outrel.inextstat[static_cast<std::size_t>(m)] = f.expander(m);
        }
    }

    for (int k = 0; k < 8; ++k) {
        const std::uint8_t hi = f.channelHigh(k);
        const std::uint8_t lo = f.channelLow(k);
        const auto uk = static_cast<std::size_t>(k);
        d.adc[uk] = calculate_adc_value(hi, lo);
        d.light[uk] = getlight(hi, lo);
        d.temp[uk] = gettemplm(hi, lo, d.RCAL[uk], d.vcc, 10);
        change.channelChanged[uk] = d.adc[uk] != d.adcprev[uk];
    }

    const std::uint32_t outs = f.outputs();
    const int outputs = f.isThermel() ? 24 : 24 + kDedicatedOutputs;
    for (int k = 0; k < outputs; ++k) {
        d.out[static_cast<std::size_t>(k)] =
            k < 24 ? ((outs >> k) & 1) : bit(f.dedicatedOutputs(), k - 24);
    }
    if (!f.isThermel()) {
        for (int k = 0; k < 8; ++k) {
            d.int_[static_cast<std::size_t>(k)] = bit(f.fastInputs(), k);
            d.in[static_cast<std::size_t>(k)] = bit(f.digitalInputs(), k);
        }
    }
    return change;
}

}  // namespace velmar
