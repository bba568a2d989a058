#include <fcntl.h>
#include <sys/stat.h>

#include <cmath>
#include <cstring>
#include <ctime>
#include <tuple>

#include "dsp/KFirFilter.h"
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

// Longer than one 4,194,304-frame read block: the levels are taken in runs that end at
// whole seconds and at block ends; peaks, their first frames, silences and per-second
// means must come out as a frame-by-frame walk gives them.
TEST_F(WaveAnalysis, levels_across_read_blocks_match_a_frame_by_frame_walk) {
    const std::size_t n = 4'300'000;
    std::vector<Frame> frames(n, Frame{});
    std::uint32_t seed = 12345;
    for (std::size_t i = 777; i < n - 5000; ++i) {
        seed = seed * 1664525u + 1013904223u;
        frames[i] = Frame{static_cast<std::int16_t>(static_cast<int>(seed >> 20) - 2048),
                          static_cast<std::int16_t>(static_cast<int>((seed >> 8) & 0xfff) - 2048)};
    }
    for (std::size_t i = 2'000'000; i < 2'100'000; ++i) frames[i] = Frame{};  // silence inside
    frames[4'194'303] = Frame{-20000, 3};        // last frame of the first block
    frames[4'194'304 + 10] = Frame{20000, 20000};  // same left peak later: not the point
    frames[4'250'000] = Frame{-21000, -32768};
    frames[4'260'000] = Frame{21000, 32767};

    std::int32_t peakL = 0, peakR = 0, pointL = 0, pointR = 0, mono = 0, distance = 0;
    std::int64_t front = 0, back = 0, sum = 0, k = 0, ave = 0, seconds = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const int L = frames[i].left, R = frames[i].right;
        if (std::abs(L) > peakL) peakL = std::abs(L), pointL = static_cast<std::int32_t>(i);
        if (std::abs(R) > peakR) peakR = std::abs(R), pointR = static_cast<std::int32_t>(i);
        mono = std::max(mono, std::abs(L + R));
        distance = std::max(distance, std::abs(L - R));
        if (peakL == 0 && peakR == 0) ++front;
        else if (L == 0 && R == 0) ++back;
        else back = 0;
        sum += std::abs(L) + std::abs(R);
        if (++k == 44100) ave += (sum / 44100) / 2, ++seconds, sum = k = 0;
    }
    if (k > 0) ave += (sum / k) / 2, ++seconds;
    const double d = static_cast<double>(seconds) - static_cast<double>(front + back) / 44100.0;

    KWavefile w(write("long.wav", StereoWave(frames)), kPlaceBoth, true);
    EXPECT_EQ(w.PeakL, peakL);
    EXPECT_EQ(w.PointL, pointL);
    EXPECT_EQ(w.PointL, 4'250'000);
    EXPECT_EQ(w.PeakR, peakR);
    EXPECT_EQ(w.PointR, pointR);
    EXPECT_EQ(w.PeakMono, mono);
    EXPECT_EQ(w.MaxDistance, distance);
    EXPECT_EQ(w.FrontNull, 777);
    EXPECT_EQ(w.FrontNull, front);
    EXPECT_EQ(w.BackNull, back);
    EXPECT_EQ(w.Average, static_cast<int>(static_cast<double>(ave) / d));

    // Frames at an odd offset are not read where they lie but copied: the same levels,
    // and the same frames split into channels (past the end too).
    WaveSpec odd;
    odd.extraChunk = {'L', 'I', 'S', 'T', 1, 0, 0, 0, 'x'};
    std::vector<std::uint8_t> data(n * sizeof(Frame));
    std::memcpy(data.data(), frames.data(), data.size());
    KWavefile copied(write("odd.wav", MakeWaveBytes(odd, data)), kPlaceBoth, true);
    ASSERT_EQ(copied.DataOffset % 2, 1);
    EXPECT_EQ(std::tie(copied.PeakL, copied.PointL, copied.PeakR, copied.PointR, copied.PeakMono, copied.MaxDistance,
                       copied.FrontNull, copied.BackNull, copied.Average),
              std::tie(w.PeakL, w.PointL, w.PeakR, w.PointR, w.PeakMono, w.MaxDistance, w.FrontNull, w.BackNull, w.Average));
    const FrameIndex from = static_cast<FrameIndex>(n) - 3000, to = static_cast<FrameIndex>(n) + 10;
    std::vector<float> left(to - from), right(to - from);
    std::vector<WideFrame> wide(to - from);
    for (KWavefile* file : {&w, &copied}) {
        ASSERT_EQ(file->ReadWideChannels(left.data(), right.data(), from, to), to - from);
        ASSERT_EQ(file->ReadWideFrames(wide.data(), from, to), to - from);
        for (std::size_t i = 0; i < wide.size(); ++i)
            ASSERT_TRUE(left[i] == wide[i].left && right[i] == wide[i].right) << i;
        EXPECT_EQ(left[2999], frames[n - 1].left);
    }
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
    // Values no 16-bit file can have are never believed (they would drive the search).
    SettingsWriteInt(path, "Peak", first.Peak);
    SettingsWriteInt(path, "Average", INT32_MIN);
    EXPECT_EQ(KWavefile(path, kPlaceBoth, true).Average, first.Average);
    SettingsWriteInt(path, "FrontNull", 1 << 30);
    EXPECT_EQ(KWavefile(path, kPlaceBoth, true).FrontNull, first.FrontNull);
    // Another date (a touched file) forces a measurement too.
    SettingsWriteInt(path, "Average", 5);
    SettingsWriteText(path, "Date", "1999/1/1_0:0:0");
    EXPECT_EQ(KWavefile(path, kPlaceBoth, true).Average, first.Average);
}

TEST_F(WaveAnalysis, file_replaced_within_the_dates_two_seconds_is_measured_again) {
    // Same Date every time; what tells them apart is the size, the time in nanoseconds
    // or, for a copy that kept both (cp -p), the content fingerprint.
    const std::string path = dir.file("r.wav");
    struct Case {
        int frames;
        long nanoseconds;
    };
    int scale = 10;
    for (const Case c : {Case{1000, 100}, Case{1000, 200}, Case{1100, 200}, Case{1100, 200}}) {
        WriteFile(path, StereoWave(Ramp(c.frames, scale)));
        const timespec times[2] = {{1700000000, c.nanoseconds}, {1700000000, c.nanoseconds}};
        ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
        const KWavefile w(path, kPlaceBoth, true);
        EXPECT_EQ(w.Peak, c.frames * scale) << c.frames << " frames at " << c.nanoseconds << " ns";
        scale += 3;
    }
}

TEST_F(WaveAnalysis, date_is_the_local_modification_time_at_two_seconds) {
    const std::string path = write("d.wav", StereoWave(Ramp(100)));
    std::tm tm{};
    tm.tm_year = 2007 - 1900;
    tm.tm_mon = 2;
    tm.tm_mday = 9;
    tm.tm_hour = 14;
    tm.tm_min = 5;
    tm.tm_sec = 39;
    tm.tm_isdst = -1;
    const timespec times[2] = {{std::mktime(&tm), 0}, {std::mktime(&tm), 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
    KWavefile w(path, kPlaceBoth, true);
    EXPECT_EQ(SettingsReadText(path, "Date", "?"), "2007/3/9_14:5:38");

    KWavefile inMemory(dir.file("m.wav"), StereoWave(Ramp(100)), kPlaceBoth, true);
    EXPECT_EQ(inMemory.Peak, 1000);
    EXPECT_EQ(SettingsReadText(inMemory.FileName, "Date", "?"), "") << "no file, no time";
}

TEST_F(WaveAnalysis, whole_seconds_of_silence_average_to_zero) {
    KWavefile w(write("s.wav", StereoWave(std::vector<Frame>(2 * 44100))), kPlaceBoth, true);
    EXPECT_EQ(w.FrontNull, 2 * 44100);
    EXPECT_EQ(w.Average, 0) << "no sound left to divide by";
    EXPECT_EQ(SettingsReadInt(w.FileName, "AveLeft", -1), 0);
    EXPECT_EQ(SettingsReadInt(w.FileName, "AveRight", -1), 0);
}

TEST_F(WaveAnalysis, cached_values_do_not_depend_on_the_placement) {
    WaveSpec spec;
    spec.channels = 1;
    std::vector<std::uint8_t> d;
    for (int i = 0; i < 500; ++i) put16(d, static_cast<std::uint16_t>(i == 99 ? 8001 : 100));
    const std::string path = write("m.wav", MakeWaveBytes(spec, d));
    KWavefile left(path, kPlaceLeft, true);
    EXPECT_EQ(left.Peak, 8001);
    KWavefile both(path, kPlaceBoth, true);
    EXPECT_EQ(both.Peak, 8001) << "the entry measured with placement 0 is reused";
    EXPECT_EQ(both.PointL, 99);
}

TEST_F(WaveAnalysis, unreadable_data_says_data_may_be_broken_and_stores_what_it_has) {
    const std::string path = write("gone.wav", StereoWave(Ramp(100)));
    KWavefile w(path, kPlaceBoth, false);
    ASSERT_EQ(::unlink(path.c_str()), 0);
    w.CheckData();
    ASSERT_EQ(alerts.size(), 1u);
    EXPECT_EQ(alerts[0], "Data may be broken.");
    EXPECT_EQ(w.Peak, 0);
    EXPECT_EQ(SettingsReadInt(path, "Peak", -1), 0);
}

TEST_F(WaveAnalysis, fetched_frames_are_inverted_then_high_passed_then_low_passed) {
    std::vector<Frame> frames(6000);
    for (std::size_t i = 0; i < frames.size(); ++i) {
        const double t = static_cast<double>(i) / 44100.0;
        frames[i] = Frame{ToSample(0.3 * std::sin(2 * M_PI * 50 * t) + 0.3 * std::sin(2 * M_PI * 500 * t)),
                          ToSample(0.3 * std::sin(2 * M_PI * 3000 * t) + 0.2 * std::sin(2 * M_PI * 700 * t))};
    }
    KWavefile w(dir.file("f.wav"), StereoWave(frames), kPlaceBoth, false);
    w.ChannelFlags = kInvertLeft;
    w.FilterLow = 100;
    w.FilterHigh = 1000;
    w.FilterWidth = 0.2f;
    w.FilterAttenuation = 60;
    const std::vector<Frame> got = Fetch(w, 0, 6000);

    std::vector<Frame> expected = frames;
    for (Frame& f : expected) f.left = static_cast<std::int16_t>(-f.left);
    ApplyBandFilter(expected.data(), 6000, 60, 80, 100, kHighPass);
    ApplyBandFilter(expected.data(), 6000, 60, 1000, 1200, kLowPass);
    int differing = 0;
    for (std::size_t i = 0; i < got.size(); ++i)
        differing += got[i].left != expected[i].left || got[i].right != expected[i].right;
    EXPECT_EQ(differing, 0);
    EXPECT_NE(got[3000].left, -frames[3000].left) << "the filters did run";
}

}  // namespace
}  // namespace tandem::test
