#pragma once

#include <QString>
#include <QStringList>
#include <optional>

#include "config/device_settings.h"
#include "log/runtime.h"

namespace velmar {

// The device configuration file ("devices aliases\<H>-<L>.dev"): one value per line, 248 lines
// for a Quartel, 272 for an Outrel. List-bound fields are stored as their text.
QStringList deviceFileLines(const DeviceSettings& s);
// Reads the lines into a record that holds its defaults: texts only (the lists are chosen later,
// once they are final, by `selectFields`). Missing lines leave the defaults' texts empty, as an
// empty line would.
void readDeviceFileLines(const QStringList& lines, DeviceSettings& s);

// The lists of the thresholds of analogue inputs 1..8 (the voltage list, or a temperature
// curve for input 2, and for input 3 in temperature mode).
using ThresholdLists = std::array<QStringList, 8>;
// `selectfields`: every list-bound field chooses its entry by its text.
void selectFields(DeviceSettings& s, const ThresholdLists& thresholds);

// Companion files of a device, by its file stem ("55-1").
struct Companions {
    // ".adv": without it `DevsCount` has no selection and both flags are off.
    static void readAdv(Runtime& rt, const QString& stem, DeviceSettings& s);
    static bool writeAdv(Runtime& rt, const QString& stem, const DeviceSettings& s);
    // ".oex": the names `O25`..`O35`.
    static void readOex(Runtime& rt, const QString& stem, DeviceSettings& s);
    static bool writeOex(Runtime& rt, const QString& stem, const DeviceSettings& s);
    // ".dex": the Outrel's 24 output names; false when the file is missing.
    static bool readDex(Runtime& rt, const QString& stem, DeviceSettings& s);
    // ".pgm": the program names; "Program 0".."Program 24" when missing.
    static void readPgm(Runtime& rt, const QString& stem, DeviceSettings& s);
    static bool writePgm(Runtime& rt, const QString& stem, const DeviceSettings& s);
};

// "fosc.cfg": the controllers' oscillator frequency in MHz; created with 40 when missing. A line
// that does not parse, or a frequency outside 1..96, is logged and gives 24.
int readOrCreateFosc(Runtime& rt);

// "btconfig.cfg": the Bluetooth host name and password, created with "tuvo" and "805619" when
// missing.
struct BluetoothNames {
    QString host;
    QString password;
};
BluetoothNames readOrCreateBtconfig(Runtime& rt);
bool writeBtconfig(Runtime& rt, const BluetoothNames& names);

// The configured room and external controllers: names and file names in parallel, in directory
// order.
struct DeviceList {
    QStringList names;
    QStringList files;
    int indexOf(const QString& name) const { return static_cast<int>(names.indexOf(name)); }
};
DeviceList readDeviceList(Runtime& rt);

}  // namespace velmar
