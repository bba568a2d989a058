#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

// GCC 12 reports the fixture's byte-vector inserts as overflowing (a false positive of
// its -O2 range tracking through vector::insert).
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wstringop-overflow"
#endif
#include "common/TestWave.h"
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif
#include "dsp/KFirFilter.h"
#include "eq/Excerpt.h"
#include "joblist/HistoryFixture.h"

namespace tandem::test {
namespace {

// Keeps what it was asked to play instead of playing it.
class RecordingPlayer : public ExcerptPlayer {
public:
    void Play(const WaveImage& image) override { played.push_back(image); }
    std::vector<WaveImage> played;
};

std::vector<Frame> sine(FrameIndex frames, double hz, double leftAmp, double rightAmp) {
    std::vector<Frame> out(static_cast<std::size_t>(frames));
    for (std::size_t i = 0; i < out.size(); ++i) {
        const double v = std::sin(2.0 * M_PI * hz * static_cast<double>(i) / kSampleRate);
        out[i] = Frame{ToSample(leftAmp * v), ToSample(rightAmp * v)};
    }
    return out;
}

double rms(const std::vector<Frame>& frames, std::size_t from, std::size_t to, bool left) {
    double sum = 0;
    for (std::size_t i = from; i < to; ++i) {
        const double v = left ? frames[i].left : frames[i].right;
        sum += v * v;
    }
    return to > from ? std::sqrt(sum / static_cast<double>(to - from)) : 0.0;
}

// Frames the band filters leave silent at the end of a fetched block: the high-pass
// leaves its half length at 0, and the low-pass after it smears d2 frames back into it.
int silentTail(int lowHz, int highHz) {
    const KFirFilter high(kSampleRate, 0.8f * lowHz, static_cast<float>(lowHz), 60.0f, kHighPass);
    const KFirFilter low(kSampleRate, static_cast<float>(highHz), 1.2f * highHz, 60.0f, kLowPass);
    const int d1 = (high.TapCount() - 1) / 2;
    const int d2 = (low.TapCount() - 1) / 2;
    return std::max(d1 - d2, d2);
}

class Excerpt : public HistoryFixture {
protected:
    std::string writeStereo(const std::string& name, const std::vector<Frame>& frames) {
        const std::string path = dir.file(name);
        WriteFile(path, StereoWave(frames));
        return path;
    }

    RecordingPlayer player;
};

TEST_F(Excerpt, span_is_five_seconds_from_the_skip_point) {
    EXPECT_EQ(SkipPointExcerpt(0).start, 0);
    EXPECT_EQ(SkipPointExcerpt(0).end, 220500);
    EXPECT_EQ(SkipPointExcerpt(30).start, 132300);
    EXPECT_EQ(SkipPointExcerpt(30).end, 352800);
    EXPECT_EQ(SkipPointExcerpt(10000).start, 44100000);
}

TEST_F(Excerpt, first_five_seconds_pass_the_initial_band_with_the_filters_delay_silent_at_the_end) {
    const std::vector<Frame> source = sine(6 * kSampleRate, 1000.0, 0.5, 0.25);
    const std::string file = writeStereo("tone.wav", source);
    PlaySkipPoint(player, file, 0, 50, 20000);
    ASSERT_EQ(player.played.size(), 1u);
    const std::vector<Frame>& out = player.played[0].frames;
    ASSERT_EQ(out.size(), 220500u);

    const int silent = silentTail(50, 20000);
    ASSERT_GT(silent, 100);
    // The filters start from rest: compare after their start-up, before the silent tail.
    const std::size_t from = 2000, to = out.size() - static_cast<std::size_t>(silent);
    EXPECT_NEAR(rms(out, from, to - 400, true), rms(source, from, to - 400, true), 0.03 * rms(source, from, to, true));
    EXPECT_NEAR(rms(out, from, to - 400, false), rms(source, from, to - 400, false), 0.03 * rms(source, from, to, false));
    for (std::size_t i = to; i < out.size(); ++i) ASSERT_TRUE(out[i].left == 0 && out[i].right == 0) << i;
    EXPECT_GT(rms(out, to - 400, to - 100, true), 1000.0) << "sound right up to the delay";
}

TEST_F(Excerpt, part_after_the_end_of_the_file_is_silent_and_the_excerpt_keeps_its_length) {
    const std::vector<Frame> source = sine(4 * kSampleRate, 440.0, 0.6, 0.6);
    const std::string file = writeStereo("short.wav", source);
    PlaySkipPoint(player, file, 30, 50, 20000);  // 3 s into a 4 s file
    ASSERT_EQ(player.played.size(), 1u);
    const std::vector<Frame>& out = player.played[0].frames;
    ASSERT_EQ(out.size(), 220500u);
    const std::size_t inFile = source.size() - 132300;
    EXPECT_GT(rms(out, 1000, inFile / 2, true), 1000.0);
    for (std::size_t i = inFile; i < out.size(); ++i) ASSERT_TRUE(out[i].left == 0 && out[i].right == 0) << i;

    const std::vector<std::uint8_t> bytes = player.played[0].bytes();
    ASSERT_GE(bytes.size(), 44u);
    const std::uint32_t dataSize = bytes[40] | bytes[41] << 8 | bytes[42] << 16 | static_cast<std::uint32_t>(bytes[43]) << 24;
    EXPECT_EQ(dataSize, 4u * 220500u) << "the image says five seconds";

    player.played.clear();
    PlaySkipPoint(player, file, 100, 50, 20000);  // 10 s: past the end
    ASSERT_EQ(player.played.size(), 1u);
    ASSERT_EQ(player.played[0].frames.size(), 220500u);
    for (const Frame& f : player.played[0].frames) ASSERT_TRUE(f.left == 0 && f.right == 0);
}

TEST_F(Excerpt, excerpt_is_limited_to_the_strip_band) {
    const std::string high = writeStereo("high.wav", sine(6 * kSampleRate, 6000.0, 0.5, 0.5));
    const std::string inBand = writeStereo("mid.wav", sine(6 * kSampleRate, 600.0, 0.5, 0.5));
    PlaySkipPoint(player, high, 0, 300, 1000);
    PlaySkipPoint(player, inBand, 0, 300, 1000);
    ASSERT_EQ(player.played.size(), 2u);
    const double passed = rms(player.played[1].frames, 4000, 200000, true);
    const double stopped = rms(player.played[0].frames, 4000, 200000, true);
    EXPECT_GT(passed, 0.9 * 0.5 * 32767 / std::sqrt(2.0));
    EXPECT_LT(stopped, 0.01 * passed);
}

TEST_F(Excerpt, mono_file_is_heard_on_both_channels) {
    std::vector<std::uint8_t> data;
    for (const Frame& f : sine(6 * kSampleRate, 500.0, 0.5, 0.5)) put16(data, static_cast<std::uint16_t>(f.left));
    WaveSpec mono;
    mono.channels = 1;
    const std::string file = dir.file("mono.wav");
    WriteFile(file, MakeWaveBytes(mono, data));
    PlaySkipPoint(player, file, 0, 50, 20000);
    ASSERT_EQ(player.played.size(), 1u);
    const std::vector<Frame>& out = player.played[0].frames;
    EXPECT_GT(rms(out, 2000, 100000, true), 1000.0);
    EXPECT_NEAR(rms(out, 2000, 100000, true), rms(out, 2000, 100000, false), 1.0);
}

TEST_F(Excerpt, files_that_cannot_be_played_and_empty_spans_play_nothing) {
    PlaySkipPoint(player, dir.file("missing.wav"), 0, 50, 20000);
    PlaySkipPoint(player, "基準にするWAVEファイル", 0, 50, 20000);
    const std::string broken = dir.file("broken.wav");
    WriteFile(broken, std::vector<std::uint8_t>{'R', 'I', 'F', 'F', 1, 2});
    PlaySkipPoint(player, broken, 0, 50, 20000);
    const std::string good = writeStereo("good.wav", sine(kSampleRate, 440.0, 0.5, 0.5));
    PlayExcerpt(player, good, 500, 500, 50, 20000);
    PlayExcerpt(player, good, 900, 100, 50, 20000);
    EXPECT_TRUE(player.played.empty());

    WaveImage image;
    EXPECT_THROW(MakeExcerptImage(dir.file("missing.wav"), 0, 10, 50, 20000, image), WaveFileError);
    EXPECT_THROW(MakeExcerptImage(broken, 0, 10, 50, 20000, image), WaveFileError);
}

}  // namespace
}  // namespace tandem::test
