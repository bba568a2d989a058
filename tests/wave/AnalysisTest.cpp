#include "wave/WaveFixture.h"

namespace tandem::test {
namespace {

class WaveAnalysis : public WaveFixture {};

TEST_F(WaveAnalysis, measures_peaks_points_silences_and_averages) {
    // 1 s of zeros, 2 s + 100 frames of a constant level with one peak, 2 s of zeros.
    std::vector<Frame> frames(44100, Frame{});
    for (int i = 0; i < 2 * 44100 + 100; ++i) frames.push_back(Frame{1000, -2000});
    frames[44100 + 500] = Frame{-30000, 100};
    frames[44100 + 700] = Frame{30000, 31000};
    frames.resize(frames.size() + 2 * 44100, Frame{});
    KWavefile w(write("a.wav", StereoWave(frames)), kPlaceBoth, true);
    EXPECT_EQ(w.PeakL, 30000);
    EXPECT_EQ(w.PointL, 44100 + 500) << "the first frame reaching the peak";
    EXPECT_EQ(w.PeakR, 31000);
    EXPECT_EQ(w.PointR, 44100 + 700);
    EXPECT_EQ(w.Peak, 31000);
    EXPECT_EQ(w.PeakMono, 61000);
    EXPECT_EQ(w.MaxDistance, 30100);
    EXPECT_EQ(w.FrontNull, 44100);
    EXPECT_EQ(w.BackNull, 2 * 44100);
    EXPECT_EQ(w.LevelValue(0), w.Peak);
    EXPECT_EQ(w.LevelValue(7), w.Peak);
    EXPECT_EQ(w.LevelValue(3), w.PeakMono);
    // Per-second means (|L| + |R|) / 2: 0, 1500, 1500, 3 (100 frames of sound), 0, 0 for
    // the 100-frame last second; divided by the 3 seconds that are not silence.
    EXPECT_EQ(w.Average, (1500 + 1500 + 3) / 3);
    EXPECT_EQ(SettingsReadInt(w.FileName, "Average", -1), w.Average);
    EXPECT_FALSE(SettingsReadText(w.FileName, "Date", "").empty());
}

TEST_F(WaveAnalysis, mono_file_has_equal_channels) {
    WaveSpec spec;
    spec.channels = 1;
    std::vector<std::uint8_t> d;
    for (int i = 0; i < 1000; ++i) put16(d, static_cast<std::uint16_t>(i == 300 ? -20000 : 50));
    KWavefile w(write("m.wav", MakeWaveBytes(spec, d)), kPlaceLeft, true);
    EXPECT_EQ(w.PeakL, 20000);
    EXPECT_EQ(w.PeakR, 20000);
    EXPECT_EQ(w.PointL, w.PointR);
    EXPECT_EQ(w.MaxDistance, 0);
    EXPECT_EQ(w.PeakMono, 40000);
}

TEST_F(WaveAnalysis, silent_file_is_all_front_silence_and_never_cached) {
    KWavefile w(write("s.wav", StereoWave(std::vector<Frame>(5000))), kPlaceBoth, true);
    EXPECT_EQ(w.FrontNull, 5000);
    EXPECT_EQ(w.BackNull, 0);
    EXPECT_EQ(w.Peak, 0);
    EXPECT_EQ(w.Average, 0);
    SettingsWriteInt(w.FileName, "Average", 77);
    KWavefile again(w.FileName, kPlaceBoth, true);
    EXPECT_EQ(again.Average, 0) << "both points 0: the entry does not validate and is measured again";
}

TEST_F(WaveAnalysis, cache_is_used_while_valid_and_remeasured_when_not) {
    const std::string path = write("c.wav", StereoWave(Ramp(3000)));
    KWavefile first(path, kPlaceBoth, true);
    ASSERT_GT(first.Average, 0);
    // A plausible change of the stored average is believed: the cache was used.
    SettingsWriteInt(path, "Average", first.Average - 1);
    EXPECT_EQ(KWavefile(path, kPlaceBoth, true).Average, first.Average - 1);
    // A stored Peak that matches neither channel fails the check.
    SettingsWriteInt(path, "Peak", 12345);
    KWavefile remeasured(path, kPlaceBoth, true);
    EXPECT_EQ(remeasured.Average, first.Average);
    EXPECT_EQ(remeasured.Peak, first.Peak);
    // Another date (a touched file) forces a measurement too.
    SettingsWriteInt(path, "Average", 5);
    SettingsWriteText(path, "Date", "1999/1/1_0:0:0");
    EXPECT_EQ(KWavefile(path, kPlaceBoth, true).Average, first.Average);
}

}  // namespace
}  // namespace tandem::test
