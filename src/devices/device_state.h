#pragma once

#include <QDateTime>
#include <QString>
#include <array>
#include <cstdint>

namespace velmar {

// An entry of the poll, alarm and Ethernet tables.
struct deviceadr {
    std::int32_t adrh = 0;
    std::int32_t adrl = 0;
    // Time of the last status frame; invalid while none has arrived.
    QDateTime recent;
    QString name;
    // Ethernet devices only: the device's folder, relative to the data root.
    QString path;
};

// State record of a bus device (room controller, external controller, heating controller), one
// per device configuration file. Numbered fields are arrays indexed from 0: element k - 1 holds
// field k, so outn[0] is out1n and outn[34] is out35n.
struct an {
    QString devname;
    std::int32_t adrh = 0;
    std::int32_t adrl = 0;

    // Supply voltage of the analogue inputs in mV.
    std::int32_t vcc = 5000;
    // RCAL[k] (RCAL0..RCAL7): temperature offset of channel k + 1 in 1/100 degree.
    std::array<std::int32_t, 8> RCAL = {-27315, -27315, -27315, -27315,
                                        -27315, -27315, -27315, -27315};

    // Thresholds of analogue inputs 1..8 (adc1min..adc8min, adc1max..adc8max).
    std::array<double, 8> adcmin = {0, 0, 0, 0, 0, 0, 0, 0};
    std::array<double, 8> adcmax = {100, 100, 100, 100, 100, 100, 100, 100};
    // Light controllers 1..4 (light1min.., light1max.., light1hist..).
    std::array<double, 4> lightmin = {0, 0, 0, 0};
    std::array<double, 4> lightmax = {100, 100, 100, 100};
    std::array<double, 4> lighthist = {10, 10, 10, 10};
    // Temperature controllers 1..4 (temp1min.., temp1max.., temp1hist..).
    std::array<double, 4> tempmin = {0, 0, 0, 0};
    std::array<double, 4> tempmax = {100, 100, 100, 100};
    std::array<double, 4> temphist = {10, 10, 10, 10};

    // Display names: adc1n..adc8n, out1n..out35n (25..35 are the dedicated outputs), in1n..in8n
    // (digital inputs), int1n..int8n (fast inputs), light1n..light4n, temp1n..temp4n.
    std::array<QString, 8> adcn;
    std::array<QString, 35> outn;
    std::array<QString, 8> inn;
    std::array<QString, 8> intn;
    std::array<QString, 4> lightn;
    std::array<QString, 4> tempn;

    // Analogue input 3 measures temperature.
    bool an3temp2 = false;
    // `extern`: the device is an external controller.
    bool extern_ = false;
};

// State record of an Ethernet device (the Linkel and the devices behind it). Arrays are indexed
// as the device numbers its channels, from 0.
struct ethan {
    QString devname;
    std::int32_t adrh = 0;
    std::int32_t adrl = 0;

    std::array<QString, 17> adcsnames;
    std::array<QString, 257> xdoutsnames;
    std::array<QString, 257> xdinsnames;
    std::array<QString, 129> rollernames;
    std::array<QString, 22> zonenames;
    // Security programs; only the Linkel's record is filled.
    std::array<QString, 25> programsnames;
    std::array<QString, 25> adcprogramsnames;

    // Scaling of analogue channels 0..16: supply voltage, offset and factor as read (the files
    // hold them multiplied by 10^10), decimals shown, option and unit text.
    std::array<double, 17> adcsVCC{};
    std::array<double, 17> adcsOffset{};
    std::array<double, 17> adcsFactor{};
    std::array<std::int32_t, 17> adcsPrecision{};
    std::array<std::int32_t, 17> adcsOption{};
    std::array<QString, 17> adcssuffix;
};

}  // namespace velmar
