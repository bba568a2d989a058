// The band-limited reader's variants against the plain definition (bench/SincReference.h):
// one second of stereo (the output writer's) or mono (the fine track's) read at a rate
// just off 1.
#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include "SincReference.h"

namespace {

using namespace tandem;

struct Reading {
    std::vector<float> left, right;
    std::vector<double> pos;
    std::vector<float> outLeft, outRight;
    explicit Reading(std::size_t n) : left(n + 64), right(n + 64), pos(n), outLeft(n), outRight(n) {
        std::mt19937 rng(5);
        std::uniform_real_distribution<float> u(-20000.0f, 20000.0f);
        for (std::size_t i = 0; i < left.size(); ++i) left[i] = u(rng), right[i] = u(rng);
        for (std::size_t i = 0; i < n; ++i) pos[i] = 32.0 + 0.9998 * static_cast<double>(i);
    }
};

void SincKernels(benchmark::State& state) {
    const auto kernel = static_cast<SincKernel>(state.range(0));
    const int channels = static_cast<int>(state.range(1));
    if (!Supports(kernel)) {
        state.SkipWithError("not supported on this processor");
        return;
    }
    Reading r(44100);
    const SincTable& table = SincTableFor(1.0);
    const float* src[2] = {r.left.data(), r.right.data()};
    float* out[2] = {r.outLeft.data(), r.outRight.data()};
    for (auto _ : state) {
        SincReadWith(kernel, table, src, channels, r.pos.data(), r.pos.size(), out);
        benchmark::DoNotOptimize(r.outLeft.data());
    }
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(r.pos.size()));
}
BENCHMARK(SincKernels)->ArgsProduct({{0, 1, 2}, {2, 1}})->Unit(benchmark::kMillisecond);

void SincPlainReference(benchmark::State& state) {
    Reading r(44100);
    for (auto _ : state) {
        for (std::size_t i = 0; i < r.pos.size(); ++i) {
            r.outLeft[i] = static_cast<float>(reference::SincAt(r.left.data(), static_cast<std::int64_t>(r.left.size()), r.pos[i], 1.0));
            r.outRight[i] = static_cast<float>(reference::SincAt(r.right.data(), static_cast<std::int64_t>(r.right.size()), r.pos[i], 1.0));
        }
        benchmark::DoNotOptimize(r.outLeft.data());
    }
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(r.pos.size()));
}
BENCHMARK(SincPlainReference)->Unit(benchmark::kMillisecond);

}  // namespace
