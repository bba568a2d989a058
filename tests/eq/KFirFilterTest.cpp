#include <gtest/gtest.h>

#include <cmath>
#include <numeric>
#include <vector>

#include "eq/KFirFilter.h"

namespace tandem {
namespace {

KFirFilter LowPass(float edgeHz) { return KFirFilter(kSampleRate, edgeHz, edgeHz * 1.2f, 60.0f, kLowPass); }
KFirFilter HighPass(float edgeHz) { return KFirFilter(kSampleRate, edgeHz * 0.8f, edgeHz, 60.0f, kHighPass); }

TEST(KFirFilter, tap_counts_follow_the_transition_width_up_to_the_cap) {
    EXPECT_EQ(LowPass(12000.0f).TapCount(), 69);
    EXPECT_EQ(LowPass(3000.0f).TapCount(), 269);
    EXPECT_EQ(LowPass(2600.0f).TapCount(), 301);
    EXPECT_EQ(HighPass(100.0f).TapCount(), 301);
    EXPECT_EQ(HighPass(12000.0f).TapCount(), 69);
    EXPECT_LT(LowPass(2700.0f).TapCount(), 301);
}

TEST(KFirFilter, coefficients_are_symmetric) {
    for (const KFirFilter& f : {LowPass(12000.0f), LowPass(440.0f), HighPass(100.0f), HighPass(5000.0f)}) {
        const std::vector<float>& c = f.Coefficients();
        ASSERT_EQ(static_cast<int>(c.size()), f.TapCount());
        for (std::size_t i = 0; i < c.size(); ++i) EXPECT_EQ(c[i], c[c.size() - 1 - i]) << i;
    }
}

TEST(KFirFilter, low_pass_has_unity_gain_at_dc) {
    for (float edge : {12000.0f, 3000.0f, 500.0f}) {
        const KFirFilter f = LowPass(edge);
        const std::vector<float>& c = f.Coefficients();
        EXPECT_NEAR(std::accumulate(c.begin(), c.end(), 0.0), 1.0, 2e-3) << edge;
    }
}

// Gain at Nyquist, phase taken about the centre tap (the group delay is compensated).
double CentredNyquistGain(const KFirFilter& f) {
    const std::vector<float>& c = f.Coefficients();
    const std::size_t h = c.size() / 2;
    double gain = 0.0;
    for (std::size_t i = 0; i < c.size(); ++i) gain += ((i + h) % 2 == 0 ? 1.0 : -1.0) * c[i];
    return gain;
}

TEST(KFirFilter, high_pass_blocks_dc_and_its_sign_depends_on_the_centre_position) {
    struct Case {
        float edge;
        int taps;
        double nyquistGain;  // -1: centre tap negated (h even), polarity inverted
    };
    for (const Case& k : {Case{12000.0f, 69, -1.0}, Case{3000.0f, 269, -1.0}, Case{6000.0f, 135, 1.0},
                          Case{11000.0f, 75, 1.0}}) {
        const KFirFilter f = HighPass(k.edge);
        ASSERT_EQ(f.TapCount(), k.taps) << k.edge;
        const std::vector<float>& c = f.Coefficients();
        EXPECT_NEAR(std::accumulate(c.begin(), c.end(), 0.0), 0.0, 2e-3) << k.edge;
        EXPECT_NEAR(CentredNyquistGain(f), k.nyquistGain, 2e-3) << k.edge;
        EXPECT_EQ(c[c.size() / 2] < 0.0f, k.nyquistGain < 0.0) << k.edge;
    }
}

TEST(KFirFilter, capped_high_pass_at_a_low_edge_has_a_wide_transition) {
    // 80..100 Hz would need thousands of taps; with 301 the response at DC is far from 0.
    const KFirFilter f = HighPass(100.0f);
    const std::vector<float>& c = f.Coefficients();
    EXPECT_GT(std::fabs(std::accumulate(c.begin(), c.end(), 0.0)), 0.1);
    EXPECT_NEAR(CentredNyquistGain(f), -1.0, 2e-3);
}

TEST(KFirFilter, impulse_comes_out_centred_at_its_input_position) {
    KFirFilter f = LowPass(3000.0f);
    const int taps = f.TapCount();
    const int d = (taps - 1) / 2;
    std::vector<float> in(1000, 0.0f);
    in[400] = 1.0f;
    std::vector<float> out(in.size(), -7.0f);
    FrameIndex outCount = 0;
    EXPECT_EQ(f.Filter(in.data(), static_cast<FrameIndex>(in.size()), out.data(), outCount), taps);
    EXPECT_EQ(outCount, 1000);
    const std::vector<float>& c = f.Coefficients();
    for (int k = 0; k < 1000 - d; ++k) {
        const int j = k - 400 + d;
        const float expected = (j >= 0 && j < taps) ? c[static_cast<std::size_t>(j)] : 0.0f;
        EXPECT_EQ(out[static_cast<std::size_t>(k)], expected) << k;
    }
    // The last d outputs are left as they were.
    for (int k = 1000 - d; k < 1000; ++k) EXPECT_EQ(out[static_cast<std::size_t>(k)], -7.0f) << k;
}

TEST(BandFilter, last_group_delay_frames_are_zero_and_the_rest_passes_dc) {
    std::vector<Frame> frames(5000, Frame{1000, -2000});
    ApplyBandFilter(frames.data(), static_cast<FrameIndex>(frames.size()), 60.0f, 12000.0f, 14400.0f, kLowPass);
    const int d = 34;
    for (int i = 0; i < 5000; ++i) {
        const Frame& fr = frames[static_cast<std::size_t>(i)];
        if (i >= 5000 - d) {
            EXPECT_EQ(fr.left, 0) << i;
            EXPECT_EQ(fr.right, 0) << i;
        } else if (i >= d) {
            EXPECT_NEAR(fr.left, 1000, 3) << i;
            EXPECT_NEAR(fr.right, -2000, 5) << i;
        }
    }
}

TEST(BandFilter, saturates_to_sixteen_bits) {
    // A full-scale square wave through a low-pass overshoots (Gibbs) past the 16-bit range.
    std::vector<Frame> frames(4000);
    for (std::size_t i = 0; i < frames.size(); ++i) {
        const std::int16_t v = (i / 200) % 2 == 0 ? 32767 : -32768;
        frames[i] = Frame{v, static_cast<std::int16_t>(-v - 1)};
    }
    ApplyBandFilter(frames.data(), static_cast<FrameIndex>(frames.size()), 60.0f, 3000.0f, 3600.0f, kLowPass);
    int top = 0, bottom = 0;
    for (const Frame& f : frames) {
        top += f.left == 32767;
        bottom += f.left == -32768;
    }
    EXPECT_GT(top, 0);
    EXPECT_GT(bottom, 0);
}

}  // namespace
}  // namespace tandem
