// The exhaustive check that the score kernel's division-free position is the divided
// one (the kernel's speed is reported by SearchAgainstReference in SyncBench).
//
// DivisionFreePositions compares the positions i * n / L of the
// division-free kernel with the division for every i of every pair (n, L) up to 1024,
// every length within +-200 of the division spans a search uses (one to six divisions
// of 0.1, 0.2, 0.3, 1 and 3 s), and 300 random pairs up to 2^21 frames within +-30 %;
// it fails on the first difference.
#include <benchmark/benchmark.h>

#include <random>
#include <string>
#include <vector>

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

}  // namespace

BENCHMARK(DivisionFreePositions)->Unit(benchmark::kSecond)->UseRealTime()->Iterations(1);
