// Throughput of the terminal engine (parser + screen buffer) on a few
// megabytes of mixed text and escape sequences, next to a reference
// terminal library fed the same bytes when it is available.
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>

#include "terminal/com_term_engine.h"

#ifdef TW_HAVE_VTERM
extern "C" {
#include <vterm.h>
}
#endif

namespace {

constexpr int kRows = 27;
constexpr int kCols = 80;
constexpr std::size_t kBlock = 4096;  // one receive block
constexpr std::size_t kTarget = 4u << 20;

struct Lcg {
    uint32_t s = 12345;
    uint32_t Next(uint32_t n)
    {
        s = s * 1664525u + 1013904223u;
        return (s >> 8) % n;
    }
};

std::string MakeStream()
{
    static const char* const words[] = {"RSSI", "channel", "915.064", "MHz", "ok", "baud", "status",
                                        "temperature", "0x6B", "module", "ready", "--"};
    Lcg r;
    std::string s;
    s.reserve(kTarget + 256);
    while (s.size() < kTarget) {
        switch (r.Next(20)) {
        case 0: s += "\x1B[" + std::to_string(r.Next(kRows) + 1) + ";" + std::to_string(r.Next(kCols) + 1) + "H"; break;
        case 1: s += "\x1B[1m"; break;
        case 2: s += "\x1B[0m"; break;
        case 3: s += "\x1B[4;7m"; break;
        case 4: s += "\x1B[K"; break;
        case 5: s += "\x1B[" + std::to_string(r.Next(5) + 1) + (r.Next(2) ? "A" : "C"); break;
        case 6: s += r.Next(50) == 0 ? "\x1B[2J" : "\t"; break;
        case 7:
        case 8: s += "\r\n"; break;
        default:
            s += words[r.Next(sizeof words / sizeof *words)];
            s += ' ';
            break;
        }
    }
    return s;
}

template <class F>
double Seconds(F&& f)
{
    double best = 1e30;
    for (int run = 0; run < 3; ++run) {
        const auto t0 = std::chrono::steady_clock::now();
        f();
        const auto t1 = std::chrono::steady_clock::now();
        best = std::min(best, std::chrono::duration<double>(t1 - t0).count());
    }
    return best;
}

double RunEngine(const std::string& data)
{
    TComTermEngine t;
    t.SetRows(kRows);
    t.WrapLines = true;
    long dirty = 0;
    const double s = Seconds([&] {
        for (std::size_t i = 0; i < data.size(); i += kBlock) {
            const std::size_t n = std::min(kBlock, data.size() - i);
            t.ReceivedData(data.data() + i, static_cast<int>(n));
            dirty += t.TakeDirty().Any;  // the view asks once per block
        }
    });
    std::printf("  (engine: caret at %d,%d, %ld dirty blocks)\n", t.CaretCell().X, t.CaretCell().Y, dirty);
    return s;
}

#ifdef TW_HAVE_VTERM
double RunVterm(const std::string& data)
{
    VTerm* vt = vterm_new(kRows, kCols);
    vterm_set_utf8(vt, 0);
    VTermScreen* screen = vterm_obtain_screen(vt);
    vterm_screen_reset(screen, 1);
    const double s = Seconds([&] {
        for (std::size_t i = 0; i < data.size(); i += kBlock) {
            const std::size_t n = std::min(kBlock, data.size() - i);
            vterm_input_write(vt, data.data() + i, n);
        }
    });
    vterm_free(vt);
    return s;
}
#endif

}  // namespace

int main()
{
    const std::string data = MakeStream();
    const double mb = static_cast<double>(data.size()) / (1024.0 * 1024.0);
    std::printf("bench_terminal: %.2f MB of text and escape sequences, %d x %d screen, %zu-byte blocks\n", mb,
                kCols, kRows, kBlock);
    const double ours = mb / RunEngine(data);
    std::printf("  TComTermEngine: %8.1f MB/s\n", ours);
#ifdef TW_HAVE_VTERM
    const double ref = mb / RunVterm(data);
    std::printf("  libvterm screen: %7.1f MB/s\n", ref);
    std::printf("  ratio (ours / libvterm): %.2f\n", ours / ref);
    // Lines for tools/bench/run.sh: measure, figure, goal.
    std::printf("BENCH\tTerminal parser + buffer throughput\t%.1f MB/s (libvterm %.1f, x%.2f)\t(report)\n", ours,
                ref, ours / ref);
#else
    std::printf("  reference library not available: comparison skipped\n");
    std::printf("BENCH\tTerminal parser + buffer throughput\t%.1f MB/s (no libvterm)\t(report)\n", ours);
#endif
    return 0;
}
