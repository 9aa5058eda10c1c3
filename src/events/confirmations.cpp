#include "events/confirmations.h"

#include <QFile>

#include "base/log_text.h"
#include "devices/registry.h"

namespace velmar {

void Confirmations::onText(const msg::Text& text) {
    if (text.command != QLatin1String("lEXEC"))
        return;
    const DeviceAddress from = text.sender;
    if (cycle_.autoquerycnter > 0)
        --cycle_.autoquerycnter;
    // The file sent to this controller, not merely the last one sent: with several controllers
    // executing, the last file may belong to another one.
    QString confirmedName = cycle_.evntname;
    if (const auto done = cycle_.confirm(from.adrh, from.adrl)) {
        confirmedName = done->evntname;
        if (!done->evntname.isEmpty())
            rt_.log.admemEvent(done->evntname);
        if (!done->path.isEmpty() && !QFile::remove(done->path) && QFile::exists(done->path))
            rt_.log.admem(QLatin1String("Error deleting direct event: ") + logText(done->path));
    }
    for (int i = 0; i < registry_.quartel_max; ++i) {
        const auto& e = registry_.rms[static_cast<std::size_t>(i)];
        if (e.adrh == from.adrh && e.adrl == from.adrl) {
            cycle_.current_device = i == 0 ? registry_.quartel_max - 1 : i - 1;
            cycle_.extern_notroom = false;
            break;
        }
    }
    // During an upload the query cycle stays held: the upload restarts it.
    if (rt_.flags.uploading)
        return;
    const TimingSettings& timing = rt_.settings.timing;
    port_.AutoQuery.stop();
    port_.AutoQuery.pause(confirmedName.toUpper().contains(QLatin1String("SECU"))
                              ? timing.OTHER_RECEPTION
                              : timing.SECU_RECEPTION);
}

}  // namespace velmar
