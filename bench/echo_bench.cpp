// Echo-to-"OK" turnaround through a pseudo-terminal: the simulator echoes a frame, velmar's
// reader thread ends the block after 3 ms of silence, the main thread compares it with the
// echo reference and writes "OK". Measured from the echo's write to the first byte of "OK",
// while 20 controllers stream their status frames. A controller that waits too long for "OK"
// repeats its frame, so this is the bus's latency budget. Reported in ms and as a ratio to the
// wire time of the 5-byte "OK" frame at 115200 bit/s (8E1, 11 bits a byte). Rounds without an
// "OK" are told apart: lost to a status block that reached the PC before the echo (checked
// against what the simulator wrote), or timed out.
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <vector>

#include "app/core_modules.h"
#include "app/manager.h"
#include "base/clock.h"
#include "base/text_file.h"
#include "sim/simulator.h"

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int rounds = argc > 1 ? std::atoi(argv[1]) : 1000;

    velmar::sim::Simulator sim;
    QString error;
    if (!sim.start(&error)) {
        std::fprintf(stderr, "simulator: %s\n", qPrintable(error));
        return 1;
    }
    for (int i = 1; i <= 20; ++i)
        sim.addController({55, static_cast<std::uint8_t>(i)}, velmar::sim::ControllerType::Quartel);
    sim.setStreamInterval(1000);
    sim.keepWrites(true);

    QTemporaryDir dir;
    const QString root = dir.path() + "/";
    velmar::writeLinesAtomic(root + "com.cfg", {sim.ptyPath(), "115200"});
    velmar::SystemClock clock;
    velmar::Runtime runtime(root, clock);
    velmar::Manager manager(runtime, {});
    velmar::CoreModules modules(runtime, manager);

    manager.setSubsystems(&modules);
    modules.startSerialThread();

    QDeadlineTimer open(5000);
    while (!(sim.lineSettings() && sim.lineSettings()->speed == 115200) && !open.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    while (!modules.bus.serial.isOpen() && !open.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);

    const QByteArray image(
        "\x08\x37\x01"
        "eTEST1",
        9);
    const QByteArray frame(
        "\x06\x37\x01"
        "eTEST1",
        9);
    const QByteArray echo(
        "\x37\x01"
        "eTEST1",
        8);
    const QByteArray ok("\x02\x37\x01OK", 5);
    // A round is on time when its "OK" comes within 200 ms; a later one is waited for up to
    // 2 s and kept in the figures (it is the tail). A round without "OK" is lost to a status
    // block only when one was written to the PC between the frame's arrival and the echo
    // (the PC compares the next block it receives with the frame, so the echo then finds no
    // frame to confirm); otherwise it is a time-out.
    constexpr int kOnTimeMs = 200;
    constexpr int kGiveUpMs = 2000;
    std::vector<double> ms;
    int late = 0, lostToStatus = 0, timedOut = 0;
    for (int r = 0; r < rounds; ++r) {
        sim.clearFrames();
        sim.keepWrites(true);
        modules.bus.port.writer.Write_rs232(image);
        QDeadlineTimer deadline(kGiveUpMs);
        bool done = false;
        while (!done && !deadline.hasExpired()) {
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 1);
            for (const auto& f : sim.frames())
                if (f.bytes == ok)
                    done = true;
        }
        std::int64_t frameUs = -1, echoUs = -1, okUs = -1;
        for (const auto& f : sim.frames()) {
            if (f.bytes == frame && frameUs < 0)
                frameUs = f.timeUs;
            if (f.bytes == ok && okUs < 0)
                okUs = f.timeUs;
        }
        for (const auto& w : sim.writes())
            if (w.bytes == echo && echoUs < 0)
                echoUs = w.timeUs;
        if (done && echoUs >= 0 && okUs >= 0) {
            ms.push_back((okUs - echoUs) / 1000.0);
            if (ms.back() > kOnTimeMs)
                ++late;
            continue;
        }
        bool statusFirst = false;
        for (const auto& w : sim.writes())
            if (w.bytes != echo && frameUs >= 0 && w.timeUs >= frameUs &&
                (echoUs < 0 || w.timeUs <= echoUs))
                statusFirst = true;
        if (statusFirst)
            ++lostToStatus;
        else
            ++timedOut;
        // Let the streams settle before the next round.
        QDeadlineTimer quiet(50);
        while (!quiet.hasExpired())
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    modules.joinThreads(1000);
    sim.stop();
    if (ms.empty()) {
        std::fprintf(stderr, "no echo was confirmed\n");
        return 1;
    }
    std::sort(ms.begin(), ms.end());
    const auto pct = [&ms](double p) {
        return ms[std::min(ms.size() - 1, static_cast<std::size_t>(p * ms.size()))];
    };
    const double okWireMs = 5 * 11 / 115.2;
    std::printf(
        "echo-to-OK over %zu of %d rounds: p50 %.2f ms, p99 %.2f ms, p99.9 %.2f ms, "
        "max %.2f ms (%d later than %d ms)\n",
        ms.size(), rounds, pct(0.50), pct(0.99), pct(0.999), ms.back(), late, kOnTimeMs);
    std::printf(
        "without OK: %d lost to a status block that reached the PC before the echo, "
        "%d timed out after %d ms\n",
        lostToStatus, timedOut, kGiveUpMs);
    std::printf("as multiples of the OK frame's wire time (%.3f ms): p50 %.1f, p99 %.1f\n",
                okWireMs, pct(0.50) / okWireMs, pct(0.99) / okWireMs);
    return 0;
}
