#include "serial/dcb_termios.h"

#include <cerrno>

#include "serial/com_port.h"
#include "serial/dcb_flags.h"

speed_t StandardSpeed(uint32_t baud)
{
    struct Entry { uint32_t rate; speed_t speed; };
    static const Entry table[] = {
        {50, B50}, {75, B75}, {110, B110}, {134, B134}, {150, B150}, {200, B200}, {300, B300},
        {600, B600}, {1200, B1200}, {1800, B1800}, {2400, B2400}, {4800, B4800}, {9600, B9600},
        {19200, B19200}, {38400, B38400}, {57600, B57600}, {115200, B115200}, {230400, B230400},
        {460800, B460800}, {500000, B500000}, {576000, B576000}, {921600, B921600},
        {1000000, B1000000}, {1152000, B1152000}, {1500000, B1500000}, {2000000, B2000000},
        {2500000, B2500000}, {3000000, B3000000}, {3500000, B3500000}, {4000000, B4000000},
    };
    for (const Entry& e : table)
        if (e.rate == baud) return e.speed;
    return 0;
}

int DcbToTermios(const TDCBRecord& dcb, TTermiosSettings* out)
{
    if (dcb.BaudRate == 0 || dcb.BaudRate > 0x7FFFFFFFu) return EINVAL;
    if (dcb.ByteSize < 5 || dcb.ByteSize > 8) return EINVAL;
    if (dcb.Parity > 4 || dcb.StopBits > 2) return EINVAL;

    TTermiosSettings s;
    termios& t = s.tio;
    cfmakeraw(&t);
    // Modem lines never hang the port up; HUPCL drops DTR/RTS on the last
    // close as the classic driver does.
    t.c_cflag |= CREAD | CLOCAL | HUPCL;

    t.c_cflag &= ~CSIZE;
    switch (dcb.ByteSize) {
    case 5: t.c_cflag |= CS5; break;
    case 6: t.c_cflag |= CS6; break;
    case 7: t.c_cflag |= CS7; break;
    default: t.c_cflag |= CS8; break;
    }
    // 1.5 stop bits: a UART told "two" sends 1.5 with five data bits.
    if (dcb.StopBits != 0) t.c_cflag |= CSTOPB;

    t.c_cflag &= ~(PARENB | PARODD | CMSPAR);
    switch (dcb.Parity) {
    case 1: t.c_cflag |= PARENB | PARODD; break;
    case 2: t.c_cflag |= PARENB; break;
    case 3: t.c_cflag |= PARENB | PARODD | CMSPAR; break;
    case 4: t.c_cflag |= PARENB | CMSPAR; break;
    default: break;
    }
    // Checking without replacement keeps the byte as received (the driver
    // still counts the error); replacement lets the line discipline turn the
    // byte into NUL.
    const bool check = dcb.Flags & dcb::Parity;
    const bool replace = dcb.Flags & dcb::ErrorChar;
    if (check && replace && dcb.Parity != 0) t.c_iflag |= INPCK;

    const uint32_t rtsControl = (dcb.Flags & dcb::RtsControlMask) >> 12;
    const uint32_t dtrControl = (dcb.Flags & dcb::DtrControlMask) >> 4;
    // Linux couples CTS output flow with RTS input flow in one flag.
    if ((dcb.Flags & dcb::OutxCtsFlow) || rtsControl == 2) t.c_cflag |= CRTSCTS;
    if (dcb.Flags & dcb::OutX) t.c_iflag |= IXON;
    if (dcb.Flags & dcb::InX) t.c_iflag |= IXOFF;
    t.c_cc[VSTART] = static_cast<cc_t>(dcb.XonChar);
    t.c_cc[VSTOP] = static_cast<cc_t>(dcb.XoffChar);
    // Non-blocking descriptor with VMIN 1: "nothing queued" reads EAGAIN,
    // so a read of 0 bytes can only mean the line hung up.
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;

    s.baud = dcb.BaudRate;
    s.speed = StandardSpeed(dcb.BaudRate);
    if (s.speed != 0) {
        cfsetispeed(&t, s.speed);
        cfsetospeed(&t, s.speed);
    } else {
        cfsetispeed(&t, B38400);  // placeholder; the real rate goes in via BOTHER
        cfsetospeed(&t, B38400);
    }
    s.dtr = dtrControl != 0;
    s.rts = rtsControl == 1 || rtsControl == 2;
    *out = s;
    return 0;
}
