// Also built with the intrinsics emulated (test_kernels_emulated), so that the AVX-512
// variant is checked on every processor.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "dsp/CubicRun.h"

namespace tandem {
namespace {

TEST(CubicRun, every_variant_gives_the_plain_loops_very_values) {
    std::mt19937_64 rng(11);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    std::vector<CubicSegment> segments;
    for (int c = 0; c < 3000; ++c) {
        const double h = static_cast<double>(1 + rng() % (c % 3 == 0 ? 16 : 1u << 21));
        const double x0 = static_cast<double>(rng() % (1ull << 33)), rate = 0.5 + 1.5 * unit(rng);
        const double rise = c % 50 == 0 ? 0.0 : h * rate + unit(rng) - 0.5;
        segments.push_back({x0, x0 * rate + unit(rng) * 1e4, h, rise, rate * (0.99 + 0.02 * unit(rng)),
                            rate * (0.99 + 0.02 * unit(rng)), c % 7 == 0});
    }
    // Where the division stays: a length that is not whole, a rise that runs backwards.
    segments.push_back({100.0, 5.0, 2.5, 3.0, 1.0, 1.0, false});
    segments.push_back({100.0, 5.0, 40.0, -3.0, 1.0, 1.0, false});
    for (const SincKernel kernel : {SincKernel::Avx2, SincKernel::Avx512}) {
        if (!Supports(kernel)) continue;
        for (std::size_t c = 0; c < segments.size(); ++c) {
            const CubicSegment& s = segments[c];
            const int n = 1 + static_cast<int>(rng() % 61);
            const double m0 = s.x0 + (c % 5 == 0 ? 0.0 : static_cast<double>(rng() % static_cast<std::uint64_t>(s.h)));
            std::vector<double> plain(static_cast<std::size_t>(n)), fast(plain.size());
            CubicRunWith(SincKernel::Plain, s, m0, n, plain.data());
            CubicRunWith(kernel, s, m0, n, fast.data());
            ASSERT_EQ(std::memcmp(plain.data(), fast.data(), plain.size() * sizeof(double)), 0)
                << "segment " << c << " kernel " << static_cast<int>(kernel);
        }
    }
}

}  // namespace
}  // namespace tandem
