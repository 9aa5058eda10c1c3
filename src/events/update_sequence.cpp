#include "events/update_sequence.h"

#include "devices/registry.h"
#include "events/commands.h"
#include "log/event_log.h"

namespace velmar {

void UpdateSequence::next(int ms) {
    ctx_.UpdateAfterReset.setInterval(ms);
    ctx_.UpdateAfterReset.start();
}

void UpdateSequence::tick() {
    if (ctx_.debugtimer)
        ctx_.log.admem(QStringLiteral("aftres"));
    ctx_.AutoQuery.stop();
    switch (updateaftreset_) {
        case 0:
            inx_ = 0;
            if (ctx_.reloadScheduledEvents)
                ctx_.reloadScheduledEvents();
            if (ctx_.options.updateEvents) {
                if (ctx_.showEventsManager)
                    ctx_.showEventsManager();
                if (!ctx_.uploadsEvents)
                    ctx_.log.admem(
                        QStringLiteral("Event upload not available: Update Events (/e)"));
                next(100);
            }
            break;
        case 1:
            if (ctx_.options.resetDevices) {
                ctx_.log.admem(QStringLiteral("update after restart"));
                ctx_.commands.reset_all_devs();
                next(15000);
            } else {
                next(10);
            }
            break;
        case 2:
        case 3:
        case 4:
            if (ctx_.options.updateTime) {
                ctx_.commands.settime(0, 0);
                next(300);
            } else {
                next(10);
            }
            break;
        case 5: {
            const auto& entry = ctx_.registry.rms[static_cast<std::size_t>(inx_)];
            if (inx_ < DeviceRegistry::kMaxPolled && entry.adrh != 0 && entry.adrl != 0) {
                ++inx_;
                next(500);
                --updateaftreset_;  // stay at this step
            }
            break;
        }
        case 6:
            ctx_.UpdateAfterReset.stop();
            ctx_.setNotstart(true);
            break;
        default:
            ctx_.UpdateAfterReset.stop();
            break;
    }
    ctx_.AutoQuery.pause(15000);
    ++updateaftreset_;
}

AfterRestart::AfterRestart(Context ctx, QObject* parent) : QObject(parent), ctx_(std::move(ctx)) {
    connect(&timer, &QTimer::timeout, this, &AfterRestart::tick);
}

void AfterRestart::start(int ms, int adrh, int adrl) {
    ticks_ = 0;
    adrh_ = adrh;
    adrl_ = adrl;
    timer.setInterval(ms);
    timer.start();
}

void AfterRestart::tick() {
    if (ctx_.debugtimer)
        ctx_.log.admem(QStringLiteral("aft"));
    ctx_.commands.set_time_all_devs();
    timer.setInterval(1000);
    if (++ticks_ < 3)
        return;
    if (ctx_.options.updateEvents) {
        if (ctx_.uploadEvents)
            ctx_.uploadEvents(adrh_, adrl_);
        else
            ctx_.log.admem(QStringLiteral("Event upload not available: Update Events (/e) -> (") +
                           QString::number(adrh_) + QLatin1Char(',') + QString::number(adrl_) +
                           QLatin1Char(')'));
    }
    timer.stop();
    ctx_.AutoQuery.pause(7600);
}

}  // namespace velmar
