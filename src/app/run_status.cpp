#include "app/run_status.h"

#include "base/dir_listing.h"
#include "base/text_file.h"

namespace velmar {

namespace {

QString uptimeText(std::int64_t s) {
    const std::int64_t days = s / 86400;
    s %= 86400;
    return QStringLiteral("%1d %2:%3:%4")
        .arg(days)
        .arg(s / 3600, 2, 10, QLatin1Char('0'))
        .arg(s / 60 % 60, 2, 10, QLatin1Char('0'))
        .arg(s % 60, 2, 10, QLatin1Char('0'));
}

}  // namespace

RunStatus::RunStatus(Runtime& rt) : rt_(rt), startedMs_(rt.clock.monotonicMs()) {}

RunStatus::Figures RunStatus::figures() const {
    const RunCounters& c = rt_.counters;
    Figures f;
    f.uptimeS = (rt_.clock.monotonicMs() - startedMs_) / 1000;
    f.framesSent = c.framesSent.load(std::memory_order_relaxed);
    f.framesReceived = c.framesReceived.load(std::memory_order_relaxed);
    f.echoFailures = c.echoFailures.load(std::memory_order_relaxed);
    f.serialReconnects = c.serialReconnects.load(std::memory_order_relaxed);
    f.linkelReconnects = c.linkelReconnects.load(std::memory_order_relaxed);
    f.panelsConnected = c.panelsConnected.load(std::memory_order_relaxed);
    f.logWriteFailures = c.logWriteFailures.load(std::memory_order_relaxed);
    // Once a minute or on request: a listing of "emails\" is cheap at that rate.
    f.eventFilesWaiting =
        listDir(rt_.root.path(QStringLiteral("emails")), QStringLiteral("*.run")).size();
    return f;
}

QString RunStatus::line(const Figures& f) {
    return QStringLiteral(
               "Status: uptime %1, frames sent %2, received %3, echo failures %4, serial "
               "reconnects %5, Linkel reconnects %6, panels connected %7, event files waiting "
               "%8, log write failures %9")
        .arg(uptimeText(f.uptimeS))
        .arg(f.framesSent)
        .arg(f.framesReceived)
        .arg(f.echoFailures)
        .arg(f.serialReconnects)
        .arg(f.linkelReconnects)
        .arg(f.panelsConnected)
        .arg(f.eventFilesWaiting)
        .arg(f.logWriteFailures);
}

QByteArray RunStatus::fileText(const Figures& f) {
    const std::pair<const char*, std::int64_t> items[] = {
        {"uptime_s", f.uptimeS},
        {"frames_sent", f.framesSent},
        {"frames_received", f.framesReceived},
        {"echo_failures", f.echoFailures},
        {"serial_reconnects", f.serialReconnects},
        {"linkel_reconnects", f.linkelReconnects},
        {"panels_connected", f.panelsConnected},
        {"event_files_waiting", f.eventFilesWaiting},
        {"log_write_failures", f.logWriteFailures},
    };
    QByteArray out;
    for (const auto& [key, value] : items)
        out += QByteArray(key) + '=' + QByteArray::number(static_cast<qlonglong>(value)) + '\n';
    return out;
}

void RunStatus::writeFile(const Figures& f) {
    QString error;
    const bool ok =
        writeFileAtomic(rt_.root.path(QStringLiteral("logs/manager.status")), fileText(f), &error);
    // Logged once per failure spell, not once a minute.
    if (!ok && !writeFailed_)
        rt_.log.admem(QLatin1String("Error writing file: logs\\manager.status -> ") + error);
    writeFailed_ = !ok;
}

void RunStatus::report() {
    const Figures f = figures();
    // The file first: whoever sees the line finds the same figures in it.
    writeFile(f);
    rt_.log.admem(line(f));
}

void RunStatus::minute() {
    const Figures f = figures();
    writeFile(f);
    if (rt_.flags.debugtimer)
        rt_.log.admem(line(f));
}

}  // namespace velmar
