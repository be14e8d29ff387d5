// tw-modem-lines: runs inside the driver tests' virtual machine. Opens a
// serial device with the serial component and compares, for each setting of
// DTR and RTS, what the component reports and sets (its modem-line status,
// which the lamps show, and its DTR/RTS control) with what the kernel's
// driver reports for the same device (TIOCMGET on a second descriptor).
// Prints one line per setting; exit status 0 when every line agrees, 1 when
// one does not, 2 when the device could not be used.
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdio>

#include <QCoreApplication>

#include "serial/com_port.h"

namespace {

const char* Bit(bool on) { return on ? "1" : "0"; }

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: tw-modem-lines DEVICE\n");
        return 2;
    }
    TCustomComPort port;
    port.SetEvents(0);
    port.SetPort(QString::fromLocal8Bit(argv[1]));
    port.SetBaudRate(br57600);
    port.FlowControl().SetFlowControl(fcNone);
    int kernelFd = -1;
    try {
        port.OpenPort();
        kernelFd = ::open(argv[1], O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (kernelFd < 0) {
            std::perror(argv[1]);
            return 2;
        }
        bool agree = true;
        const struct {
            bool dtr, rts;
        } kSteps[] = {{true, true}, {false, true}, {true, false}, {false, false}};
        for (const auto& s : kSteps) {
            port.FlowControl().SetControlDTR(s.dtr ? dtrEnable : dtrDisable);
            port.FlowControl().SetControlRTS(s.rts ? rtsEnable : rtsDisable);
            const uint8_t lines = port.ModemSignals();
            int k = 0;
            if (::ioctl(kernelFd, TIOCMGET, &k) != 0) {
                std::perror("TIOCMGET");
                return 2;
            }
            const bool same = s.dtr == bool(k & TIOCM_DTR) && s.rts == bool(k & TIOCM_RTS) &&
                              bool(lines & ms::Cts) == bool(k & TIOCM_CTS) &&
                              bool(lines & ms::Dsr) == bool(k & TIOCM_DSR) &&
                              bool(lines & ms::Ring) == bool(k & TIOCM_RI) &&
                              bool(lines & ms::Rlsd) == bool(k & TIOCM_CD);
            agree = agree && same;
            std::printf("set dtr=%s rts=%s | component cts=%s dsr=%s ring=%s dcd=%s | "
                        "driver dtr=%s rts=%s cts=%s dsr=%s ring=%s dcd=%s | %s\n",
                        Bit(s.dtr), Bit(s.rts), Bit(lines & ms::Cts), Bit(lines & ms::Dsr), Bit(lines & ms::Ring),
                        Bit(lines & ms::Rlsd), Bit(k & TIOCM_DTR), Bit(k & TIOCM_RTS), Bit(k & TIOCM_CTS),
                        Bit(k & TIOCM_DSR), Bit(k & TIOCM_RI), Bit(k & TIOCM_CD), same ? "agree" : "DIFFER");
        }
        ::close(kernelFd);
        port.ClosePort();
        return agree ? 0 : 1;
    } catch (const EComPort& e) {
        std::fprintf(stderr, "tw-modem-lines: %s: port error %d, system error %d\n", argv[1], e.PortError(),
                     e.SystemError());
        if (kernelFd >= 0) ::close(kernelFd);
        return 2;
    }
}
