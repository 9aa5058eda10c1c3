// Fan-out of status records to display panels: 40 panels log in over loopback and stream while
// the manager publishes the status frames of 20 controllers at the bus's full rate (one
// doubled 52-byte frame every 9.9 ms at 115200 bit/s). A panel gets a device's record at most
// once a second, so a record is due at max(its publish time, the device's previous arrival at
// that panel + 1 s); the latency is from that moment to its arrival (the kernel's receive time
// stamp of the record's last byte, so the bench's own reading thread does not count), and a
// record's figure is the one of the last panel it reached. (The previous arrival stands in for the
// previous send, which the panel cannot see; on loopback the two are microseconds apart.) Records
// replaced by a newer one of the same device before they were due are counted apart. Every record
// carries its publish time and a pattern made from it: a record that arrives changed is counted as
// damaged. Also reported: the CPU time of the server's network thread alone per second of run,
// read from that thread's own CPU clock (nanoseconds of run time, as the scheduler accounts
// them). With "flood", 1,000 more connections are opened as fast as the machine allows while
// the panels stream, half of them sending garbage and half nothing; the process's memory is
// reported before and after. Usage: panel_fanout_bench [seconds] [flood]
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

// Wall time: the kernel stamps received bytes with it (SO_TIMESTAMPNS).
std::int64_t nowUs() {
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    return static_cast<std::int64_t>(ts.tv_sec) * 1000000 + ts.tv_nsec / 1000;
}

// The thread id of the thread named `name` (as /proc shows it); -1 when there is none.
pid_t threadId(const char* name) {
    DIR* tasks = opendir("/proc/self/task");
    if (!tasks)
        return -1;
    pid_t found = -1;
    while (dirent* e = readdir(tasks)) {
        if (e->d_name[0] == '.')
            continue;
        const std::string comm = std::string("/proc/self/task/") + e->d_name + "/comm";
        char text[64] = {};
        if (FILE* f = std::fopen(comm.c_str(), "r")) {
            if (!std::fgets(text, sizeof text, f))
                text[0] = 0;
            std::fclose(f);
        }
        text[std::strcspn(text, "\n")] = 0;
        if (std::strcmp(text, name) == 0) {
            found = static_cast<pid_t>(std::atol(e->d_name));
            break;
        }
    }
    closedir(tasks);
    return found;
}

// The CPU time of thread `tid` of this process, in seconds, from its own CPU clock (the clock
// pthread_getcpuclockid() gives for a thread: the scheduler's exact run time, not the sampled
// ticks of /proc/<tid>/stat); -1 when it cannot be read.
double threadCpuSeconds(pid_t tid) {
    const clockid_t clock = static_cast<clockid_t>((~static_cast<unsigned>(tid) << 3) | 6);
    timespec ts{};
    if (tid <= 0 || clock_gettime(clock, &ts) != 0)
        return -1;
    return static_cast<double>(ts.tv_sec) + ts.tv_nsec / 1e9;
}

// Bytes 12 .. 52 of a record: a pattern made from its publish time and device.
char patternByte(std::int64_t published, int device, int i) {
    return static_cast<char>((published * 31 + device * 7 + i) & 0xFF);
}

// Reads at most `n` bytes without waiting; `stampUs` becomes the time the kernel received
// them (the reading thread's own delays do not count).
ssize_t receiveStamped(int fd, char* out, int n, std::int64_t& stampUs) {
    iovec io{out, static_cast<size_t>(n)};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(timespec))];
    msghdr msg{};
    msg.msg_iov = &io;
    msg.msg_iovlen = 1;
    msg.msg_control = control;
    msg.msg_controllen = sizeof control;
    const ssize_t r = recvmsg(fd, &msg, MSG_DONTWAIT);
    if (r <= 0)
        return r;
    stampUs = nowUs();  // when the kernel gives no stamp
    for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c; c = CMSG_NXTHDR(&msg, c)) {
        if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_TIMESTAMPNS) {
            timespec ts{};
            std::memcpy(&ts, CMSG_DATA(c), sizeof ts);
            stampUs = static_cast<std::int64_t>(ts.tv_sec) * 1000000 + ts.tv_nsec / 1000;
        }
    }
    return r;
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
    const int on = 1;
    if (setsockopt(fd, SOL_SOCKET, SO_TIMESTAMPNS, &on, sizeof on) != 0)
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
    std::atomic<std::int64_t> received{0}, damaged{0};
    std::thread readers([&] {
        std::vector<QByteArray> pending(fds.size());
        // Per panel and device: the previous arrival.
        std::vector<std::vector<std::int64_t>> last(fds.size(), std::vector<std::int64_t>(256, 0));
        std::vector<pollfd> polls;
        for (int fd : fds)
            polls.push_back({fd, POLLIN, 0});
        char buf[256];
        while (!stop) {
            if (poll(polls.data(), polls.size(), 50) <= 0)
                continue;
            for (std::size_t i = 0; i < polls.size(); ++i) {
                if (!(polls[i].revents & POLLIN))
                    continue;
                // Up to the end of the next record only, so that the kernel's time stamp is the
                // arrival of that record's last byte.
                std::int64_t t = 0;
                for (;;) {
                    const int want = pending[i].isEmpty()
                                         ? 1
                                         : static_cast<std::uint8_t>(pending[i][0]) + 1 -
                                               static_cast<int>(pending[i].size());
                    const ssize_t r = receiveStamped(polls[i].fd, buf, want, t);
                    if (r <= 0)
                        break;
                    pending[i].append(buf, static_cast<int>(r));
                    if (pending[i].size() >= static_cast<std::uint8_t>(pending[i][0]) + 1)
                        break;
                }
                while (!pending[i].isEmpty() &&
                       pending[i].size() >= static_cast<std::uint8_t>(pending[i][0]) + 1) {
                    const QByteArray rec =
                        pending[i].left(static_cast<std::uint8_t>(pending[i][0]) + 1);
                    pending[i].remove(0, rec.size());
                    std::int64_t published = 0;
                    const int device = rec.size() > 2 ? static_cast<std::uint8_t>(rec[2]) : -1;
                    bool whole = rec.size() == 53 && rec[1] == 55 && rec[3] == 's';
                    if (whole) {
                        std::memcpy(&published, rec.constData() + 4, 8);
                        for (int k = 12; k < 53 && whole; ++k)
                            whole = rec[k] == patternByte(published, device, k);
                    }
                    if (!whole) {
                        ++damaged;
                        continue;
                    }
                    ++received;
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
    const pid_t networkThread = threadId("panel server");
    const double server0 = threadCpuSeconds(networkThread);
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
        for (int k = 12; k < 53; ++k)
            rec[k] = patternByte(t, device, k);
        server.publish(rec);
        ++published;
        if (published % 50 == 0)
            QCoreApplication::processEvents();  // the server's log lines
    }
    const double serverCpu = threadCpuSeconds(networkThread) - server0;
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
        "%d some panels, the rest were replaced by newer ones before they were due; %lld "
        "records arrived in all, %lld damaged\n",
        kPanels, kDevices, published, wall, ms.size(), partial,
        static_cast<long long>(received.load()), static_cast<long long>(damaged.load()));
    std::printf("due to arrival at the last panel: p50 %.2f ms, p99 %.2f ms, max %.2f ms\n",
                pct(0.5), pct(0.99), ms.back());
    std::printf(
        "CPU of the server's network thread alone (its own CPU clock) while the records were "
        "published: %.3f s in %.1f s, %.2f %% of one core\n",
        serverCpu, wall, 100.0 * serverCpu / wall);
    std::printf("memory: %ld kB before, %ld kB after the run\n", rssBefore, rssKb());
    for (int fd : fds)
        close(fd);
    return 0;
}
