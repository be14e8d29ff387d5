#pragma once
// The bit rate set on a pseudo-terminal, read on its master: a pty's
// settings are shared by both ends, so the module side sees the rate its
// peer chose. Kept apart because <asm/termbits.h> clashes with <termios.h>.

// The output rate in bits per second, 0 when it cannot be read.
long LineRateOf(int ptyFd);
