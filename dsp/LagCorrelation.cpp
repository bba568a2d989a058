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

void dotsPlain(const float* w0, const float* w1, double a, const double* c, const double* e, double& v, double& w) {
    double v4[4] = {}, w4[4] = {};
    for (int t = 0; t < kSincTaps; t += 4)
        for (int j = 0; j < 4; ++j) {
            const double weight = (1.0 - a) * w0[t + j] + a * w1[t + j];
            v4[j] += weight * c[t + j];
            w4[j] += weight * e[t + j];
        }
    v = (v4[0] + v4[1]) + (v4[2] + v4[3]);
    w = (w4[0] + w4[1]) + (w4[2] + w4[3]);
}

TANDEM_TARGET("avx2") void dotsAvx2(const float* w0, const float* w1, double a, const double* c, const double* e,
                                    double& v, double& w) {
    const __m256d fa = _mm256_set1_pd(a), fb = _mm256_set1_pd(1.0 - a);
    __m256d sv = _mm256_setzero_pd(), sw = sv;
    for (int t = 0; t < kSincTaps; t += 4) {
        const __m256d weight = _mm256_add_pd(_mm256_mul_pd(fb, _mm256_cvtps_pd(_mm_loadu_ps(w0 + t))),
                                             _mm256_mul_pd(fa, _mm256_cvtps_pd(_mm_loadu_ps(w1 + t))));
        sv = _mm256_add_pd(sv, _mm256_mul_pd(weight, _mm256_loadu_pd(c + t)));
        sw = _mm256_add_pd(sw, _mm256_mul_pd(weight, _mm256_loadu_pd(e + t)));
    }
    alignas(32) double lv[4], lw[4];
    _mm256_store_pd(lv, sv);
    _mm256_store_pd(lw, sw);
    v = (lv[0] + lv[1]) + (lv[2] + lv[3]);
    w = (lw[0] + lw[1]) + (lw[2] + lw[3]);
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
void BlendedDotsWith(SincKernel kernel, const float* w0, const float* w1, double a, const double* c, const double* e,
                     double& v, double& w) {
    if (kernel == SincKernel::Plain)
        dotsPlain(w0, w1, a, c, e, v, w);
    else
        dotsAvx2(w0, w1, a, c, e, v, w);
}

void BlendedDots(const float* w0, const float* w1, double a, const double* c, const double* e, double& v, double& w) {
    BlendedDotsWith(best(), w0, w1, a, c, e, v, w);
}

}  // namespace tandem
