// Random bytes from a Linkel through the link: the login, then transparent-mode bytes handed to
// the receive side, or query-mode records handed to the status decoding and to the Linkel's
// own status record. The input is cut into reads of random sizes with link timer ticks between
// them. Nothing may crash, hang or read past a record; the sanitizers watch.
//
// The link never connects: its login starts without a socket and the bytes are fed to it as
// the socket would, so nothing leaves the machine. Every input gets a fresh data root, a fake
// clock and new state, so that a crash reproduces from the input alone.
#include <QDir>
#include <QFile>
#include <QTimer>
#include <cstdint>
#include <memory>

#include "bus/linkel_link.h"
#include "fuzz_support.h"
#include "support/bus_helpers.h"
#include "support/fake_clock.h"
#include "support/receive_rig.h"

namespace {

using namespace velmar;

// A Linkel on loopback, should anything ever try to connect.
LinkelNetConfig loopbackLinkel() {
    LinkelNetConfig c;
    c.address = QStringLiteral("127.0.0.1");
    c.port = 9;
    return c;
}

struct World {
    World() : rig(tmp.root(), clock, &serial) {
        rig.addDevice(55, 1, "Kitchen");
        // The Linkel itself (0-254), so that its own status record is decoded.
        QDir().mkpath(tmp.root() + "devs");
        QFile linkel(tmp.root() + "devs/linkel.cfg");
        if (linkel.open(QIODevice::WriteOnly))
            linkel.write("000254\r\nLinkel\r\n");
        linkel.close();
        rig.registry.scanDevices();
        rig.registry.loadnames_ql();
        rig.registry.readethernetdevs();
        rig.startup.TCP_INDEX_INC = 1;
        rig.startup.linkel_companion = true;
        rig.modules.events.bluetooth.disablebluetooth = true;
        link().setConfig(loopbackLinkel());
        link().reply = [](const QByteArray&) {};
    }
    LinkelLink& link() { return rig.modules.bus.linkel; }
    fuzz::TempRoot tmp;
    test::FakeClock clock;
    test::NullSerial serial;
    test::ReceiveRig rig;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1)
        return 0;
    fuzz::application("linkel_link_fuzz");
    auto world = std::make_unique<World>();
    World& w = *world;
    // The first byte picks the mode; the link is logged in before the rest arrives.
    w.link().beginLogin(data[0] & 1 ? 1 : 3);
    w.link().received(QByteArray(6, '\0'));
    w.link().received(">");
    // Then reads: a size byte (0..63 bytes follow) and a tick byte (0..15 link ticks after).
    std::size_t at = 1;
    while (at + 2 <= size) {
        const std::size_t n = std::min<std::size_t>(data[at] & 63, size - at - 2);
        const int ticks = data[at + 1] & 15;
        at += 2;
        w.link().received(
            QByteArray(reinterpret_cast<const char*>(data + at), static_cast<int>(n)));
        at += n;
        for (int i = 0; i < ticks; ++i) {
            w.clock.advanceMs(5);
            w.link().TimertcpTimer();
        }
    }
    for (int i = 0; i < 30; ++i)
        w.link().TimertcpTimer();
    w.link().KillSocket();
    return 0;
}
