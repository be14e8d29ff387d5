// Runs a fuzz target without libFuzzer, as a short smoke test under the
// sanitizer build: every corpus file first, then a fixed number of inputs
// mutated from them with a deterministic generator, so a failure repeats.
// Usage: smoke_<target> CORPUS_DIR [ITERATIONS]
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

struct TXorShift {
    uint64_t state = 0x9E3779B97F4A7C15ull;
    uint64_t Next()
    {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        return state;
    }
    size_t Below(size_t n) { return n ? size_t(Next() % n) : 0; }
};

std::vector<uint8_t> Mutate(std::vector<uint8_t> v, TXorShift& rng)
{
    const int steps = 1 + int(rng.Below(8));
    for (int s = 0; s < steps; ++s) {
        switch (rng.Below(5)) {
        case 0:   // flip a bit
            if (!v.empty()) v[rng.Below(v.size())] ^= uint8_t(1u << rng.Below(8));
            break;
        case 1:   // set a byte to a random or interesting value
            if (!v.empty()) {
                static const uint8_t interesting[] = {0x00, 0x01, 0x1B, 0x3B, 0x7F, 0x80, 0xFF, '[', '9', '?'};
                v[rng.Below(v.size())] = rng.Below(2) ? uint8_t(rng.Next()) : interesting[rng.Below(sizeof interesting)];
            }
            break;
        case 2:   // insert random bytes
            for (size_t n = rng.Below(16), at = rng.Below(v.size() + 1); n > 0; --n)
                v.insert(v.begin() + long(at), uint8_t(rng.Next()));
            break;
        case 3:   // erase a run
            if (!v.empty()) {
                const size_t at = rng.Below(v.size());
                v.erase(v.begin() + long(at), v.begin() + long(std::min(v.size(), at + 1 + rng.Below(16))));
            }
            break;
        default:  // repeat a slice, to reach long runs
            if (!v.empty() && v.size() < 65536) {
                const size_t at = rng.Below(v.size());
                const size_t len = 1 + rng.Below(std::min<size_t>(64, v.size() - at));
                const std::vector<uint8_t> slice(v.begin() + long(at), v.begin() + long(at + len));
                for (size_t n = 1 + rng.Below(64); n > 0; --n) v.insert(v.end(), slice.begin(), slice.end());
            }
            break;
        }
    }
    return v;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s CORPUS_DIR [ITERATIONS]\n", argv[0]);
        return 2;
    }
    const long iterations = argc > 2 ? std::atol(argv[2]) : 20000;
    std::vector<std::vector<uint8_t>> corpus;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(argv[1], ec)) {
        if (!entry.is_regular_file()) continue;
        std::ifstream in(entry.path(), std::ios::binary);
        corpus.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    if (ec) {
        std::fprintf(stderr, "%s: %s\n", argv[1], ec.message().c_str());
        return 2;
    }
    if (corpus.empty()) corpus.emplace_back();
    for (const auto& input : corpus) LLVMFuzzerTestOneInput(input.data(), input.size());
    TXorShift rng;
    for (long i = 0; i < iterations; ++i) {
        const std::vector<uint8_t> input = Mutate(corpus[rng.Below(corpus.size())], rng);
        LLVMFuzzerTestOneInput(input.data(), input.size());
    }
    std::printf("%zu corpus inputs and %ld mutations ran clean\n", corpus.size(), iterations);
    return 0;
}
