// Decoder throughput on recorded blocks, as a ratio to the bus's own rate: at 115200 bit/s
// with 8E1 framing (11 bits a byte) the bus carries 10473 bytes a second, so a block of B bytes
// cannot arrive more often than 10473 / B times a second. "bus_ratio" is how many times faster
// than that the receive side handles it. The whole receive side runs, the status decoder and
// its publication included: a status frame is decoded and its files written as in the program.
// The text message (decoded, its alias looked up, logged) runs with "logs\all.logs" and its
// ".log" copy near 1 kB and near 1 MB: the cost of a line does not grow with the log.
#include <benchmark/benchmark.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "base/clock.h"
#include "devices/status_decoder.h"
#include "support/bus_helpers.h"
#include "support/receive_rig.h"

namespace {

using namespace velmar;

constexpr double kBusBytesPerSecond = 115200.0 / 11.0;

using test::NullSerial;

// Twenty room controllers and an alias for "lDOOR"; the program's modules over them.
struct World {
    explicit World(const QString& dir) : rig(dir + "/", clock, &serial) {
        QDir().mkpath(dir + "/aliases/Quartel");
        QDir().mkpath(dir + "/logs");
        for (int i = 1; i <= 20; ++i)
            rig.addDevice(55, i, QStringLiteral("Room %1").arg(i));
        QFile a(dir + "/aliases/Quartel/lDOOR.txt");
        a.open(QIODevice::WriteOnly);
        a.write("Front door opened\r\nRed\r\nDoor\r\n");
        a.close();
        rig.registry.scanDevices();
        rig.registry.loadnames_ql();
        rig.registry.read_aliases();
    }
    SystemClock clock;
    NullSerial serial;
    velmar::test::ReceiveRig rig;
};

void run(benchmark::State& state, const QByteArray& block, qint64 logBytes = 0) {
    QTemporaryDir dir;
    World w(dir.path());
    if (logBytes > 0) {
        const QByteArray line = "2026-12-09 10:11:12 :    Room 1 ->    Front door opened\r\n";
        QByteArray content;
        while (content.size() < logBytes)
            content += line;
        for (const char* name : {"/logs/all.logs", "/logs/all.log"}) {
            QFile f(dir.path() + name);
            f.open(QIODevice::WriteOnly);
            f.write(content);
        }
    }
    w.rig.receive.processSerialBlock(block);
    // The frame must have reached the status decoding: its cache file is there.
    if (block.size() > 2 && block[2] == 's' &&
        !QFile::exists(dir.path() + QStringLiteral("/logs/status/55-%1.stat").arg(int(block[1])))) {
        state.SkipWithError("the status frame was not decoded");
        return;
    }
    for (auto _ : state)
        w.rig.receive.processSerialBlock(block);
    const double perSecond = static_cast<double>(state.iterations());
    state.counters["blocks"] = benchmark::Counter(perSecond, benchmark::Counter::kIsRate);
    // Blocks handled per second divided by blocks the bus can carry per second.
    state.counters["bus_ratio"] =
        benchmark::Counter(perSecond * static_cast<double>(block.size()) / kBusBytesPerSecond,
                           benchmark::Counter::kIsRate);
}

QByteArray statusBlock() {
    QByteArray m(52, '\0');
    m[0] = 55;
    m[1] = 3;
    m[2] = 's';
    for (int i = 3; i < 52; ++i)
        m[i] = static_cast<char>(i);
    return m + m;  // a status frame and its copy
}

QByteArray textBlock() {
    return QByteArray("\x37\x01lDOOR", 7) + QByteArray(1, '\0');
}

QByteArray unknownBlock() {
    return QByteArray("\x03\x07lDOOR", 7) + QByteArray(1, '\0');
}

void BM_StatusFrame(benchmark::State& s) {
    run(s, statusBlock());
}
void BM_TextMessageLogged(benchmark::State& s) {
    run(s, textBlock(), s.range(0));
}
void BM_UnknownSender(benchmark::State& s) {
    run(s, unknownBlock());
}
BENCHMARK(BM_StatusFrame);
BENCHMARK(BM_TextMessageLogged)->Arg(1024)->Arg(1 << 20);
BENCHMARK(BM_UnknownSender);

}  // namespace
