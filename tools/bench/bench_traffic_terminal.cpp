// CPU of the whole panel while its terminal shows 11.5 kB/s of text lines
// (CR LF, the screen scrolling) for 30 s with the traffic window open and
// following the tail. A child process plays the far end of a pty, so its
// writing is not counted. Goal: under 5 % of a core.
//
//   bench_traffic_terminal [SECONDS] [BYTES_PER_SECOND]
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QPushButton>
#include <QTabWidget>
#include <QTimer>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "app/main_window.h"
#include "module/ui/com_port_page.h"
#include "serial/ui/com_led.h"
#include "serial/com_port.h"
#include "serial/ui/traffic_model.h"
#include "serial/ui/traffic_window.h"
#include "terminal/ui/com_terminal.h"
#include "terminal/ui/terminal_page.h"
#include "tools/bench/bench_support.h"

namespace {

// The far end: waits for a byte on `go`, then writes rate bytes a second in
// 10 ms steps on a fixed schedule for `seconds`.
[[noreturn]] void Feed(int master, int go, int seconds, int rate)
{
    char c;
    if (::read(go, &c, 1) != 1) _exit(1);
    std::string text;
    for (int line = 0; text.size() < 1 << 20; ++line) {
        std::string l = "line " + std::to_string(line) + ": ";
        while (l.size() < 78) l += char('a' + (l.size() + line) % 26);
        text += l + "\r\n";
    }
    const auto start = std::chrono::steady_clock::now();
    std::size_t at = 0;
    long long sent = 0;
    for (int step = 1; step <= seconds * 100; ++step) {
        std::this_thread::sleep_until(start + std::chrono::milliseconds(10 * step));
        const long long due = static_cast<long long>(rate) * step / 100;
        while (sent < due) {
            const std::size_t n = std::min<std::size_t>(static_cast<std::size_t>(due - sent), text.size() - at);
            const ssize_t w = ::write(master, text.data() + at, n);
            if (w <= 0) {
                pollfd p{master, POLLOUT, 0};
                ::poll(&p, 1, 10);
                continue;
            }
            sent += w;
            at = (at + static_cast<std::size_t>(w)) % text.size();
        }
    }
    _exit(0);
}

}  // namespace

int main(int argc, char** argv)
{
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 30;
    const int rate = argc > 2 ? std::atoi(argv[2]) : 11500;
    int master = -1, slave = -1;
    char name[128] = {};
    if (openpty(&master, &slave, name, nullptr, nullptr) != 0) {
        std::perror("openpty");
        return 1;
    }
    termios t{};
    tcgetattr(slave, &t);
    cfmakeraw(&t);
    tcsetattr(slave, TCSANOW, &t);
    int go[2];
    if (pipe(go) != 0) return 1;
    const pid_t child = fork();
    if (child == 0) {
        close(go[1]);
        Feed(master, go[0], seconds, rate);
    }
    close(go[0]);

    QApplication app(argc, argv);
    TTarnwickForm form;
    form.show();
    form.AddPort(QString::fromLocal8Bit(name));
    form.ComPortSheet->OpenComPort->click();
    if (!form.ComPort1->Connected()) {
        std::fprintf(stderr, "the port did not open\n");
        kill(child, SIGKILL);
        return 1;
    }
    form.PageControl1->setCurrentWidget(form.TerminalSheet);
    const bool withWindow = qgetenv("TW_BENCH_NO_TRAFFIC_WINDOW").isEmpty();
    if (withWindow) form.Traffic1->trigger();
    QCoreApplication::processEvents();
    // Attached the way the page's focus handler does it.
    TComTerminal* term = form.TerminalSheet->ComTerminal;
    term->SetComPort(form.ComPort1);
    if (!qgetenv("TW_BENCH_HIDDEN").isEmpty()) form.hide();  // to tell painting from the rest
    if (!qgetenv("TW_BENCH_NO_LAMPS").isEmpty())
        for (TComLed* led : form.TerminalSheet->findChildren<TComLed*>()) led->hide();

    const uint64_t before = form.ComPort1->Traffic().EndByte();
    const double cpu0 = CpuSeconds();
    QElapsedTimer wall;
    wall.start();
    [[maybe_unused]] const ssize_t started = ::write(go[1], "g", 1);
    int status = 0;
    QEventLoop loop;
    QTimer poller;
    QObject::connect(&poller, &QTimer::timeout, [&] {
        if (waitpid(child, &status, WNOHANG) == child) loop.quit();
    });
    poller.start(50);
    loop.exec();
    // The last bytes still on their way.
    QElapsedTimer drain;
    drain.start();
    const uint64_t expected = static_cast<uint64_t>(rate) * static_cast<uint64_t>(seconds);
    while (form.ComPort1->Traffic().EndByte() - before < expected && drain.elapsed() < 2000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    const double cpu = CpuSeconds() - cpu0;
    const double wallS = double(wall.elapsed()) / 1000.0;
    const double share = 100.0 * cpu / wallS;
    const uint64_t got = form.ComPort1->Traffic().EndByte() - before;
    const int rows = withWindow ? form.TrafficWindow()->Model().rowCount() : 0;

    term->SetComPort(nullptr);
    form.ComPort1->ClosePort();
    ioctl(slave, TIOCNXCL);
    close(slave);
    close(master);
    std::printf("terminal at %d B/s for %d s, traffic window open: %.2f %% of a core (%.2f s CPU over %.2f s); "
                "%llu of %llu bytes shown, %d traffic lines, %d scrollback lines\n",
                rate, seconds, share, cpu, wallS, static_cast<unsigned long long>(got),
                static_cast<unsigned long long>(expected), rows, term->Scrollback().Count());
    const bool ok = share < 5.0 && got >= expected;
    std::printf("BENCH\tTerminal at %.1f kB/s, traffic window open (CPU of a core)\t%.2f %%\t< 5 %%\n", rate / 1000.0,
                share);
    std::printf("%s\n", ok ? "OK" : "TOO HIGH or bytes missing");
    return ok ? 0 : 2;
}
