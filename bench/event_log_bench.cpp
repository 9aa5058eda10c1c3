// Cost of one event-log line with a 100 kB "all.logs" (the receive path logs every message),
// reported as a fraction of the wire time of a 23-byte frame at 115200 bit/s (8E1: 11 bits a
// byte).
#include <benchmark/benchmark.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "base/clock.h"
#include "base/data_root.h"
#include "log/event_log.h"

namespace {

constexpr double kFrameWireSeconds = 23 * 11 / 115200.0;

void fillLog(const QString& root, int bytes) {
    QDir().mkpath(root + "logs");
    QFile f(root + "logs/all.logs");
    f.open(QIODevice::WriteOnly | QIODevice::Truncate);
    const QByteArray line = "2026-12-09 10:11:12 :    Status frame from Living room decoded\r\n";
    for (int n = 0; n < bytes; n += line.size())
        f.write(line);
}

void BM_admem(benchmark::State& state, const char* text) {
    QTemporaryDir dir;
    const QString root = dir.path() + "/";
    fillLog(root, 100000);
    velmar::DataRoot dataRoot(root);
    velmar::SystemClock clock;
    velmar::EventLog log(dataRoot, clock);
    log.setLogSize(0);  // keep the file at its size: no rotation during the run
    int n = 0;
    for (auto _ : state) {
        log.admem(QString::fromLatin1(text));
        // Keep "all.logs" near 100 kB.
        if (++n % 200 == 0) {
            state.PauseTiming();
            fillLog(root, 100000);
            state.ResumeTiming();
        }
    }
    // Time per line divided by the frame's wire time.
    state.counters["of_frame_time"] =
        benchmark::Counter(kFrameWireSeconds * static_cast<double>(state.iterations()),
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

BENCHMARK_CAPTURE(BM_admem, plain, "Device Living room status received")
    ->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_admem, two_classes, "TCP client 127.0.0.1 error: connection reset")
    ->Unit(benchmark::kMicrosecond);

}  // namespace
