#include "sim/pty_port.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <cstring>

#include "sim/bus_frames.h"

namespace velmar::sim {

namespace {

constexpr int kWriteWaitMs = 200;

bool makeRaw(int fd) {
    termios t{};
    if (tcgetattr(fd, &t) != 0) {
        return false;
    }
    cfmakeraw(&t);
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
    return tcsetattr(fd, TCSANOW, &t) == 0;
}

}  // namespace

QString formatLineSettings(const LineSettings& s) {
    return QStringLiteral("speed %1 csize %2 parenb %3 parodd %4 cstopb %5")
        .arg(s.speed)
        .arg(s.dataBits)
        .arg(s.parity ? 1 : 0)
        .arg(s.oddParity ? 1 : 0)
        .arg(s.twoStopBits ? 1 : 0);
}

PtyPort::~PtyPort() {
    close();
}

bool PtyPort::open(QString* error) {
    auto fail = [&](const char* step) {
        if (error) {
            *error = QStringLiteral("%1: %2").arg(QLatin1String(step),
                                                  QString::fromLocal8Bit(strerror(errno)));
        }
        close();
        return false;
    };
    close();
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master_ < 0) {
        return fail("posix_openpt");
    }
    if (grantpt(master_) != 0) {
        return fail("grantpt");
    }
    if (unlockpt(master_) != 0) {
        return fail("unlockpt");
    }
    char name[128];
    if (ptsname_r(master_, name, sizeof name) != 0) {
        return fail("ptsname");
    }
    slavePath_ = QString::fromLocal8Bit(name);
    slave_ = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slave_ < 0) {
        return fail("open slave");
    }
    // Raw on both sides before the PC opens the port: a cooked slave would echo the
    // simulator's own output back into the master.
    if (!makeRaw(master_) || !makeRaw(slave_)) {
        return fail("tcsetattr");
    }
    const int flags = fcntl(master_, F_GETFL);
    if (flags < 0 || fcntl(master_, F_SETFL, flags | O_NONBLOCK) != 0) {
        return fail("fcntl");
    }
    return true;
}

void PtyPort::close() {
    if (slave_ >= 0) {
        ::close(slave_);
        slave_ = -1;
    }
    if (master_ >= 0) {
        ::close(master_);
        master_ = -1;
    }
    slavePath_.clear();
}

std::optional<LineSettings> PtyPort::lineSettings() const {
    if (slave_ < 0) {
        return std::nullopt;
    }
    return readLineSettings(slave_);
}

qsizetype PtyPort::write(const QByteArray& block) {
    if (master_ < 0) {
        return 0;
    }
    qsizetype done = 0;
    const std::int64_t giveUpUs = monotonicUs() + kWriteWaitMs * 1000;
    while (done < block.size()) {
        const ssize_t n = ::write(master_, block.constData() + done, block.size() - done);
        if (n > 0) {
            done += n;
            continue;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0 && errno != EAGAIN) {
            break;
        }
        const std::int64_t leftUs = giveUpUs - monotonicUs();
        if (leftUs <= 0) {
            break;
        }
        pollfd p{master_, POLLOUT, 0};
        ::poll(&p, 1, static_cast<int>(leftUs / 1000) + 1);
    }
    return done;
}

}  // namespace velmar::sim
