#pragma once

#include <QString>
#include <QStringList>
#include <cstdint>

namespace velmar {

// Start-up flags set by the command-line switches and read across the program.
struct StartupFlags {
    bool offline = false;
    bool help = false;
    bool mobile = false;
    bool admins = false;
    bool superadmin = false;
    bool debugtimer = false;
    bool obsolete = false;
    bool compact_layers = true;
    bool tcpextendedddress = false;
    std::int32_t TCP_INDEX_INC = 0;
    bool via_linkel = false;
    bool linkel_companion = false;
    bool tcpqueryen = false;
    bool querydevdisable = false;
    std::int32_t timer_start = 30;
};

// The three start-up option boxes (and the hidden fourth).
struct StartupOptions {
    bool updateTime = false;
    bool updateEvents = false;
    bool resetDevices = false;
    bool updateConfiguration = false;
};

// What the switches ask of the main window besides the flags.
struct SwitchEffects {
    bool cancelRequested = false;       // "/cancel": `Cancelbut` 2000 ms, enabled
    int deviceTableRebuilds = 0;        // "/offline", "/viatcp", "/tcpquery", "/Linkel"
    bool disableOneHour = false;        // "/offline"
    bool linkelMenu = false;            // "/Linkel": configuration entries hidden, window hidden
    bool showAdministration = false;    // "/admin"
    bool showAdministrationCD = false;  // "/superadmin"
    bool applyAdminSet = false;         // "/admin"
};

// The switch list shown in the Results pane for "/h", "/?" and "/H".
extern const char kHelpText[];

bool isHelpSwitch(const QString& argument);

// Applies the documented switches left to right; a later switch overrides an earlier one.
// Case is ignored except for the help switches; unknown arguments are ignored; "/adl" and
// "/cdr" act only as the first argument and are handled elsewhere.
void applySwitches(const QStringList& arguments, StartupFlags& flags, StartupOptions& options,
                   SwitchEffects& effects);

bool firstArgumentIs(const QStringList& arguments, const QString& sw);

}  // namespace velmar
