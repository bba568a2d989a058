#include "dsp/CubicRun.h"

#include <cmath>

#include "core/ExactQuotient.h"
#include "core/SimdTarget.h"

namespace tandem {
namespace {

void runPlainFrom(const CubicSegment& s, double m0, int k, int n, double* out) {
    const double slope = s.rise / s.h;
    if (s.chordOnly) {
        for (; k < n; ++k) out[k] = s.y0 + s.rise * ((m0 + static_cast<double>(k)) - s.x0) / s.h;
        return;
    }
    for (; k < n; ++k) {
        const double u = (m0 + static_cast<double>(k)) - s.x0;
        const double chord = s.y0 + s.rise * u / s.h;
        const double t = u / s.h;
        out[k] = chord + s.h * ((s.d0 - slope) * t * (1 - t) * (1 - t) + (s.d1 - slope) * t * t * (t - 1));
    }
}

// Where the quotients rise * u / h and u / h are those the division gives: a whole
// length, whole frames with u >= 0 throughout (so u is 0 or at least 1), and a rise of
// +0 or of a size whose products stay normal.
bool divisionFree(const CubicSegment& s, double m0) {
    return s.h >= 1.0 && s.h < 0x1p50 && s.h == std::floor(s.h) && m0 == std::floor(m0) && s.x0 == std::floor(s.x0) &&
           m0 >= s.x0 && !std::signbit(s.rise) && (s.rise == 0.0 || (s.rise >= 0x1p-900 && s.rise <= 0x1p900));
}

// The plain loop's arithmetic in the same order, products and sums rounded one by one.
TANDEM_TARGET("avx2,fma") void runAvx2(const CubicSegment& s, double m0, int n, double* out) {
    if (!divisionFree(s, m0)) return runPlainFrom(s, m0, 0, n, out);
    const double slope = s.rise / s.h;
    const __m256d h = _mm256_set1_pd(s.h), r = _mm256_set1_pd(1.0 / s.h), x0 = _mm256_set1_pd(s.x0);
    const __m256d y0 = _mm256_set1_pd(s.y0), rise = _mm256_set1_pd(s.rise), m = _mm256_set1_pd(m0);
    const __m256d a = _mm256_set1_pd(s.d0 - slope), b = _mm256_set1_pd(s.d1 - slope), one = _mm256_set1_pd(1.0);
    __m256d k = _mm256_setr_pd(0, 1, 2, 3);
    int i = 0;
    for (; i + 4 <= n; i += 4, k = _mm256_add_pd(k, _mm256_set1_pd(4.0))) {
        const __m256d u = _mm256_sub_pd(_mm256_add_pd(m, k), x0);
        const __m256d chord = _mm256_add_pd(y0, DivideByWhole4(_mm256_mul_pd(rise, u), h, r));
        if (s.chordOnly) {
            _mm256_storeu_pd(out + i, chord);
            continue;
        }
        const __m256d t = DivideByWhole4(u, h, r);
        const __m256d g = _mm256_sub_pd(one, t), tm = _mm256_sub_pd(t, one);
        const __m256d curve = _mm256_add_pd(_mm256_mul_pd(_mm256_mul_pd(_mm256_mul_pd(a, t), g), g),
                                            _mm256_mul_pd(_mm256_mul_pd(_mm256_mul_pd(b, t), t), tm));
        _mm256_storeu_pd(out + i, _mm256_add_pd(chord, _mm256_mul_pd(h, curve)));
    }
    runPlainFrom(s, m0, i, n, out);
}

TANDEM_TARGET("avx512f,avx2,fma") void runAvx512(const CubicSegment& s, double m0, int n, double* out) {
    if (!divisionFree(s, m0)) return runPlainFrom(s, m0, 0, n, out);
    const double slope = s.rise / s.h;
    const __m512d h = _mm512_set1_pd(s.h), r = _mm512_set1_pd(1.0 / s.h), x0 = _mm512_set1_pd(s.x0);
    const __m512d y0 = _mm512_set1_pd(s.y0), rise = _mm512_set1_pd(s.rise), m = _mm512_set1_pd(m0);
    const __m512d a = _mm512_set1_pd(s.d0 - slope), b = _mm512_set1_pd(s.d1 - slope), one = _mm512_set1_pd(1.0);
    __m512d k = _mm512_setr_pd(0, 1, 2, 3, 4, 5, 6, 7);
    int i = 0;
    for (; i + 8 <= n; i += 8, k = _mm512_add_pd(k, _mm512_set1_pd(8.0))) {
        const __m512d u = _mm512_sub_pd(_mm512_add_pd(m, k), x0);
        const __m512d chord = _mm512_add_pd(y0, DivideByWhole8(_mm512_mul_pd(rise, u), h, r));
        if (s.chordOnly) {
            _mm512_storeu_pd(out + i, chord);
            continue;
        }
        const __m512d t = DivideByWhole8(u, h, r);
        const __m512d g = _mm512_sub_pd(one, t), tm = _mm512_sub_pd(t, one);
        const __m512d curve = _mm512_add_pd(_mm512_mul_pd(_mm512_mul_pd(_mm512_mul_pd(a, t), g), g),
                                            _mm512_mul_pd(_mm512_mul_pd(_mm512_mul_pd(b, t), t), tm));
        _mm512_storeu_pd(out + i, _mm512_add_pd(chord, _mm512_mul_pd(h, curve)));
    }
    runPlainFrom(s, m0, i, n, out);
}

bool runs([[maybe_unused]] SincKernel kernel) {
#ifdef TANDEM_EMULATED_SIMD
    return true;
#else
    return Supports(kernel) && (kernel == SincKernel::Plain || __builtin_cpu_supports("fma"));
#endif
}

SincKernel detect() {
    if (runs(SincKernel::Avx512)) return SincKernel::Avx512;
    if (runs(SincKernel::Avx2)) return SincKernel::Avx2;
    return SincKernel::Plain;
}

}  // namespace

void CubicRunWith(SincKernel kernel, const CubicSegment& s, double m0, int n, double* out) {
    switch (kernel) {
        case SincKernel::Avx512: runAvx512(s, m0, n, out); break;
        case SincKernel::Avx2: runAvx2(s, m0, n, out); break;
        default: runPlainFrom(s, m0, 0, n, out); break;
    }
}

void CubicRun(const CubicSegment& s, double m0, int n, double* out) {
    static const SincKernel kernel = detect();
    CubicRunWith(kernel, s, m0, n, out);
}

}  // namespace tandem
