// Kept apart from the rest: the kernel's termios2 (which carries the speed as a number, also
// for rates that have no Bxxx constant) clashes with the C library's <termios.h>.
#include <asm/ioctls.h>
#include <asm/termbits.h>
#include <sys/ioctl.h>

#include "sim/pty_port.h"

namespace velmar::sim {

std::optional<LineSettings> readLineSettings(int fd) {
    struct termios2 t {};
    if (ioctl(fd, TCGETS2, &t) != 0) {
        return std::nullopt;
    }
    LineSettings s;
    s.speed = t.c_ospeed;
    switch (t.c_cflag & CSIZE) {
        case CS5:
            s.dataBits = 5;
            break;
        case CS6:
            s.dataBits = 6;
            break;
        case CS7:
            s.dataBits = 7;
            break;
        default:
            s.dataBits = 8;
            break;
    }
    s.parity = (t.c_cflag & PARENB) != 0;
    s.oddParity = (t.c_cflag & PARODD) != 0;
    s.twoStopBits = (t.c_cflag & CSTOPB) != 0;
    return s;
}

}  // namespace velmar::sim
