#include "support/test_modules.h"

namespace velmar::test {

TestModules::TestModules(const QString& rootDir, const Clock& clock, SerialOutput* serial)
    : rt(rootDir, clock),
      bus(rt, AutoQueryTimer),
      devices(rt, bus),
      events(rt, bus, devices, options, UpdateAfterReset),
      panels(rt, bus, devices, events),
      config(rt, bus, devices, events),
      heating(rt, bus, devices) {
    setSerial(serial);
}

void TestModules::setSerial(SerialOutput* serial) {
    // The serial link's thread is never started: frames go to the test's output instead.
    bus.port.writer.setSerialOutput(serial);
    bus.receive.setOutputs(serial, &bus.linkel);
}

void TestModules::load() {
    for (Module* m :
         std::initializer_list<Module*>{&bus, &devices, &events, &panels, &config, &heating})
        m->load();
}

void TestModules::scan() {
    devices.scan();
    for (Module* m :
         std::initializer_list<Module*>{&bus, &devices, &events, &panels, &config, &heating})
        m->tablesBuilt();
}

void TestModules::started() {
    for (Module* m :
         std::initializer_list<Module*>{&bus, &devices, &events, &panels, &config, &heating})
        m->started();
}

}  // namespace velmar::test
