#pragma once
// Arbitrary bit rates through termios2/BOTHER. Kept apart from <termios.h>
// because <asm/termbits.h> redefines the same names.
#include <cstdint>

// Sets both directions to `baud` on the open tty `fd`; returns 0 or errno.
int SetArbitraryBaudRate(int fd, uint32_t baud);
// Reads the output rate back; returns 0 or errno.
int GetArbitraryBaudRate(int fd, uint32_t* baud);
