// This file is on its own because the kernel's termios2 (needed for BOTHER
// rates) clashes with the C library's <termios.h> in one translation unit.
#include "serial/custom_baud.h"

#include <asm/ioctls.h>
#include <asm/termbits.h>

#include <cerrno>

extern "C" int ioctl(int fd, unsigned long request, ...);

namespace platform::serial {

int SetCustomBaud(int fd, DWORD baud) {
    struct termios2 tio {};
    if (ioctl(fd, TCGETS2, &tio) != 0) return errno;
    tio.c_cflag &= ~(CBAUD | (CBAUD << IBSHIFT));
    tio.c_cflag |= BOTHER | (BOTHER << IBSHIFT);
    tio.c_ispeed = baud;
    tio.c_ospeed = baud;
    if (ioctl(fd, TCSETS2, &tio) != 0) return errno;
    return 0;
}

}  // namespace platform::serial
