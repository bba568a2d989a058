#include <gtest/gtest.h>

#include <cmath>
#include <numeric>
#include <stdexcept>
#include <vector>

#include "dsp/KFirFilter.h"

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

TEST(KFirFilter, kaiser_window_uses_beta_5_65326_at_60_db) {
    // The end taps carry w(+-h) = I0(0) / I0(beta) = 1 / I0(beta); I0(5.65326) ~ 49.05.
    const KFirFilter f = LowPass(3000.0f);
    const std::vector<float>& c = f.Coefficients();
    const int h = (f.TapCount() - 1) / 2;
    const double cutoff = (3000.0 + 3600.0) / 2.0 / 22050.0 * M_PI;
    const double unwindowed = std::sin(h * cutoff) / (h * M_PI);
    EXPECT_NEAR(unwindowed / c[0], 49.05, 0.05);
}

TEST(KFirFilter, blocks_shorter_than_the_filter_keep_the_history_right) {
    // Filtering in pieces, some shorter than the 269 taps, continues exactly where one
    // call over the whole signal would be: a block at stream position at writes
    // out[m] = whole[at + m] for m < length - d.
    std::vector<float> in(1500);
    for (std::size_t i = 0; i < in.size(); ++i) in[i] = static_cast<float>((i * 7919) % 2001) - 1000.0f;
    KFirFilter whole = LowPass(3000.0f);
    const std::size_t d = static_cast<std::size_t>((whole.TapCount() - 1) / 2);
    std::vector<float> expected(in.size(), 0.0f);
    FrameIndex count = 0;
    whole.Filter(in.data(), static_cast<FrameIndex>(in.size()), expected.data(), count);

    KFirFilter pieces = LowPass(3000.0f);
    std::size_t at = 0;
    for (std::size_t length : {5, 0, 100, 1, 600, 794}) {
        std::vector<float> out(length, 0.0f);
        pieces.Filter(in.data() + at, static_cast<FrameIndex>(length), out.data(), count);
        EXPECT_EQ(count, static_cast<FrameIndex>(length));
        for (std::size_t m = 0; m + d < length; ++m) EXPECT_EQ(out[m], expected[at + m]) << at << " " << m;
        at += length;
    }
    EXPECT_EQ(at, in.size());
}

TEST(KFirFilter, unusable_designs_stay_safe) {
    struct Case {
        float first, second, attenuation;
    };
    for (const Case& k : {Case{1000.0f, 1000.0f, 60.0f}, Case{1200.0f, 1000.0f, 60.0f}, Case{1000.0f, 1200.0f, 5.0f},
                          Case{1000.0f, 1200.0f, 8.0f}, Case{1000.0f, 20000.0f, 0.0f}, Case{0.0f, 0.0f, 0.0f}}) {
        for (int kind : {kLowPass, kHighPass}) {
            KFirFilter f(kSampleRate, k.first, k.second, k.attenuation, kind);
            EXPECT_GE(f.TapCount(), 3);
            EXPECT_LE(f.TapCount(), 301);
            EXPECT_EQ(f.TapCount() % 2, 1);
            for (float c : f.Coefficients()) EXPECT_TRUE(std::isfinite(c));
            std::vector<float> in(400, 100.0f), out(400, 0.0f);
            FrameIndex count = 0;
            EXPECT_EQ(f.Filter(in.data(), 400, out.data(), count), f.TapCount());
            for (float v : out) EXPECT_TRUE(std::isfinite(v));
        }
    }
    // Equal edges: the narrowest transition there is, so the cap.
    EXPECT_EQ(KFirFilter(kSampleRate, 1000.0f, 1000.0f, 60.0f, kLowPass).TapCount(), 301);
    EXPECT_THROW(KFirFilter(0, 1000.0f, 1200.0f, 60.0f, kLowPass), std::invalid_argument);
}

}  // namespace
}  // namespace tandem
