#include "config/device_settings.h"

#include <cmath>

#include "devices/conversions.h"

namespace velmar {

namespace {

QStringList numbers(int from, int to) {
    QStringList l;
    for (int i = from; i <= to; ++i)
        l << QString::number(i);
    return l;
}

}  // namespace

Choice choose(const QStringList& list, const QString& text) {
    return {text, static_cast<int>(list.indexOf(text))};
}

Choice chooseIndex(const QStringList& list, int index) {
    if (index < 0 || index >= list.size())
        return {};
    return {list[index], index};
}

ValueLists::ValueLists()
    : addresses(numbers(1, 255)),
      bytes(numbers(0, 255)),
      speeds{"19200", "38400", "57600", "115200", "230400"},
      lvd{"Off", "On"},
      onOff{"0", "1"},
      levels{"None", "Warning", "Alarm", "Error"},
      noYes{"No", "Yes"},
      devsCount(numbers(0, 30)),
      rcQuartel{"N/A", "SONY", "PHILIPS", "N/A"},
      rcOutrel{"0", "1", "2", "3"},
      rollers{"N/A", "Close", "Open", "Stop"},
      switches{"N/A", "Off", "On", "Temp On"},
      dimmers{"N/A", "Decrement", "Increment", "Stop"} {
    for (int i = 0; i <= 200; ++i)
        light << numberText(i / 2.0);
    // A raw 10-bit value as a percentage of the 5 V full scale, one decimal.
    for (int i = 0; i < 1024; ++i)
        voltage << numberText(std::nearbyint(i * 1000.0 / 1023) / 10);
    // Steps of 1/16 degree. The controllers take temperatures up to 100 degrees: the list ends
    // there, so that no choice is sent as 0.
    for (int j = -2047; j <= 2048; ++j) {
        const double v = std::nearbyint(j * 0.0625 * 100) / 100;
        if (v >= -50 && v <= 100)
            temperature << numberText(v);
    }
}

const ValueLists& valueLists() {
    static const ValueLists lists;
    return lists;
}

const std::array<OutrelOutput, 24> kOutrelOutputs = {{
    {"ComboBox8", "Rollers 1", 0, "Close"},    {"ComboBox9", "Rollers 2", 0, "Close"},
    {"ComboBox10", "Rollers 3", 0, "Close"},   {"ComboBox11", "Rollers 4", 0, "Close"},
    {"ComboBox12", "Rollers 5", 0, "Close"},   {"ComboBox13", "Rollers 6", 0, "Close"},
    {"ComboBox20", "Rollers 7", 0, "Close"},   {"ComboBox21", "Rollers 8", 0, "Close"},
    {"ComboBox23", "Gates", 0, "Close"},       {"ComboBox25", "Garage Doors", 0, "Close"},
    {"ComboBox27", "Doors 1", 0, "Close"},     {"ComboBox28", "Doors 2", 0, "Close"},
    {"ComboBox31", "Awnings 1", 0, "Close"},   {"ComboBox32", "Awnings 2", 0, "Close"},
    {"ComboBox33", "Awnings 3", 0, "Close"},   {"ComboBox36", "Horn", 1, "Temp On"},
    {"ComboBox37", "Light 1", 2, "Decrement"}, {"ComboBox41", "Light 2", 2, "Decrement"},
    {"ComboBox43", "Light 3", 2, "Decrement"}, {"ComboBox44", "Out 1", 1, "Off"},
    {"ComboBox47", "Out 2", 1, "Off"},         {"ComboBox48", "Out 3", 1, "Off"},
    {"ComboBox49", "Out 4", 1, "Off"},         {"ComboBox51", "Alarm", 1, "On"},
}};

const QStringList& outrelList(int output) {
    const ValueLists& v = valueLists();
    switch (kOutrelOutputs[static_cast<std::size_t>(output)].list) {
        case 0:
            return v.rollers;
        case 1:
            return v.switches;
        default:
            return v.dimmers;
    }
}

DeviceSettings::DeviceSettings() {
    const ValueLists& v = valueLists();
    DAddrH = choose(v.addresses, QStringLiteral("55"));
    DAddrL = DAddrH;
    RSspeed = choose(v.speeds, QStringLiteral("19200"));
    ModFreq1 = choose(v.bytes, QStringLiteral("255"));
    ModFreq2 = choose(v.bytes, QStringLiteral("40"));
    ModDuty2 = choose(v.bytes, QStringLiteral("25"));
    LVD = choose(v.lvd, QStringLiteral("Off"));
    ADC[0] = QStringLiteral("Light Level");
    ADC[1] = QStringLiteral("Temperature");
    for (int k = 3; k <= 8; ++k)
        ADC[static_cast<std::size_t>(k - 1)] = QStringLiteral("A/D Converter %1").arg(k);
    DevOut.fill(QStringLiteral("0"));
    for (int k = 1; k <= 35; ++k)
        O[static_cast<std::size_t>(k - 1)] = QStringLiteral("Output %1").arg(k);
    for (int k = 1; k <= 8; ++k) {
        const auto uk = static_cast<std::size_t>(k - 1);
        InpWL[uk] = choose(v.levels, QStringLiteral("None"));
        intwl[uk] = InpWL[uk];
        DigitalIn[uk] = QStringLiteral("Digital Input %1").arg(k);
        IntInp[uk] = QStringLiteral("Fast Input %1").arg(k);
    }
    for (int k = 1; k <= 4; ++k) {
        const auto uk = static_cast<std::size_t>(k - 1);
        LightL[uk] = choose(v.light, QStringLiteral("0"));
        LightH[uk] = choose(v.light, QStringLiteral("100"));
        LightHist[uk] = choose(v.light, QStringLiteral("2"));
        TempL[uk] = choose(v.temperature, QStringLiteral("0"));
        TempH[uk] = choose(v.temperature, QStringLiteral("100"));
        Hist[uk] = choose(v.temperature, QStringLiteral("1"));
        LightContr[uk] = QStringLiteral("Light Controller %1").arg(k);
        TempContr[uk] = QStringLiteral("Temperature Controller %1").arg(k);
    }
    for (int j = 0; j < 24; ++j) {
        const auto uj = static_cast<std::size_t>(j);
        OutrelDefault[uj] = choose(outrelList(j), QLatin1String(kOutrelOutputs[uj].defaultText));
        OutrelName[uj] = QLatin1String(kOutrelOutputs[uj].name);
    }
    for (int n = 0; n <= 24; ++n)
        programs << QStringLiteral("Program %1").arg(n);
}

QStringList temperatureCurve(int offset, int vcc) {
    QStringList list;
    bool dipped = false;
    bool valid = false;
    for (int w = 0; w < 1024; ++w) {
        const double t = gettemplm(static_cast<std::uint8_t>(w / 256),
                                   static_cast<std::uint8_t>(w % 256), offset, vcc, 10);
        if (t < -54)
            dipped = true;
        if (dipped && t > -40)
            valid = true;
        list << numberText(!valid ? -40.5 : (t >= 150 ? 150 : t));
    }
    return list;
}

}  // namespace velmar
