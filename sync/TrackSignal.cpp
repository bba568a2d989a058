#include "sync/TrackSignal.h"

#include "core/Clones.h"
#include "sync/PatternSearch.h"
#include "wave/FrameSums.h"
#include "wave/KWavefile.h"

namespace tandem::track {
namespace {

std::vector<float> lowPassTaps(double cutoff, int half) {
    // Kaiser window, beta 5 (about 55 dB of stop band).
    std::vector<float> taps(static_cast<std::size_t>(2 * half + 1));
    const double beta = 5.0;
    const auto bessel0 = [](double x) {
        double sum = 1.0, term = 1.0;
        for (int k = 1; k < 30; ++k) {
            term *= (x / (2.0 * k)) * (x / (2.0 * k));
            sum += term;
        }
        return sum;
    };
    double total = 0.0;
    for (int j = -half; j <= half; ++j) {
        const double sinc = j == 0 ? 2.0 * cutoff : std::sin(2.0 * M_PI * cutoff * j) / (M_PI * j);
        const double r = static_cast<double>(j) / (half + 1);
        const double w = bessel0(beta * std::sqrt(std::max(0.0, 1.0 - r * r))) / bessel0(beta);
        taps[static_cast<std::size_t>(j + half)] = static_cast<float>(sinc * w);
        total += sinc * w;
    }
    for (float& t : taps) t = static_cast<float>(t / total);
    return taps;
}

// y[k] = sum_j taps[j] x[k * factor + j] for k < count (x holds what that reads), as a
// sum over the filter's phases: each phase is a plain filter over every factor-th
// value, which runs sixteen outputs to a vector. Each output adds its products in the
// same order in every lane and in the tail, so every clone gives the same values.
TANDEM_CLONES("avx2", "avx512f")
void polyphase(const float* x, std::size_t count, int factor, const std::vector<float>& taps, float* y,
               std::vector<float>& phases) {
    typedef float v16 __attribute__((vector_size(64)));
    const std::size_t d = static_cast<std::size_t>(factor);
    const std::size_t perPhase = (taps.size() + d - 1) / d;
    const std::size_t span = count + perPhase + 64;
    const std::size_t readable = taps.size() + (count - 1) * d;
    phases.resize(span * d);
    for (std::size_t p = 0; p < d; ++p) {
        float* row = phases.data() + p * span;
        // x[n * d + p] for n while it lies inside x, zeros after.
        const std::size_t inside = std::min(span, p < readable ? (readable - p + d - 1) / d : 0);
        for (std::size_t n = 0; n < inside; ++n) row[n] = x[n * d + p];
        std::fill(row + inside, row + span, 0.0f);
    }
    std::vector<float> h(perPhase * d, 0.0f);  // h[p * perPhase + q] = taps[q * d + p]
    for (std::size_t j = 0; j < taps.size(); ++j) h[(j % d) * perPhase + j / d] = taps[j];
    // Four vectors of outputs at once: the additions of one do not wait for another's.
    std::size_t k = 0;
    for (; k + 64 <= count; k += 64) {
        v16 acc[4] = {};
        for (std::size_t p = 0; p < d; ++p) {
            const float* src = phases.data() + p * span + k;
            const float* hp = h.data() + p * perPhase;
            for (std::size_t q = 0; q < perPhase; ++q) {
                for (int u = 0; u < 4; ++u) {
                    v16 b;
                    std::memcpy(&b, src + q + 16 * u, sizeof b);
                    acc[u] += hp[q] * b;
                }
            }
        }
        std::memcpy(y + k, acc, sizeof acc);
    }
    for (; k < count; ++k) {
        float acc = 0.0f;
        for (std::size_t p = 0; p < d; ++p)
            for (std::size_t q = 0; q < perPhase; ++q) acc += h[p * perPhase + q] * phases[p * span + k + q];
        y[k] = acc;
    }
}

}  // namespace

double median(std::vector<double> v) {
    if (v.empty()) return 0.0;
    const std::size_t mid = v.size() / 2;
    std::nth_element(v.begin(), v.begin() + static_cast<std::ptrdiff_t>(mid), v.end());
    return v[mid];
}

// The natural logarithm of y >= 1 to about 1e-6, from the exponent's bits and an odd
// series in (m - 1) / (m + 1) for the mantissa m in [1, 2): the envelope takes one a bin
// a frame, and the library's log1pf was a fifth of the track's time.
float logOf(float y) {
    std::uint32_t bits;
    std::memcpy(&bits, &y, sizeof bits);
    const int exponent = static_cast<int>((bits >> 23) & 0xff) - 127;
    bits = (bits & 0x7fffffu) | 0x3f800000u;
    float m;
    std::memcpy(&m, &bits, sizeof m);
    const float t = (m - 1.0f) / (m + 1.0f), t2 = t * t;
    const float series = 2.0f * t * (1.0f + t2 * (1.0f / 3.0f + t2 * (0.2f + t2 * (1.0f / 7.0f + t2 * (1.0f / 9.0f + t2 / 11.0f)))));
    return series + static_cast<float>(exponent) * 0.69314718f;
}

// Each block's energy is its own chain of additions in order; four blocks side by side
// keep the adder busy (the levels run on one core, between the decimation and the
// correlations).
Levels::Levels(const Signal& x) : count_(static_cast<FrameIndex>(x.size())), sums_(x.size() / kBlock + 2, 0.0) {
    const std::size_t blocks = sums_.size() - 1, whole = x.size() / kBlock;
    std::size_t b = 0;
    for (; b + 4 <= whole; b += 4) {
        double e[4] = {};
        for (std::size_t i = 0; i < kBlock; ++i)
            for (std::size_t k = 0; k < 4; ++k) {
                const double v = x[(b + k) * kBlock + i];
                e[k] += v * v;
            }
        for (std::size_t k = 0; k < 4; ++k) sums_[b + k + 1] = sums_[b + k] + e[k];
    }
    for (; b < blocks; ++b) {
        double e = 0.0;
        for (std::size_t i = b * kBlock; i < std::min(x.size(), (b + 1) * kBlock); ++i) e += static_cast<double>(x[i]) * x[i];
        sums_[b + 1] = sums_[b] + e;
    }
}

// The whole file as mono (left + right), low-passed and decimated by `factor`.
Signal decimatedMono(KWavefile& file, int factor, double cutoffHz) {
    const double rate = file.SampleRate;
    const int half = std::max(8, static_cast<int>(std::lround(0.0009 * rate)));
    const std::vector<float> taps = lowPassTaps(cutoffHz / rate, half);
    const FrameIndex frames = std::max<FrameIndex>(file.FrameCount, 0);
    const FrameIndex outCount = frames / factor;
    Signal out(static_cast<std::size_t>(outCount));  // every value is written below
    const FrameIndex block = 1 << 16;  // outputs per read
    std::vector<Frame> raw;
    std::vector<float> mono, phase;
    for (FrameIndex k0 = 0; k0 < outCount; k0 += block) {
        const FrameIndex k1 = std::min(outCount, k0 + block);
        const FrameIndex from = k0 * factor - half, to = (k1 - 1) * factor + half + 1;
        const FrameIndex a = std::max<FrameIndex>(from, 0), b = std::min(to, frames);
        mono.assign(static_cast<std::size_t>(to - from), 0.0f);
        if (b > a) {
            const Frame* src = file.FramesInPlace(a, b);
            if (!src) {
                raw.resize(static_cast<std::size_t>(b - a));
                if (file.ReadFrames(raw.data(), a, b) == 0) throw Unreadable(file);
                src = raw.data();
            }
            ChannelSums(src, static_cast<std::size_t>(b - a), mono.data() + (a - from));
        }
        polyphase(mono.data(), static_cast<std::size_t>(k1 - k0), factor, taps, out.data() + k0, phase);
    }
    return out;
}

Signal decimate(const Signal& x, int factor, double cutoff) {
    const int half = 4 * factor;
    const std::vector<float> taps = lowPassTaps(cutoff, half);
    const std::size_t count = x.size() / static_cast<std::size_t>(factor);
    Signal padded(x.size() + 2 * static_cast<std::size_t>(half) + 1);
    const auto tail = std::copy(x.begin(), x.end(), std::fill_n(padded.begin(), half, 0.0f));
    std::fill(tail, padded.end(), 0.0f);
    Signal y(count);
    std::vector<float> phase;
    if (count > 0) polyphase(padded.data(), count, factor, taps, y.data(), phase);
    return y;
}

}  // namespace tandem::track
