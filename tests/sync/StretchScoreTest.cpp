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

const StretchKernel kVectorKernels[] = {StretchKernel::Avx2Divide, StretchKernel::Avx2, StretchKernel::Avx512Divide,
                                        StretchKernel::Avx512};

TEST(StretchScore, every_kernel_matches_the_plain_loop_bit_for_bit) {
    // Search-sized stretches, extreme ones (the vector kernels' fallback paths) and
    // lengths that leave every possible tail.
    const Material big(8820, 40000, 1);
    std::vector<FrameIndex> lengths;
    for (FrameIndex L = 8820 - 230; L <= 8820 + 230; L += 7) lengths.push_back(L);
    // The segment's own length and its neighbours (no or one change of neighbourhood),
    // and the last stretches that still blend: a change in almost every group of four.
    for (FrameIndex L : {1, 2, 3, 5, 8, 9, 15, 17, 100, 2205, 3001, 4410, 6616, 8819, 8820, 8821, 13229, 17640, 35280})
        lengths.push_back(L);
    const Material small(13, 64, 2);

    for (StretchKernel kernel : kVectorKernels) {
        if (!Supports(kernel)) continue;
        const auto check = [&](const Material& m, FrameIndex L) {
            std::vector<double> plain(static_cast<std::size_t>(L)), vector(plain.size());
            StretchIntoWith(StretchKernel::Plain, m.ml(), m.mr(), m.n, L, plain.data());
            StretchIntoWith(kernel, m.ml(), m.mr(), m.n, L, vector.data());
            ASSERT_EQ(vector, plain) << "kernel " << static_cast<int>(kernel) << " length " << L;
            const double whole = StretchScoreWith(StretchKernel::Plain, m.ml(), m.mr(), m.n, L, m.slave.data());
            ASSERT_EQ(StretchScoreWith(kernel, m.ml(), m.mr(), m.n, L, m.slave.data()), whole)
                << "kernel " << static_cast<int>(kernel) << " length " << L;
            // Taken in parts that start inside a run of neighbourhoods and at its edge.
            double lanes[4] = {0.0, 0.0, 0.0, 0.0};
            FrameIndex from = 0;
            for (FrameIndex to : {L / 3 / 8 * 8, std::min((L / 2 + 5) / 8, L / 8) * 8, L}) {
                if (to < from) continue;
                StretchLanesWith(kernel, m.ml(), m.mr(), m.n, L, m.slave.data(), from, to, lanes);
                from = to;
            }
            ASSERT_EQ(LanesScore(lanes), whole) << "kernel " << static_cast<int>(kernel) << " length " << L;
        };
        for (FrameIndex L : lengths) check(big, L);
        for (FrameIndex L = 1; L <= 60; ++L) check(small, L);
    }
}

// The division-free position must be the correctly rounded quotient for every element:
// exact quotients (L divides i * n), long look-ahead spans whose i * n passes 2^32,
// coprime and power-of-two lengths, and random pairs around the search's ratios.
TEST(StretchScore, vector_positions_are_the_divided_quotient_bit_for_bit) {
    std::vector<std::pair<FrameIndex, FrameIndex>> cases = {
        {8820, 8820}, {8820, 4410}, {4410, 8820}, {1, 7}, {7, 1}, {3, 1024}, {1024, 3}, {65536, 65537}, {262144, 262147},
        {529200, 529151}, {529200, 529649}, {13230, 13230 + 150}};
    std::mt19937 rng(4);
    for (int k = 0; k < 24; ++k) {
        const FrameIndex n = 100 + static_cast<FrameIndex>(rng() % 30000);
        cases.emplace_back(n, n + static_cast<FrameIndex>(rng() % 1001) - 500);
    }
    for (StretchKernel kernel : kVectorKernels) {
        if (!Supports(kernel)) continue;
        for (const auto& [n, L] : cases) {
            std::vector<double> plain(static_cast<std::size_t>(L)), vector(plain.size());
            StretchPositionsWith(StretchKernel::Plain, n, L, plain.data());
            StretchPositionsWith(kernel, n, L, vector.data());
            for (FrameIndex i = 0; i < L; ++i)
                ASSERT_EQ(vector[static_cast<std::size_t>(i)], plain[static_cast<std::size_t>(i)])
                    << "kernel " << static_cast<int>(kernel) << " n " << n << " L " << L << " i " << i;
        }
    }
}

// The bound must hold where it is tightest: a constant master stretched longer (each
// frame reached more than once), channels whose truncations make every stretched value 1
// where the mono sum alternates 1, 0 (the truncations' share), and full-scale noise,
// from every part of the segment.
TEST(StretchScore, tail_energy_bounds_the_stretched_squares) {
    struct Case {
        std::vector<double> left, right;
    };
    const FrameIndex n = 2000;
    std::mt19937 rng(5);
    std::uniform_int_distribution<int> sample(-32768, 32767);
    std::vector<Case> cases(3);
    for (FrameIndex j = 0; j <= n; ++j) {
        const double a = sample(rng);
        cases[0].left.push_back(30000.0);
        cases[0].right.push_back(29000.0);
        cases[1].left.push_back(3.0);
        cases[1].right.push_back(j % 2 == 0 ? -2.0 : -3.0);
        cases[2].left.push_back(a);
        cases[2].right.push_back(sample(rng));
    }
    for (Case& c : cases) {
        c.left.resize(static_cast<std::size_t>(n) + 1 + kStretchPadBack, 0.0);
        c.right.resize(c.left.size(), 0.0);
        std::vector<double> energy, m;
        MasterBlockSquares(c.left.data(), c.right.data(), n, energy);
        for (FrameIndex L : {1340, 1500, 1999, 2000, 2001, 2150, 2600, 2999}) {
            m.resize(static_cast<std::size_t>(L));
            StretchIntoWith(StretchKernel::Plain, c.left.data(), c.right.data(), n, L, m.data());
            const StretchTail tail(energy, n, L);
            for (FrameIndex from : {FrameIndex{0}, L / 4, L / 2, L - 9}) {
                double squares = 0.0;
                for (FrameIndex i = from; i < L; ++i) squares += m[static_cast<std::size_t>(i)] * m[static_cast<std::size_t>(i)];
                EXPECT_LE(squares, tail.From(from)) << "L " << L << " from " << from;
            }
        }
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
