// The running figures for people and scripts: SIGUSR1 logs one line and rewrites
// "logs/manager.status".
#include <signal.h>

#include <QDeadlineTimer>
#include <QRegularExpression>

#include "e2e_fixture.h"

namespace velmar::test {
namespace {

class StatusReportE2e : public E2eTest {};

TEST_F(StatusReportE2e, Sigusr1LogsTheFiguresAndWritesTheFile) {
    ASSERT_TRUE(sim.addController({55, 1}, sim::ControllerType::Quartel));
    addDevice(55, 1, "Kitchen");
    startVelmar({"/cancel"});
    // Polls went out and were answered before the figures are asked for.
    ASSERT_TRUE(waitForFrame(bytes({1, 55, 1, 'q'}), 15000));
    // A second poll: the answer to the first has been taken by then.
    QDeadlineTimer deadline(15000);
    while (framesEqual(bytes({1, 55, 1, 'q'})).size() < 2 && !deadline.hasExpired())
        pump(50);
    ::kill(static_cast<pid_t>(velmar.processId()), SIGUSR1);
    ASSERT_TRUE(waitForLog("Status: uptime ", 10000)) << output().toStdString();
    const QRegularExpression line(QStringLiteral(
        "Status: uptime 0d 00:\\d\\d:\\d\\d, frames sent ([1-9]\\d*), received ([1-9]\\d*), echo "
        "failures \\d+, serial reconnects 0, Linkel reconnects 0, panels connected 0, event "
        "files waiting 0, log write failures 0"));
    EXPECT_TRUE(line.match(output()).hasMatch()) << output().toStdString();
    // Written before the line, and again each minute: the last version is read.
    const QByteArray file = tmp.read("logs/manager.status");
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^uptime_s=\\d+\nframes_sent=[1-9]"))
                    .match(QString::fromLatin1(file))
                    .hasMatch())
        << file.toStdString();
    EXPECT_TRUE(file.endsWith("log_write_failures=0\n")) << file.toStdString();
    // The process is still running and stops normally.
    EXPECT_EQ(stopVelmar(), 0);
}

}  // namespace
}  // namespace velmar::test
