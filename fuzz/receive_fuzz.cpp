// Random blocks through the whole receive side (relay blocks, markers, echo confirmation,
// the message decoder), with direct and Linkel addressing and each message offset. Nothing
// may crash or read past the block; the sanitizers watch.
#include <QCoreApplication>
#include <QDir>
#include <QTemporaryDir>
#include <cstdint>

#include "base/clock.h"
#include "support/receive_rig.h"

namespace {

using namespace velmar;

struct NullSerial : SerialOutput {
    void writeFrame(const QByteArray&) override {}
};

struct World {
    World() : rig(dir.path() + "/", clock, serial, handlers, programming) {
        rig.addDevice(55, 1, "Kitchen");
        QDir().mkpath(dir.path() + "/emails");
        rig.registry.scanDevices();
        rig.admins = true;
        rig.wasalarm = true;
        // The log goes nowhere: a file stands where its folder would be, so every line fails
        // fast instead of filling the disk.
        QFile logs(dir.path() + "/logs");
        logs.open(QIODevice::WriteOnly);
    }
    QTemporaryDir dir;
    SystemClock clock;
    NullSerial serial;
    ReceivedMessageHandlers handlers;
    ProgrammingEvents programming;
    velmar::test::ReceiveRig rig;
};

World& world() {
    static int argc = 1;
    static char name[] = "receive_fuzz";
    static char* argv[] = {name, nullptr};
    static QCoreApplication app(argc, argv);
    static World w;
    return w;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    velmar::test::ReceiveRig& w = world().rig;
    if (size < 2)
        return 0;
    // The first byte picks the set-up; the rest is the block.
    const std::uint8_t mode = data[0];
    w.flags.linkel_addressing = mode & 1;
    w.tcpIndexInc = (mode >> 1) % 4 == 3 ? 1 : ((mode >> 1) % 4 == 2 ? 3 : 0);
    w.admins = mode & 8;
    w.decoder.disablebluetooth = true;  // keep the fuzzer from filling "emails"
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
