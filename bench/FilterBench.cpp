// The band filter over a whole file is the hottest loop of an equalised job: 10 minutes
// of stereo through a 301-tap filter, against a plain scalar filter written step by step
// from the algorithm (one output at a time, taps summed in order).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "common/TestWave.h"
#include "dsp/KFirFilter.h"

namespace {

using tandem::Frame;
using tandem::FrameIndex;

constexpr FrameIndex kTenMinutes = 600 * tandem::kSampleRate;  // 26,460,000 frames
constexpr float kAttenuation = 60.0f;
constexpr float kFirstEdge = 2000.0f;  // low-pass 2000..2400 Hz: capped at 301 taps
constexpr float kSecondEdge = 2400.0f;

// Ten seconds of music-like sound, repeated.
const std::vector<Frame>& TenMinutesOfStereo() {
    static const std::vector<Frame> frames = [] {
        const FrameIndex tile = 10 * tandem::kSampleRate;
        const std::vector<double> left = tandem::test::MusicLike(tile, 7);
        const std::vector<double> right = tandem::test::MusicLike(tile, 8);
        std::vector<Frame> out(static_cast<std::size_t>(kTenMinutes));
        for (std::size_t i = 0; i < out.size(); ++i) {
            const std::size_t k = i % left.size();
            out[i] = Frame{tandem::test::ToSample(left[k]), tandem::test::ToSample(right[k])};
        }
        return out;
    }();
    return frames;
}

std::int16_t ScalarSample(float y) {
    const float t = std::trunc(y);
    if (t > 32767.0f) return 32767;
    if (t < -32768.0f) return -32768;
    return static_cast<std::int16_t>(t);
}

// The band-limit step as described: per channel a fresh filter, an input and a zero-filled
// output array, a work array of history + inputs, one output per i, shifted by the delay.
void ScalarApplyBandFilter(Frame* frames, FrameIndex n, float attenuation, float firstEdge, float secondEdge,
                           int kind) {
    for (int channel = 0; channel < 2; ++channel) {
        const tandem::KFirFilter filter(tandem::kSampleRate, firstEdge, secondEdge, attenuation, kind);
        const std::vector<float>& c = filter.Coefficients();
        const FrameIndex taps = static_cast<FrameIndex>(c.size());
        const FrameIndex d = (taps - 1) / 2;
        std::vector<float> work(static_cast<std::size_t>(taps + n), 0.0f);
        for (FrameIndex i = 0; i < n; ++i) {
            const Frame& f = frames[i];
            work[static_cast<std::size_t>(taps + i)] = channel == 0 ? f.left : f.right;
        }
        std::vector<float> out(static_cast<std::size_t>(n), 0.0f);
        for (FrameIndex i = 0; i < n; ++i) {
            float y = 0.0f;
            for (FrameIndex j = 0; j < taps; ++j) {
                y += work[static_cast<std::size_t>(taps + i - j)] * c[static_cast<std::size_t>(j)];
            }
            if (i >= d) out[static_cast<std::size_t>(i - d)] = y;
        }
        for (FrameIndex i = 0; i < n; ++i) {
            const std::int16_t v = ScalarSample(out[static_cast<std::size_t>(i)]);
            if (channel == 0) {
                frames[i].left = v;
            } else {
                frames[i].right = v;
            }
        }
    }
}

int MaxDifference(const std::vector<Frame>& a, const std::vector<Frame>& b) {
    int worst = 0;
    for (std::size_t i = 0; i < a.size(); ++i) {
        worst = std::max(worst, std::abs(a[i].left - b[i].left));
        worst = std::max(worst, std::abs(a[i].right - b[i].right));
    }
    return worst;
}

using BandFilterFunction = void (*)(Frame*, FrameIndex, float, float, float, int);

// Filters a fresh copy of the ten minutes per iteration; returns the last result.
std::vector<Frame> FilterTenMinutes(benchmark::State& state, BandFilterFunction filter) {
    const std::vector<Frame>& source = TenMinutesOfStereo();
    std::vector<Frame> frames;
    for (auto _ : state) {
        state.PauseTiming();
        frames = source;
        state.ResumeTiming();
        filter(frames.data(), kTenMinutes, kAttenuation, kFirstEdge, kSecondEdge, tandem::kLowPass);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kTenMinutes);
    return frames;
}

// At the default rate, as a plain function pointer.
void ApplyBandFilter44k(Frame* frames, FrameIndex n, float attenuation, float firstEdge, float secondEdge, int kind) {
    tandem::ApplyBandFilter(frames, n, attenuation, firstEdge, secondEdge, kind);
}

void BM_ApplyBandFilter_TenMinutesStereo301Taps(benchmark::State& state) {
    FilterTenMinutes(state, ApplyBandFilter44k);
}
BENCHMARK(BM_ApplyBandFilter_TenMinutesStereo301Taps)->Unit(benchmark::kMillisecond)->Iterations(3);

// One run only (it takes tens of seconds); reports how far the fast filter's output lies
// from the scalar one, in 16-bit steps.
void BM_ScalarReference_TenMinutesStereo301Taps(benchmark::State& state) {
    const std::vector<Frame> scalar = FilterTenMinutes(state, ScalarApplyBandFilter);
    std::vector<Frame> fast = TenMinutesOfStereo();
    tandem::ApplyBandFilter(fast.data(), kTenMinutes, kAttenuation, kFirstEdge, kSecondEdge, tandem::kLowPass);
    state.counters["max_lsb_difference"] = MaxDifference(fast, scalar);
}
BENCHMARK(BM_ScalarReference_TenMinutesStereo301Taps)->Unit(benchmark::kMillisecond)->Iterations(1);

// The equalised copy of the 多 band (500-2000 Hz: a high-pass then a low-pass stage, as
// the copy is made), fast and scalar on the same ten minutes in the same run; reports
// their time ratio and the largest difference in 16-bit steps.
void EqBandAgainstScalar(benchmark::State& state) {
    constexpr float kLow = 500.0f, kHigh = 2000.0f, kWidth = 0.2f;
    const auto band = [&](BandFilterFunction filter, std::vector<Frame>& frames) {
        filter(frames.data(), kTenMinutes, kAttenuation, (1.0f - kWidth) * kLow, kLow, tandem::kHighPass);
        filter(frames.data(), kTenMinutes, kAttenuation, kHigh, (1.0f + kWidth) * kHigh, tandem::kLowPass);
    };
    double fastSeconds = 0.0, scalarSeconds = 0.0;
    int worst = 0;
    using Clock = std::chrono::steady_clock;
    for (auto _ : state) {
        std::vector<Frame> fast = TenMinutesOfStereo(), scalar = fast;
        const Clock::time_point t0 = Clock::now();
        band(ApplyBandFilter44k, fast);
        const Clock::time_point t1 = Clock::now();
        band(ScalarApplyBandFilter, scalar);
        const Clock::time_point t2 = Clock::now();
        fastSeconds += std::chrono::duration<double>(t1 - t0).count();
        scalarSeconds += std::chrono::duration<double>(t2 - t1).count();
        worst = std::max(worst, MaxDifference(fast, scalar));
    }
    state.counters["fast_s"] = fastSeconds / static_cast<double>(state.iterations());
    state.counters["scalar_s"] = scalarSeconds / static_cast<double>(state.iterations());
    state.counters["speedup_x"] = scalarSeconds / std::max(fastSeconds, 1e-9);
    state.counters["max_lsb_difference"] = worst;
}
BENCHMARK(EqBandAgainstScalar)->Unit(benchmark::kSecond)->UseRealTime()->Iterations(1);

}  // namespace
