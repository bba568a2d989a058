// Also built with the intrinsics emulated (test_kernels_emulated), so that the AVX-512
// variant is checked on every processor.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "dsp/LagCorrelation.h"

namespace tandem {
namespace {

TEST(LagCorrelation, every_variant_gives_the_plain_sums_and_those_are_the_definitions) {
    std::mt19937 rng(3);
    std::uniform_real_distribution<float> u(-60000.0f, 60000.0f);
    const std::size_t n = 490;
    std::vector<float> x(n), s(n + kCorrelationLags);
    for (float& v : x) v = u(rng);
    for (float& v : s) v = u(rng);
    std::vector<float> plain(kCorrelationLags);
    CorrelateLagsWith(SincKernel::Plain, x.data(), n, s.data(), plain.data());
    for (int j = 0; j < kCorrelationLags; j += 7) {
        double exact = 0.0;
        for (std::size_t k = 0; k < n; ++k) exact += static_cast<double>(x[k]) * s[k + static_cast<std::size_t>(j)];
        EXPECT_NEAR(plain[static_cast<std::size_t>(j)], exact, 1e-5 * n * 3.6e9) << j;
    }

    // Two reads of one correlation, the second four lags on.
    std::vector<double> c(kSincTaps + 4), e(kSincTaps + 4);
    std::vector<float> w0(kSincTaps), w1(kSincTaps);
    for (std::size_t t = 0; t < c.size(); ++t) c[t] = u(rng) * 1e6, e[t] = std::fabs(u(rng)) * 1e6;
    for (int t = 0; t < kSincTaps; ++t) w0[t] = u(rng) / 6e4f, w1[t] = u(rng) / 6e4f;
    const BlendedRead reads[2] = {{w0.data(), w1.data(), 0.3, 0}, {w1.data(), w0.data(), 0.9, 4}};
    // Five reads whose sum shows their order: a large one, a tiny one lost against it, the
    // large one negated, a tiny one that then stands, and an ordinary one.
    std::vector<float> big0(w0), big1(w1), neg0(w0), neg1(w1), tiny0(w0), tiny1(w1);
    for (int t = 0; t < kSincTaps; ++t) {
        big0[t] *= 1e8f, big1[t] *= 1e8f, neg0[t] = -big0[t], neg1[t] = -big1[t];
        tiny0[t] *= 1e-8f, tiny1[t] *= 1e-8f;
    }
    const BlendedRead ordered[5] = {{big0.data(), big1.data(), 0.3, 0},
                                    {tiny0.data(), tiny1.data(), 0.9, 4},
                                    {neg0.data(), neg1.data(), 0.3, 0},
                                    {tiny1.data(), tiny0.data(), 0.5, 2},
                                    {w0.data(), w1.data(), 0.7, 3}};
    double v = 0.0, w = 0.0, v5 = 0.0, w5 = 0.0;
    BlendedDotSumsWith(SincKernel::Plain, reads, 2, c.data(), e.data(), v, w);
    BlendedDotSumsWith(SincKernel::Plain, ordered, 5, c.data(), e.data(), v5, w5);
    double exactV = 0.0;
    for (int t = 0; t < kSincTaps; ++t) exactV += (0.7 * w0[t] + 0.3 * w1[t]) * c[t] + (0.1 * w1[t] + 0.9 * w0[t]) * c[t + 4];
    EXPECT_NEAR(v, exactV, 1e-9 * std::fabs(exactV) + 1e-3);

    for (const SincKernel kernel : {SincKernel::Avx2, SincKernel::Avx512}) {
        if (!Supports(kernel)) continue;
        std::vector<float> fast(kCorrelationLags);
        CorrelateLagsWith(kernel, x.data(), n, s.data(), fast.data());
        EXPECT_EQ(fast, plain);
        for (const std::size_t count : {2, 5}) {
            double fv = 0.0, fw = 0.0;
            BlendedDotSumsWith(kernel, count == 2 ? reads : ordered, count, c.data(), e.data(), fv, fw);
            EXPECT_EQ(fv, count == 2 ? v : v5) << count;
            EXPECT_EQ(fw, count == 2 ? w : w5) << count;
        }
    }
}

}  // namespace
}  // namespace tandem
