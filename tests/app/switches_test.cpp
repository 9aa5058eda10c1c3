#include "app/switches.h"

#include <gtest/gtest.h>

namespace velmar {
namespace {

// Every flag, option and effect that differs from its default, in a fixed order.
std::string parsed(const QStringList& args) {
    RuntimeFlags f;
    StartupOptions o;
    SwitchEffects e;
    applySwitches(args, f, o, e);
    QStringList out;
    auto add = [&out](bool on, const char* name) {
        if (on)
            out << name;
    };
    add(f.offline, "offline");
    add(f.help, "help");
    add(f.mobile, "mobile");
    add(f.admins, "admins");
    add(f.superadmin, "superadmin");
    add(f.debugtimer, "debugtimer");
    add(f.obsolete, "obsolete");
    add(!f.compact_layers, "!compact_layers");
    add(f.tcpextendedddress, "tcpextendedddress");
    if (f.TCP_INDEX_INC != 0)
        out << QString("TCP_INDEX_INC=%1").arg(f.TCP_INDEX_INC);
    add(f.via_linkel, "via_linkel");
    add(f.linkel_companion, "linkel_companion");
    add(f.tcpqueryen, "tcpqueryen");
    add(f.querydevdisable, "querydevdisable");
    if (f.timer_start != 30)
        out << QString("timer_start=%1").arg(f.timer_start);
    add(o.updateTime, "updateTime");
    add(o.updateEvents, "updateEvents");
    add(o.resetDevices, "resetDevices");
    add(o.updateConfiguration, "updateConfiguration");
    add(e.cancelRequested, "cancel");
    if (e.deviceTableRebuilds != 0)
        out << QString("rebuilds=%1").arg(e.deviceTableRebuilds);
    add(e.disableOneHour, "disableOneHour");
    add(e.linkelMenu, "linkelMenu");
    add(e.showAdministration, "showAdministration");
    add(e.showAdministrationCD, "showAdministrationCD");
    add(e.applyAdminSet, "applyAdminSet");
    return out.join(' ').toStdString();
}

TEST(SwitchesTest, ArgumentListsToFlagsOptionsAndEffects) {
    const std::string linkel =
        "via_linkel linkel_companion querydevdisable timer_start=1 rebuilds=1 linkelMenu";
    const std::vector<std::pair<QStringList, std::string>> cases = {
        {{}, ""},
        {{"/e"}, "updateEvents"},
        {{"/e", "/ne"}, ""},
        {{"/ne", "/E"}, "updateEvents"},
        {{"/t", "/r"}, "updateTime resetDevices"},
        {{"/T", "/nt", "/R", "/NR"}, ""},
        {{"/nd", "/e"}, "timer_start=1 updateEvents"},
        {{"/cancel"}, "cancel"},
        {{"/OFFLINE"}, "offline rebuilds=1 disableOneHour"},
        {{"/viatcp"}, "via_linkel rebuilds=1"},
        {{"/tcpquery", "/viatcp"}, "via_linkel tcpqueryen rebuilds=2"},
        {{"/Linkel"}, linkel},
        {{"/linkel"}, linkel},
        {{"/tcpquery", "/LINKEL"},
         "via_linkel linkel_companion querydevdisable timer_start=1 rebuilds=2 linkelMenu"},
        {{"/admin"}, "admins showAdministration applyAdminSet"},
        {{"/SuperAdmin"}, "superadmin showAdministrationCD"},
        {{"/mobile", "/debug", "/obsolete", "/trunc"},
         "mobile debugtimer obsolete !compact_layers"},
        {{"/extendedaddress"}, "tcpextendedddress TCP_INDEX_INC=3"},
        {{"/h"}, "help"},
        {{"x", "/H"}, "help"},
        {{"/?"}, "help"},
        {{"/help", "/HELP", "-h", "/h ", "h"}, ""},
        {{"/adl", "/cdr", "/x", "e", "--headless", "", "/e/ne", "/nd2"}, ""},
    };
    for (const auto& [args, expected] : cases)
        EXPECT_EQ(parsed(args), expected) << args.join(' ').toStdString();
}

TEST(SwitchesTest, FirstArgumentOnly) {
    const std::vector<std::tuple<QStringList, const char*, bool>> cases = {
        {{"/adl"}, "/adl", true}, {{"/ADL", "/nd"}, "/adl", true}, {{"/nd", "/adl"}, "/adl", false},
        {{}, "/adl", false},      {{"/adl2"}, "/adl", false},      {{"/cdr"}, "/cdr", true},
    };
    for (const auto& [args, sw, expected] : cases)
        EXPECT_EQ(firstArgumentIs(args, sw), expected) << args.join(' ').toStdString();
}

TEST(SwitchesTest, HelpTextExactBytes) {
    const QByteArray expected =
        "Params:\r\n/adl\tGenerate Event Names for recording application - \"Audiograbber\", "
        "(notifications of events for \"Soundbox.exe\")\r\n/ne\tDo not update Events to "
        "devices\r\n/nd\tDo not delay on start\r\n/nr\tDo not reset devices on "
        "start\r\n/offline\tUse for remote controll when no hardware is locally "
        "connected\r\n/debug\tWerbose mode for detection of problems\r\n/cdr\tGenerate input "
        "files for CorelDraw (creating visualisation objects for Panorama.exe)\r\n/e\tUpdate "
        "Events to all devices on start\r\n/t\tSet Time in all devices on start\r\n/r\tRestart "
        "all devices on start\r\n/mobile\tGenerate Files for mobile or PDA Remote "
        "Controller\r\n/cancel\tDo nothing on start\r\n\r\n\r\n";
    EXPECT_EQ(QByteArray(kHelpText), expected);
}

}  // namespace
}  // namespace velmar
