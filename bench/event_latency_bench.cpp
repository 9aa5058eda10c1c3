// From an event request landing in "emails\" to its "eEV" frame on the wire, with the default
// "autoquery.cfg": the manager runs in this process against the simulator (two controllers
// answering their polls), a request is dropped at a random moment of the cycle, and the time
// is taken from its rename into "emails\" to the first byte of the frame. Each event is
// confirmed before the next request is dropped. Usage: event_latency_bench [requests]
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <ctime>
#include <vector>

#include "app/core_modules.h"
#include "app/manager.h"
#include "base/clock.h"
#include "base/text_file.h"
#include "sim/simulator.h"
#include "support/receive_rig.h"

namespace {

std::int64_t monotonicUs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<std::int64_t>(ts.tv_sec) * 1000000 + ts.tv_nsec / 1000;
}

void pump(int ms) {
    QDeadlineTimer deadline(ms);
    while (!deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int requests = argc > 1 ? std::atoi(argv[1]) : 100;

    velmar::sim::Simulator sim;
    QString error;
    if (!sim.start(&error)) {
        std::fprintf(stderr, "simulator: %s\n", qPrintable(error));
        return 1;
    }
    sim.addController({55, 1}, velmar::sim::ControllerType::Quartel);
    sim.addController({55, 2}, velmar::sim::ControllerType::Quartel);

    QTemporaryDir dir;
    const QString root = dir.path() + "/";
    QDir().mkpath(root + "devices aliases");
    QDir().mkpath(root + "events/Quartel");
    velmar::writeLinesAtomic(root + "com.cfg", {sim.ptyPath(), "115200"});
    for (int l : {1, 2}) {
        const QString name = l == 1 ? "Kitchen" : "Hall";
        QFile dev(root + QStringLiteral("devices aliases/55-%1.dev").arg(l));
        dev.open(QIODevice::WriteOnly);
        dev.write(velmar::test::deviceFile(name, 55, l));
    }
    const QString stem = root + "events/Quartel/55-1";
    velmar::writeLinesAtomic(stem + ".iev", {"O1", "O1"});
    velmar::writeLinesAtomic(stem + ".lev", {"Lights On", "Lights Off"});
    velmar::writeLinesAtomic(stem + ".nev", {"Lights On", "Lights Off"});
    velmar::writeLinesAtomic(stem + ".sev", {"1", "0"});
    velmar::writeLinesAtomic(stem + ".cev", {"Lights On", "Lights Off"});

    velmar::SystemClock clock;
    velmar::Runtime runtime(root, clock);
    velmar::Manager manager(runtime, {"/cancel"});
    velmar::CoreModules modules(runtime, manager);
    manager.setSubsystems(&modules);
    manager.start();

    // The cycle's first tick comes 5 s after the cancel, 2 s after the start.
    QDeadlineTimer first(20000);
    while (!first.hasExpired() &&
           !sim.waitForFrame([](const QByteArray& f) { return f.endsWith('q'); }, 0))
        pump(20);

    std::vector<double> ms;
    for (int r = 0; r < requests; ++r) {
        pump(static_cast<int>(QRandomGenerator::global()->bounded(1500)));
        const bool on = r % 2 == 0;
        const QByteArray frame = QByteArray(
                                     "\x08\x37\x01"
                                     "eEV"
                                     "\x01\x01",
                                     8) +
                                 QByteArray(1, on ? '\x01' : '\x00') + QByteArray(2, '\0');
        sim.clearFrames();
        const QString tmp = root + "emails/.request";
        velmar::writeLinesAtomic(tmp, {on ? "Kitchen; Lights On" : "Kitchen; Lights Off"});
        const std::int64_t droppedUs = monotonicUs();
        QFile::rename(tmp, root + QStringLiteral("emails/r%1.run").arg(r));
        std::int64_t sentUs = -1;
        QDeadlineTimer deadline(10000);
        while (sentUs < 0 && !deadline.hasExpired()) {
            pump(2);
            for (const auto& f : sim.frames()) {
                if (f.bytes == frame) {
                    sentUs = f.timeUs;
                    break;
                }
            }
        }
        if (sentUs >= 0)
            ms.push_back((sentUs - droppedUs) / 1000.0);
        // The next request waits for this one's confirmation.
        while (!deadline.hasExpired() && !QDir(root + "emails").entryList({"*.run"}).isEmpty())
            pump(10);
    }
    manager.shutdown();
    sim.stop();
    if (ms.empty()) {
        std::fprintf(stderr, "no event reached the wire\n");
        return 1;
    }
    std::sort(ms.begin(), ms.end());
    const auto pct = [&ms](double p) {
        return ms[std::min(ms.size() - 1, static_cast<std::size_t>(p * ms.size()))];
    };
    std::printf(
        "request to eEV on the wire over %zu of %d requests (QUERY_DEV %d ms, EMAIL_RUN %d "
        "ms): p50 %.1f ms, p99 %.1f ms, max %.1f ms\n",
        ms.size(), requests, manager.settings().timing.QUERY_DEV,
        manager.settings().timing.EMAIL_RUN, pct(0.50), pct(0.99), ms.back());
    return 0;
}
