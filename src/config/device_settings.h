#pragma once

// config/: the configuration of the room and external controllers: the device record and its
// files, the value lists, the configuration image, the upload engine that programs a
// controller block by block, and the "Quartel Configuration" window's model. May include
// base/, log/, lang/, bus/, devices/ and events/; heating/ and the folders above may include it.

#include <QString>
#include <QStringList>
#include <array>

namespace velmar {

// A field whose value comes from a list: the text as the file holds it, and its position in the
// list (-1 when the text is not in it: nothing is selected, and a save writes the text back
// unchanged).
struct Choice {
    QString text;
    int index = -1;

    bool selected() const { return index >= 0; }
};

// Selects the first entry of `list` that equals `text` (none when absent); the text is kept.
Choice choose(const QStringList& list, const QString& text);
// The entry at `index`, or no selection outside the list.
Choice chooseIndex(const QStringList& list, int index);

// The value lists of the configuration form, filled once.
struct ValueLists {
    ValueLists();

    QStringList addresses;    // "1".."255"
    QStringList bytes;        // "0".."255"
    QStringList speeds;       // "19200", "38400", "57600", "115200", "230400"
    QStringList lvd;          // "Off", "On"
    QStringList onOff;        // "0", "1" (output initial states)
    QStringList levels;       // "None", "Warning", "Alarm", "Error"
    QStringList noYes;        // "No", "Yes"
    QStringList light;        // 0, 0.5, .. 100
    QStringList voltage;      // 1024 entries: the raw value's percentage of full scale
    QStringList temperature;  // 1/16 degree steps from -50 to 100
    QStringList devsCount;    // "0".."30"
    QStringList rcQuartel;    // "N/A", "SONY", "PHILIPS", "N/A"
    QStringList rcOutrel;     // "0".."3"
    QStringList rollers;      // "N/A", "Close", "Open", "Stop"
    QStringList switches;     // "N/A", "Off", "On", "Temp On"
    QStringList dimmers;      // "N/A", "Decrement", "Increment", "Stop"
};
const ValueLists& valueLists();

// The Outrel's 24 outputs: their fields (in the stored order), their list and default.
struct OutrelOutput {
    const char* field;
    const char* name;  // default name
    int list;          // 0 rollers, 1 switches, 2 dimmers
    const char* defaultText;
};
extern const std::array<OutrelOutput, 24> kOutrelOutputs;
const QStringList& outrelList(int output);

// `DeviceSettings`: every field of the device configuration form under its name. Defaults as
// the form starts them.
struct DeviceSettings {
    DeviceSettings();

    QString DName;
    QString DType = QStringLiteral("Quartel");
    Choice DAddrH, DAddrL;
    Choice RSspeed;
    Choice ModFreq1;
    int RCType = 0;
    Choice ModFreq2, ModDuty2;
    Choice LVD;
    int ComboBox14 = 0, ComboBox15 = 0, ComboBox17 = 0, ComboBox18 = 255;
    bool CheckBox1 = false;  // analogue input 3 measures temperature
    bool CheckBox2 = false;  // the device is an Outrel

    // Analogue inputs 1..8 (index k - 1).
    std::array<Choice, 8> AdcL, AdcH;
    std::array<QString, 8> AdcLEv, AdcHEv, ADCOKEv;
    std::array<QString, 8> ADC;

    std::array<QString, 24> DevOut;
    std::array<QString, 35> O;

    std::array<Choice, 8> InpWL;
    std::array<QString, 8> InputLEv, InputHEv, DigitalIn;
    std::array<Choice, 8> intwl;
    std::array<QString, 8> intlev, inthev, IntInp;

    std::array<Choice, 4> LightL, LightH, LightHist, LightOp;
    std::array<QString, 4> LightOkEv, LightLEv, LightHEv, LightFu, LightContr;
    std::array<Choice, 4> TempL, TempH, Hist, TempOp;
    std::array<QString, 4> TempOkEv, TempLEv, TempHEv, TempFu, TempContr;

    // The Outrel's output defaults and names, in the stored order.
    std::array<Choice, 24> OutrelDefault;
    std::array<QString, 24> OutrelName;

    // ".adv": `DevsCount` index (-1: none), `ViaComm`, `AutoStat`.
    int DevsCount = -1;
    bool ViaComm = false;
    bool AutoStat = false;

    // Program (profile) names, ".pgm".
    QStringList programs;
};

// The temperature list of analogue input 2 (or 3) for a device's calibration: -40.5 until the
// curve has dipped below -54 and come back above -40, 150 at and above 150.
QStringList temperatureCurve(int offset, int vcc);

}  // namespace velmar
