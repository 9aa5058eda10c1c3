#include "events/query_cycle.h"

#include <QFile>

#include "base/clock.h"
#include "devices/registry.h"
#include "events/commands.h"
#include "events/event_files.h"
#include "events/rotation.h"
#include "log/event_log.h"
#include "log/log_files.h"

namespace velmar {

void QueryCycle::debugLog(const QString& text) {
    if (ctx_.flags.debugtimer)
        ctx_.log.admem(text);
}

void QueryCycle::restart() {
    const DeviceRegistry& reg = ctx_.registry;
    ctx_.state.current_device =
        firstRoomIndex(reg.quartel_max, reg.extern_device_index, ctx_.settings.disableExtern);
    ctx_.state.backup_current_device = ctx_.state.current_device;
    ctx_.state.extern_notroom = false;
}

// Silence is measured on the monotonic clock: a step of the wall clock neither hides a silent
// controller nor makes every controller look silent.
bool QueryCycle::silent(int index) const {
    const deviceadr& e = ctx_.registry.rms[static_cast<std::size_t>(index)];
    return ctx_.clock.monotonicMs() - e.recentMs > kSilentMs;
}

void QueryCycle::announce(const char* source, const char* target) {
    const QString from = QLatin1String("audios\\") + QLatin1String(source) + ctx_.audioext;
    const QString to = QLatin1String("audio to play\\") + QLatin1String(target) + ctx_.audioext;
    if (ctx_.logFiles.cp(from, to, false))
        return;
    // A missing recording is an installation without announcements, not a fault.
    if (QFile::exists(ctx_.root.path(from)))
        ctx_.log.admem(QLatin1String("Error copying file: ") + from + QLatin1String(" -> ") + to);
}

void QueryCycle::tick() {
    QueryTimer& timer = ctx_.AutoQuery;
    const StartupFlags& flags = ctx_.flags;
    const TimingSettings& timing = ctx_.timing;
    if (!flags.tcpqueryen && ((flags.via_linkel && !flags.linkel_companion) || flags.offline)) {
        timer.stop();
        return;
    }
    timer.stop();
    if (copyScheduled_) {
        copyScheduled_ = false;
        ctx_.actions.runScheduledEvents();
    }
    const EventFiles::Step files = ctx_.files.step();
    if (files.taken)
        timer.set(QueryTimer::Branch::Normal, timing.EMAIL_RUN);
    if (flags.querydevdisable)
        return;

    DeviceRegistry& reg = ctx_.registry;
    QueryCycleState& s = ctx_.state;
    const int count = std::min(reg.quartel_max, DeviceRegistry::kMaxPolled);
    if (s.current_device < 0 || s.current_device >= count)
        s.current_device = 0;
    // With no controller there is no device work: never a poll or a reset of 0,0.
    const bool haveDevice = count > 0;
    deviceadr* entry = haveDevice ? &reg.rms[static_cast<std::size_t>(s.current_device)] : nullptr;

    switch (timer.branch()) {
        case QueryTimer::Branch::Delay:
            debugLog(QStringLiteral("delay 3000"));
            timer.set(QueryTimer::Branch::Normal, QueryTimer::kAfterDelayMs);
            timer.start();
            return;
        case QueryTimer::Branch::Wait:
            debugLog(QStringLiteral("wait for reset dev"));
            if (haveDevice && silent(s.current_device)) {
                ctx_.log.admem(dateTimeText(ctx_.clock.now()) + QLatin1String(" Device (") +
                               QString::number(entry->adrh) + QLatin1Char(',') +
                               QString::number(entry->adrl) +
                               QLatin1String(") not responded. Turn off then on power supply"));
                entry->recent = ctx_.clock.now();
                entry->recentMs = ctx_.clock.monotonicMs();
                int next = s.current_device + 1;
                const deviceadr& n = reg.rms[static_cast<std::size_t>(std::min(next, count))];
                if (next >= count || n.adrh == 0 || n.adrl == 0)
                    next = 0;
                s.current_device = next;
                announce("fail to reset device", "fail reset dev");
            }
            timer.set(QueryTimer::Branch::Poll, timing.QUERY_DEV);
            timer.start();
            return;
        case QueryTimer::Branch::Poll:
            if (!haveDevice)
                break;
            if (silent(s.current_device)) {
                const auto h = static_cast<std::uint8_t>(entry->adrh);
                const auto l = static_cast<std::uint8_t>(entry->adrl);
                ctx_.commands.run_command(h, l, QByteArrayLiteral("eRESET"));
                timer.stop();
                timer.set(QueryTimer::Branch::Wait, timing.WAIT_FOR_RESET_DEV);
                timer.start();
                entry->recent = ctx_.clock.now();
                entry->recentMs = ctx_.clock.monotonicMs();
                ctx_.log.admem(QLatin1String("Trying restart device which not responded for 4 "
                                             "minutes (") +
                               QString::number(h) + QLatin1Char(',') + QString::number(l) +
                               QLatin1Char(')'));
                announce("trying reseting device", "trying reset dev");
                return;
            }
            ctx_.commands.query_device(static_cast<std::uint8_t>(entry->adrh),
                                       static_cast<std::uint8_t>(entry->adrl));
            debugLog(QLatin1String("autoq ") + entry->name);
            rotateAfterPoll(s, reg.rms, count, reg.extern_device_index,
                            ctx_.settings.disableExtern);
            break;
        case QueryTimer::Branch::Normal:
            break;
    }
    // The interval rule: straight on to the next waiting file, otherwise the next poll.
    timer.stop();
    if (files.waiting)
        timer.set(QueryTimer::Branch::Normal, timing.EMAIL_RUN);
    else
        timer.set(QueryTimer::Branch::Poll, timing.QUERY_DEV);
    timer.start();
}

}  // namespace velmar
