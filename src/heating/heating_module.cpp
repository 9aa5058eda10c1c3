#include "heating/heating_module.h"

#include "lang/locale_number.h"

namespace velmar {

HeatingModule::HeatingModule(Runtime& runtime, BusModule& bus, DevicesModule& devicesModule)
    : rt(runtime), devices(devicesModule), status(runtime, bus.port, devicesModule.files, tables) {
    devices.status.addListener(
        [this](const StatusChange& change) { status.statusAccepted(change); });
}

void HeatingModule::load() {
    loadHeatingTables(rt.root, rt.log, QString::number(localeNumber()), tables);
}

}  // namespace velmar
