// The exhaustive check that the score kernel's division-free position is the divided
// one (the kernel's speed is reported by SearchAgainstReference in SyncBench).
//
// DivisionFreePositions compares the positions i * n / L of the
// division-free kernel with the division for every i of every pair (n, L) up to 1024,
// every length within +-200 of the division spans a search uses (one to six divisions
// of 0.1, 0.2, 0.3, 1 and 3 s), and 300 random pairs up to 2^21 frames within +-30 %;
// it fails on the first difference.
//
// DivisionFreeCubic does the same for the time map's cubic: 200,000 random segments of
// whole lengths up to 2^22 frames (rates 0.5 to 2, fractional rises, the tangents about
// the rate), 100 frames each from a random start, against the plain loop.
#include <benchmark/benchmark.h>

#include <cstring>

#include <random>
#include <string>
#include <vector>

#include "dsp/CubicRun.h"
#include "sync/StretchScore.h"

namespace {

using namespace tandem;

const char* Name(StretchKernel k) {
    switch (k) {
        case StretchKernel::Plain: return "plain";
        case StretchKernel::Avx2Divide: return "avx2_div";
        case StretchKernel::Avx2: return "avx2";
        case StretchKernel::Avx512Divide: return "avx512_div";
        case StretchKernel::Avx512: return "avx512";
    }
    return "?";
}

void DivisionFreePositions(benchmark::State& state) {
    std::vector<std::pair<FrameIndex, FrameIndex>> pairs;
    for (FrameIndex n = 1; n <= 1024; ++n)
        for (FrameIndex L = 1; L <= 1024; ++L) pairs.emplace_back(n, L);
    for (FrameIndex step : {1, 2, 3, 10, 30})
        for (FrameIndex divisions = 1; divisions <= 6; ++divisions)
            for (FrameIndex L = step * 4410 * divisions - 200; L <= step * 4410 * divisions + 200; ++L)
                pairs.emplace_back(step * 4410 * divisions, L);
    std::mt19937 rng(17);
    for (int k = 0; k < 300; ++k) {
        const FrameIndex n = 1 + static_cast<FrameIndex>(rng() % (1u << 21));
        const FrameIndex spread = std::max<FrameIndex>(1, n * 3 / 10);
        pairs.emplace_back(n, std::max<FrameIndex>(1, n - spread + static_cast<FrameIndex>(rng() % (2 * spread + 1))));
    }
    const StretchKernel kernels[] = {StretchKernel::Avx2, StretchKernel::Avx512};
    double checked = 0.0;
    for (auto _ : state) {
        std::vector<double> divided, fast;
        for (StretchKernel kernel : kernels) {
            if (!Supports(kernel)) continue;
            for (const auto& [n, L] : pairs) {
                divided.resize(static_cast<std::size_t>(L));
                fast.resize(divided.size());
                StretchPositionsWith(StretchKernel::Plain, n, L, divided.data());
                StretchPositionsWith(kernel, n, L, fast.data());
                if (fast != divided) {
                    state.SkipWithError(("difference at n " + std::to_string(n) + " L " + std::to_string(L) + " (" +
                                         Name(kernel) + ")").c_str());
                    return;
                }
                checked += static_cast<double>(L);
            }
        }
    }
    state.counters["pairs"] = static_cast<double>(pairs.size());
    state.counters["positions"] = checked;
}

void DivisionFreeCubic(benchmark::State& state) {
    std::mt19937_64 rng(23);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    double checked = 0.0;
    for (auto _ : state) {
        std::vector<double> plain(100), fast(100);
        for (int c = 0; c < 200000; ++c) {
            const double h = static_cast<double>(1 + rng() % (1u << 22)), rate = 0.5 + 1.5 * unit(rng);
            const double x0 = static_cast<double>(rng() % (1ull << 36));
            const CubicSegment s{x0, x0 * rate + unit(rng) * 1e5, h, h * rate + 4.0 * (unit(rng) - 0.5),
                                 rate * (0.98 + 0.04 * unit(rng)), rate * (0.98 + 0.04 * unit(rng)), c % 9 == 0};
            const double m0 = x0 + static_cast<double>(rng() % static_cast<std::uint64_t>(h));
            CubicRunWith(SincKernel::Plain, s, m0, 100, plain.data());
            for (SincKernel kernel : {SincKernel::Avx2, SincKernel::Avx512}) {
                if (!Supports(kernel)) continue;
                CubicRunWith(kernel, s, m0, 100, fast.data());
                if (std::memcmp(plain.data(), fast.data(), sizeof(double) * plain.size()) != 0) {
                    state.SkipWithError(("difference at segment " + std::to_string(c)).c_str());
                    return;
                }
                checked += 100.0;
            }
        }
    }
    state.counters["positions"] = checked;
}

}  // namespace

BENCHMARK(DivisionFreeCubic)->Unit(benchmark::kSecond)->UseRealTime()->Iterations(1);
BENCHMARK(DivisionFreePositions)->Unit(benchmark::kSecond)->UseRealTime()->Iterations(1);
