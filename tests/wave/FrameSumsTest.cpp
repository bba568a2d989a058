#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "wave/FrameSums.h"

namespace tandem::test {
namespace {

// Every conversion equals the per-frame formula, at the extremes of 16 bits and over a
// length that leaves a tail after every vector width.
TEST(FrameSums, each_conversion_equals_the_frame_by_frame_formula) {
    std::mt19937 rng(3);
    std::uniform_int_distribution<int> sample(-32768, 32767);
    std::vector<Frame> f(1003);
    for (Frame& x : f) x = {static_cast<std::int16_t>(sample(rng)), static_cast<std::int16_t>(sample(rng))};
    f[0] = {-32768, -32768};
    f[1] = {32767, -32768};
    f[1002] = {-1, 32767};
    std::vector<float> sums(f.size()), means(f.size());
    std::vector<double> wide(f.size()), left(f.size()), right(f.size());
    ChannelSums(f.data(), f.size(), sums.data());
    ChannelMeans(f.data(), f.size(), means.data());
    ChannelSums(f.data(), f.size(), wide.data());
    ChannelsApart(f.data(), f.size(), left.data(), right.data());
    for (std::size_t k = 0; k < f.size(); ++k) {
        const int l = f[k].left, r = f[k].right;
        ASSERT_EQ(sums[k], static_cast<float>(l + r)) << k;
        ASSERT_EQ(means[k], 0.5f * static_cast<float>(l + r)) << k;
        ASSERT_EQ(wide[k], static_cast<double>(l + r)) << k;
        ASSERT_EQ(left[k], static_cast<double>(l)) << k;
        ASSERT_EQ(right[k], static_cast<double>(r)) << k;
    }
}

}  // namespace
}  // namespace tandem::test
