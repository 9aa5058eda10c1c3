// Random blocks through the whole receive side (relay blocks, markers, echo confirmation,
// the message decoder, the status decoder of room, external and heating controller frames),
// with direct and Linkel addressing and each message offset. Nothing may crash or read past
// the block; the sanitizers watch. Every input gets a fresh data root, a fake clock and new
// state, so that a crash reproduces from the input alone.
#include <QDir>
#include <cstdint>
#include <memory>

#include "fuzz_support.h"
#include "support/bus_helpers.h"
#include "support/fake_clock.h"
#include "support/receive_rig.h"

namespace {

using namespace velmar;

using test::NullSerial;

// The program's modules over a fresh data root with three controllers.
struct World {
    World() : rig(tmp.root(), clock, &serial) {
        rig.addDevice(55, 1, "Kitchen");
        rig.addDevice(2, 1, "Outside");
        rig.addDevice(1, 1, "Heating");
        rig.settings.smsadmins = QStringList{"600100200"};
        QDir().mkpath(tmp.root() + "emails");
        rig.registry.scanDevices();
        rig.registry.loadnames_ql();
        rig.startup.admins = true;
        rig.alarms.wasalarm = true;
    }
    fuzz::TempRoot tmp;
    test::FakeClock clock;
    NullSerial serial;
    test::ReceiveRig rig;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2)
        return 0;
    fuzz::application("receive_fuzz");
    auto world = std::make_unique<World>();
    test::ReceiveRig& w = world->rig;
    // The first byte picks the set-up; the rest is the block.
    const std::uint8_t mode = data[0];
    w.flags.linkel_addressing = mode & 1;
    w.startup.TCP_INDEX_INC = (mode >> 1) % 4 == 3 ? 1 : ((mode >> 1) % 4 == 2 ? 3 : 0);
    w.startup.admins = mode & 8;
    w.modules.events.bluetooth.disablebluetooth = true;  // keep the fuzzer from filling "emails"
    if (mode & 16)
        w.writer.Write_rs232(
            QByteArray("\x08\x37\x01"
                       "eRESET",
                       9));
    const QByteArray block(reinterpret_cast<const char*>(data + 1), static_cast<int>(size - 1));
    if (mode & 32)
        w.receive.ReadFromEthernet(block);
    else
        w.receive.processSerialBlock(block);
    return 0;
}
