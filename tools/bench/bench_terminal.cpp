// Throughput of the terminal engine (parser + screen buffer), workload by
// workload, next to a reference terminal library fed the same bytes in the
// same blocks when it is available.
//
//   bench_terminal [--reps N] [--mb N] [--only NAME] [--engine ours|ref] [--hooks 1]
//
// Each workload is measured N times (default 7), ours and the reference
// taking turns, and the best run of each counts; a run is timed by the CPU
// time of this thread, so that time spent waiting for a core on a shared
// machine does not count, and the best run is the one least disturbed. --only and --engine pick
// one workload or one side (for a profiler). --hooks 1 sets the engine's
// notifications as the terminal control does (each character, each block,
// each unhandled code), which costs a call per character. Exit code 2 when a goal was
// missed: at least the reference's speed on every workload, and at least
// 100 MB/s on plain text.
#include <algorithm>
#include <ctime>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

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
constexpr double kPlainGoal = 100.0;  // MB/s

struct Lcg {
    uint32_t s = 12345;
    uint32_t Next(uint32_t n)
    {
        s = s * 1664525u + 1013904223u;
        return (s >> 8) % n;
    }
};

const char* const kWords[] = {"RSSI", "channel", "915.064", "MHz", "ok",     "baud",
                              "status", "temperature", "0x6B", "module", "ready", "--"};

// Lines of words up to 72 characters, each ended by CR LF.
void AppendLine(std::string& s, Lcg& r)
{
    std::size_t len = 0;
    const std::size_t want = 20 + r.Next(53);
    while (len < want) {
        const char* w = kWords[r.Next(sizeof kWords / sizeof *kWords)];
        s += w;
        s += ' ';
        len += std::strlen(w) + 1;
    }
    s += "\r\n";
}

std::string MakePlain(std::size_t target)
{
    Lcg r;
    std::string s;
    s.reserve(target + 128);
    while (s.size() < target) AppendLine(s, r);
    return s;
}

// Every character in its own colours: ESC [3x;4xm, the character, ESC [0m.
std::string MakeColours(std::size_t target)
{
    Lcg r;
    std::string s;
    s.reserve(target + 32);
    while (s.size() < target) {
        s += "\x1B[3";
        s += static_cast<char>('0' + r.Next(8));
        s += ";4";
        s += static_cast<char>('0' + r.Next(8));
        s += 'm';
        s += static_cast<char>('!' + r.Next(94));
        s += "\x1B[0m";
    }
    return s;
}

// Every character at its own place: ESC [r;cH and the character.
std::string MakeCursor(std::size_t target)
{
    Lcg r;
    std::string s;
    s.reserve(target + 32);
    while (s.size() < target) {
        s += "\x1B[";
        s += std::to_string(r.Next(kRows) + 1);
        s += ';';
        s += std::to_string(r.Next(kCols) + 1);
        s += 'H';
        s += static_cast<char>('!' + r.Next(94));
    }
    return s;
}

// A status line at the top and bottom, text scrolling between them: the
// region is set once (rows 3 to 25), then lines of text go to its last row.
// Our engine scrolls the whole screen (it has no scrolling region and hands
// the code to OnUnhandledCode), the reference scrolls the region only.
std::string MakeScrollRegion(std::size_t target)
{
    Lcg r;
    std::string s = "\x1B[2J\x1B[1;1HRSSI -61 dBm  channel 7\x1B[27;1Hready\x1B[3;25r\x1B[25;1H";
    s.reserve(target + 128);
    while (s.size() < target) AppendLine(s, r);
    return s;
}

struct Workload {
    const char* name;     // for --only
    const char* measure;  // for the table
    std::string (*make)(std::size_t target);
};

double CpuNow()
{
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

double Seconds(double t0) { return CpuNow() - t0; }

bool gHooks = false;

// One run through a fresh engine set up as the Terminal page sets it up.
[[gnu::noinline]] double RunOurs(const std::string& data, long& dirtyBlocks)
{
    TComTermEngine t;
    t.SetRows(kRows);
    t.WrapLines = true;
    long seen = 0;
    if (gHooks) {
        t.OnChar = [&seen](uint8_t) { ++seen; };
        t.OnStrReceived = [&seen](std::string&) { ++seen; };
        t.OnUnhandledCode = [&seen](TEscapeCode, const std::string&) { ++seen; };
    }
    const double t0 = CpuNow();
    for (std::size_t i = 0; i < data.size(); i += kBlock) {
        const std::size_t n = std::min(kBlock, data.size() - i);
        t.ReceivedData(data.data() + i, static_cast<int>(n));
        dirtyBlocks += t.TakeDirty().Any;  // the view asks once per block
    }
    dirtyBlocks += seen > 0;
    return Seconds(t0);
}

#ifdef TW_HAVE_VTERM
[[gnu::noinline]] double RunRef(const std::string& data)
{
    VTerm* vt = vterm_new(kRows, kCols);
    vterm_set_utf8(vt, 0);
    VTermScreen* screen = vterm_obtain_screen(vt);
    vterm_screen_reset(screen, 1);
    const double t0 = CpuNow();
    for (std::size_t i = 0; i < data.size(); i += kBlock) {
        const std::size_t n = std::min(kBlock, data.size() - i);
        vterm_input_write(vt, data.data() + i, n);
    }
    const double s = Seconds(t0);
    vterm_free(vt);
    return s;
}
#endif

}  // namespace

int main(int argc, char** argv)
{
    int reps = 7;
    double mbWanted = 4;
    std::string only, side;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!std::strcmp(argv[i], "--reps"))
            reps = std::max(1, std::atoi(argv[i + 1]));
        else if (!std::strcmp(argv[i], "--mb"))
            mbWanted = std::max(0.01, std::atof(argv[i + 1]));
        else if (!std::strcmp(argv[i], "--only"))
            only = argv[i + 1];
        else if (!std::strcmp(argv[i], "--engine"))
            side = argv[i + 1];
        else if (!std::strcmp(argv[i], "--hooks"))
            gHooks = std::atoi(argv[i + 1]) != 0;
    }
    const auto target = static_cast<std::size_t>(mbWanted * 1024 * 1024);
    std::vector<Workload> loads;
    loads.push_back({"plain", "Terminal: plain text with CR LF", MakePlain});
    loads.push_back({"colours", "Terminal: dense colours", MakeColours});
    loads.push_back({"cursor", "Terminal: dense cursor addressing", MakeCursor});
    loads.push_back({"region", "Terminal: text in a scrolling region", MakeScrollRegion});

    std::printf("bench_terminal: %d x %d screen, %zu-byte blocks, best of %d runs (thread CPU time)%s\n", kCols, kRows, kBlock, reps,
                gHooks ? ", with notifications" : "");
    bool missed = false;
    std::vector<std::string> rows;
    for (const Workload& w : loads) {
        if (!only.empty() && only != w.name) continue;
        const std::string data = w.make(target);
        const double mb = static_cast<double>(data.size()) / (1024.0 * 1024.0);
        double ours = 1e30, ref = 1e30;
        long dirty = 0;
        for (int run = 0; run < reps; ++run) {
            if (side != "ref") ours = std::min(ours, RunOurs(data, dirty));
#ifdef TW_HAVE_VTERM
            if (side != "ours") ref = std::min(ref, RunRef(data));
#endif
        }
        const double oursMBs = side == "ref" ? 0 : mb / ours;
#ifdef TW_HAVE_VTERM
        const double refMBs = side == "ours" ? 0 : mb / ref;
        const double ratio = refMBs > 0 ? oursMBs / refMBs : 0;
        std::printf("  %-8s %5.2f MB  ours %7.1f MB/s  libvterm %7.1f MB/s  x%.2f\n", w.name, mb, oursMBs, refMBs,
                    ratio);
        const bool plain = !std::strcmp(w.name, "plain");
        if (side.empty() && (ratio < 1.0 || (plain && oursMBs < kPlainGoal))) missed = true;
        char line[256];
        std::snprintf(line, sizeof line, "BENCH\t%s\t%.1f MB/s (libvterm %.1f, x%.2f)\t%s", w.measure, oursMBs,
                      refMBs, ratio, plain ? ">= 100 MB/s, >= x1.00" : ">= x1.00");
        rows.emplace_back(line);
#else
        (void)ref;
        std::printf("  %-8s %5.2f MB  ours %7.1f MB/s  (no reference library)\n", w.name, mb, oursMBs);
        const bool plain = !std::strcmp(w.name, "plain");
        if (side.empty() && plain && oursMBs < kPlainGoal) missed = true;
        char line[256];
        std::snprintf(line, sizeof line, "BENCH\t%s\t%.1f MB/s (no libvterm)\t%s", w.measure, oursMBs,
                      plain ? ">= 100 MB/s" : "(report)");
        rows.emplace_back(line);
#endif
    }
    for (const std::string& r : rows) std::printf("%s\n", r.c_str());
    return missed ? 2 : 0;
}
