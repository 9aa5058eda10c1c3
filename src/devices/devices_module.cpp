#include "devices/devices_module.h"

namespace velmar {

DevicesModule::DevicesModule(Runtime& runtime, BusModule& busModule)
    : rt(runtime),
      bus(busModule),
      registry(runtime.root, runtime.log, runtime.clock),
      files(runtime.root, runtime.log, runtime.clock),
      status(runtime, registry, files, alarms),
      linkelStatus(runtime.root, runtime.log, runtime.clock, registry),
      texts(runtime, registry, files, alarms) {
    MessageDispatcher& messages = bus.messages;
    messages.setSenderLookup([this](DeviceAddress a) { return texts.sender(a); });
    messages.subscribe<msg::StatusBlock>(
        [this](const msg::StatusBlock& m) { status.set_ql(m.bytes); });
    messages.subscribe<msg::QueryRecord>(
        [this](const msg::QueryRecord& m) { status.set_ql_record(m.bytes); });
    messages.subscribe<msg::LinkelRecord>(
        [this](const msg::LinkelRecord& m) { linkelStatus.set_status_linkel(m.bytes); });
    messages.subscribe<msg::Text>([this](const msg::Text& m) { texts.react(m); });
    messages.subscribe<msg::Text>([this](const msg::Text& m) { texts.announce(m); },
                                  MessageDispatcher::Stage::Announce);
}

void DevicesModule::load() {
    for (int m = 1; m <= DeviceRegistry::kSenselModules; ++m)
        registry.load_sensel(m);
    registry.load_zonenames();
    registry.read_aliases();
    registry.loadnames_ql();
    registry.readethernetdevs();
}

void DevicesModule::scan() {
    registry.scanDevices();
}

}  // namespace velmar
