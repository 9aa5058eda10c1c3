// The query cycle's tick with a backlog of direct event files in "emails\" that no controller
// confirms: each tick takes the next file in turn, reads and sends it. The cost must not grow
// with the backlog; for comparison, what one listing of the folder costs (a tick that listed
// the folder every time would pay it on every tick).
#include <benchmark/benchmark.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "base/dir_listing.h"
#include "events/commands.h"
#include "events/event_files.h"
#include "events/query_cycle.h"
#include "support/bus_helpers.h"
#include "support/receive_rig.h"

namespace {

using namespace velmar;

// Wall time stands still; the monotonic clock moves on by one poll interval per tick, so every
// file may be retaken when its turn comes again.
class StepClock final : public Clock {
  public:
    QDateTime now() const override { return QDateTime(QDate(2026, 12, 9), QTime(10, 0)); }
    std::int64_t monotonicMs() const override { return ms; }
    std::int64_t ms = 0;
};

void writeBacklog(const QString& root, int files) {
    QDir().mkpath(root + "emails");
    QDir().mkpath(root + "logs");
    QDir().mkpath(root + "devices aliases");
    QFile dev(root + "devices aliases/55-1.dev");
    dev.open(QIODevice::WriteOnly);
    dev.write(test::deviceFile("Kitchen", 55, 1));
    QByteArray content = "Kitchen; Lights On\r\n";
    for (int i = 0; i < 8; ++i)
        content += "\r\n";
    content += "Direct Event Dont change this file\r\n55\r\n1\r\n1\r\n1\r\n1\r\n0\r\n0\r\n";
    for (int i = 0; i < files; ++i) {
        QFile f(root + QStringLiteral("emails/e%1.run").arg(i, 5, 10, QChar('0')));
        f.open(QIODevice::WriteOnly);
        f.write(content);
    }
}

struct World {
    explicit World(const QString& dir) : rig(dir, clock, &serial) {
        rig.registry.scanDevices();
        rig.modules.events.tablesBuilt();
    }
    void tick() {
        clock.ms += rig.timing.QUERY_DEV;
        rig.cycle.autoquerycnter = 0;  // the limiter would hold every 20th file back
        rig.modules.events.queryCycle.tick();
    }
    StepClock clock;
    test::NullSerial serial;
    test::ReceiveRig rig;
};

void BM_TickWithBacklog(benchmark::State& state) {
    QTemporaryDir dir;
    const QString root = dir.path() + "/";
    writeBacklog(root, static_cast<int>(state.range(0)));
    World w(root);
    for (auto _ : state)
        w.tick();
    state.counters["files_sent"] = static_cast<double>(w.rig.cycle.inFlight.size());
}
// Two full rounds over the largest backlog, so the listings at the round ends are paid too.
BENCHMARK(BM_TickWithBacklog)
    ->Arg(10)
    ->Arg(10000)
    ->Iterations(20000)
    ->Unit(benchmark::kMicrosecond);

void BM_ListingOfTheFolder(benchmark::State& state) {
    QTemporaryDir dir;
    const QString root = dir.path() + "/";
    writeBacklog(root, static_cast<int>(state.range(0)));
    for (auto _ : state)
        benchmark::DoNotOptimize(listDir(root + "emails", QStringLiteral("*.run")));
}
BENCHMARK(BM_ListingOfTheFolder)->Arg(10)->Arg(10000)->Unit(benchmark::kMicrosecond);

}  // namespace
