// What is not built yet says so when it is asked for: the event upload of "Update Events" (at
// "Run" and after a controller's restart) and the configuration window's maintenance requests
// other than "QLSaveCfg".
#include <QDeadlineTimer>
#include <QFile>

#include "e2e_fixture.h"

namespace velmar::test {
namespace {

using sim::ControllerType;

class NotBuiltE2e : public E2eTest {
  protected:
    void SetUp() override {
        E2eTest::SetUp();
        ASSERT_TRUE(sim.addController({55, 1}, ControllerType::Quartel));
        addDevice(55, 1, "Kitchen");
    }
};

TEST_F(NotBuiltE2e, UpdateEventsSaysTheUploadIsNotAvailable) {
    startVelmar({"/nd", "/e"});
    ASSERT_TRUE(waitForLog("Event upload not available: Update Events (/e)"))
        << output().toStdString();
    // After the start-up phase a restarting controller would get its events.
    QDeadlineTimer deadline(40000);
    const QString line = QStringLiteral("Event upload not available: Update Events (/e) -> (55,1)");
    while (!output().contains(line) && !deadline.hasExpired()) {
        ASSERT_TRUE(sim.announceRestart({55, 1}));
        waitForLog(line, 3000);
    }
    EXPECT_TRUE(output().contains(line)) << output().toStdString();
    EXPECT_EQ(stopVelmar(), 0);
}

TEST_F(NotBuiltE2e, MaintenanceRequestsSayTheyAreNotAvailable) {
    startVelmar({"/cancel"});
    const char* const commands[] = {
        "QuartelFlash",         "QLUpdateProfiles", "QLUpdateIrCodes",
        "QLUpdateIrTimings",    "QLUpdateRfCodes",  "OLUpdatePrograms",
        "QLUpdateAccessRights", "QLInitCardReader", "QLCreateMifareCard",
    };
    for (const char* c : commands) {
        const QString command = QLatin1String(c);
        const QString name =
            QStringLiteral("support Kitchen - ") + command + QStringLiteral(".run");
        const QString folder = command == QLatin1String("QuartelFlash")
                                   ? QStringLiteral("maintanance/FirmwareUpdate/")
                                   : QStringLiteral("maintanance/Kitchen/");
        ASSERT_TRUE(tmp.exists(folder + name)) << name.toStdString();
        tmp.write("emails/" + name, tmp.read(folder + name));
    }
    for (const char* c : commands) {
        EXPECT_TRUE(waitForLog(
            QStringLiteral("Maintenance action not available: Kitchen - ") + QLatin1String(c),
            30000))
            << c << "\n"
            << output().toStdString();
    }
    EXPECT_EQ(stopVelmar(), 0);
}

}  // namespace
}  // namespace velmar::test
