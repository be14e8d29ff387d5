#include "tools/vmodule/line_rate.h"

#include <asm/ioctls.h>
#include <asm/termbits.h>

// <sys/ioctl.h> would drag in the libc termios types again.
extern "C" int ioctl(int fd, unsigned long request, ...);

long LineRateOf(int ptyFd)
{
    struct termios2 t {};
    if (ptyFd < 0 || ioctl(ptyFd, TCGETS2, &t) != 0) return 0;
    return long(t.c_ospeed);
}
