// Cost of one event-log line (the receive path logs every message), before and after the
// ".log" copies were kept by appending: "before" is the former way, each line appended to its
// ".logs" files and each of them then copied in full over its ".log" copy; "after" is
// EventLog::admem as built. Each is run with the log files near 1 kB and near 1 MB, for a plain
// line (one file) and for a line that also goes to two class files ("tcp.logs",
// "alarms.logs"). "of_frame_time" is the time of one line divided by the wire time of a
// 23-byte frame at 115200 bit/s (8E1: 11 bits a byte, 2.2 ms); the time itself is in us.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <benchmark/benchmark.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <cerrno>

#include "base/clock.h"
#include "base/cp1250.h"
#include "base/data_root.h"
#include "base/text_file.h"
#include "log/event_log.h"

namespace {

constexpr double kFrameWireSeconds = 23 * 11 / 115200.0;

constexpr const char* kPlain = "Device Living room status received";
constexpr const char* kTwoClasses = "TCP client 127.0.0.1: alarm zone 2 armed";
constexpr const char* kFiles[] = {"all", "tcp", "alarms"};

// Sets every ".logs" file and its ".log" copy to the same `bytes` of log lines, in place.
void fillLogs(const QString& root, qint64 bytes) {
    QDir().mkpath(root + "logs");
    const QByteArray line = "2026-12-09 10:11:12 :    Status frame from Living room decoded\r\n";
    QByteArray content;
    while (content.size() < bytes)
        content += line;
    for (const char* name : kFiles) {
        for (const char* ext : {".logs", ".log"}) {
            QFile f(root + "logs/" + name + ext);
            f.open(QIODevice::WriteOnly | QIODevice::Truncate);
            f.write(content);
        }
    }
}

// The former line: each file checked for its size, appended to, and copied in full over its
// ".log" copy through a temporary file renamed into place.
namespace before {

bool copyAtomic(const QByteArray& source, const QString& target) {
    const int in = ::open(source.constData(), O_RDONLY | O_CLOEXEC);
    if (in < 0)
        return false;
    struct stat st {};
    ::fstat(in, &st);
    const int slash = static_cast<int>(target.lastIndexOf(QLatin1Char('/')));
    const QByteArray tmp =
        QFile::encodeName(target.left(slash + 1) + QLatin1String(velmar::kTempPrefix) +
                          QString::number(::getpid()) + QLatin1String("-log.tmp"));
    const int out = ::open(tmp.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (out < 0) {
        ::close(in);
        return false;
    }
    bool ok = true;
    off_t left = st.st_size;
    while (left > 0 && ok) {
        const ssize_t n =
            ::copy_file_range(in, nullptr, out, nullptr, static_cast<size_t>(left), 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            ok = n == 0;
        if (n <= 0)
            break;
        left -= n;
    }
    ::close(in);
    ::close(out);
    QString why;
    return ok && velmar::replaceWith(tmp, QFile::encodeName(target), &why, target);
}

void appendAndCopy(const velmar::DataRoot& root, const QString& logsName, const QByteArray& bytes) {
    const QString logs = root.path(QLatin1String("logs/") + logsName);
    struct stat st {};
    ::stat(QFile::encodeName(logs).constData(), &st);  // the size check before each line
    QString copy = logs;
    copy.chop(1);
    if (velmar::appendFile(logs, bytes))
        copyAtomic(QFile::encodeName(logs), copy);
}

void admem(const velmar::DataRoot& root, const velmar::Clock& clock, const QString& text) {
    const QString line = velmar::EventLog::formatLine(clock.now(), text);
    const QByteArray bytes = velmar::toCp1250(line) + "\r\n";
    appendAndCopy(root, QStringLiteral("all.logs"), bytes);
    const QString upper = line.toUpper();
    for (const auto& [keyword, file] : {std::pair{"TCP", "tcp.logs"},
                                        {"ALARM", "alarms.logs"},
                                        {"SECU", "secu.logs"},
                                        {"WARNING", "warnings.logs"},
                                        {"ERROR", "errors.logs"}}) {
        if (upper.contains(QLatin1String(keyword)))
            appendAndCopy(root, QLatin1String(file), bytes);
    }
}

}  // namespace before

// range(0): the size of the log files. The files are set back to that size every so often
// (untimed) so that they stay within about 1.6 times of it.
void BM_line(benchmark::State& state, bool old, const char* text) {
    const qint64 size = state.range(0);
    QTemporaryDir dir;
    const QString root = dir.path() + "/";
    fillLogs(root, size);
    velmar::DataRoot dataRoot(root);
    velmar::SystemClock clock;
    velmar::EventLog log(dataRoot, clock);
    log.setLogSize(0);  // no rotation during the run
    const QString line = QString::fromLatin1(text);
    if (!old) {
        log.admem(line);  // the first line of a run refreshes the copies in full
        fillLogs(root, size);
    }
    const qint64 refill = std::max<qint64>(8, size / 1000);
    qint64 n = 0;
    for (auto _ : state) {
        if (old)
            before::admem(dataRoot, clock, line);
        else
            log.admem(line);
        if (++n % refill == 0) {
            state.PauseTiming();
            fillLogs(root, size);
            state.ResumeTiming();
        }
    }
    if (!old) {
        QFile a(root + "logs/all.logs");
        QFile b(root + "logs/all.log");
        if (!a.open(QIODevice::ReadOnly) || !b.open(QIODevice::ReadOnly) ||
            a.readAll() != b.readAll())
            state.SkipWithError("all.log differs from all.logs");
    }
    // Time per line divided by the frame's wire time.
    state.counters["of_frame_time"] =
        benchmark::Counter(kFrameWireSeconds * static_cast<double>(state.iterations()),
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

// A failure repeated within a minute is counted, not written.
void BM_repeatedFailure(benchmark::State& state) {
    QTemporaryDir dir;
    const QString root = dir.path() + "/";
    fillLogs(root, 1024);
    velmar::DataRoot dataRoot(root);
    velmar::SystemClock clock;
    velmar::EventLog log(dataRoot, clock);
    const QString line = QStringLiteral("Error writing status file: logs\\status\\55-1.txt");
    log.admem(line);
    for (auto _ : state)
        log.admem(line);
    state.counters["of_frame_time"] =
        benchmark::Counter(kFrameWireSeconds * static_cast<double>(state.iterations()),
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

BENCHMARK_CAPTURE(BM_line, before_plain, true, kPlain)
    ->Arg(1024)
    ->Arg(1 << 20)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_line, after_plain, false, kPlain)
    ->Arg(1024)
    ->Arg(1 << 20)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_line, before_two_classes, true, kTwoClasses)
    ->Arg(1024)
    ->Arg(1 << 20)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_line, after_two_classes, false, kTwoClasses)
    ->Arg(1024)
    ->Arg(1 << 20)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_repeatedFailure)->Unit(benchmark::kMicrosecond);

}  // namespace
