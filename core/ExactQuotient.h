// x / h without a division, for a whole divisor 1 <= h < 2^50 and r = RN(1 / h): the
// very quotient the division gives (round to nearest), with FMA.
//
// q0 = RN(x r) lies within 2 ulp of x / h. The remainder x - q0 h is a multiple of
// ulp(q0) / 2 below 4 h of them (under 2^53), so the FMA gives it exactly, and
// q0 + rem r misses x / h by |rem| |r - 1/h| < 2 ulp 2^-53. No midpoint of the binade
// lies that close: x and h * midpoint are multiples of ulp / 2, h * midpoint has an odd
// significand of at least 54 bits so it is never x, and x / h lies at least ulp / (2 h)
// from every midpoint. So the last FMA rounds to RN(x / h).
//
// For finite x >= 0 whose quotient is a normal number or +0 (x = -0 gives +0).
#pragma once

#include "core/SimdTarget.h"

namespace tandem {

TANDEM_TARGET("avx2,fma") inline __m256d DivideByWhole4(__m256d x, __m256d h, __m256d r) {
    const __m256d q0 = _mm256_mul_pd(x, r);
    return _mm256_fmadd_pd(_mm256_fnmadd_pd(q0, h, x), r, q0);
}

TANDEM_TARGET("avx512f") inline __m512d DivideByWhole8(__m512d x, __m512d h, __m512d r) {
    const __m512d q0 = _mm512_mul_pd(x, r);
    return _mm512_fmadd_pd(_mm512_fnmadd_pd(q0, h, x), r, q0);
}

}  // namespace tandem
