#pragma once

#include <QString>
#include <QStringList>
#include <cstdint>

#include "base/runtime_flags.h"

namespace velmar {

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
void applySwitches(const QStringList& arguments, RuntimeFlags& flags, StartupOptions& options,
                   SwitchEffects& effects);

bool firstArgumentIs(const QStringList& arguments, const QString& sw);

}  // namespace velmar
