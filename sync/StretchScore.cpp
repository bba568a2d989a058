#include "sync/StretchScore.h"

#include <cstdint>

// GCC 12's AVX-512 intrinsics start from deliberately undefined registers and warn
// about them.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#include <immintrin.h>

#include "core/Clones.h"

namespace tandem {
namespace {

inline double stretchedAt(const double* ml, const double* mr, double n, double L, FrameIndex i) {
    const double pos = static_cast<double>(i) * n / L;
    const std::int32_t idx = static_cast<std::int32_t>(pos);
    const double f = pos - static_cast<double>(idx);
    const double lv = static_cast<double>(static_cast<std::int32_t>((1.0 - f) * ml[idx] + f * ml[idx + 1]));
    const double rv = static_cast<double>(static_cast<std::int32_t>((1.0 - f) * mr[idx] + f * mr[idx + 1]));
    return lv + rv;
}

// Elements from i on, into the four lanes; the vector variants finish with it.
double finish(const double* ml, const double* mr, FrameIndex n, FrameIndex L, const double* s, FrameIndex i,
              double lanes[4]) {
    const double dn = static_cast<double>(n), dL = static_cast<double>(L);
    for (; i + 4 <= L; i += 4)
        for (int k = 0; k < 4; ++k) lanes[k] += s[i + k] * stretchedAt(ml, mr, dn, dL, i + k);
    for (; i < L; ++i) lanes[0] += s[i] * stretchedAt(ml, mr, dn, dL, i);
    return ((lanes[0] + lanes[1]) + (lanes[2] + lanes[3])) * kSumScale;
}

double scorePlain(const double* ml, const double* mr, FrameIndex n, FrameIndex L, const double* s) {
    double lanes[4] = {0.0, 0.0, 0.0, 0.0};
    return finish(ml, mr, n, L, s, 0, lanes);
}

__attribute__((target("avx2"))) inline __m256d gather4(const double* base, __m128i idx) {
    return _mm256_mask_i32gather_pd(_mm256_setzero_pd(), base, idx, _mm256_castsi256_pd(_mm256_set1_epi64x(-1)), 8);
}

// Truncation toward zero of whole-sample values: the same as a round trip through int32
// for everything an interpolation of 16-bit samples yields.
__attribute__((target("avx2"))) inline __m256d trunc4(__m256d v) {
    return _mm256_round_pd(v, _MM_FROUND_TO_ZERO | _MM_FROUND_NO_EXC);
}

__attribute__((target("avx2"))) double scoreAvx2(const double* ml, const double* mr, FrameIndex n, FrameIndex L,
                                                 const double* s) {
    const __m256d vn = _mm256_set1_pd(static_cast<double>(n));
    const __m256d vL = _mm256_set1_pd(static_cast<double>(L));
    const __m256d one = _mm256_set1_pd(1.0);
    const __m256d step = _mm256_set1_pd(4.0);
    __m256d iv = _mm256_setr_pd(0.0, 1.0, 2.0, 3.0);
    __m256d acc = _mm256_setzero_pd();
    FrameIndex i = 0;
    const __m128i lane = _mm_setr_epi32(0, 1, 2, 3);
    const __m128i minusOne = _mm_set1_epi32(-1), plusOne = _mm_set1_epi32(1);
    for (; i + 4 <= L; i += 4) {
        const __m256d pos = _mm256_div_pd(_mm256_mul_pd(iv, vn), vL);
        const __m128i idx = _mm256_cvttpd_epi32(pos);
        const __m256d f = _mm256_sub_pd(pos, _mm256_cvtepi32_pd(idx));
        const __m256d g = _mm256_sub_pd(one, f);
        // The lengths differ by a few percent at most, so the four indexes are i + c + k
        // give or take one: pick them from shifted loads instead of gathering.
        const int c = _mm_cvtsi128_si32(idx) - static_cast<int>(i);
        const __m128i delta = _mm_sub_epi32(idx, _mm_add_epi32(_mm_set1_epi32(static_cast<int>(i) + c), lane));
        const __m128i isMinus = _mm_cmpeq_epi32(delta, minusOne), isPlus = _mm_cmpeq_epi32(delta, plusOne);
        __m256d al, bl, ar, br;
        if (_mm_movemask_epi8(_mm_or_si128(_mm_or_si128(isMinus, isPlus), _mm_cmpeq_epi32(delta, _mm_setzero_si128()))) ==
            0xFFFF) {
            const __m256d mMinus = _mm256_castsi256_pd(_mm256_cvtepi32_epi64(isMinus));
            const __m256d mPlus = _mm256_castsi256_pd(_mm256_cvtepi32_epi64(isPlus));
            const double* pl = ml + i + c;
            const double* pr = mr + i + c;
            const __m256d l0 = _mm256_loadu_pd(pl - 1), l1 = _mm256_loadu_pd(pl), l2 = _mm256_loadu_pd(pl + 1),
                          l3 = _mm256_loadu_pd(pl + 2);
            const __m256d r0 = _mm256_loadu_pd(pr - 1), r1 = _mm256_loadu_pd(pr), r2 = _mm256_loadu_pd(pr + 1),
                          r3 = _mm256_loadu_pd(pr + 2);
            al = _mm256_blendv_pd(_mm256_blendv_pd(l1, l0, mMinus), l2, mPlus);
            bl = _mm256_blendv_pd(_mm256_blendv_pd(l2, l1, mMinus), l3, mPlus);
            ar = _mm256_blendv_pd(_mm256_blendv_pd(r1, r0, mMinus), r2, mPlus);
            br = _mm256_blendv_pd(_mm256_blendv_pd(r2, r1, mMinus), r3, mPlus);
        } else {
            al = gather4(ml, idx);
            bl = gather4(ml + 1, idx);
            ar = gather4(mr, idx);
            br = gather4(mr + 1, idx);
        }
        const __m256d lv = trunc4(_mm256_add_pd(_mm256_mul_pd(g, al), _mm256_mul_pd(f, bl)));
        const __m256d rv = trunc4(_mm256_add_pd(_mm256_mul_pd(g, ar), _mm256_mul_pd(f, br)));
        acc = _mm256_add_pd(acc, _mm256_mul_pd(_mm256_loadu_pd(s + i), _mm256_add_pd(lv, rv)));
        iv = _mm256_add_pd(iv, step);
    }
    alignas(32) double lanes[4];
    _mm256_store_pd(lanes, acc);
    return finish(ml, mr, n, L, s, i, lanes);
}

// Eight elements per step. Their neighbourhoods lie within 16 values of the first
// index unless the stretch is extreme: two loads and a two-source permute pick them.
// The eight products go into the four lanes as two steps of four, in order.
__attribute__((target("avx512f,avx2"))) double scoreAvx512(const double* ml, const double* mr, FrameIndex n,
                                                           FrameIndex L, const double* s) {
    const __m512d vn = _mm512_set1_pd(static_cast<double>(n));
    const __m512d vL = _mm512_set1_pd(static_cast<double>(L));
    const __m512d one = _mm512_set1_pd(1.0);
    const __m512d step = _mm512_set1_pd(8.0);
    const __m512i next = _mm512_set1_epi64(1);
    const __m256i lastSafe = _mm256_set1_epi32(14);
    constexpr int kTrunc = _MM_FROUND_TO_ZERO | _MM_FROUND_NO_EXC;
    __m512d iv = _mm512_setr_pd(0.0, 1.0, 2.0, 3.0, 4.0, 5.0, 6.0, 7.0);
    __m256d acc = _mm256_setzero_pd();
    FrameIndex i = 0;
    for (; i + 8 <= L; i += 8) {
        const __m512d pos = _mm512_div_pd(_mm512_mul_pd(iv, vn), vL);
        const __m256i idx = _mm512_cvttpd_epi32(pos);
        const __m512d f = _mm512_sub_pd(pos, _mm512_cvtepi32_pd(idx));
        const __m512d g = _mm512_sub_pd(one, f);
        const int first = _mm256_cvtsi256_si32(idx);
        const __m256i rel = _mm256_sub_epi32(idx, _mm256_set1_epi32(first));
        __m512d al, bl, ar, br;
        if (_mm256_movemask_epi8(_mm256_cmpgt_epi32(rel, lastSafe)) == 0) {
            const __m512i a = _mm512_cvtepi32_epi64(rel);
            const __m512i b = _mm512_add_epi64(a, next);
            const __m512d l0 = _mm512_loadu_pd(ml + first), l1 = _mm512_loadu_pd(ml + first + 8);
            const __m512d r0 = _mm512_loadu_pd(mr + first), r1 = _mm512_loadu_pd(mr + first + 8);
            al = _mm512_permutex2var_pd(l0, a, l1);
            bl = _mm512_permutex2var_pd(l0, b, l1);
            ar = _mm512_permutex2var_pd(r0, a, r1);
            br = _mm512_permutex2var_pd(r0, b, r1);
        } else {
            al = _mm512_i32gather_pd(idx, ml, 8);
            bl = _mm512_i32gather_pd(idx, ml + 1, 8);
            ar = _mm512_i32gather_pd(idx, mr, 8);
            br = _mm512_i32gather_pd(idx, mr + 1, 8);
        }
        const __m512d lv = _mm512_roundscale_pd(_mm512_add_pd(_mm512_mul_pd(g, al), _mm512_mul_pd(f, bl)), kTrunc);
        const __m512d rv = _mm512_roundscale_pd(_mm512_add_pd(_mm512_mul_pd(g, ar), _mm512_mul_pd(f, br)), kTrunc);
        const __m512d prod = _mm512_mul_pd(_mm512_loadu_pd(s + i), _mm512_add_pd(lv, rv));
        acc = _mm256_add_pd(acc, _mm512_castpd512_pd256(prod));
        acc = _mm256_add_pd(acc, _mm512_extractf64x4_pd(prod, 1));
        iv = _mm512_add_pd(iv, step);
    }
    alignas(32) double lanes[4];
    _mm256_store_pd(lanes, acc);
    return finish(ml, mr, n, L, s, i, lanes);
}

StretchKernel detect() {
    if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx2")) return StretchKernel::Avx512;
    if (__builtin_cpu_supports("avx2")) return StretchKernel::Avx2;
    return StretchKernel::Plain;
}

const StretchKernel kBest = detect();

}  // namespace

bool Supports(StretchKernel kernel) { return static_cast<int>(kernel) <= static_cast<int>(kBest); }

double StretchScoreWith(StretchKernel kernel, const double* ml, const double* mr, FrameIndex n, FrameIndex L,
                        const double* s) {
    switch (kernel) {
        case StretchKernel::Avx512:
            return scoreAvx512(ml, mr, n, L, s);
        case StretchKernel::Avx2:
            return scoreAvx2(ml, mr, n, L, s);
        case StretchKernel::Plain:
            break;
    }
    return scorePlain(ml, mr, n, L, s);
}

double StretchScore(const double* ml, const double* mr, FrameIndex n, FrameIndex L, const double* s) {
    return StretchScoreWith(kBest, ml, mr, n, L, s);
}

TANDEM_CLONES("avx2")
void StretchInto(const double* ml, const double* mr, FrameIndex n, FrameIndex L, double* m) {
    const double dn = static_cast<double>(n), dL = static_cast<double>(L);
    for (FrameIndex i = 0; i < L; ++i) m[i] = stretchedAt(ml, mr, dn, dL, i);
}

TANDEM_CLONES("avx2")
double Dot(const double* a, const double* b, FrameIndex n) {
    double acc[4] = {0.0, 0.0, 0.0, 0.0};
    FrameIndex i = 0;
    for (; i + 4 <= n; i += 4)
        for (int k = 0; k < 4; ++k) acc[k] += a[i + k] * b[i + k];
    for (; i < n; ++i) acc[0] += a[i] * b[i];
    return (acc[0] + acc[1]) + (acc[2] + acc[3]);
}

}  // namespace tandem

#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif
