// The kernel's termios2 (arbitrary rates) cannot share a unit with <termios.h>.
#include <asm/termbits.h>
#include <sys/ioctl.h>

#include "core/link/pty_pair.h"

namespace test {

KernelSpeed SlaveSpeed(int fd) {
    termios2 t{};
    KernelSpeed s;
    if (::ioctl(fd, TCGETS2, &t) != 0) return s;
    s.other = (t.c_cflag & CBAUD) == BOTHER;
    s.ospeed = t.c_ospeed;
    return s;
}

}  // namespace test
