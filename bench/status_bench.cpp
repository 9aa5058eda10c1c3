// Decoding and publishing one room-controller status frame, as a fraction of the frame's own
// wire time at 115200 bit/s 8E1 (the doubled 52-byte frame: 104 bytes of 11 bits). Two cases:
// nothing changed since the previous frame, and every channel, output and input changed.
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

constexpr double kFrameWireSeconds = 104 * 11 / 115200.0;

using test::NullSerial;

void writeDevice(const QString& root) {
    QDir().mkpath(root + "devices aliases");
    QFile f(root + "devices aliases/55-1.dev");
    f.open(QIODevice::WriteOnly);
    f.write(test::deviceFile("Kitchen", 55, 1));
}

// The doubled status frame: channels at `raw`, outputs and inputs all on or all off.
QByteArray frame(int raw, bool on) {
    QByteArray m(52, '\0');
    m[0] = 55;
    m[1] = 1;
    m[2] = 's';
    for (int k = 1; k <= 8; ++k) {
        m[2 * k + 1] = static_cast<char>(raw >> 8);
        m[2 * k + 2] = static_cast<char>(raw & 0xFF);
    }
    for (int i : {19, 20, 21, 22, 23, 24})
        m[i] = on ? '\xFF' : '\0';
    return m + m;
}

struct World {
    explicit World(const QString& dir) : rig(dir, clock, &serial), decoder(rig.status) {
        writeDevice(dir);
        QDir().mkpath(dir + "logs");
        rig.registry.scanDevices();
        rig.registry.loadnames_ql();
    }
    SystemClock clock;
    NullSerial serial;
    test::ReceiveRig rig;
    StatusDecoder& decoder;
};

void report(benchmark::State& state) {
    // Time per frame divided by the frame's wire time.
    state.counters["of_wire_time"] =
        benchmark::Counter(kFrameWireSeconds * static_cast<double>(state.iterations()),
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void BM_StatusUnchanged(benchmark::State& state) {
    QTemporaryDir dir;
    World w(dir.path() + "/");
    const QByteArray f = frame(0x200, true);
    w.decoder.set_ql(f);
    for (auto _ : state)
        w.decoder.set_ql(f);
    report(state);
}

void BM_StatusAllChanged(benchmark::State& state) {
    QTemporaryDir dir;
    World w(dir.path() + "/");
    const QByteArray a = frame(0x100, true);
    const QByteArray b = frame(0x300, false);
    bool flip = false;
    for (auto _ : state) {
        w.decoder.set_ql(flip ? a : b);
        flip = !flip;
    }
    report(state);
}

BENCHMARK(BM_StatusUnchanged)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_StatusAllChanged)->Unit(benchmark::kMicrosecond);

}  // namespace
