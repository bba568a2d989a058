#include "dsp/LagCorrelation.h"

#include <algorithm>

#include "core/SimdTarget.h"

namespace tandem {
namespace {

static_assert(kCorrelationLags == 64 && kSincTaps % 8 == 0);

void correlatePlain(const float* x, std::size_t n, const float* s, float* out) {
    float acc[kCorrelationLags] = {};
    for (std::size_t k = 0; k < n; ++k)
        for (int j = 0; j < kCorrelationLags; ++j) acc[j] += x[k] * s[k + static_cast<std::size_t>(j)];
    std::copy(acc, acc + kCorrelationLags, out);
}

TANDEM_TARGET("avx2") void correlateAvx2(const float* x, std::size_t n, const float* s, float* out) {
    __m256 a[8];
    for (__m256& v : a) v = _mm256_setzero_ps();
    for (std::size_t k = 0; k < n; ++k) {
        const __m256 v = _mm256_set1_ps(x[k]);
        const float* row = s + k;
        for (int j = 0; j < 8; ++j) a[j] = _mm256_add_ps(a[j], _mm256_mul_ps(v, _mm256_loadu_ps(row + 8 * j)));
    }
    for (int j = 0; j < 8; ++j) _mm256_storeu_ps(out + 8 * j, a[j]);
}

TANDEM_TARGET("avx512f,avx2") void correlateAvx512(const float* x, std::size_t n, const float* s, float* out) {
    __m512 a[4];
    for (__m512& v : a) v = _mm512_setzero_ps();
    for (std::size_t k = 0; k < n; ++k) {
        const __m512 v = _mm512_set1_ps(x[k]);
        const float* row = s + k;
        for (int j = 0; j < 4; ++j) a[j] = _mm512_add_ps(a[j], _mm512_mul_ps(v, _mm512_loadu_ps(row + 16 * j)));
    }
    for (int j = 0; j < 4; ++j) _mm512_storeu_ps(out + 16 * j, a[j]);
}

void sumsPlain(const BlendedRead* reads, std::size_t n, const double* c, const double* e, double& sum, double& power) {
    sum = 0.0, power = 0.0;
    for (std::size_t r = 0; r < n; ++r) {
        const BlendedRead& d = reads[r];
        double v4[4] = {}, w4[4] = {};
        for (int t = 0; t < kSincTaps; t += 4)
            for (int j = 0; j < 4; ++j) {
                const double weight = (1.0 - d.a) * d.w0[t + j] + d.a * d.w1[t + j];
                v4[j] += weight * c[d.at + static_cast<std::size_t>(t + j)];
                w4[j] += weight * e[d.at + static_cast<std::size_t>(t + j)];
            }
        sum += (v4[0] + v4[1]) + (v4[2] + v4[3]);
        power += (w4[0] + w4[1]) + (w4[2] + w4[3]);
    }
}

TANDEM_TARGET("avx2") double lanesSum(__m256d v) {
    const __m128d lo = _mm256_castpd256_pd128(v), hi = _mm256_extractf128_pd(v, 1);
    return (_mm_cvtsd_f64(lo) + _mm_cvtsd_f64(_mm_unpackhi_pd(lo, lo))) +
           (_mm_cvtsd_f64(hi) + _mm_cvtsd_f64(_mm_unpackhi_pd(hi, hi)));
}

// One read's four lanes of v and of w.
struct Lanes {
    __m256d v, w;
};

TANDEM_TARGET("avx2") inline Lanes readLanes(const BlendedRead& d, const double* c, const double* e) {
    const __m256d fa = _mm256_set1_pd(d.a), fb = _mm256_set1_pd(1.0 - d.a);
    const double* cr = c + d.at;
    const double* er = e + d.at;
    __m256d sv = _mm256_setzero_pd(), sw = sv;
    for (int t = 0; t < kSincTaps; t += 4) {
        const __m256d weight = _mm256_add_pd(_mm256_mul_pd(fb, _mm256_cvtps_pd(_mm_loadu_ps(d.w0 + t))),
                                             _mm256_mul_pd(fa, _mm256_cvtps_pd(_mm_loadu_ps(d.w1 + t))));
        sv = _mm256_add_pd(sv, _mm256_mul_pd(weight, _mm256_loadu_pd(cr + t)));
        sw = _mm256_add_pd(sw, _mm256_mul_pd(weight, _mm256_loadu_pd(er + t)));
    }
    return {sv, sw};
}

// Two reads at a time: each read's sums are a chain of eight additions, and two chains
// keep the adders busy; the reads are still added in order.
TANDEM_TARGET("avx2") void sumsAvx2(const BlendedRead* reads, std::size_t n, const double* c, const double* e, double& sum,
                                    double& power) {
    double s = 0.0, p = 0.0;
    std::size_t r = 0;
    for (; r + 2 <= n; r += 2) {
        const Lanes a = readLanes(reads[r], c, e), b = readLanes(reads[r + 1], c, e);
        s += lanesSum(a.v);
        p += lanesSum(a.w);
        s += lanesSum(b.v);
        p += lanesSum(b.w);
    }
    if (r < n) {
        const Lanes a = readLanes(reads[r], c, e);
        s += lanesSum(a.v);
        p += lanesSum(a.w);
    }
    sum = s, power = p;
}

SincKernel detect() {
    if (Supports(SincKernel::Avx512)) return SincKernel::Avx512;
    if (Supports(SincKernel::Avx2)) return SincKernel::Avx2;
    return SincKernel::Plain;
}

SincKernel best() {
    static const SincKernel kernel = detect();
    return kernel;
}

}  // namespace

void CorrelateLagsWith(SincKernel kernel, const float* x, std::size_t n, const float* s, float* out) {
    switch (kernel) {
        case SincKernel::Avx512: correlateAvx512(x, n, s, out); break;
        case SincKernel::Avx2: correlateAvx2(x, n, s, out); break;
        default: correlatePlain(x, n, s, out); break;
    }
}

void CorrelateLags(const float* x, std::size_t n, const float* s, float* out) { CorrelateLagsWith(best(), x, n, s, out); }

// Four doubles a lane: AVX-512 would only add a fold, so both vector sets take the AVX2 loop.
void BlendedDotSumsWith(SincKernel kernel, const BlendedRead* reads, std::size_t n, const double* c, const double* e,
                        double& sum, double& power) {
    if (kernel == SincKernel::Plain)
        sumsPlain(reads, n, c, e, sum, power);
    else
        sumsAvx2(reads, n, c, e, sum, power);
}

void BlendedDotSums(const BlendedRead* reads, std::size_t n, const double* c, const double* e, double& sum, double& power) {
    BlendedDotSumsWith(best(), reads, n, c, e, sum, power);
}

}  // namespace tandem
