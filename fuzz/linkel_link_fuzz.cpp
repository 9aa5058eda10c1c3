// Random bytes from a Linkel through the link: the login, then transparent-mode bytes handed to
// the receive side, or query-mode records handed to the status decoding and to the Linkel's
// own status record. The input is cut into reads of random sizes with link timer ticks between
// them. Nothing may crash, hang or read past a record; the sanitizers watch.
#include <QCoreApplication>
#include <QDir>
#include <QTemporaryDir>
#include <cstdint>

#include "base/clock.h"
#include "bus/linkel_link.h"
#include "devices/linkel_status.h"
#include "devices/status_decoder.h"
#include "fuzz_support.h"
#include "support/bus_helpers.h"
#include "support/receive_rig.h"

namespace {

using namespace velmar;

struct World {
    World()
        : rig(dir.path() + "/", clock, serial, handlers, programming),
          status(StatusDecoderContext{rig.root, rig.log, rig.logFiles, clock, rig.registry,
                                      rig.writer, rig.AutoQuery, rig.timing, rig.settings,
                                      rig.flags, rig.tcpIndexInc, linkelCompanion, rig.audioext,
                                      rig.wasalarm, rig.alarmextender, nullptr}),
          linkelStatus(rig.root, rig.log, clock, rig.registry),
          link(LinkelLink::Context{
                   rig.log, rig.flags, rig.AutoQuery, timerTcp, tcpqueryen,
                   [this](const QByteArray& b) { rig.receive.ReadFromEthernet(b); },
                   [this](const QByteArray& r) { status.set_ql_record(r); },
                   [this](const QByteArray& r) { linkelStatus.set_status_linkel(r); }},
               LinkelNetConfig{}) {
        rig.addDevice(55, 1, "Kitchen");
        // The Linkel itself (0-254), so that its own status record is decoded.
        QDir().mkpath(dir.path() + "/devs");
        QFile linkel(dir.path() + "/devs/linkel.cfg");
        linkel.open(QIODevice::WriteOnly);
        linkel.write("000254\r\nLinkel\r\n");
        linkel.close();
        rig.registry.scanDevices();
        rig.registry.loadnames_ql();
        rig.registry.readethernetdevs();
        rig.tcpIndexInc = 1;
        rig.decoder.disablebluetooth = true;
        link.reply = [](const QByteArray&) {};
        fuzz::silenceLog(dir.path());
    }
    QTemporaryDir dir;
    SystemClock clock;
    test::NullSerial serial;
    ReceivedMessageHandlers handlers;
    ProgrammingEvents programming;
    test::ReceiveRig rig;
    bool linkelCompanion = true;
    bool tcpqueryen = false;
    StatusDecoder status;
    LinkelStatus linkelStatus;
    QTimer timerTcp;
    LinkelLink link;
};

World& world() {
    fuzz::application("linkel_link_fuzz");
    static World w;
    return w;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    World& w = world();
    if (size < 1)
        return 0;
    // The first byte picks the mode; the link is logged in before the rest arrives.
    w.link.sendsoc(data[0] & 1 ? 1 : 3);
    w.link.received(QByteArray(6, '\0'));
    w.link.received(">");
    // Then reads: a size byte (0..63 bytes follow) and a tick byte (0..15 link ticks after).
    std::size_t at = 1;
    while (at + 2 <= size) {
        const std::size_t n = std::min<std::size_t>(data[at] & 63, size - at - 2);
        const int ticks = data[at + 1] & 15;
        at += 2;
        w.link.received(QByteArray(reinterpret_cast<const char*>(data + at), static_cast<int>(n)));
        at += n;
        for (int i = 0; i < ticks; ++i)
            w.link.TimertcpTimer();
    }
    for (int i = 0; i < 30; ++i)
        w.link.TimertcpTimer();
    w.link.KillSocket();
    return 0;
}
