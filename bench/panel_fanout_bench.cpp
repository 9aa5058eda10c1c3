// Fan-out of status records to display panels: 40 panels log in over loopback and stream while
// the manager publishes the status frames of 20 controllers at the bus's full rate (one
// doubled 52-byte frame every 9.9 ms at 115200 bit/s). A panel gets a device's record at most
// once a second, so a record is due at max(its publish time, the device's previous arrival at
// that panel + 1 s); the latency is from that moment to its arrival, and a record's figure is
// the one of the last panel it reached. Records replaced by a newer one of the same device
// before they were due are counted apart. Also reported: the CPU time of the server's network
// thread per second of run. With "flood", 1,000 more connections are opened as fast as the
// machine allows while the panels stream, half of them sending garbage and half nothing; the
// process's memory is reported before and after. Usage: panel_fanout_bench [seconds] [flood]
#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QTemporaryDir>
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "base/clock.h"
#include "base/data_root.h"
#include "bus/linkel_config.h"
#include "log/event_log.h"
#include "panels/panel_server.h"

namespace {

constexpr int kPanels = 40;
constexpr int kDevices = 20;
constexpr int kFrameUs = 9900;

long rssKb() {
    FILE* f = std::fopen("/proc/self/statm", "r");
    long pages = 0, resident = 0;
    if (f) {
        if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2)
            resident = 0;
        std::fclose(f);
    }
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

std::int64_t nowUs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<std::int64_t>(ts.tv_sec) * 1000000 + ts.tv_nsec / 1000;
}

// CPU time of the thread named `name` (as /proc shows it), in seconds; -1 when there is none.
// The server names its network thread, so its time is read alone, without the other threads'.
double threadCpuSeconds(const char* name) {
    DIR* tasks = opendir("/proc/self/task");
    if (!tasks)
        return -1;
    double seconds = -1;
    while (dirent* e = readdir(tasks)) {
        if (e->d_name[0] == '.')
            continue;
        const std::string dir = std::string("/proc/self/task/") + e->d_name;
        char comm[64] = {};
        if (FILE* f = std::fopen((dir + "/comm").c_str(), "r")) {
            if (!std::fgets(comm, sizeof comm, f))
                comm[0] = 0;
            std::fclose(f);
        }
        comm[std::strcspn(comm, "\n")] = 0;
        if (std::strcmp(comm, name) != 0)
            continue;
        // /proc/<pid>/task/<tid>/stat: fields 14 and 15 are utime and stime in clock ticks,
        // counted after the ")" that ends the (possibly spaced) name.
        if (FILE* f = std::fopen((dir + "/stat").c_str(), "r")) {
            char line[1024] = {};
            if (std::fgets(line, sizeof line, f)) {
                const char* p = std::strrchr(line, ')');
                unsigned long utime = 0, stime = 0;
                if (p && std::sscanf(p + 2, "%*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %lu %lu",
                                     &utime, &stime) == 2)
                    seconds = static_cast<double>(utime + stime) / sysconf(_SC_CLK_TCK);
            }
            std::fclose(f);
        }
        break;
    }
    closedir(tasks);
    return seconds;
}

bool readExactly(int fd, std::uint8_t* out, int n, int timeoutMs) {
    int got = 0;
    while (got < n) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, timeoutMs) <= 0)
            return false;
        const ssize_t r = read(fd, out + got, static_cast<size_t>(n - got));
        if (r <= 0)
            return false;
        got += static_cast<int>(r);
    }
    return true;
}

// A panel: logs in and asks for the stream.
int connectPanel(std::uint16_t port, const velmar::LoginKey& key) {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0)
        return -1;
    std::uint8_t c[6], accept = 0;
    if (!readExactly(fd, c, 6, 3000))
        return -1;
    const auto r = velmar::CalculateChalangeResponse(c, key);
    if (write(fd, r.data(), r.size()) != 13 || !readExactly(fd, &accept, 1, 3000) || accept != '>')
        return -1;
    const std::uint8_t stream[2] = {1, 'x'};  // the stream, at once
    if (write(fd, stream, 2) != 2)
        return -1;
    return fd;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 20;
    const bool flood = argc > 2 && std::strcmp(argv[2], "flood") == 0;
    QTemporaryDir dir;
    QDir().mkpath(dir.path() + "/logs");
    velmar::DataRoot root(dir.path() + "/");
    velmar::SystemClock clock;
    velmar::EventLog log(root, clock);
    const velmar::LoginKey key{0, 11, 22, 33, 44, 55, 66, 77, 88};
    velmar::PanelServer server(log, clock, key);
    velmar::PanelServerOptions options;
    options.listenAddress = QHostAddress::LocalHost;
    options.port = 0;
    QString error;
    if (!server.start(options, &error)) {
        std::fprintf(stderr, "server: %s\n", qPrintable(error));
        return 1;
    }
    std::vector<int> fds;
    for (int i = 0; i < kPanels; ++i) {
        const int fd = connectPanel(server.port(), key);
        if (fd < 0) {
            std::fprintf(stderr, "panel %d could not log in\n", i);
            return 1;
        }
        fds.push_back(fd);
    }
    QDeadlineTimer ready(5000);
    while (server.panelCount() < kPanels && !ready.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);

    // Per record (publish time, device): panels reached and the worst latency among them.
    std::mutex m;
    std::map<std::pair<std::int64_t, int>, std::pair<int, std::int64_t>> arrivals;
    std::atomic<bool> stop{false};
    std::thread readers([&] {
        std::vector<QByteArray> pending(fds.size());
        // Per panel and device: the previous arrival.
        std::vector<std::vector<std::int64_t>> last(fds.size(), std::vector<std::int64_t>(256, 0));
        std::vector<pollfd> polls;
        for (int fd : fds)
            polls.push_back({fd, POLLIN, 0});
        char buf[65536];
        while (!stop) {
            if (poll(polls.data(), polls.size(), 50) <= 0)
                continue;
            const std::int64_t t = nowUs();
            for (std::size_t i = 0; i < polls.size(); ++i) {
                if (!(polls[i].revents & POLLIN))
                    continue;
                const ssize_t r = read(polls[i].fd, buf, sizeof buf);
                if (r <= 0)
                    continue;
                pending[i].append(buf, static_cast<int>(r));
                while (!pending[i].isEmpty() &&
                       pending[i].size() >= static_cast<std::uint8_t>(pending[i][0]) + 1) {
                    const QByteArray rec =
                        pending[i].left(static_cast<std::uint8_t>(pending[i][0]) + 1);
                    pending[i].remove(0, rec.size());
                    if (rec.size() < 12)
                        continue;
                    std::int64_t published = 0;
                    std::memcpy(&published, rec.constData() + 4, 8);
                    const int device = static_cast<std::uint8_t>(rec[2]);
                    std::int64_t& previous = last[i][static_cast<std::size_t>(device)];
                    const std::int64_t due =
                        previous ? std::max(published, previous + 1000000) : published;
                    previous = t;
                    std::lock_guard lock(m);
                    auto& a = arrivals[{published, device}];
                    ++a.first;
                    a.second = std::max(a.second, t - due);
                }
            }
        }
    });

    const long rssBefore = rssKb();
    std::thread flooder([&] {
        if (!flood)
            return;
        usleep(2000000);
        std::vector<int> opened;
        for (int i = 0; i < 1000; ++i) {
            const int fd = socket(AF_INET, SOCK_STREAM, 0);
            sockaddr_in a{};
            a.sin_family = AF_INET;
            a.sin_port = htons(server.port());
            a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
                close(fd);
                continue;
            }
            if (i % 2) {
                char junk[64];
                for (char& c : junk)
                    c = static_cast<char>(std::rand());
                if (write(fd, junk, sizeof junk) < 0) {
                }
            }
            opened.push_back(fd);
        }
        usleep(3000000);
        for (int fd : opened)
            close(fd);
        std::printf("flood: %zu of 1000 connections opened\n", opened.size());
    });
    const double server0 = threadCpuSeconds("panel server");
    if (server0 < 0) {
        std::fprintf(stderr, "the server's network thread (\"panel server\") was not found\n");
        return 1;
    }
    const std::int64_t start = nowUs();
    int published = 0;
    for (std::int64_t next = start; next < start + seconds * 1000000LL; next += kFrameUs) {
        const std::int64_t wait = next - nowUs();
        if (wait > 0)
            usleep(static_cast<useconds_t>(wait));
        const int device = published % kDevices + 1;
        QByteArray rec(53, '\0');
        rec[0] = 52;
        rec[1] = 55;
        rec[2] = static_cast<char>(device);
        rec[3] = 's';
        const std::int64_t t = nowUs();
        std::memcpy(rec.data() + 4, &t, 8);
        server.publish(rec);
        ++published;
        if (published % 50 == 0)
            QCoreApplication::processEvents();  // the server's log lines
    }
    const double serverCpu = threadCpuSeconds("panel server") - server0;
    const double wall = (nowUs() - start) / 1e6;
    QDeadlineTimer drain(2000);
    while (!drain.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    stop = true;
    readers.join();
    flooder.join();
    server.stop();

    std::vector<double> ms;
    int partial = 0;
    for (const auto& [k, a] : arrivals) {
        if (a.first < kPanels)
            ++partial;
        else
            ms.push_back(a.second / 1000.0);
    }
    if (ms.empty()) {
        std::fprintf(stderr, "no record reached all panels\n");
        return 1;
    }
    std::sort(ms.begin(), ms.end());
    const auto pct = [&ms](double p) {
        return ms[std::min(ms.size() - 1, static_cast<std::size_t>(p * ms.size()))];
    };
    std::printf(
        "%d panels, %d devices, %d records published in %.1f s; %zu reached every panel, "
        "%d some panels, the rest were replaced by newer ones before they were due\n",
        kPanels, kDevices, published, wall, ms.size(), partial);
    std::printf("due to arrival at the last panel: p50 %.2f ms, p99 %.2f ms, max %.2f ms\n",
                pct(0.5), pct(0.99), ms.back());
    std::printf(
        "CPU of the server's network thread alone (its /proc counters, %ld ticks a "
        "second) while the records were published: %.2f %% of one core\n",
        sysconf(_SC_CLK_TCK), 100.0 * serverCpu / wall);
    std::printf("memory: %ld kB before, %ld kB after the run\n", rssBefore, rssKb());
    for (int fd : fds)
        close(fd);
    return 0;
}
