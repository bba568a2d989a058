// The x86 intrinsics of the score kernels emulated in portable code (SIMDe), so that the
// agreement test also runs the AVX-512 variants on processors without AVX-512. Forced
// in front of the kernels' sources in that test's build only.
//
// SIMDe's multiply-adds without FMA hardware round twice; the kernels' division-free
// quotient needs the single rounding, so they are replaced by std::fma lane by lane.
// Conversions and the gather SIMDe lacks are written out the same way.
#pragma once

#define SIMDE_ENABLE_NATIVE_ALIASES
#include <simde/x86/avx512.h>
#include <simde/x86/fma.h>

#include <cmath>
#include <cstdint>
#include <cstring>

#ifndef _MM_FROUND_NO_EXC
#define _MM_FROUND_NO_EXC SIMDE_MM_FROUND_NO_EXC
#endif

namespace tandem::emulated {

template <int N, class V, class F>
V lanewise(V a, V b, V c, F f) {
    double x[N], y[N], z[N];
    std::memcpy(x, &a, sizeof x);
    std::memcpy(y, &b, sizeof y);
    std::memcpy(z, &c, sizeof z);
    for (int k = 0; k < N; ++k) x[k] = f(x[k], y[k], z[k]);
    std::memcpy(&a, x, sizeof x);
    return a;
}

inline double fused(double x, double y, double z) { return std::fma(x, y, z); }
inline double fusedNegated(double x, double y, double z) { return std::fma(-x, y, z); }

template <class To, class From, int N, class T, class U>
To convert(From v) {
    T in[N];
    U out[N];
    std::memcpy(in, &v, sizeof in);
    for (int k = 0; k < N; ++k) out[k] = static_cast<U>(in[k]);
    To r;
    std::memcpy(&r, out, sizeof out);
    return r;
}

}  // namespace tandem::emulated

#undef _mm256_fmadd_pd
#undef _mm256_fnmadd_pd
#undef _mm512_fmadd_pd
#undef _mm512_fnmadd_pd
inline simde__m256d _mm256_fmadd_pd(simde__m256d a, simde__m256d b, simde__m256d c) {
    return tandem::emulated::lanewise<4>(a, b, c, tandem::emulated::fused);
}
inline simde__m256d _mm256_fnmadd_pd(simde__m256d a, simde__m256d b, simde__m256d c) {
    return tandem::emulated::lanewise<4>(a, b, c, tandem::emulated::fusedNegated);
}
inline simde__m512d _mm512_fmadd_pd(simde__m512d a, simde__m512d b, simde__m512d c) {
    return tandem::emulated::lanewise<8>(a, b, c, tandem::emulated::fused);
}
inline simde__m512d _mm512_fnmadd_pd(simde__m512d a, simde__m512d b, simde__m512d c) {
    return tandem::emulated::lanewise<8>(a, b, c, tandem::emulated::fusedNegated);
}
inline simde__m256i _mm512_cvttpd_epi32(simde__m512d v) {
    return tandem::emulated::convert<simde__m256i, simde__m512d, 8, double, std::int32_t>(v);
}
inline simde__m512i _mm512_cvtepi32_epi64(simde__m256i v) {
    return tandem::emulated::convert<simde__m512i, simde__m256i, 8, std::int32_t, std::int64_t>(v);
}
inline simde__m512d _mm512_cvtepi32_pd(simde__m256i v) {
    return tandem::emulated::convert<simde__m512d, simde__m256i, 8, std::int32_t, double>(v);
}
inline simde__m512d _mm512_i32gather_pd(simde__m256i index, const void* base, int scale) {
    std::int32_t at[8];
    double out[8];
    std::memcpy(at, &index, sizeof at);
    for (int k = 0; k < 8; ++k)
        std::memcpy(&out[k], static_cast<const char*>(base) + static_cast<std::ptrdiff_t>(at[k]) * scale, sizeof(double));
    simde__m512d r;
    std::memcpy(&r, out, sizeof out);
    return r;
}
