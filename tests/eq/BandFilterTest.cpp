#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "common/TestWave.h"
#include "dsp/KFirFilter.h"

namespace tandem {
namespace {

// The band-limit step from its definition, one output at a time: a fresh filter per
// channel, inputs before the block are 0, y(k) = sum over j of c[j] * x(k + d - j) in
// ascending j, truncation then saturation, the last d frames 0.
std::vector<Frame> ReferenceBandFilter(std::vector<Frame> frames, float attenuation, float first, float second,
                                       int kind) {
    const KFirFilter filter(kSampleRate, first, second, attenuation, kind);
    const std::vector<float>& c = filter.Coefficients();
    const FrameIndex taps = filter.TapCount();
    const FrameIndex d = (taps - 1) / 2;
    const FrameIndex n = static_cast<FrameIndex>(frames.size());
    const std::vector<Frame> in = frames;
    for (FrameIndex k = 0; k < n; ++k) {
        float left = 0.0f, right = 0.0f;
        for (FrameIndex j = 0; j < taps; ++j) {
            const FrameIndex x = k + d - j;
            if (x < 0 || x >= n) continue;
            left += static_cast<float>(in[static_cast<std::size_t>(x)].left) * c[static_cast<std::size_t>(j)];
            right += static_cast<float>(in[static_cast<std::size_t>(x)].right) * c[static_cast<std::size_t>(j)];
        }
        const auto toSample = [](float y) {
            const double t = std::trunc(static_cast<double>(y));
            return static_cast<std::int16_t>(std::clamp(t, -32768.0, 32767.0));
        };
        Frame& f = frames[static_cast<std::size_t>(k)];
        f.left = k < n - d ? toSample(left) : 0;
        f.right = k < n - d ? toSample(right) : 0;
    }
    return frames;
}

std::vector<Frame> Music(FrameIndex n) {
    const std::vector<double> left = test::MusicLike(n, 3);
    const std::vector<double> right = test::MusicLike(n, 4);
    std::vector<Frame> frames(static_cast<std::size_t>(n));
    for (std::size_t i = 0; i < frames.size(); ++i) frames[i] = Frame{test::ToSample(left[i]), test::ToSample(right[i])};
    return frames;
}

std::vector<Frame> Sine(FrameIndex n, double hz, double amplitude) {
    std::vector<Frame> frames(static_cast<std::size_t>(n));
    for (std::size_t i = 0; i < frames.size(); ++i) {
        const auto v = static_cast<std::int16_t>(std::lround(amplitude * std::sin(2.0 * M_PI * hz * i / kSampleRate)));
        frames[i] = Frame{v, static_cast<std::int16_t>(-v)};
    }
    return frames;
}

int MaxDifference(const std::vector<Frame>& a, const std::vector<Frame>& b) {
    int worst = 0;
    for (std::size_t i = 0; i < a.size(); ++i) {
        worst = std::max({worst, std::abs(a[i].left - b[i].left), std::abs(a[i].right - b[i].right)});
    }
    return worst;
}

// RMS of the left channel over [from, to).
double Rms(const std::vector<Frame>& frames, std::size_t from, std::size_t to) {
    double sum = 0.0;
    for (std::size_t i = from; i < to; ++i) sum += static_cast<double>(frames[i].left) * frames[i].left;
    return std::sqrt(sum / static_cast<double>(to - from));
}

TEST(BandFilter, agrees_with_the_one_output_at_a_time_filter) {
    struct Case {
        FrameIndex frames;
        float first, second;
        int kind;
    };
    // Lengths around the block sizes, shorter than the delay, and long enough for the
    // two-thread path.
    for (const Case& k : {Case{4001, 2000.0f, 2400.0f, kLowPass}, Case{4001, 80.0f, 100.0f, kHighPass},
                          Case{997, 12000.0f, 14400.0f, kLowPass}, Case{63, 9600.0f, 12000.0f, kHighPass},
                          Case{100, 2000.0f, 2400.0f, kLowPass}, Case{151, 2000.0f, 2400.0f, kLowPass},
                          Case{40000, 3000.0f, 3600.0f, kLowPass}, Case{40000, 400.0f, 500.0f, kHighPass}}) {
        std::vector<Frame> frames = Music(k.frames);
        const std::vector<Frame> expected = ReferenceBandFilter(frames, 60.0f, k.first, k.second, k.kind);
        ApplyBandFilter(frames.data(), k.frames, 60.0f, k.first, k.second, k.kind);
        EXPECT_LE(MaxDifference(frames, expected), 1) << k.frames << " " << k.first;
    }
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

TEST(BandFilter, block_starts_from_rest) {
    // A constant from the first frame: output 0 sees zeros before the block, so only taps
    // 0..d cover the signal (about half the level); later outputs reach the full level.
    std::vector<Frame> frames(2000, Frame{10000, 10000});
    ApplyBandFilter(frames.data(), 2000, 60.0f, 2000.0f, 2400.0f, kLowPass);
    const std::vector<float> c = KFirFilter(kSampleRate, 2000.0f, 2400.0f, 60.0f, kLowPass).Coefficients();
    double covered = 0.0;
    for (std::size_t j = 0; j <= c.size() / 2; ++j) covered += c[j];
    EXPECT_NEAR(frames[0].left, 10000.0 * covered, 1.0);
    EXPECT_LT(frames[0].left, 6000);
    EXPECT_NEAR(frames[1000].left, 10000, 20);
}

TEST(BandFilter, impulse_stays_at_its_position) {
    for (int kind : {kLowPass, kHighPass}) {
        std::vector<Frame> frames(3000);
        frames[1200] = Frame{20000, -20000};
        ApplyBandFilter(frames.data(), 3000, 60.0f, 3000.0f, 3600.0f, kind);
        std::size_t peak = 0;
        for (std::size_t i = 0; i < frames.size(); ++i) {
            if (std::abs(frames[i].left) > std::abs(frames[peak].left)) peak = i;
        }
        EXPECT_EQ(peak, 1200u) << kind;
        EXPECT_EQ(frames[peak].right, -frames[peak].left) << kind;
    }
}

TEST(BandFilter, passes_the_band_and_attenuates_the_stop_band) {
    const FrameIndex n = 20000;
    const std::size_t from = 1000, to = 18000;  // away from both ends
    const double amplitude = 16000.0;
    const double inRms = amplitude / std::sqrt(2.0);
    struct Case {
        float first, second;
        int kind;
        double passHz, stopHz;
    };
    for (const Case& k : {Case{3000.0f, 3600.0f, kLowPass, 1000.0, 5000.0},
                          Case{12000.0f, 14400.0f, kLowPass, 8000.0, 17000.0},
                          Case{2400.0f, 3000.0f, kHighPass, 6000.0, 1500.0}}) {
        std::vector<Frame> pass = Sine(n, k.passHz, amplitude);
        ApplyBandFilter(pass.data(), n, 60.0f, k.first, k.second, k.kind);
        EXPECT_NEAR(Rms(pass, from, to) / inRms, 1.0, 0.01) << k.passHz;

        std::vector<Frame> stop = Sine(n, k.stopHz, amplitude);
        ApplyBandFilter(stop.data(), n, 60.0f, k.first, k.second, k.kind);
        EXPECT_LT(20.0 * std::log10(Rms(stop, from, to) / inRms), -50.0) << k.stopHz;
    }
}

TEST(BandFilter, high_pass_with_301_taps_inverts_polarity) {
    // h = 150 is even: the whole high-pass response comes out sign-inverted.
    const FrameIndex n = 20000;
    const std::vector<Frame> in = Sine(n, 3000.0, 10000.0);
    std::vector<Frame> out = in;
    ApplyBandFilter(out.data(), n, 60.0f, 80.0f, 100.0f, kHighPass);
    for (std::size_t i = 1000; i < 18000; i += 37) EXPECT_NEAR(out[i].left, -in[i].left, 3) << i;
    EXPECT_EQ(out[static_cast<std::size_t>(n) - 150].left, 0);
}

TEST(BandFilter, band_runs_high_pass_then_low_pass_over_its_zero_tail) {
    // The fetch chain's order: high-pass at the lower edge, then the low-pass filters the
    // result, zero tail included. A 1000 Hz tone passes a 500..2000 Hz band, 100 Hz and
    // 8000 Hz do not.
    const FrameIndex n = 30000;
    std::vector<Frame> frames = Sine(n, 1000.0, 8000.0);
    const std::vector<Frame> low = Sine(n, 100.0, 8000.0);
    const std::vector<Frame> high = Sine(n, 8000.0, 8000.0);
    for (std::size_t i = 0; i < frames.size(); ++i) {
        frames[i].left = static_cast<std::int16_t>(frames[i].left + low[i].left + high[i].left);
    }
    ApplyBandFilter(frames.data(), n, 60.0f, 400.0f, 500.0f, kHighPass);
    const std::vector<Frame> afterHighPass = frames;
    ApplyBandFilter(frames.data(), n, 60.0f, 2000.0f, 2400.0f, kLowPass);

    EXPECT_LE(MaxDifference(frames, ReferenceBandFilter(afterHighPass, 60.0f, 2000.0f, 2400.0f, kLowPass)), 1);
    const double gain = Rms(frames, 2000, 27000) / (8000.0 / std::sqrt(2.0));
    EXPECT_NEAR(gain, 1.0, 0.02);
    // The low-pass's own tail is 0; before it, the high-pass's zero tail is smeared.
    for (std::size_t i = static_cast<std::size_t>(n) - 150; i < frames.size(); ++i) EXPECT_EQ(frames[i].left, 0);
    EXPECT_NE(frames[static_cast<std::size_t>(n) - 151].left, 0);
}

TEST(BandFilter, saturates_to_sixteen_bits) {
    // A full-scale square wave through a low-pass overshoots (Gibbs) past the 16-bit range.
    std::vector<Frame> frames(4000);
    for (std::size_t i = 0; i < frames.size(); ++i) {
        const std::int16_t v = (i / 200) % 2 == 0 ? 32767 : -32768;
        frames[i] = Frame{v, static_cast<std::int16_t>(-v - 1)};
    }
    const std::vector<Frame> expected = ReferenceBandFilter(frames, 60.0f, 3000.0f, 3600.0f, kLowPass);
    ApplyBandFilter(frames.data(), static_cast<FrameIndex>(frames.size()), 60.0f, 3000.0f, 3600.0f, kLowPass);
    int top = 0, bottom = 0;
    for (const Frame& f : frames) {
        top += f.left == 32767;
        bottom += f.left == -32768;
    }
    EXPECT_GT(top, 0);
    EXPECT_GT(bottom, 0);
    EXPECT_LE(MaxDifference(frames, expected), 1);
}

TEST(BandFilter, empty_buffer_is_left_alone) {
    Frame guard{123, 456};
    ApplyBandFilter(&guard, 0, 60.0f, 3000.0f, 3600.0f, kLowPass);
    ApplyBandFilter(&guard, -5, 60.0f, 3000.0f, 3600.0f, kLowPass);
    EXPECT_EQ(guard.left, 123);
    EXPECT_EQ(guard.right, 456);
}

}  // namespace
}  // namespace tandem
