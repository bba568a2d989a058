#include "dsp/SincResampler.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <memory>
#include <mutex>

#include "core/SimdTarget.h"

namespace tandem {
namespace {

double besselI0(double x) {
    double sum = 1.0, term = 1.0;
    for (int k = 1; k < 60 && term > 1e-17 * sum; ++k) {
        const double h = x / (2.0 * k);
        term *= h * h;
        sum += term;
    }
    return sum;
}

// Where a read at pos starts and how far between two table rows it lies.
struct Place {
    std::int64_t first;  // first source frame used
    int phase;
    float fraction;
};

inline Place place(const SincTable& table, double pos) {
    const double whole = std::floor(pos);
    const double at = (pos - whole) * kSincPhases;
    const int phase = std::min(static_cast<int>(at), kSincPhases - 1);
    return {static_cast<std::int64_t>(whole) - table.reach(), phase, static_cast<float>(at - phase)};
}

// The fixed tree of the sixteen partial sums.
inline float reduce16(float* l) {
    for (int k = 0; k < 8; ++k) l[k] = l[k] + l[k + 8];
    for (int k = 0; k < 4; ++k) l[k] = l[k] + l[k + 4];
    for (int k = 0; k < 2; ++k) l[k] = l[k] + l[k + 2];
    return l[0] + l[1];
}

void readPlain(const SincTable& table, const float* const* src, int channels, const double* pos, std::size_t n,
               float* const* out) {
    const int taps = table.taps();
    std::vector<float> w(static_cast<std::size_t>(taps));
    for (std::size_t i = 0; i < n; ++i) {
        const Place p = place(table, pos[i]);
        const float* a = table.row(p.phase);
        const float* b = table.row(p.phase + 1);
        for (int j = 0; j < taps; ++j) w[static_cast<std::size_t>(j)] = a[j] + p.fraction * (b[j] - a[j]);
        for (int c = 0; c < channels; ++c) {
            const float* x = src[c] + p.first;
            float lanes[16] = {};
            for (int j = 0; j < taps; ++j) lanes[j % 16] = lanes[j % 16] + w[static_cast<std::size_t>(j)] * x[j];
            out[c][i] = reduce16(lanes);
        }
    }
}

TANDEM_TARGET("avx2") inline float reduce8x2(__m256 lo, __m256 hi) {
    const __m256 t = _mm256_add_ps(lo, hi);
    const __m128 u = _mm_add_ps(_mm256_castps256_ps128(t), _mm256_extractf128_ps(t, 1));
    const __m128 v = _mm_add_ps(u, _mm_movehl_ps(u, u));
    return _mm_cvtss_f32(_mm_add_ss(v, _mm_shuffle_ps(v, v, 1)));
}

TANDEM_TARGET("avx2") inline __m256 weights8(const float* a, const float* b, __m256 f) {
    const __m256 va = _mm256_loadu_ps(a);
    return _mm256_add_ps(va, _mm256_mul_ps(f, _mm256_sub_ps(_mm256_loadu_ps(b), va)));
}

// Eight reductions at once, each in reduce8x2's tree after its first addition: of sums
// (a, b, c, d, e, f, g, h), [a c e g | b d f h]. Done one at a time, each output's
// horizontal steps took nearly as many instructions as its 32 taps.
TANDEM_TARGET("avx2") inline __m256 reduce8x8(const __m256* v) {
    __m256 p[4];
    for (int k = 0; k < 4; ++k)  // lane k + lane k + 4
        p[k] = _mm256_add_ps(_mm256_permute2f128_ps(v[2 * k], v[2 * k + 1], 0x20),
                             _mm256_permute2f128_ps(v[2 * k], v[2 * k + 1], 0x31));
    __m256 q[2];
    for (int k = 0; k < 2; ++k)  // k + k + 2
        q[k] = _mm256_add_ps(_mm256_shuffle_ps(p[2 * k], p[2 * k + 1], _MM_SHUFFLE(1, 0, 1, 0)),
                             _mm256_shuffle_ps(p[2 * k], p[2 * k + 1], _MM_SHUFFLE(3, 2, 3, 2)));
    return _mm256_add_ps(_mm256_shuffle_ps(q[0], q[1], _MM_SHUFFLE(2, 0, 2, 0)),  // 0 + 1
                         _mm256_shuffle_ps(q[0], q[1], _MM_SHUFFLE(3, 1, 3, 1)));
}

// Stores eight reductions: four positions' two channels, or eight positions' one.
TANDEM_TARGET("avx2") inline void storeReduced(const __m256* sums, bool stereo, std::size_t i, float* const* out) {
    __m256 v[8];
    if (stereo) {
        for (int k = 0; k < 8; ++k) v[k] = sums[k];  // x0 y0 x1 y1 ...: [x0..x3 | y0..y3]
        const __m256 r = reduce8x8(v);
        _mm_storeu_ps(out[0] + i, _mm256_castps256_ps128(r));
        _mm_storeu_ps(out[1] + i, _mm256_extractf128_ps(r, 1));
    } else {
        for (int k = 0; k < 4; ++k) v[2 * k] = sums[k], v[2 * k + 1] = sums[k + 4];  // [x0..x3 | x4..x7]
        _mm256_storeu_ps(out[0] + i, reduce8x8(v));
    }
}

// Stereo and Taps (0: the table's) fixed at compile time: the unstretched kernel's two
// steps unrolled, and no channel test in them.
template <bool Stereo, int Taps>
TANDEM_TARGET("avx2") void readAvx2As(const SincTable& table, const float* const* src, const double* pos, std::size_t n,
                                      float* const* out) {
    const int taps = Taps > 0 ? Taps : table.taps();
    // Partial sums: x0, y0 of lanes 0-7, x1, y1 of lanes 8-15.
    const auto sumsAt = [&](double at, __m256& x0, __m256& x1, __m256& y0, __m256& y1) TANDEM_TARGET("avx2") {
        const Place p = place(table, at);
        const float* a = table.row(p.phase);
        const float* b = table.row(p.phase + 1);
        const __m256 f = _mm256_set1_ps(p.fraction);
        const float* x = src[0] + p.first;
        const float* y = Stereo ? src[1] + p.first : x;
        x0 = _mm256_setzero_ps(), x1 = x0, y0 = x0, y1 = x0;
        for (int j = 0; j < taps; j += 16) {
            const __m256 w0 = weights8(a + j, b + j, f), w1 = weights8(a + j + 8, b + j + 8, f);
            x0 = _mm256_add_ps(x0, _mm256_mul_ps(w0, _mm256_loadu_ps(x + j)));
            x1 = _mm256_add_ps(x1, _mm256_mul_ps(w1, _mm256_loadu_ps(x + j + 8)));
            if (Stereo) {
                y0 = _mm256_add_ps(y0, _mm256_mul_ps(w0, _mm256_loadu_ps(y + j)));
                y1 = _mm256_add_ps(y1, _mm256_mul_ps(w1, _mm256_loadu_ps(y + j + 8)));
            }
        }
    };
    // Positions in groups of eight sums (four stereo, eight mono), then one at a time.
    constexpr std::size_t group = Stereo ? 4 : 8;
    std::size_t i = 0;
    for (; i + group <= n; i += group) {
        __m256 sums[8];
        for (std::size_t g = 0; g < group; ++g) {
            __m256 x0, x1, y0, y1;
            sumsAt(pos[i + g], x0, x1, y0, y1);
            if (Stereo) {
                sums[2 * g] = _mm256_add_ps(x0, x1);
                sums[2 * g + 1] = _mm256_add_ps(y0, y1);
            } else {
                sums[g] = _mm256_add_ps(x0, x1);
            }
        }
        storeReduced(sums, Stereo, i, out);
    }
    for (; i < n; ++i) {
        __m256 x0, x1, y0, y1;
        sumsAt(pos[i], x0, x1, y0, y1);
        out[0][i] = reduce8x2(x0, x1);
        if (Stereo) out[1][i] = reduce8x2(y0, y1);
    }
}

TANDEM_TARGET("avx2") void readAvx2(const SincTable& table, const float* const* src, int channels, const double* pos,
                                    std::size_t n, float* const* out) {
    const bool whole = table.taps() == kSincTaps;
    if (channels == 2)
        (whole ? readAvx2As<true, kSincTaps> : readAvx2As<true, 0>)(table, src, pos, n, out);
    else
        (whole ? readAvx2As<false, kSincTaps> : readAvx2As<false, 0>)(table, src, pos, n, out);
}

TANDEM_TARGET("avx512f,avx2") inline float reduce16x1(__m512 v) {
    const __m256 lo = _mm512_castps512_ps256(v);
    const __m256 hi = _mm256_castpd_ps(_mm512_extractf64x4_pd(_mm512_castps_pd(v), 1));
    return reduce8x2(lo, hi);
}

TANDEM_TARGET("avx512f,avx2") inline __m256 halves(__m512 v) {
    return _mm256_add_ps(_mm512_castps512_ps256(v), _mm256_castpd_ps(_mm512_extractf64x4_pd(_mm512_castps_pd(v), 1)));
}

// Stereo and Taps (0: the table's) fixed at compile time: the unstretched kernel's two
// steps unrolled, and no channel test in them.
template <bool Stereo, int Taps>
TANDEM_TARGET("avx512f,avx2") void readAvx512As(const SincTable& table, const float* const* src, const double* pos,
                                                std::size_t n, float* const* out) {
    const int taps = Taps > 0 ? Taps : table.taps();
    const auto sumsAt = [&](double at, __m512& sx, __m512& sy) TANDEM_TARGET("avx512f,avx2") {
        const Place p = place(table, at);
        const float* a = table.row(p.phase);
        const float* b = table.row(p.phase + 1);
        const __m512 f = _mm512_set1_ps(p.fraction);
        const float* x = src[0] + p.first;
        const float* y = Stereo ? src[1] + p.first : x;
        sx = _mm512_setzero_ps(), sy = sx;
        for (int j = 0; j < taps; j += 16) {
            const __m512 va = _mm512_loadu_ps(a + j);
            const __m512 w = _mm512_add_ps(va, _mm512_mul_ps(f, _mm512_sub_ps(_mm512_loadu_ps(b + j), va)));
            sx = _mm512_add_ps(sx, _mm512_mul_ps(w, _mm512_loadu_ps(x + j)));
            if (Stereo) sy = _mm512_add_ps(sy, _mm512_mul_ps(w, _mm512_loadu_ps(y + j)));
        }
    };
    constexpr std::size_t group = Stereo ? 4 : 8;  // as in readAvx2As
    std::size_t i = 0;
    for (; i + group <= n; i += group) {
        __m256 sums[8];
        for (std::size_t g = 0; g < group; ++g) {
            __m512 sx, sy;
            sumsAt(pos[i + g], sx, sy);
            if (Stereo) {
                sums[2 * g] = halves(sx);
                sums[2 * g + 1] = halves(sy);
            } else {
                sums[g] = halves(sx);
            }
        }
        storeReduced(sums, Stereo, i, out);
    }
    for (; i < n; ++i) {
        __m512 sx, sy;
        sumsAt(pos[i], sx, sy);
        out[0][i] = reduce16x1(sx);
        if (Stereo) out[1][i] = reduce16x1(sy);
    }
}

TANDEM_TARGET("avx512f,avx2") void readAvx512(const SincTable& table, const float* const* src, int channels,
                                              const double* pos, std::size_t n, float* const* out) {
    const bool whole = table.taps() == kSincTaps;
    if (channels == 2)
        (whole ? readAvx512As<true, kSincTaps> : readAvx512As<true, 0>)(table, src, pos, n, out);
    else
        (whole ? readAvx512As<false, kSincTaps> : readAvx512As<false, 0>)(table, src, pos, n, out);
}

SincKernel detect() {
    if (Supports(SincKernel::Avx512)) return SincKernel::Avx512;
    if (Supports(SincKernel::Avx2)) return SincKernel::Avx2;
    return SincKernel::Plain;
}

}  // namespace

bool Supports([[maybe_unused]] SincKernel kernel) {
#ifdef TANDEM_EMULATED_SIMD
    return true;
#else
    const bool avx2 = __builtin_cpu_supports("avx2");
    if (kernel == SincKernel::Avx512) return avx2 && __builtin_cpu_supports("avx512f");
    return kernel == SincKernel::Plain || avx2;
#endif
}

SincTable::SincTable(double rate) : rate_(std::clamp(rate, 1.0, kSincMaxRate)) {
    taps_ = 16 * static_cast<int>(std::ceil(kSincTaps * rate_ / 16.0 - 1e-9));
    const double half = kSincTaps / 2 * rate_;  // the window stretches with the rate; taps_ / 2 covers it
    const double cutoff = 1.0 / rate_;
    const double norm = besselI0(kSincBeta);
    weights_.resize(static_cast<std::size_t>(kSincPhases + 1) * static_cast<std::size_t>(taps_));
    for (int p = 0; p <= kSincPhases; ++p) {
        for (int j = 0; j < taps_; ++j) {
            // Tap j weighs source frame floor(pos) - reach() + j at fraction p / phases.
            const double d = (j - reach()) - static_cast<double>(p) / kSincPhases;
            const double r = d / half;
            double w = 0.0;
            if (cutoff == 1.0 && p == 0) {
                w = j == reach() ? 1.0 : 0.0;  // a whole frame at the file's own rate is that frame
            } else if (r > -1.0 && r < 1.0) {
                const double x = M_PI * cutoff * d;
                const double sinc = d == 0.0 ? 1.0 : std::sin(x) / x;
                w = cutoff * sinc * besselI0(kSincBeta * std::sqrt(1.0 - r * r)) / norm;
            }
            weights_[static_cast<std::size_t>(p) * static_cast<std::size_t>(taps_) + static_cast<std::size_t>(j)] =
                static_cast<float>(w);
        }
    }
}

const SincTable& SincTableFor(double rate) {
    static std::mutex lock;
    static std::map<int, std::unique_ptr<SincTable>> tables;
    const int step = rate <= kSincStretchFrom ? 1000 : static_cast<int>(std::ceil(std::min(rate, kSincMaxRate) * 1000.0 - 1e-9));
    const std::lock_guard<std::mutex> hold(lock);
    std::unique_ptr<SincTable>& table = tables[step];
    if (!table) table = std::make_unique<SincTable>(step / 1000.0);
    return *table;
}

void SincReadWith(SincKernel kernel, const SincTable& table, const float* const* src, int channels, const double* pos,
                  std::size_t n, float* const* out) {
    switch (kernel) {
        case SincKernel::Avx512: readAvx512(table, src, channels, pos, n, out); break;
        case SincKernel::Avx2: readAvx2(table, src, channels, pos, n, out); break;
        default: readPlain(table, src, channels, pos, n, out); break;
    }
}

void SincRead(const SincTable& table, const float* const* src, int channels, const double* pos, std::size_t n,
              float* const* out) {
    static const SincKernel best = detect();
    SincReadWith(best, table, src, channels, pos, n, out);
}

}  // namespace tandem
