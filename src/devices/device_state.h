#pragma once

#include <QByteArray>
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
    // The same moment on the monotonic clock, for elapsed-time tests that a clock step must
    // not fool.
    std::int64_t recentMs = 0;
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

    // Decoded state of the last accepted status frame; the "prev" arrays hold the frame before.
    std::int32_t currentprogram = 0;
    QString currentprogramname;
    // Channels 1..8: temperature in degrees, light level in %, value in % of full scale.
    std::array<double, 8> temp{}, tempprev{};
    std::array<double, 8> light{}, lightprev{};
    std::array<double, 8> adc{}, adcprev{};
    // Outputs 1..35, fast inputs 1..8 (`int`), digital inputs 1..8 (`in`).
    std::array<bool, 35> out{}, outprev{};
    std::array<bool, 8> int_{}, intprev{};
    std::array<bool, 8> in{}, inprev{};
};

// External controller state (one per system).
struct OutrelState {
    std::int32_t currentzone = 0;
    QString currentzonename;
    // Input expander status of modules 1..5 (index 0 unused): warning bytes 0..4, alarm bytes
    // 5..9, active bytes 10..13; modules 4 and 5 stay empty. `inextstatprev` holds the bytes as
    // last evaluated and starts as letters "a", so the first frame evaluates every group.
    std::array<QByteArray, 6> inextstat;
    std::array<QByteArray, 6> inextstatprev = {QByteArray(22, 'a'), QByteArray(22, 'a'),
                                               QByteArray(22, 'a'), QByteArray(22, 'a'),
                                               QByteArray(22, 'a'), QByteArray(22, 'a')};
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

    // Decoded state of the last status record and of the one before.
    std::int32_t currentprogram = 0, prevprogram = 0;
    QString currentprogramname;
    std::int32_t currentzone = 0, prevzone = 0;
    QString currentzonename;
    std::int32_t currentadcprogram = 0;
    QString currentadcprogramname;
    // Channel value in % of full scale, raw value, previous value.
    std::array<double, 17> adcs{}, adcsprev{};
    std::array<std::int32_t, 17> adcsind{};
    // Outputs 0..159 and inputs 0..95 with the alarm, warning and monitoring flags of inputs.
    std::array<bool, 257> xdouts{}, xdoutsprev{};
    std::array<bool, 257> xdins{}, xdinsprev{};
    std::array<bool, 257> xalarms{}, xwarnings{}, xmonitorings{};
    std::array<std::int32_t, 129> rollers{}, rollersprev{};
};

}  // namespace velmar
