#include "events/update_sequence.h"

#include "devices/registry.h"
#include "events/commands.h"
#include "log/event_log.h"

namespace velmar {

void UpdateSequence::next(int ms) {
    UpdateAfterReset_.setInterval(ms);
    UpdateAfterReset_.start();
}

void UpdateSequence::tick() {
    if (rt_.flags.debugtimer)
        rt_.log.admem(QStringLiteral("aftres"));
    port_.AutoQuery.stop();
    switch (updateaftreset_) {
        case 0:
            inx_ = 0;
            rt_.actions.run(QStringLiteral("ReloadScheduledEvents"));
            if (options_.updateEvents) {
                rt_.actions.run(QStringLiteral("ShowEventsManager"));
                if (!rt_.actions.has(QStringLiteral("UploadEvents")))
                    rt_.log.admem(QStringLiteral("Event upload not available: Update Events (/e)"));
                next(100);
            }
            break;
        case 1:
            if (options_.resetDevices) {
                rt_.log.admem(QStringLiteral("update after restart"));
                commands_.reset_all_devs();
                next(15000);
            } else {
                next(10);
            }
            break;
        case 2:
        case 3:
        case 4:
            if (options_.updateTime) {
                commands_.settime({0, 0});
                next(300);
            } else {
                next(10);
            }
            break;
        case 5: {
            const auto& entry = registry_.rms[static_cast<std::size_t>(inx_)];
            if (inx_ < DeviceRegistry::kMaxPolled && entry.adrh != 0 && entry.adrl != 0) {
                ++inx_;
                next(500);
                --updateaftreset_;  // stay at this step
            }
            break;
        }
        case 6:
            UpdateAfterReset_.stop();
            rt_.flags.notstart = true;
            break;
        default:
            UpdateAfterReset_.stop();
            break;
    }
    port_.AutoQuery.pause(15000);
    ++updateaftreset_;
}

AfterRestart::AfterRestart(Runtime& rt, BusPort& port, Commands& commands,
                           const StartupOptions& options, QObject* parent)
    : QObject(parent), rt_(rt), port_(port), commands_(commands), options_(options) {
    connect(&timer, &QTimer::timeout, this, &AfterRestart::tick);
}

void AfterRestart::start(int ms, DeviceAddress device) {
    ticks_ = 0;
    device_ = device;
    timer.setInterval(ms);
    timer.start();
}

void AfterRestart::onRestartNotice(DeviceAddress device) {
    if (!isActive())
        start(3100, device);
}

void AfterRestart::tick() {
    if (rt_.flags.debugtimer)
        rt_.log.admem(QStringLiteral("aft"));
    if (!rt_.flags.uploading)
        commands_.set_time_all_devs();
    timer.setInterval(1000);
    if (++ticks_ < 3)
        return;
    if (options_.updateEvents &&
        !rt_.actions.run(QStringLiteral("UploadEvents"),
                         {QString::number(device_.adrh), QString::number(device_.adrl)})) {
        rt_.log.admem(QStringLiteral("Event upload not available: Update Events (/e) -> (") +
                      QString::number(device_.adrh) + QLatin1Char(',') +
                      QString::number(device_.adrl) + QLatin1Char(')'));
    }
    timer.stop();
    port_.AutoQuery.pause(7600);
}

}  // namespace velmar
