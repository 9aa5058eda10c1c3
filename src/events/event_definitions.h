#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <array>
#include <vector>

#include "events/event_compiler.h"
#include "log/runtime.h"

namespace velmar {

// What a device's event set is made of: the names on its configuration (device files, ".dex",
// ".pgm", "extern.evs"). The rebuild writes one line per event into each of the five
// line-parallel definition files "events\<type>\<H>-<L>" + ".lev", ".iev", ".nev", ".sev",
// ".cev", and one request file per output, program and IR macro under "AllEvents\<device>\".
struct DeviceEventSource {
    QString name;  // D
    QString type = QStringLiteral("Quartel");
    QString adrh, adrl;            // address texts
    bool outrel = false;           // the device has the Outrel option
    QStringList outputs;           // O1..O24
    QStringList lightControllers;  // LightContr1.. (1..3 have events)
    QStringList programs;          // the program list: "Program 0".."Program 24" by default
    QStringList adcs;              // ADC1..ADC8
    QStringList digitalInputs;     // DigitalIn1..DigitalIn8
    QStringList fastInputs;        // IntInp1..IntInp8
    QStringList outrelOutputs;     // the Outrel's 24 output names
    // Each Outrel output's action list: "N/A" then three actions.
    std::array<QStringList, 24> outrelActions;
    QStringList externalPrograms;  // the Outrel's external programs ("extern.evs")
};

// The device's event lists as the configuration form's pickers hold them (`EvntID`,
// `evntname`, `SignalName`, `EvntState`), parallel.
struct PickerEvents {
    QStringList EvntID;
    QStringList evntname;
    QStringList SignalName;
    QStringList EvntState;
    void clear() { *this = PickerEvents{}; }
};

// The stem of a device's definition files: "events\<type>\<H>-<L>".
QString eventFilesStem(const QString& type, const QString& adrh, const QString& adrl);

// True when the five files exist with one line count (a set cut short by a failed write counts
// as missing).
bool eventFilesComplete(const DataRoot& root, const QString& stem);

// `recreateevents`: rebuilds the device's definition files (not for 1-1, the heating
// controller's own) when one is missing or `force`; the Outrel's rebuild first rewrites the
// external programs' set at 2-1. Every file is built in memory and put in place whole, so a
// failed write never leaves the five unequal. Returns false when nothing was rebuilt or a write
// failed (logged).
bool recreateevents(Runtime& rt, const DeviceEventSource& device, bool force);

// `recreateexternprograms`: the lines of the external programs' set ("Bat" + n), and their
// request files, and the security zones' request files under "AllEvents\Secu".
struct EventLines {
    QStringList lev, iev, nev, sev, cev;
};
EventLines recreateexternprograms(Runtime& rt, const DeviceEventSource& device);

// `getoutputsnames`: the three request files of each of the room controller's 24 outputs.
void getoutputsnames(Runtime& rt, const DeviceEventSource& device);

// `cevt`: an event request file of one line; its folder (one level) is created. Logged on
// failure.
bool cevt(Runtime& rt, const QString& relativePath, const QString& line);

// True when the text contains none of "(None)", "(Min;Max)", "(Warning)", "(Alarm)", "(Error)".
bool chk_external(const QString& text);

// `readevents`: the device's lists, when ".iev", ".nev", ".sev" and ".lev" exist with one line
// count; otherwise empty.
PickerEvents readevents(Runtime& rt, const QString& type, const QString& adrh, const QString& adrl);

// `convert_eventc`: compiles a picker's text. A text in the list compiles by its identifier and
// state; "lExtDev-..." and "lDirEvt-..." are the text forms of direct codes (the latter aims at
// another device: its address fills bytes 5 and 6); any other text gives 255 x 5 and five zeros,
// and a text that is not empty is logged, naming the picker.
Compiled<EventArray> convert_eventc(Runtime& rt, const PickerEvents& events, const QString& text,
                                    const QString& picker);

// `clear_events_ram`: the 22 scheduler tables of a device in their empty image: 260 bytes each,
// byte 0 the count (254, or 39 for an alarm device), the address, the command letter ("0".."9",
// ":", then "A".."K"), bytes 4..257 255.
std::array<QByteArray, 22> clear_events_ram(int adrh, int adrl, bool alarmEv = false);

}  // namespace velmar
