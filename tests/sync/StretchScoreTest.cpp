#include "sync/StretchScore.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace tandem {
namespace {

// A master segment in padded channel arrays and a slave window, full-scale noise with
// the extremes of the sample range mixed in.
struct Material {
    FrameIndex n;
    std::vector<double> left, right, slave;

    Material(FrameIndex frames, FrameIndex slaveLength, unsigned seed) : n(frames) {
        std::mt19937 rng(seed);
        std::uniform_int_distribution<int> sample(-32768, 32767);
        const auto value = [&] {
            const int pick = static_cast<int>(rng() % 16);
            return pick == 0 ? 32767.0 : pick == 1 ? -32768.0 : static_cast<double>(sample(rng));
        };
        left.assign(static_cast<std::size_t>(n) + 1 + kStretchPadBack, 0.0);
        right.assign(left.size(), 0.0);
        for (FrameIndex i = 0; i < n; ++i) {
            left[static_cast<std::size_t>(i + 1)] = value();
            right[static_cast<std::size_t>(i + 1)] = value();
        }
        left[static_cast<std::size_t>(n + 1)] = left[static_cast<std::size_t>(n)];
        right[static_cast<std::size_t>(n + 1)] = right[static_cast<std::size_t>(n)];
        for (FrameIndex i = 0; i < slaveLength; ++i) slave.push_back(value() + value());
    }
    const double* ml() const { return left.data() + 1; }
    const double* mr() const { return right.data() + 1; }
};

TEST(StretchScore, every_kernel_matches_the_plain_loop_bit_for_bit) {
    const StretchKernel kernels[] = {StretchKernel::Avx2, StretchKernel::Avx512};
    // Search-sized stretches, extreme ones (the vector kernels' fallback paths) and
    // lengths that leave every possible tail.
    const Material big(8820, 40000, 1);
    std::vector<FrameIndex> lengths;
    for (FrameIndex L = 8820 - 230; L <= 8820 + 230; L += 7) lengths.push_back(L);
    for (FrameIndex L : {1, 2, 3, 5, 8, 9, 15, 17, 100, 2205, 3001, 4410, 17640, 35280}) lengths.push_back(L);
    const Material small(13, 64, 2);

    for (StretchKernel kernel : kernels) {
        if (!Supports(kernel)) continue;
        for (FrameIndex L : lengths) {
            const double plain = StretchScoreWith(StretchKernel::Plain, big.ml(), big.mr(), big.n, L, big.slave.data());
            ASSERT_EQ(StretchScoreWith(kernel, big.ml(), big.mr(), big.n, L, big.slave.data()), plain)
                << "kernel " << static_cast<int>(kernel) << " length " << L;
        }
        for (FrameIndex L = 1; L <= 60; ++L)
            ASSERT_EQ(StretchScoreWith(kernel, small.ml(), small.mr(), small.n, L, small.slave.data()),
                      StretchScoreWith(StretchKernel::Plain, small.ml(), small.mr(), small.n, L, small.slave.data()))
                << "kernel " << static_cast<int>(kernel) << " length " << L;
    }
}

TEST(StretchScore, equals_the_dot_product_with_the_stretched_copy) {
    const Material m(4410, 5000, 3);
    for (FrameIndex L : {4300, 4409, 4410, 4411, 4523}) {
        std::vector<double> stretched(static_cast<std::size_t>(L));
        StretchInto(m.ml(), m.mr(), m.n, L, stretched.data());
        // Stretching to the segment's own length reproduces it.
        if (L == m.n) {
            for (FrameIndex i = 0; i < L; ++i) ASSERT_EQ(stretched[static_cast<std::size_t>(i)], m.ml()[i] + m.mr()[i]);
        }
        EXPECT_EQ(StretchScore(m.ml(), m.mr(), m.n, L, m.slave.data()), Dot(stretched.data(), m.slave.data(), L) * kSumScale);
    }
}

}  // namespace
}  // namespace tandem
