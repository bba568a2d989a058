#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <vector>

#include "dsp/TimeMap.h"

namespace tandem {
namespace {

// A tape-like warp: 0.1 % wow with a 4 s period on top of +300 ppm.
double warp(double m) { return 1.0003 * m + 0.001 * 176400.0 / (2.0 * M_PI) * std::sin(2.0 * M_PI * m / 176400.0); }

TEST(TimeMap, follows_a_smooth_warp_between_points_far_closer_than_straight_lines) {
    std::vector<FrameIndex> master;
    std::vector<double> slave;
    for (FrameIndex m = 0; m <= 441000; m += 8820) {
        master.push_back(m);
        slave.push_back(warp(static_cast<double>(m)));
    }
    const TimeMap map(master, slave, 132300);
    double worst = 0.0, worstLinear = 0.0;
    for (std::size_t i = 0; i + 1 < master.size(); ++i) {
        EXPECT_FALSE(map.IsBreak(i));
        for (FrameIndex m = master[i]; m < master[i + 1]; m += 97) {
            const double t = static_cast<double>(m - master[i]) / 8820.0;
            worst = std::max(worst, std::fabs(map.At(static_cast<double>(m)) - warp(static_cast<double>(m))));
            worstLinear = std::max(worstLinear, std::fabs(slave[i] + t * (slave[i + 1] - slave[i]) - warp(static_cast<double>(m))));
        }
    }
    EXPECT_LT(worst, 0.03) << "frames (measured 0.022, in the first segment)";
    EXPECT_LT(worst, worstLinear / 10.0);
}

TEST(TimeMap, smooths_a_straight_clocks_noisy_points) {
    // Points of a straight +300 ppm clock with 0.02 frame of deterministic noise.
    std::vector<FrameIndex> master;
    std::vector<double> slave, noise;
    std::uint32_t state = 12345;
    for (FrameIndex m = 0; m <= 60 * 44100; m += 8820) {
        state = state * 1664525u + 1013904223u;
        noise.push_back(0.02 * std::sqrt(3.0) * (2.0 * (state >> 8) / 16777216.0 - 1.0));
        master.push_back(m);
        slave.push_back(1.0003 * static_cast<double>(m) + noise.back());
    }
    const TimeMap straight(master, slave, 132300, 1.0);  // measured points (over a frame: no curve to speak of)
    double raw = 0.0, smoothed = 0.0;
    for (std::size_t i = 0; i < master.size(); ++i) {
        const double truth = 1.0003 * static_cast<double>(master[i]);
        raw += noise[i] * noise[i];
        smoothed += std::pow(straight.At(static_cast<double>(master[i])) - truth, 2.0);
    }
    EXPECT_LT(smoothed, raw / 9.0) << "the noise's RMS falls to a third at least";

}

TEST(TimeMap, breaks_at_a_pause_and_never_runs_backwards) {
    std::vector<FrameIndex> master;
    std::vector<double> slave;
    for (int i = 0; i <= 30; ++i) {
        master.push_back(i * 8820);
        double s = 1.0005 * i * 8820 + 0.3;
        if (i > 10) s += 4410.0;         // the slave paused for 0.1 s inside segment 10
        if (i == 20) s -= 9000.0;        // a point found behind its predecessor
        slave.push_back(s);
    }
    const TimeMap map(master, slave, 132300);
    EXPECT_TRUE(map.IsBreak(10));
    EXPECT_FALSE(map.IsBreak(8));
    EXPECT_FALSE(map.IsBreak(12));
    std::vector<double> pos(static_cast<std::size_t>(master.back() + 20000));
    map.Positions(-10000, pos.size(), pos.data());
    for (std::size_t k = 1; k < pos.size(); ++k) ASSERT_GE(pos[k], pos[k - 1]) << "master frame " << static_cast<FrameIndex>(k) - 10000;
    // The jump stays inside its segment: the segments beside it keep their line.
    for (const double m : {80000.0, 87000.0, 97100.0, 105000.0})
        EXPECT_NEAR(map.At(m), 1.0005 * m + 0.3 + (m > 88200.0 ? 4410.0 : 0.0), 0.01) << m;
}

}  // namespace
}  // namespace tandem
