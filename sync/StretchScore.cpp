#include "sync/StretchScore.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "core/Clones.h"
#include "core/ExactQuotient.h"
#include "core/SimdTarget.h"


namespace tandem {
namespace {

inline double positionAt(double n, double L, FrameIndex i) { return static_cast<double>(i) * n / L; }

void positionsPlainFrom(FrameIndex n, FrameIndex L, FrameIndex i, double* pos) {
    for (; i < L; ++i) pos[i] = positionAt(static_cast<double>(n), static_cast<double>(L), i);
}

inline double stretchedAt(const double* ml, const double* mr, double n, double L, FrameIndex i) {
    const double pos = positionAt(n, L, i);
    const std::int32_t idx = static_cast<std::int32_t>(pos);
    const double f = pos - static_cast<double>(idx);
    const double lv = static_cast<double>(static_cast<std::int32_t>((1.0 - f) * ml[idx] + f * ml[idx + 1]));
    const double rv = static_cast<double>(static_cast<std::int32_t>((1.0 - f) * mr[idx] + f * mr[idx + 1]));
    return lv + rv;
}

// Elements i .. to - 1 into the four lanes; the vector variants finish with it. The
// last L % 4 elements of the whole score all go into the first lane.
void finish(const double* ml, const double* mr, FrameIndex n, FrameIndex L, const double* s, FrameIndex i,
            FrameIndex to, double lanes[4]) {
    const double dn = static_cast<double>(n), dL = static_cast<double>(L);
    for (; i + 4 <= to; i += 4)
        for (int k = 0; k < 4; ++k) lanes[k] += s[i + k] * stretchedAt(ml, mr, dn, dL, i + k);
    for (; i < to; ++i) lanes[0] += s[i] * stretchedAt(ml, mr, dn, dL, i);
}

// The position i * n / L without a division (core/ExactQuotient.h): x = i * n is exact
// (below 2^53) and L is far below 2^50, so it is the quotient the division gives.
// StretchPositionsWith exposes it for the exhaustive check in the benchmarks.
template <bool kDivide>
TANDEM_TARGET("avx2,fma") inline __m256d quotient4(__m256d x, __m256d L, __m256d r) {
    if constexpr (kDivide) return _mm256_div_pd(x, L);
    return DivideByWhole4(x, L, r);
}

template <bool kDivide>
TANDEM_TARGET("avx512f") inline __m512d quotient8(__m512d x, __m512d L, __m512d r) {
    if constexpr (kDivide) return _mm512_div_pd(x, L);
    return DivideByWhole8(x, L, r);
}

TANDEM_TARGET("avx2") inline __m256d gather4(const double* base, __m128i idx) {
    return _mm256_mask_i32gather_pd(_mm256_setzero_pd(), base, idx, _mm256_castsi256_pd(_mm256_set1_epi64x(-1)), 8);
}

// Truncation toward zero of whole-sample values: the same as a round trip through int32
// for everything an interpolation of 16-bit samples yields.
TANDEM_TARGET("avx2") inline __m256d trunc4(__m256d v) {
    return _mm256_round_pd(v, _MM_FROUND_TO_ZERO | _MM_FROUND_NO_EXC);
}

// What the vector walks do with each group of stretched values: add their products with
// the slave into the four lanes (in order), or store them.
struct Accumulate4 {
    const double* s;
    __m256d acc;
    TANDEM_TARGET("avx2") void operator()(FrameIndex i, __m256d v) {
        acc = _mm256_add_pd(acc, _mm256_mul_pd(_mm256_loadu_pd(s + i), v));
    }
};
struct Store4 {
    double* m;
    TANDEM_TARGET("avx2") void operator()(FrameIndex i, __m256d v) { _mm256_storeu_pd(m + i, v); }
};
struct Accumulate8 {
    const double* s;
    __m256d acc;
    TANDEM_TARGET("avx512f") void operator()(FrameIndex i, __m512d v) {
        const __m512d prod = _mm512_mul_pd(_mm512_loadu_pd(s + i), v);
        acc = _mm256_add_pd(acc, _mm512_castpd512_pd256(prod));
        acc = _mm256_add_pd(acc, _mm512_extractf64x4_pd(prod, 1));
    }
};
struct Store8 {
    double* m;
    TANDEM_TARGET("avx512f") void operator()(FrameIndex i, __m512d v) { _mm512_storeu_pd(m + i, v); }
};

// Four stretched values from their fractions f and neighbours a (left) and b (right):
// the plain loop's arithmetic, products and sum rounded one by one (no FMA).
template <class Out>
TANDEM_TARGET("avx2,fma") inline void interpolate4(FrameIndex i, __m256d f, __m256d al, __m256d bl,
                                                            __m256d ar, __m256d br, Out& out) {
    const __m256d g = _mm256_sub_pd(_mm256_set1_pd(1.0), f);
    const __m256d lv = trunc4(_mm256_add_pd(_mm256_mul_pd(g, al), _mm256_mul_pd(f, bl)));
    const __m256d rv = trunc4(_mm256_add_pd(_mm256_mul_pd(g, ar), _mm256_mul_pd(f, br)));
    out(i, _mm256_add_pd(lv, rv));
}

// The runs of i over which idx_i - i is constant, where idx_i = floor(i * n / L): when
// n > L it steps up by one at ceil(k * L / (n - L)), when n < L down by one at
// floor(k * L / (L - n)) + 1, k = 1, 2, ... The multiples of L are walked as quotient
// and remainder, so no run costs a division.
class DriftRuns {
public:
    DriftRuns(FrameIndex n, FrameIndex L) : up_(n > L), D_(up_ ? n - L : L - n) {
        if (D_ == 0) {
            next = L;
            return;
        }
        Lq_ = L / D_;
        Lr_ = L % D_;
        if (up_) step();  // the first run ends at ceil(L / D)
        else next = 1;    // idx_1 = 0 already
    }
    // The run that holds element from, as advancing to it would leave it: delta is
    // floor(from * D / L) up (the runs end at ceil(k L / D)), -ceil(from * D / L) down
    // (they end at floor(k L / D) + 1).
    DriftRuns(FrameIndex n, FrameIndex L, FrameIndex from) : DriftRuns(n, L) {
        if (D_ == 0 || from == 0) return;
        const FrameIndex k = up_ ? from * D_ / L : (from * D_ + L - 1) / L;
        if (k == 0) return;
        const FrameIndex ends = up_ ? k + 1 : k;  // the run ends found so far
        q_ = ends * L / D_;
        r_ = ends * L % D_;
        delta = up_ ? k : -k;
        next = up_ ? q_ + (r_ != 0 ? 1 : 0) : q_ + 1;
    }
    // On to the run after this one.
    void advance() {
        if (D_ == 0) return;
        delta += up_ ? 1 : -1;
        step();
    }
    FrameIndex delta = 0;  // idx_i - i in this run
    FrameIndex next = 0;   // where the next run starts

private:
    void step() {
        q_ += Lq_;
        r_ += Lr_;
        if (r_ >= D_) {
            r_ -= D_;
            ++q_;
        }
        next = up_ ? q_ + (r_ != 0 ? 1 : 0) : q_ + 1;
    }
    bool up_;
    FrameIndex D_, Lq_ = 0, Lr_ = 0, q_ = 0, r_ = 0;
};

// One group of four at x = (i .. i + 3) * n with the neighbourhoods gathered (kSide 0)
// or blended between two shifted loads.
template <bool kDivide, int kSide, class Out>
TANDEM_TARGET("avx2,fma") inline void group4(const double* ml, const double* mr, FrameIndex i, __m256d x,
                                                      __m256d vL, __m256d vr, Out& out) {
    const __m256d lane = _mm256_setr_pd(0.0, 1.0, 2.0, 3.0);
    const __m256d pos = quotient4<kDivide>(x, vL, vr);
    const __m256d idx = trunc4(pos);
    __m256d al, bl, ar, br;
    if constexpr (kSide == 0) {
        const __m128i at = _mm256_cvttpd_epi32(idx);
        al = gather4(ml, at);
        bl = gather4(ml + 1, at);
        ar = gather4(mr, at);
        br = gather4(mr + 1, at);
    } else {
        const FrameIndex first = static_cast<FrameIndex>(_mm256_cvtsd_f64(idx));
        const __m256d expected = _mm256_add_pd(_mm256_broadcastsd_pd(_mm256_castpd256_pd128(idx)), lane);
        // -1.0 (sign set) where the element's neighbourhood is the shifted one, +0.0 elsewhere.
        const __m256d shifted = kSide > 0 ? _mm256_sub_pd(expected, idx) : _mm256_sub_pd(idx, expected);
        const double* pl = ml + first;
        const double* pr = mr + first;
        if constexpr (kSide > 0) {
            const __m256d l1 = _mm256_loadu_pd(pl + 1), r1 = _mm256_loadu_pd(pr + 1);
            al = _mm256_blendv_pd(_mm256_loadu_pd(pl), l1, shifted);
            bl = _mm256_blendv_pd(l1, _mm256_loadu_pd(pl + 2), shifted);
            ar = _mm256_blendv_pd(_mm256_loadu_pd(pr), r1, shifted);
            br = _mm256_blendv_pd(r1, _mm256_loadu_pd(pr + 2), shifted);
        } else {
            const __m256d l0 = _mm256_loadu_pd(pl), r0 = _mm256_loadu_pd(pr);
            al = _mm256_blendv_pd(l0, _mm256_loadu_pd(pl - 1), shifted);
            bl = _mm256_blendv_pd(_mm256_loadu_pd(pl + 1), l0, shifted);
            ar = _mm256_blendv_pd(r0, _mm256_loadu_pd(pr - 1), shifted);
            br = _mm256_blendv_pd(_mm256_loadu_pd(pr + 1), r0, shifted);
        }
    }
    interpolate4(i, _mm256_sub_pd(pos, idx), al, bl, ar, br, out);
}

// One group of four inside a run: the neighbourhoods of element i are pl[i], pl[i + 1]
// (pl = ml + delta), the integer parts idx; x and idx move on to the next group.
template <bool kDivide, class Out>
TANDEM_TARGET("avx2,fma") inline void runGroup4(const double* pl, const double* pr, FrameIndex i, __m256d& x,
                                                         __m256d& idx, __m256d step4n, __m256d vL, __m256d vr,
                                                         Out& out) {
    const __m256d f = _mm256_sub_pd(quotient4<kDivide>(x, vL, vr), idx);
    interpolate4(i, f, _mm256_loadu_pd(pl + i), _mm256_loadu_pd(pl + i + 1), _mm256_loadu_pd(pr + i),
                 _mm256_loadu_pd(pr + i + 1), out);
    x = _mm256_add_pd(x, step4n);
    idx = _mm256_add_pd(idx, _mm256_set1_pd(4.0));
}

// Four elements per step. The position's integer part is floor(i * n / L) exactly
// (x / L is an integer or at least 1 / L from one, far more than its rounding error),
// so over four elements idx_k - idx_0 - k lies in {0, 1} when L <= n < 4L / 3 (kSide
// +1) and in {-1, 0} when 2L / 3 < n < L (kSide -1). Between the points where
// idx_i - i changes (tens to thousands of elements apart at a search's stretches) the four
// neighbourhoods are plain consecutive loads, and the integer part is known without
// rounding; a group that holds such a point picks them with one blend per value
// between two shifted loads. Any other stretch (kSide 0) gathers them.
template <bool kDivide, int kSide, class Out>
TANDEM_TARGET("avx2,fma") FrameIndex walkAvx2Side(const double* ml, const double* mr, FrameIndex n,
                                                           FrameIndex L, FrameIndex from, FrameIndex to, Out& out) {
    const __m256d vn = _mm256_set1_pd(static_cast<double>(n));
    const __m256d vL = _mm256_set1_pd(static_cast<double>(L));
    const __m256d vr = _mm256_set1_pd(1.0 / static_cast<double>(L));
    const __m256d lane = _mm256_setr_pd(0.0, 1.0, 2.0, 3.0);
    // x = i * n, stepped by 4n (exact: integers below 2^53).
    const __m256d step4n = _mm256_mul_pd(_mm256_set1_pd(4.0), vn);
    FrameIndex i = from;
    __m256d x = _mm256_mul_pd(_mm256_add_pd(lane, _mm256_set1_pd(static_cast<double>(from))), vn);
    if constexpr (kSide == 0) {
        for (; i + 4 <= to; i += 4, x = _mm256_add_pd(x, step4n)) group4<kDivide, kSide>(ml, mr, i, x, vL, vr, out);
        return i;
    }
    DriftRuns runs(n, L, from);
    while (i + 4 <= to) {
        // Groups wholly inside the run: idx = i + delta in every lane.
        const double* pl = ml + runs.delta;
        const double* pr = mr + runs.delta;
        __m256d idx = _mm256_add_pd(_mm256_set1_pd(static_cast<double>(i + runs.delta)), lane);
        const FrameIndex end = std::min(runs.next, to);
        // Two groups a step: the second's quotient need not wait for the first's sums.
        for (; i + 8 <= end; i += 8) {
            runGroup4<kDivide>(pl, pr, i, x, idx, step4n, vL, vr, out);
            runGroup4<kDivide>(pl, pr, i + 4, x, idx, step4n, vL, vr, out);
        }
        if (i + 4 <= end) {
            runGroup4<kDivide>(pl, pr, i, x, idx, step4n, vL, vr, out);
            i += 4;
        }
        if (i + 4 > to) break;
        group4<kDivide, kSide>(ml, mr, i, x, vL, vr, out);
        x = _mm256_add_pd(x, step4n);
        i += 4;
        while (runs.next <= i) runs.advance();
    }
    return i;
}

// Hands the stretched values of elements from .. from + 4k - 1 (the most that end by
// to) to out; returns from + 4k. from is a multiple of 4.
template <bool kDivide, class Out>
TANDEM_TARGET("avx2,fma") FrameIndex walkAvx2(const double* ml, const double* mr, FrameIndex n, FrameIndex L,
                                                       FrameIndex from, FrameIndex to, Out& out) {
    if (L <= n && 3 * n < 4 * L) return walkAvx2Side<kDivide, 1>(ml, mr, n, L, from, to, out);
    if (n < L && 3 * n > 2 * L) return walkAvx2Side<kDivide, -1>(ml, mr, n, L, from, to, out);
    return walkAvx2Side<kDivide, 0>(ml, mr, n, L, from, to, out);
}

// Eight stretched values, as interpolate4.
template <class Out>
TANDEM_TARGET("avx512f") inline void interpolate8(FrameIndex i, __m512d f, __m512d al, __m512d bl,
                                                           __m512d ar, __m512d br, Out& out) {
    constexpr int kTrunc = _MM_FROUND_TO_ZERO | _MM_FROUND_NO_EXC;
    const __m512d g = _mm512_sub_pd(_mm512_set1_pd(1.0), f);
    const __m512d lv = _mm512_roundscale_pd(_mm512_add_pd(_mm512_mul_pd(g, al), _mm512_mul_pd(f, bl)), kTrunc);
    const __m512d rv = _mm512_roundscale_pd(_mm512_add_pd(_mm512_mul_pd(g, ar), _mm512_mul_pd(f, br)), kTrunc);
    out(i, _mm512_add_pd(lv, rv));
}

// One group of eight at x = (i .. i + 7) * n. Their neighbourhoods lie within 16 values
// of the first index unless the stretch is extreme: two loads and a two-source permute
// pick them.
template <bool kDivide, class Out>
TANDEM_TARGET("avx512f,avx2") inline void group8(const double* ml, const double* mr, FrameIndex i, __m512d x,
                                                          __m512d vL, __m512d vr, Out& out) {
    const __m512i next = _mm512_set1_epi64(1);
    const __m256i lastSafe = _mm256_set1_epi32(14);
    const __m512d pos = quotient8<kDivide>(x, vL, vr);
    const __m256i idx = _mm512_cvttpd_epi32(pos);
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
    interpolate8(i, _mm512_sub_pd(pos, _mm512_cvtepi32_pd(idx)), al, bl, ar, br, out);
}

// One group of eight inside a run, as runGroup4.
template <bool kDivide, class Out>
TANDEM_TARGET("avx512f,avx2") inline void runGroup8(const double* pl, const double* pr, FrameIndex i,
                                                             __m512d& x, __m512d& idx, __m512d step8n, __m512d vL,
                                                             __m512d vr, Out& out) {
    const __m512d f = _mm512_sub_pd(quotient8<kDivide>(x, vL, vr), idx);
    interpolate8(i, f, _mm512_loadu_pd(pl + i), _mm512_loadu_pd(pl + i + 1), _mm512_loadu_pd(pr + i),
                 _mm512_loadu_pd(pr + i + 1), out);
    x = _mm512_add_pd(x, step8n);
    idx = _mm512_add_pd(idx, _mm512_set1_pd(8.0));
}

// Eight elements per step: within the runs of DriftRuns plain consecutive loads, as in
// walkAvx2Side, when the stretch is that of a search (2L / 3 < n < 4L / 3); the groups
// that hold a change, and every group of other stretches, permute or gather.
template <bool kDivide, class Out>
TANDEM_TARGET("avx512f,avx2") FrameIndex walkAvx512(const double* ml, const double* mr, FrameIndex n,
                                                             FrameIndex L, FrameIndex from, FrameIndex to, Out& out) {
    const __m512d vn = _mm512_set1_pd(static_cast<double>(n));
    const __m512d vL = _mm512_set1_pd(static_cast<double>(L));
    const __m512d vr = _mm512_set1_pd(1.0 / static_cast<double>(L));
    const __m512d lane = _mm512_setr_pd(0.0, 1.0, 2.0, 3.0, 4.0, 5.0, 6.0, 7.0);
    // x = i * n, stepped by 8n (exact: integers below 2^53).
    const __m512d step8n = _mm512_mul_pd(_mm512_set1_pd(8.0), vn);
    __m512d x = _mm512_mul_pd(_mm512_add_pd(lane, _mm512_set1_pd(static_cast<double>(from))), vn);
    FrameIndex i = from;
    if (!(3 * n < 4 * L && 3 * n > 2 * L)) {
        for (; i + 8 <= to; i += 8, x = _mm512_add_pd(x, step8n)) group8<kDivide>(ml, mr, i, x, vL, vr, out);
        return i;
    }
    DriftRuns runs(n, L, from);
    while (i + 8 <= to) {
        const double* pl = ml + runs.delta;
        const double* pr = mr + runs.delta;
        __m512d idx = _mm512_add_pd(_mm512_set1_pd(static_cast<double>(i + runs.delta)), lane);
        const FrameIndex end = std::min(runs.next, to);
        for (; i + 16 <= end; i += 16) {
            runGroup8<kDivide>(pl, pr, i, x, idx, step8n, vL, vr, out);
            runGroup8<kDivide>(pl, pr, i + 8, x, idx, step8n, vL, vr, out);
        }
        if (i + 8 <= end) {
            runGroup8<kDivide>(pl, pr, i, x, idx, step8n, vL, vr, out);
            i += 8;
        }
        if (i + 8 > to) break;
        group8<kDivide>(ml, mr, i, x, vL, vr, out);
        x = _mm512_add_pd(x, step8n);
        i += 8;
        while (runs.next <= i) runs.advance();
    }
    return i;
}

template <bool kDivide>
TANDEM_TARGET("avx2,fma") void lanesAvx2(const double* ml, const double* mr, FrameIndex n, FrameIndex L,
                                                  const double* s, FrameIndex from, FrameIndex to, double lanes[4]) {
    Accumulate4 out{s, _mm256_loadu_pd(lanes)};
    const FrameIndex i = walkAvx2<kDivide>(ml, mr, n, L, from, to, out);
    _mm256_storeu_pd(lanes, out.acc);
    finish(ml, mr, n, L, s, i, to, lanes);
}

// The eight products go into the four lanes as two steps of four, in order.
template <bool kDivide>
TANDEM_TARGET("avx512f,avx2") void lanesAvx512(const double* ml, const double* mr, FrameIndex n, FrameIndex L,
                                                         const double* s, FrameIndex from, FrameIndex to,
                                                         double lanes[4]) {
    Accumulate8 out{s, _mm256_loadu_pd(lanes)};
    const FrameIndex i = walkAvx512<kDivide>(ml, mr, n, L, from, to, out);
    _mm256_storeu_pd(lanes, out.acc);
    finish(ml, mr, n, L, s, i, to, lanes);
}

void stretchPlainFrom(const double* ml, const double* mr, FrameIndex n, FrameIndex L, FrameIndex i, double* m) {
    const double dn = static_cast<double>(n), dL = static_cast<double>(L);
    for (; i < L; ++i) m[i] = stretchedAt(ml, mr, dn, dL, i);
}

template <bool kDivide>
TANDEM_TARGET("avx2,fma") void stretchAvx2(const double* ml, const double* mr, FrameIndex n, FrameIndex L,
                                                    double* m) {
    Store4 out{m};
    stretchPlainFrom(ml, mr, n, L, walkAvx2<kDivide>(ml, mr, n, L, 0, L, out), m);
}

template <bool kDivide>
TANDEM_TARGET("avx512f,avx2") void stretchAvx512(const double* ml, const double* mr, FrameIndex n,
                                                           FrameIndex L, double* m) {
    Store8 out{m};
    stretchPlainFrom(ml, mr, n, L, walkAvx512<kDivide>(ml, mr, n, L, 0, L, out), m);
}

template <bool kDivide>
TANDEM_TARGET("avx2,fma") void positionsAvx2(FrameIndex n, FrameIndex L, double* pos) {
    const __m256d vn = _mm256_set1_pd(static_cast<double>(n)), vL = _mm256_set1_pd(static_cast<double>(L));
    const __m256d vr = _mm256_set1_pd(1.0 / static_cast<double>(L));
    __m256d iv = _mm256_setr_pd(0.0, 1.0, 2.0, 3.0);
    FrameIndex i = 0;
    for (; i + 4 <= L; i += 4, iv = _mm256_add_pd(iv, _mm256_set1_pd(4.0)))
        _mm256_storeu_pd(pos + i, quotient4<kDivide>(_mm256_mul_pd(iv, vn), vL, vr));
    positionsPlainFrom(n, L, i, pos);
}

template <bool kDivide>
TANDEM_TARGET("avx512f") void positionsAvx512(FrameIndex n, FrameIndex L, double* pos) {
    const __m512d vn = _mm512_set1_pd(static_cast<double>(n)), vL = _mm512_set1_pd(static_cast<double>(L));
    const __m512d vr = _mm512_set1_pd(1.0 / static_cast<double>(L));
    __m512d iv = _mm512_setr_pd(0.0, 1.0, 2.0, 3.0, 4.0, 5.0, 6.0, 7.0);
    FrameIndex i = 0;
    for (; i + 8 <= L; i += 8, iv = _mm512_add_pd(iv, _mm512_set1_pd(8.0)))
        _mm512_storeu_pd(pos + i, quotient8<kDivide>(_mm512_mul_pd(iv, vn), vL, vr));
    positionsPlainFrom(n, L, i, pos);
}

void stretchPlain(const double* ml, const double* mr, FrameIndex n, FrameIndex L, double* m) {
    stretchPlainFrom(ml, mr, n, L, 0, m);
}

void positionsPlain(FrameIndex n, FrameIndex L, double* pos) { positionsPlainFrom(n, L, 0, pos); }

struct Variant {
    void (*lanes)(const double*, const double*, FrameIndex, FrameIndex, const double*, FrameIndex, FrameIndex, double*);
    void (*stretch)(const double*, const double*, FrameIndex, FrameIndex, double*);
    void (*positions)(FrameIndex, FrameIndex, double*);
};

// In the order of StretchKernel.
const Variant kVariants[] = {{finish, stretchPlain, positionsPlain},
                             {lanesAvx2<true>, stretchAvx2<true>, positionsAvx2<true>},
                             {lanesAvx2<false>, stretchAvx2<false>, positionsAvx2<false>},
                             {lanesAvx512<true>, stretchAvx512<true>, positionsAvx512<true>},
                             {lanesAvx512<false>, stretchAvx512<false>, positionsAvx512<false>}};

const Variant& variant(StretchKernel kernel) { return kVariants[static_cast<int>(kernel)]; }

bool runs([[maybe_unused]] StretchKernel kernel) {
#ifdef TANDEM_EMULATED_SIMD
    return true;
#else
    const bool avx2 = __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
    if (kernel == StretchKernel::Avx512 || kernel == StretchKernel::Avx512Divide)
        return avx2 && __builtin_cpu_supports("avx512f");
    return kernel == StretchKernel::Plain || avx2;
#endif
}

StretchKernel detect() {
    if (runs(StretchKernel::Avx512)) return StretchKernel::Avx512;
    if (runs(StretchKernel::Avx2)) return StretchKernel::Avx2;
    return StretchKernel::Plain;
}

const StretchKernel kBest = detect();

}  // namespace

bool Supports(StretchKernel kernel) { return runs(kernel); }

double StretchScoreWith(StretchKernel kernel, const double* ml, const double* mr, FrameIndex n, FrameIndex L,
                        const double* s) {
    double lanes[4] = {0.0, 0.0, 0.0, 0.0};
    variant(kernel).lanes(ml, mr, n, L, s, 0, L, lanes);
    return LanesScore(lanes);
}

double StretchScore(const double* ml, const double* mr, FrameIndex n, FrameIndex L, const double* s) {
    return StretchScoreWith(kBest, ml, mr, n, L, s);
}

void StretchLanesWith(StretchKernel kernel, const double* ml, const double* mr, FrameIndex n, FrameIndex L,
                      const double* s, FrameIndex from, FrameIndex to, double lanes[4]) {
    variant(kernel).lanes(ml, mr, n, L, s, from, to, lanes);
}

void StretchLanes(const double* ml, const double* mr, FrameIndex n, FrameIndex L, const double* s, FrameIndex from,
                  FrameIndex to, double lanes[4]) {
    StretchLanesWith(kBest, ml, mr, n, L, s, from, to, lanes);
}

double LanesScore(const double lanes[4]) { return ((lanes[0] + lanes[1]) + (lanes[2] + lanes[3])) * kSumScale; }

namespace {

// sums[k + 1] = sums[k] + the squares of block k of a (plus b, where given), each
// block's added in a tree: in whole numbers any order of the additions gives the same sum.
TANDEM_CLONES("avx512f", "avx2")
void blockSums(const double* a, const double* b, FrameIndex blocks, double* sums) {
    using Eight = double __attribute__((vector_size(8 * sizeof(double))));
    double run = sums[0];
    for (FrameIndex k = 0; k < blocks; ++k) {
        Eight v, w = {};
        std::memcpy(&v, a + 8 * k, sizeof v);
        if (b) std::memcpy(&w, b + 8 * k, sizeof w);
        v += w;
        v *= v;
        v += __builtin_shufflevector(v, v, 4, 5, 6, 7, 0, 1, 2, 3);
        v += __builtin_shufflevector(v, v, 2, 3, 0, 1, 6, 7, 4, 5);
        sums[k + 1] = run += v[0] + v[1];
    }
}

// The running sums of squares of a (+ b) in blocks of eight, the last one partial.
void blockSquares(const double* a, const double* b, FrameIndex count, std::vector<double>& sums) {
    const FrameIndex blocks = (count + 7) / 8, whole = count / 8;
    sums.resize(static_cast<std::size_t>(blocks) + 1);
    sums[0] = 0.0;
    blockSums(a, b, whole, sums.data());
    if (whole < blocks) {
        double run = sums[static_cast<std::size_t>(whole)];
        for (FrameIndex i = 8 * whole; i < count; ++i) {
            const double v = b ? a[i] + b[i] : a[i];
            run += v * v;
        }
        sums[static_cast<std::size_t>(blocks)] = run;
    }
}

}  // namespace

void BlockSquares(const double* v, FrameIndex count, std::vector<double>& sums) { blockSquares(v, nullptr, count, sums); }

void MasterBlockSquares(const double* ml, const double* mr, FrameIndex n, std::vector<double>& sums) {
    blockSquares(ml, mr, n + 1, sums);
}

// Element i is each channel's interpolation at x = i * n / L truncated, then added: within
// 1 of the interpolation y of the mono sum M = left + right (a truncation moves its value
// towards zero by less than 1; two of opposite signs move the sum apart by less than 1),
// so its square is at most (|y| + 1)^2. By convexity y^2 <= (1 - f) M(j)^2 + f M(j + 1)^2,
// which gives each M(j)^2 the weight sum_i max(0, 1 - |x_i - j|) over the elements: at most
// 1 for steps d = n / L >= 1, and 3 - 2d for 2/3 <= d < 1 (three x_i within 1 of j at
// most). Elements from .. L - 1 reach M(j) for j >= floor(from * n / L) only. With their
// count c and S the weighted sum, sum (|y| + 1)^2 <= S + 2 sqrt(c S) + c (Cauchy-Schwarz).
// The rounding of the interpolation (below 1e-6 of a sample) is covered by 1.001 for 1.
StretchTail::StretchTail(const std::vector<double>& master, FrameIndex n, FrameIndex L)
    : master_(master),
      L_(L),
      ratio_(static_cast<double>(n) / static_cast<double>(L)),
      weight_(3 * n < 2 * L ? HUGE_VAL : n >= L ? 1.0 : 3.0 - 2.0 * ratio_) {}

double StretchTail::From(FrameIndex from) const {
    // From the block that holds the first frame reached, or the one before (the product
    // rounds): a few more squares, never fewer.
    const FrameIndex first = std::max<FrameIndex>(static_cast<FrameIndex>(static_cast<double>(from) * ratio_) - 1, 0);
    const double S = weight_ * (master_.back() - master_[static_cast<std::size_t>(first / 8)]);
    const double c = static_cast<double>(L_ - from), one = 1.001;
    return (S + 2.0 * one * std::sqrt(c * S) + one * one * c) * (1.0 + 1e-12);
}

void StretchIntoWith(StretchKernel kernel, const double* ml, const double* mr, FrameIndex n, FrameIndex L, double* m) {
    variant(kernel).stretch(ml, mr, n, L, m);
}

void StretchInto(const double* ml, const double* mr, FrameIndex n, FrameIndex L, double* m) {
    StretchIntoWith(kBest, ml, mr, n, L, m);
}

void StretchPositionsWith(StretchKernel kernel, FrameIndex n, FrameIndex L, double* pos) {
    variant(kernel).positions(n, L, pos);
}

namespace {

double dotPlain(const double* a, const double* b, FrameIndex n) {
    double acc[4] = {0.0, 0.0, 0.0, 0.0};
    FrameIndex i = 0;
    for (; i + 4 <= n; i += 4)
        for (int k = 0; k < 4; ++k) acc[k] += a[i + k] * b[i + k];
    for (; i < n; ++i) acc[0] += a[i] * b[i];
    return (acc[0] + acc[1]) + (acc[2] + acc[3]);
}

// The four lanes as one vector. Written out rather than left to the vectoriser, which
// the sanitizers' checks keep from vectorising the plain loop.
TANDEM_TARGET("avx2") double dotAvx2(const double* a, const double* b, FrameIndex n) {
    __m256d acc = _mm256_setzero_pd();
    FrameIndex i = 0;
    for (; i + 4 <= n; i += 4) acc = _mm256_add_pd(acc, _mm256_mul_pd(_mm256_loadu_pd(a + i), _mm256_loadu_pd(b + i)));
    alignas(32) double lanes[4];
    _mm256_store_pd(lanes, acc);
    for (; i < n; ++i) lanes[0] += a[i] * b[i];
    return (lanes[0] + lanes[1]) + (lanes[2] + lanes[3]);
}

}  // namespace

double Dot(const double* a, const double* b, FrameIndex n) {
    return kBest == StretchKernel::Plain ? dotPlain(a, b, n) : dotAvx2(a, b, n);
}

}  // namespace tandem
