// Hand-vectorised kernels: TANDEM_TARGET compiles one function for an instruction set,
// chosen at run time by the caller (__builtin_cpu_supports).
//
// Built for an agreement test on processors without these instruction sets, the
// intrinsics come from an emulation (tests/common/EmulatedSimd.h), TANDEM_TARGET is
// empty and every variant runs.
#pragma once

// GCC 12's AVX-512 intrinsics start from deliberately undefined registers and warn
// about them.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#ifdef TANDEM_EMULATED_SIMD
#define TANDEM_TARGET(...)
#else
#include <immintrin.h>
#define TANDEM_TARGET(...) __attribute__((target(__VA_ARGS__)))
#endif
