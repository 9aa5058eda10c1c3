// Random blocks through the whole receive side (relay blocks, markers, echo confirmation,
// the message decoder), with direct and Linkel addressing and each message offset. Nothing
// may crash or read past the block; the sanitizers watch.
#include <QCoreApplication>
#include <QDir>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdint>
#include <memory>

#include "base/clock.h"
#include "bus/frame_writer.h"
#include "bus/message_decoder.h"
#include "bus/receive_path.h"
#include "devices/registry.h"
#include "events/cycle_state.h"
#include "events/event_names.h"
#include "log/event_log.h"
#include "log/log_files.h"

namespace {

using namespace velmar;

struct NullSerial : SerialOutput {
    void writeFrame(const QByteArray&) override {}
};

struct World {
    World()
        : dir(),
          root(dir.path() + "/"),
          log(root, clock),
          logFiles(root, log, clock),
          writer(log, flags),
          names(root, log),
          registry(root, log, clock, names),
          decoder(DecoderContext{root, log, logFiles, clock, registry, writer, cycle, AutoQuery,
                                 timing, settings, audioext, admins, tcpIndexInc, debug, wasalarm,
                                 alarmextender},
                  handlers),
          receive(ReceivePath::Context{log, writer, decoder, programming, AutoQuery, timing, flags,
                                       debug, notstart, &serial, nullptr, nullptr}) {
        writer.setSerialOutput(&serial);
        QDir().mkpath(dir.path() + "/devices aliases");
        QDir().mkpath(dir.path() + "/emails");
        QFile f(dir.path() + "/devices aliases/55-1.dev");
        f.open(QIODevice::WriteOnly);
        f.write("Kitchen\r\nQuartel\r\n55\r\n1\r\n");
        f.close();
        registry.scanDevices();
        // The log goes nowhere: a file stands where its folder would be, so every line fails
        // fast instead of filling the disk.
        QFile logs(dir.path() + "/logs");
        logs.open(QIODevice::WriteOnly);
    }
    QTemporaryDir dir;
    SystemClock clock;
    DataRoot root;
    EventLog log;
    LogFiles logFiles;
    BusFlags flags;
    NullSerial serial;
    FrameWriter writer;
    EventNames names;
    DeviceRegistry registry;
    QueryCycleState cycle;
    QTimer AutoQuery;
    TimingSettings timing;
    Settings settings;
    QString audioext = QStringLiteral(".mp3");
    bool admins = true;
    std::int32_t tcpIndexInc = 0;
    bool debug = false;
    bool wasalarm = true;
    int alarmextender = 0;
    bool notstart = true;
    ReceivedMessageHandlers handlers;
    ProgrammingEvents programming;
    MessageDecoder decoder;
    ReceivePath receive;
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
    World& w = world();
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
