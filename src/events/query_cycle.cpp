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
    if (rt_.flags.debugtimer)
        rt_.log.admem(text);
}

void QueryCycle::restart() {
    const DeviceRegistry& reg = registry_;
    state_.current_device =
        firstRoomIndex(reg.quartel_max, reg.extern_device_index, rt_.settings.disableExtern);
    state_.backup_current_device = state_.current_device;
    state_.extern_notroom = false;
}

// Silence is measured on the monotonic clock: a step of the wall clock neither hides a silent
// controller nor makes every controller look silent.
bool QueryCycle::silent(int index) const {
    const deviceadr& e = registry_.rms[static_cast<std::size_t>(index)];
    return rt_.clock.monotonicMs() - e.recentMs > kSilentMs;
}

void QueryCycle::announce(const char* source, const char* target) {
    const QString from = QLatin1String("audios\\") + QLatin1String(source) + rt_.settings.audioext;
    const QString to =
        QLatin1String("audio to play\\") + QLatin1String(target) + rt_.settings.audioext;
    if (rt_.logFiles.cp(from, to, false))
        return;
    // A missing recording is an installation without announcements, not a fault.
    if (QFile::exists(rt_.root.path(from)))
        rt_.log.admem(QLatin1String("Error copying file: ") + from + QLatin1String(" -> ") + to);
}

void QueryCycle::tick() {
    QueryTimer& timer = port_.AutoQuery;
    const RuntimeFlags& flags = rt_.flags;
    const TimingSettings& timing = rt_.settings.timing;
    if (!flags.tcpqueryen && ((flags.via_linkel && !flags.linkel_companion) || flags.offline)) {
        timer.stop();
        return;
    }
    // While a controller is being programmed nothing else goes out; the upload restarts the
    // cycle when it ends.
    if (flags.uploading) {
        timer.stop();
        return;
    }
    timer.stop();
    if (copyScheduled_) {
        copyScheduled_ = false;
        rt_.actions.run(QStringLiteral("RunScheduledEvents"));
    }
    const EventFiles::Step files = files_.step();
    if (files.taken)
        timer.set(QueryTimer::Branch::Normal, timing.EMAIL_RUN);
    if (flags.querydevdisable)
        return;

    DeviceRegistry& reg = registry_;
    QueryCycleState& s = state_;
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
                rt_.log.admem(dateTimeText(rt_.clock.now()) + QLatin1String(" Device (") +
                              QString::number(entry->adrh) + QLatin1Char(',') +
                              QString::number(entry->adrl) +
                              QLatin1String(") not responded. Turn off then on power supply"));
                entry->recent = rt_.clock.now();
                entry->recentMs = rt_.clock.monotonicMs();
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
                commands_.run_command({h, l}, QByteArrayLiteral("eRESET"));
                timer.stop();
                timer.set(QueryTimer::Branch::Wait, timing.WAIT_FOR_RESET_DEV);
                timer.start();
                entry->recent = rt_.clock.now();
                entry->recentMs = rt_.clock.monotonicMs();
                rt_.log.admem(QLatin1String("Trying restart device which not responded for 4 "
                                            "minutes (") +
                              QString::number(h) + QLatin1Char(',') + QString::number(l) +
                              QLatin1Char(')'));
                announce("trying reseting device", "trying reset dev");
                return;
            }
            commands_.query_device(
                {static_cast<std::uint8_t>(entry->adrh), static_cast<std::uint8_t>(entry->adrl)});
            debugLog(QLatin1String("autoq ") + entry->name);
            rotateAfterPoll(s, reg.rms, count, reg.extern_device_index, rt_.settings.disableExtern);
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
