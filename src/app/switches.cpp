#include "app/switches.h"

namespace velmar {

const char kHelpText[] =
    "Params:\r\n"
    "/adl\tGenerate Event Names for recording application - \"Audiograbber\", (notifications of "
    "events for \"Soundbox.exe\")\r\n"
    "/ne\tDo not update Events to devices\r\n"
    "/nd\tDo not delay on start\r\n"
    "/nr\tDo not reset devices on start\r\n"
    "/offline\tUse for remote controll when no hardware is locally connected\r\n"
    "/debug\tWerbose mode for detection of problems\r\n"
    "/cdr\tGenerate input files for CorelDraw (creating visualisation objects for "
    "Panorama.exe)\r\n"
    "/e\tUpdate Events to all devices on start\r\n"
    "/t\tSet Time in all devices on start\r\n"
    "/r\tRestart all devices on start\r\n"
    "/mobile\tGenerate Files for mobile or PDA Remote Controller\r\n"
    "/cancel\tDo nothing on start\r\n"
    "\r\n"
    "\r\n";

bool isHelpSwitch(const QString& argument) {
    return argument == QLatin1String("/h") || argument == QLatin1String("/?") ||
           argument == QLatin1String("/H");
}

bool firstArgumentIs(const QStringList& arguments, const QString& sw) {
    return !arguments.isEmpty() && arguments.first().compare(sw, Qt::CaseInsensitive) == 0;
}

void applySwitches(const QStringList& arguments, RuntimeFlags& flags, StartupOptions& options,
                   SwitchEffects& effects) {
    for (const QString& arg : arguments) {
        auto is = [&arg](const char* sw) {
            return arg.compare(QLatin1String(sw), Qt::CaseInsensitive) == 0;
        };
        if (is("/e"))
            options.updateEvents = true;
        if (is("/ne"))
            options.updateEvents = false;
        if (is("/t"))
            options.updateTime = true;
        if (is("/nt"))
            options.updateTime = false;
        if (is("/r"))
            options.resetDevices = true;
        if (is("/nr"))
            options.resetDevices = false;
        if (is("/nd"))
            flags.timer_start = 1;
        if (is("/cancel"))
            effects.cancelRequested = true;
        if (is("/offline")) {
            flags.offline = true;
            effects.disableOneHour = true;
            ++effects.deviceTableRebuilds;
        }
        if (is("/viatcp")) {
            flags.via_linkel = true;
            ++effects.deviceTableRebuilds;
        }
        if (is("/tcpquery")) {
            flags.via_linkel = true;
            flags.tcpqueryen = true;
            ++effects.deviceTableRebuilds;
        }
        if (is("/Linkel")) {
            flags.via_linkel = true;
            ++effects.deviceTableRebuilds;
            flags.tcpqueryen = false;
            flags.linkel_companion = true;
            effects.linkelMenu = true;
            flags.querydevdisable = true;
            flags.timer_start = 1;
        }
        if (is("/admin")) {
            flags.admins = true;
            effects.showAdministration = true;
            effects.applyAdminSet = true;
        }
        if (is("/superadmin")) {
            flags.superadmin = true;
            effects.showAdministrationCD = true;
        }
        if (is("/mobile"))
            flags.mobile = true;
        if (is("/debug"))
            flags.debugtimer = true;
        if (is("/obsolete"))
            flags.obsolete = true;
        if (is("/trunc"))
            flags.compact_layers = false;
        if (is("/extendedaddress")) {
            flags.tcpextendedddress = true;
            flags.TCP_INDEX_INC = 3;
        }
        if (isHelpSwitch(arg))
            flags.help = true;
    }
}

}  // namespace velmar
