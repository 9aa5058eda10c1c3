// Programming a room controller, the manager in this process against the simulator at
// 115200 bit/s with 20 room controllers answering their polls:
// - the gap from the controller's "lOKWRROM" to the next block on the wire, less the engine's
//   800 ms pause, over `uploads` configuration uploads (default 25);
// - "Save Settings and Update" up to the upload's start (files written, events rebuilt, the
//   image built), and to its first block on the wire (which waits until 100 ms after the
//   PC's last frame, a poll's answer);
// - the device pick of the model and of the window, over the 20 devices;
// - the forced rebuild of a device's event definitions with 24 IR macros, against a plain
//   write of the same files.
// Times are also given in block wire times: 255 bytes of 11 bits at 115200 bit/s, 24.3 ms.
// Usage: upload_bench [uploads]
#include <QApplication>
#include <QComboBox>
#include <QDeadlineTimer>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <ctime>
#include <vector>

#include "app/core_modules.h"
#include "app/manager.h"
#include "base/clock.h"
#include "base/text_file.h"
#include "config/config_window.h"
#include "events/event_definitions.h"
#include "sim/simulator.h"
#include "support/kitchen.h"

namespace {

constexpr double kBlockWireMs = 255 * 11 / 115.2;

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

struct Figures {
    std::vector<double> ms;
    double pct(double p) {
        std::sort(ms.begin(), ms.end());
        return ms.empty() ? 0
                          : ms[std::min(ms.size() - 1, static_cast<std::size_t>(p * ms.size()))];
    }
    void print(const char* what) {
        if (ms.empty()) {
            std::printf("%s: no samples\n", what);
            return;
        }
        const double p50 = pct(0.5), p99 = pct(0.99);
        std::printf(
            "%s over %zu: p50 %.2f ms (%.3f blocks), p99 %.2f ms (%.3f blocks), max %.2f ms\n",
            what, ms.size(), p50, p50 / kBlockWireMs, p99, p99 / kBlockWireMs, ms.back());
    }
};

QString deviceName(int l) {
    return l == 1 ? QStringLiteral("Kitchen") : QStringLiteral("Room %1").arg(l);
}

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int uploads = argc > 1 ? std::atoi(argv[1]) : 25;

    velmar::sim::Simulator sim;
    QString error;
    if (!sim.start(&error)) {
        std::fprintf(stderr, "simulator: %s\n", qPrintable(error));
        return 1;
    }
    QTemporaryDir dir;
    const QString root = dir.path() + "/";
    QDir().mkpath(root + "devices aliases");
    QDir().mkpath(root + "ir");
    velmar::writeLinesAtomic(root + "com.cfg", {sim.ptyPath(), "115200"});
    for (int l = 1; l <= 20; ++l) {
        sim.addController({55, static_cast<std::uint8_t>(l)}, velmar::sim::ControllerType::Quartel);
        QStringList lines = velmar::test::kitchenDeviceLines();
        lines[0] = deviceName(l);
        lines[3] = QString::number(l);
        lines[4] = QStringLiteral("115200");
        lines[99] = QString();  // no direct event to another controller
        QFile dev(root + QStringLiteral("devices aliases/55-%1.dev").arg(l));
        dev.open(QIODevice::WriteOnly);
        dev.write(velmar::test::joinedCrLf(lines));
    }
    sim.keepWrites(true);

    velmar::SystemClock clock;
    velmar::Runtime runtime(root, clock);
    velmar::Manager manager(runtime, {"/cancel"});
    velmar::CoreModules modules(runtime, manager);
    manager.setSubsystems(&modules);
    manager.start();
    velmar::Configuration& model = modules.config.model;
    velmar::UploadEngine& engine = modules.config.engine;

    QDeadlineTimer first(30000);
    while (!first.hasExpired() &&
           !sim.waitForFrame([](const QByteArray& f) { return f.endsWith('q'); }, 0))
        pump(20);

    // The picks: the model alone, then through the window's device list.
    // A device's first pick also builds its missing event set.
    Figures pickFirst, pickModel, pickWindow;
    for (int round = 0; round < 3; ++round) {
        for (int l = 1; l <= 20; ++l) {
            const std::int64_t t0 = monotonicUs();
            model.pick(deviceName(l));
            (round == 0 ? pickFirst : pickModel).ms.push_back((monotonicUs() - t0) / 1000.0);
        }
    }
    {
        velmar::ConfigWindow window(model);
        auto* list = window.findChild<QComboBox*>(QStringLiteral("DName"));
        for (int round = 0; round < 3; ++round) {
            for (int l = 1; l <= 20; ++l) {
                const std::int64_t t0 = monotonicUs();
                emit list->textActivated(deviceName(l));
                pickWindow.ms.push_back((monotonicUs() - t0) / 1000.0);
            }
        }
    }

    // A device's first save also writes its caption files.
    Figures gaps, toStart, toFirstBlock, firstSaveToBlock;
    int aborted = 0;
    for (int u = 0; u < uploads; ++u) {
        const int l = u % 20 + 1;
        model.pick(deviceName(l));
        pump(200);
        sim.clearFrames();
        const std::int64_t t0 = monotonicUs();
        if (!model.saveSettingsAndUpdate()) {
            std::fprintf(stderr, "save %d refused\n", u);
            continue;
        }
        toStart.ms.push_back((monotonicUs() - t0) / 1000.0);
        QDeadlineTimer deadline(30000);
        while (engine.busy() && !deadline.hasExpired())
            pump(10);
        const QByteArray head = QByteArray::fromHex("fc37");
        std::vector<std::int64_t> blocks, acks;
        for (const auto& f : sim.frames())
            if (f.bytes.size() == 255 && f.bytes.startsWith(head + char(l)))
                blocks.push_back(f.timeUs);
        for (const auto& w : sim.writes())
            if (w.bytes.contains("lOKWRROM") && w.timeUs >= t0)
                acks.push_back(w.timeUs);
        if (blocks.size() != 4 || acks.size() < 3) {
            ++aborted;
            continue;
        }
        (u < 20 ? firstSaveToBlock : toFirstBlock).ms.push_back((blocks[0] - t0) / 1000.0);
        for (std::size_t i = 1; i < blocks.size(); ++i) {
            // The acknowledgement of the block before.
            std::int64_t ack = -1;
            for (std::int64_t a : acks)
                if (a > blocks[i - 1] && a < blocks[i])
                    ack = a;
            if (ack >= 0)
                gaps.ms.push_back((blocks[i] - ack) / 1000.0 - 800.0);
        }
    }

    // The rebuild with 24 IR macros, against writing the files it wrote.
    QStringList macros;
    for (int k = 1; k <= 24; ++k)
        macros << QStringLiteral("Macro %1").arg(k);
    velmar::writeLinesAtomic(root + "ir/Kitchen.mac", macros);
    model.pick(QStringLiteral("Kitchen"));
    velmar::DeviceEventSource source = model.eventSource();
    Figures rebuild, plain;
    for (int r = 0; r < 20; ++r) {
        const std::int64_t t0 = monotonicUs();
        velmar::recreateevents(runtime, source, true);
        rebuild.ms.push_back((monotonicUs() - t0) / 1000.0);
    }
    std::vector<std::pair<QString, QByteArray>> files;
    for (const QString& top :
         {QStringLiteral("events/Quartel"), QStringLiteral("AllEvents/Kitchen")}) {
        QDirIterator it(root + top, QDir::Files);
        while (it.hasNext()) {
            const QString path = it.next();
            QFile f(path);
            f.open(QIODevice::ReadOnly);
            files.emplace_back(path, f.readAll());
        }
    }
    for (int r = 0; r < 20; ++r) {
        const std::int64_t t0 = monotonicUs();
        for (const auto& [path, bytes] : files) {
            QFile f(path);
            f.open(QIODevice::WriteOnly | QIODevice::Truncate);
            f.write(bytes);
        }
        plain.ms.push_back((monotonicUs() - t0) / 1000.0);
    }

    manager.shutdown();
    sim.stop();
    std::printf("block wire time at 115200 bit/s: %.1f ms\n", kBlockWireMs);
    gaps.print("lOKWRROM to the next block, less 800 ms");
    std::printf("uploads: %zu done, %d not completed\n",
                toFirstBlock.ms.size() + firstSaveToBlock.ms.size(), aborted);
    toStart.print("Save Settings and Update, the whole call (the upload starts before its end)");
    firstSaveToBlock.print("a device's first Save Settings and Update to the first block");
    toFirstBlock.print("Save Settings and Update to the first block on the wire");
    pickFirst.print("device pick, model, first pick of each device");
    pickModel.print("device pick, model");
    pickWindow.print("device pick, window");
    const double r50 = rebuild.pct(0.5), p50 = plain.pct(0.5);
    std::printf(
        "recreateevents(force), 24 IR macros, %zu files: p50 %.2f ms; plain write of the same "
        "files p50 %.2f ms; ratio %.2f\n",
        files.size(), r50, p50, p50 > 0 ? r50 / p50 : 0.0);
    return 0;
}
