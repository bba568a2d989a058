#include <bit>
#include <cmath>
#include <cstring>
#include <random>
#include <tuple>

#include "core/Log.h"
#include "dsp/TimeMap.h"
#include "wave/BandLimitedRead.h"
#include "wave/WaveFixture.h"

namespace tandem::test {
namespace {

// Independent random samples in [lo, hi] on both channels.
std::vector<Frame> noise(std::size_t n, std::mt19937& rng, int lo, int hi) {
    std::uniform_int_distribution<int> sample(lo, hi);
    std::vector<Frame> v(n);
    for (Frame& f : v) f = Frame{static_cast<std::int16_t>(sample(rng)), static_cast<std::int16_t>(sample(rng))};
    return v;
}

class WavePitchChange : public WaveFixture {
protected:
    void points(KWavefile& file, const std::vector<FrameIndex>& dp) { file.DivisionPoints = dp; }
};

TEST_F(WavePitchChange, equal_lengths_average_master_and_slave_channel_by_channel) {
    std::vector<Frame> m = Ramp(1000, 7), s = Ramp(1000, 11);
    KWavefile base(write("m.wav", StereoWave(m)), kPlaceBoth, true);
    KWavefile other(write("s.wav", StereoWave(s)), kPlaceBoth, true);
    points(base, {100, 600});
    points(other, {200, 700});
    base.ChannelFlags = kRemix;
    base.MixSettings = {100, -90, 100, 90, 100, -90, 100, 90};
    WaveImage image;
    FrameIndex limit = 0;
    ASSERT_EQ(base.MakePitchChangedImage(other, 0, 0, 1, 1, 1, 1, 1000, 1000, &limit, image), 44u);
    ASSERT_EQ(limit, 500);
    for (int t = 0; t < 500; ++t) {
        const Frame b = m[static_cast<std::size_t>(100 + t)], o = s[static_cast<std::size_t>(200 + t)];
        ASSERT_EQ(image.frames[static_cast<std::size_t>(t)].left, (b.left + o.left) / 2) << t;
        ASSERT_EQ(image.frames[static_cast<std::size_t>(t)].right, (b.right + o.right) / 2) << t;
    }
}

TEST_F(WavePitchChange, longer_slave_segment_is_read_at_the_ratio_and_held_at_its_end) {
    std::vector<Frame> m(2000, Frame{}), s(2000);
    for (int i = 0; i < 2000; ++i) s[static_cast<std::size_t>(i)] = Frame{static_cast<std::int16_t>(i * 10), 0};
    KWavefile base(write("m.wav", StereoWave(m)), kPlaceBoth, true);
    KWavefile other(write("s.wav", StereoWave(s)), kPlaceBoth, true);
    points(base, {0, 100});
    points(other, {0, 101});
    base.MixSettings = {0, -90, 0, -90, 200, 90, 200, 90};  // slave only, doubled: right = slave left
    WaveImage image;
    ASSERT_NE(base.MakePitchChangedImage(other, 0, 0, 1, 1, 1, 1, 1000, 1000, nullptr, image), 0u);
    ASSERT_EQ(image.frameCount(), 100);
    for (int t = 0; t < 100; ++t) {
        const double x = t * 1.01;
        const int k = static_cast<int>(x);
        const int expected = k >= 100 ? 1000 : k * 10 + static_cast<int>(10 * (x - k));
        EXPECT_EQ(image.frames[static_cast<std::size_t>(t)].right, expected) << t;
    }
}

TEST_F(WavePitchChange, first_segment_is_cut_to_the_limit_and_widened_with_leading_silence) {
    std::vector<Frame> m = Ramp(20000, 1), s = Ramp(30000, 1);
    KWavefile base(write("m.wav", StereoWave(m)), kPlaceBoth, true);
    KWavefile other(write("s.wav", StereoWave(s)), kPlaceBoth, true);
    points(base, {5000, 10000});
    points(other, {8000, 13000});  // the slave's lead-in is 3000 frames longer
    base.MixSettings = {100, -90, 100, -90, 100, 90, 100, 90};
    StartLog();
    WaveImage image;
    FrameIndex limit = -2646000;
    ASSERT_NE(base.MakePitchChangedImage(other, -1, -1, 0, 0, 1, 1, 1000, 1000, &limit, image), 0u);
    const std::vector<std::string> log = LogLines();
    HideLog();
    EXPECT_EQ(limit, 8000) << "widened to the slave's lead-in";
    ASSERT_EQ(image.frameCount(), 8000);
    EXPECT_EQ(image.frames[2999].left, 0) << "master silence in front";
    EXPECT_EQ(image.frames[3000].left, 1 / 2);
    EXPECT_NE(std::find(log.begin(), log.end(), "左側が不足しているので5000から8000に広げる"), log.end());

    limit = -1000;
    ASSERT_NE(base.MakePitchChangedImage(other, -1, -1, 0, 0, 1, 1, 1000, 1000, &limit, image), 0u);
    EXPECT_EQ(limit, 1000) << "only the last 1000 frames before point 0";

    // A limit between the master's lead-in (5000) and the slave's (8000) caps the widening.
    base.MixSettings = {0, -90, 0, -90, 100, 90, 0, 90};  // right = slave left / 2
    limit = -6000;
    ASSERT_NE(base.MakePitchChangedImage(other, -1, -1, 0, 0, 1, 1, 1000, 1000, &limit, image), 0u);
    EXPECT_EQ(limit, 6000);
    ASSERT_EQ(image.frameCount(), 6000);
    EXPECT_EQ(image.frames[0].right, s[2000].left / 2) << "the last 6000 slave frames before point 0";
    EXPECT_EQ(image.frames[5999].right, s[7999].left / 2);
}

TEST_F(WavePitchChange, automatic_volume_matches_the_stored_averages_below_full_scale) {
    std::vector<Frame> m(1000, Frame{1000, 1000}), s(1000, Frame{1000, 1000});
    KWavefile base(write("m.wav", StereoWave(m)), kPlaceBoth, true);
    base.MixSettings = {0, -90, 0, -90, 100, 90, 100, 90};
    points(base, {0, 500});
    // Run with the slave's peak at frame 10 and the stored averages; the log's factor line.
    // A new file each time: a rewritten one within the same 2 s would keep its cached Peak.
    int runs = 0;
    auto run = [&](std::int16_t slavePeak, int baseAverage, int otherAverage, WaveImage& image) {
        s[10] = Frame{slavePeak, slavePeak};
        KWavefile other(write("s" + std::to_string(++runs) + ".wav", StereoWave(s)), kPlaceBoth, true);
        points(other, {0, 500});
        SettingsWriteInt(base.FileName, "Average", baseAverage);
        SettingsWriteInt(other.FileName, "Average", otherAverage);
        StartLog();
        EXPECT_NE(base.MakePitchChangedImage(other, 0, 0, 1, 1, 1, 1, 0, 0, nullptr, image), 0u);
        const std::vector<std::string> log = LogLines();
        HideLog();
        for (const std::string& line : log)
            if (line.rfind("ボリューム調整", 0) == 0) return line;
        return std::string("no factor line");
    };
    WaveImage image;
    EXPECT_EQ(run(8000, 1000, 500, image), "ボリューム調整：L は 1.000, R は 2.000");
    EXPECT_EQ(image.frames[0].right, 2000) << "slave doubled to the master's level";
    // 20000 * 1000 / 500 reaches 32512: a = 32512 / 20000, w = 500 * a / 1000.
    EXPECT_EQ(run(20000, 1000, 500, image), "ボリューム調整：L は 0.813, R は 1.626");
    EXPECT_EQ(run(8000, 1000, 0, image), "ボリューム調整：L は 1.000, R は 1.000") << "no stored slave level";
    EXPECT_EQ(image.frames[0].right, 1000);
    EXPECT_EQ(run(8000, 0, 500, image), "ボリューム調整：L は 1.000, R は 1.000") << "no stored master level";
}

TEST_F(WavePitchChange, empty_slave_segment_borrows_the_previous_ratio_or_runs_one_to_one) {
    std::vector<Frame> m(1000), s(1000);
    for (int i = 0; i < 1000; ++i) s[static_cast<std::size_t>(i)] = Frame{static_cast<std::int16_t>(i * 10), 0};
    KWavefile base(write("m.wav", StereoWave(m)), kPlaceBoth, true);
    KWavefile other(write("s.wav", StereoWave(s)), kPlaceBoth, true);
    points(base, {100, 200, 300, 400});
    points(other, {100, 210, 320, 320});
    base.MixSettings = {0, -90, 0, -90, 200, 90, 200, 90};
    StartLog();
    WaveImage image;
    ASSERT_NE(base.MakePitchChangedImage(other, 2, 2, 3, 3, 3, 3, 1000, 1000, nullptr, image), 0u);
    std::vector<std::string> log = LogLines();
    EXPECT_NE(std::find(log.begin(), log.end(), "■直前の比率：L は 100, R は 110"), log.end());
    EXPECT_NE(std::find(log.begin(), log.end(), "■■■■■：ER変更 320～430"), log.end());
    ASSERT_EQ(image.frameCount(), 100);
    EXPECT_EQ(image.frames[50].right, 3200 + 550) << "read at 1.1 slave frames per master frame";

    points(other, {250, 250});
    StartLog();
    ASSERT_NE(base.MakePitchChangedImage(other, 0, 0, 1, 1, 1, 1, 1000, 1000, nullptr, image), 0u);
    log = LogLines();
    HideLog();
    EXPECT_NE(std::find(log.begin(), log.end(), "■■■■■：ER変更 250～350"), log.end()) << "no previous segment: 1:1";
    EXPECT_EQ(image.frames[10].right, 2600);
}

TEST_F(WavePitchChange, last_segment_is_cut_to_the_limit_or_widened_with_silence_behind) {
    std::vector<Frame> m = Ramp(1000, 2), s = Ramp(2000, 1);
    KWavefile base(write("m.wav", StereoWave(m)), kPlaceBoth, true);
    KWavefile other(write("s.wav", StereoWave(s)), kPlaceBoth, true);
    points(base, {0, 500});
    points(other, {0, 500});
    base.MixSettings = {100, -90, 100, 90, 0, -90, 0, 90};  // master only
    WaveImage image;
    FrameIndex limit = 2646000;
    ASSERT_NE(base.MakePitchChangedImage(other, 1, 1, -1, -1, 0, 0, 1000, 1000, &limit, image), 0u);
    EXPECT_EQ(limit, 1500) << "the slave's tail is 1500 frames at ratio 1";
    ASSERT_EQ(image.frameCount(), 1500);
    EXPECT_EQ(image.frames[499].left, m[999].left / 2);
    EXPECT_EQ(image.frames[500].left, 0) << "silence behind the master's tail";

    limit = 200;
    ASSERT_NE(base.MakePitchChangedImage(other, 1, 1, -1, -1, 0, 0, 1000, 1000, &limit, image), 0u);
    EXPECT_EQ(limit, 200) << "the first 200 frames after the last point, slave cut to match";
    EXPECT_EQ(image.frames[0].left, m[500].left / 2);
}

TEST_F(WavePitchChange, empty_base_segment_or_ratio_gives_no_image) {
    KWavefile base(write("m.wav", StereoWave(Ramp(100))), kPlaceBoth, true);
    KWavefile other(write("s.wav", StereoWave(Ramp(100))), kPlaceBoth, true);
    points(base, {50, 50});
    points(other, {40, 60});
    WaveImage image;
    FrameIndex limit = 0;
    EXPECT_EQ(base.MakePitchChangedImage(other, 0, 0, 1, 1, 1, 1, 1000, 1000, &limit, image), 0u);
    EXPECT_EQ(base.MakePitchChangedImage(other, -1, -1, 0, 0, 0, 0, 1000, 1000, &limit, image), 0u)
        << "a neighbour segment of length 0 has no ratio";
}

TEST_F(WavePitchChange, loud_mix_saturates_instead_of_wrapping) {
    std::vector<Frame> m(100, Frame{30000, 30000}), s(100, Frame{30000, 30000});
    KWavefile base(write("m.wav", StereoWave(m)), kPlaceBoth, true);
    KWavefile other(write("s.wav", StereoWave(s)), kPlaceBoth, true);
    points(base, {0, 50});
    points(other, {0, 50});
    base.MixSettings = {200, -90, 200, -90, 200, -90, 200, -90};
    WaveImage image;
    ASSERT_NE(base.MakePitchChangedImage(other, 0, 0, 1, 1, 1, 1, 1000, 1000, nullptr, image), 0u);
    EXPECT_EQ(image.frames[0].left, 32767);
}

// The mix is computed in vectorised double arithmetic where that is exact, else in
// 64-bit integers; both must give the integer formula's frames. Mixes with odd pans,
// negative and very large volumes, slave segments shorter and longer than the master's,
// noise at full scale. A master volume of 2e9 at a level factor of 1000 (base volume
// 1000000) passes 2^50 and takes the integer loop; the last mix pans that channel fully
// right and mutes the other master channel, so its left output is not saturated.
TEST_F(WavePitchChange, mix_equals_the_integer_formula_for_any_settings) {
    std::mt19937 rng(5);
    const std::vector<Frame> m = noise(6000, rng, -32768, 32767), s = noise(6000, rng, -32768, 32767);
    KWavefile base(write("m.wav", StereoWave(m)), kPlaceBoth, true);
    KWavefile other(write("s.wav", StereoWave(s)), kPlaceBoth, true);
    const std::array<std::array<std::int32_t, 8>, 5> mixes{{{100, -90, 100, 90, 100, -90, 100, 90},
                                                           {37, 13, 250, -71, 99, 90, 1, -3},
                                                           {-60, 45, 0, 0, 300, -89, -100, 17},
                                                           {2000000000, 7, 3, -5, 1000000, 61, 5, 90},
                                                           {2000000000, 90, 0, -61, 250, 13, -99, -90}}};
    for (const int otherEnd : {4900, 5123}) {
        points(base, {1000, 5000});
        points(other, {1020, otherEnd});
        for (const auto& mix : mixes) {
            for (const int volume : {1000, 731, 1000000}) {
                base.MixSettings = mix;
                WaveImage image;
                ASSERT_NE(base.MakePitchChangedImage(other, 0, 0, 1, 1, 1, 1, volume, 1234, nullptr, image), 0u);
                ASSERT_EQ(image.frameCount(), 4000);
                const double J = static_cast<double>(otherEnd - 1020) / 4000.0;
                const double w = volume * 0.001, a = 1234 * 0.001;
                for (FrameIndex t = 0; t < 4000; ++t) {
                    const double x = static_cast<double>(t) * J;
                    const FrameIndex i = static_cast<FrameIndex>(x);
                    const double f = x - static_cast<double>(i);
                    const FrameIndex k = 1020 + i;
                    const Frame v0 = s[static_cast<std::size_t>(k)];
                    const Frame v1 = s[static_cast<std::size_t>(std::min<FrameIndex>(k + 1, otherEnd - 1))];
                    const bool held = k + 1 >= otherEnd;
                    const std::int64_t SL = held ? v0.left : v0.left + static_cast<std::int64_t>((v1.left - v0.left) * f);
                    const std::int64_t SR = held ? v0.right : v0.right + static_cast<std::int64_t>((v1.right - v0.right) * f);
                    const Frame b = m[static_cast<std::size_t>(1000 + t)];
                    const std::int64_t mL = static_cast<std::int64_t>(static_cast<double>(b.left * std::int64_t{mix[0]}) * w * 0.01);
                    const std::int64_t mR = static_cast<std::int64_t>(static_cast<double>(b.right * std::int64_t{mix[2]}) * w * 0.01);
                    const std::int64_t sL = static_cast<std::int64_t>(static_cast<double>(SL * mix[4]) * a * 0.01);
                    const std::int64_t sR = static_cast<std::int64_t>(static_cast<double>(SR * mix[6]) * a * 0.01);
                    const std::int64_t left = mL * (90 - mix[1]) / 180 + mR * (90 - mix[3]) / 180 +
                                              sL * (90 - mix[5]) / 180 + sR * (90 - mix[7]) / 180;
                    const std::int64_t right = (mix[1] + 90) * mL / 180 + (mix[3] + 90) * mR / 180 +
                                               (mix[5] + 90) * sL / 180 + (mix[7] + 90) * sR / 180;
                    ASSERT_EQ(image.frames[static_cast<std::size_t>(t)].left, std::clamp<std::int64_t>(left / 2, -32768, 32767))
                        << "frame " << t << " mix " << mix[0];
                    ASSERT_EQ(image.frames[static_cast<std::size_t>(t)].right, std::clamp<std::int64_t>(right / 2, -32768, 32767))
                        << "frame " << t << " mix " << mix[0];
                }
            }
        }
    }
}

// The writer's measuring pass asks for the left alone: where the mix puts none of the
// slave there, the left and the frame count are the full build's, in doubles and (a
// volume past 2^50) in integers, for a widened lead-in, a middle and a tail segment.
TEST_F(WavePitchChange, left_only_build_gives_the_full_builds_left_and_length) {
    std::mt19937 rng(7);
    const std::vector<Frame> m = noise(9000, rng, -32768, 32767), s = noise(12000, rng, -32768, 32767);
    KWavefile base(write("m.wav", StereoWave(m)), kPlaceBoth, true);
    KWavefile other(write("s.wav", StereoWave(s)), kPlaceBoth, true);
    points(base, {1000, 5000, 8000});
    points(other, {3000, 7100, 10100});
    const std::array<std::array<std::int32_t, 8>, 3> mixes{{{100, -90, 100, -90, 100, 90, 100, 90},
                                                           {37, 13, 250, -71, 0, -40, 99, 90},
                                                           {2000000000, 90, 7, -61, 250, 90, -99, 90}}};
    for (const auto& mix : mixes) {
        base.MixSettings = mix;
        ASSERT_FALSE(base.MixFeedsOtherLeft());
        for (const auto& [b0, b1, neighbour, limit0] : {std::tuple{-1, 0, 1, FrameIndex{-60000}}, std::tuple{0, 1, 1, FrameIndex{0}},
                                                        std::tuple{2, -1, 1, FrameIndex{60000}}}) {
            for (const int volume : {1000, 1000000}) {
                WaveImage full, left;
                FrameIndex limitFull = limit0, limitLeft = limit0;
                ASSERT_NE(base.MakePitchChangedImage(other, b0, b0, b1, b1, neighbour, neighbour, volume, 1234, &limitFull, full), 0u);
                ASSERT_NE(base.MakePitchChangedImage(other, b0, b0, b1, b1, neighbour, neighbour, volume, 1234, &limitLeft, left,
                                                     nullptr, true), 0u);
                EXPECT_EQ(limitLeft, limitFull);
                ASSERT_EQ(left.frameCount(), full.frameCount()) << "segment " << b0;
                for (std::size_t t = 0; t < full.frames.size(); ++t)
                    ASSERT_EQ(left.frames[t].left, full.frames[t].left) << "segment " << b0 << " frame " << t << " mix " << mix[0];
            }
        }
    }
}

// The band-limited reading mixes frame for frame: on a map at whole frames (where the
// kernel reads the samples themselves) a middle segment is the integer formula of the
// master and the slave frames it maps to, channel for channel.
TEST_F(WavePitchChange, band_limited_mix_takes_the_slave_frames_the_map_gives) {
    std::mt19937 rng(8);
    const std::vector<Frame> m = noise(6000, rng, -20000, 20000), s = noise(6000, rng, -20000, 20000);
    KWavefile base(write("m.wav", StereoWave(m)), kPlaceBoth, true);
    KWavefile other(write("s.wav", StereoWave(s)), kPlaceBoth, true);
    points(base, {1000, 5000});
    points(other, {1020, 5020});
    const TimeMap map({1000, 5000}, {1020.0, 5020.0}, 4000);
    const std::array<std::int32_t, 8> mix{37, 13, 250, -71, 99, 60, 1, -3};
    base.MixSettings = mix;
    WaveImage image;
    ASSERT_NE(base.MakePitchChangedImage(other, 0, 0, 1, 1, 1, 1, 1000, 1000, nullptr, image, &map), 0u);
    ASSERT_EQ(image.frameCount(), 4000);
    for (std::size_t t = 0; t < 4000; ++t) {
        const Frame b = m[1000 + t], v = s[1020 + t];
        const auto scaled = [](std::int64_t x, int vol) { return static_cast<std::int64_t>(static_cast<double>(x * vol) * 0.01); };
        const std::int64_t mL = scaled(b.left, mix[0]), mR = scaled(b.right, mix[2]);
        const std::int64_t sL = scaled(v.left, mix[4]), sR = scaled(v.right, mix[6]);
        const std::int64_t left = mL * (90 - mix[1]) / 180 + mR * (90 - mix[3]) / 180 + sL * (90 - mix[5]) / 180 + sR * (90 - mix[7]) / 180;
        const std::int64_t right = (mix[1] + 90) * mL / 180 + (mix[3] + 90) * mR / 180 + (mix[5] + 90) * sL / 180 + (mix[7] + 90) * sR / 180;
        ASSERT_EQ(image.frames[t].left, left / 2) << "frame " << t;
        ASSERT_EQ(image.frames[t].right, right / 2) << "frame " << t;
    }
}

// The mono read is the channels' mean of the stereo one, across read blocks and past the
// file's ends; the map's fine offsets move the positions as At gives them.
TEST_F(WavePitchChange, mono_read_is_the_mean_and_fine_offsets_move_the_positions) {
    std::mt19937 rng(10);
    const std::vector<Frame> s = noise(40000, rng, -20000, 20000);
    KWavefile file(write("s.wav", StereoWave(s)), kPlaceBoth, true);
    TimeMap map({0, 40000}, {-30.5, 40010.25}, 4000);
    std::vector<float> fine(1000);  // nodes 37 frames apart: vectors and tails, and no offsets past 37100
    for (std::size_t k = 0; k < fine.size(); ++k) fine[k] = static_cast<float>(std::sin(0.05 * static_cast<double>(k)));
    map.SetFine(100, 37, fine);
    std::vector<double> pos(40000);
    map.Positions(0, pos.size(), pos.data());
    for (std::size_t k = 0; k < pos.size(); ++k) ASSERT_NEAR(pos[k], map.At(static_cast<double>(k)), 1e-6) << k;
    std::vector<WideFrame> stereo(pos.size());
    std::vector<float> mono(pos.size());
    ReadAtPositions(file, pos.data(), pos.size(), 1.0, stereo.data());
    ReadMonoAtPositions(file, pos.data(), pos.size(), 1.0, mono.data());
    for (std::size_t k = 0; k < pos.size(); ++k)
        ASSERT_NEAR(mono[k], 0.5f * (stereo[k].left + stereo[k].right), 0.02f) << k;
    EXPECT_EQ(mono[0], 0.0f) << "before the file: silence";
    // A position that is not a number anywhere in a read block makes the block silent.
    pos[20000] = std::nan("");
    ReadMonoAtPositions(file, pos.data(), pos.size(), 1.0, mono.data());
    EXPECT_EQ(mono[20000], 0.0f);
    EXPECT_EQ(mono[16384], 0.0f) << "the block's first position";
}

// A float master is mixed at full precision: every frame equals the formula in doubles,
// bit for bit, in a first segment (the slave's first frame held before its start, a -0.0
// kept as it is) and in a middle one.
TEST_F(WavePitchChange, wide_mix_equals_the_formula_in_doubles) {
    std::mt19937 rng(9);
    std::uniform_real_distribution<float> sample(-1.0f, 1.0f);
    const auto floats = [&](std::size_t n, bool negativeZeroFirst) {
        std::vector<float> v(2 * n);
        for (float& x : v) x = sample(rng);
        if (negativeZeroFirst) v[0] = v[1] = -0.0f;
        return v;
    };
    std::vector<float> m = floats(6000, false);
    const std::vector<float> s = floats(4000, true);
    std::fill(m.begin(), m.begin() + 2 * 3000, -0.0f);  // a silent first segment shows the held frame's sign
    const auto file = [&](const std::string& name, const std::vector<float>& v) {
        WaveSpec spec;
        spec.bits = 32;
        spec.formatTag = 3;
        std::vector<std::uint8_t> data(4 * v.size());
        std::memcpy(data.data(), v.data(), data.size());
        return write(name, MakeWaveBytes(spec, data));
    };
    KWavefile base(file("m.wav", m), kPlaceBoth, true);
    KWavefile other(file("s.wav", s), kPlaceBoth, true);
    points(base, {3000, 5000});
    points(other, {1000, 3100});
    const double J = 2100.0 / 2000.0;
    for (const auto& mix : {std::array<std::int32_t, 8>{100, -90, 100, 90, 100, -90, 100, 90},
                            std::array<std::int32_t, 8>{37, 13, 250, -71, 99, 90, 1, -3}}) {
        base.MixSettings = mix;
        for (const bool first : {true, false}) {
            WaveImage image;
            ASSERT_NE(base.MakePitchChangedImage(other, first ? -1 : 0, first ? -1 : 0, first ? 0 : 1, first ? 0 : 1, 1, 1, 731, 1234,
                                                 nullptr, image),
                      0u);
            const FrameIndex b0 = first ? 0 : 3000, o0 = first ? 0 : 1000, nv = first ? 1000 : 2100;
            ASSERT_EQ(image.frameCount(), first ? 3000 : 2000);
            const FrameIndex shift = first ? 1000 - static_cast<FrameIndex>(3000 * J) : 0;
            const double w = 0.731, a = 1.234;
            for (FrameIndex t = 0; t < image.frameCount(); ++t) {
                const double x = static_cast<double>(t) * J;
                const FrameIndex k = static_cast<FrameIndex>(x) + shift;
                const auto slave = [&](int c) {
                    const auto at = [&](FrameIndex j) { return static_cast<double>(s[static_cast<std::size_t>(2 * (o0 + j) + c)]) * 32768.0; };
                    if (k < 0) return at(0);
                    if (k >= nv - 1) return at(nv - 1);
                    return at(k) + (at(k + 1) - at(k)) * (x - std::floor(x));
                };
                const double mL = static_cast<double>(m[static_cast<std::size_t>(2 * (b0 + t))]) * 32768.0 * mix[0] * w * 0.01;
                const double mR = static_cast<double>(m[static_cast<std::size_t>(2 * (b0 + t) + 1)]) * 32768.0 * mix[2] * w * 0.01;
                const double sL = slave(0) * mix[4] * a * 0.01, sR = slave(1) * mix[6] * a * 0.01;
                const double left = mL * (90 - mix[1]) / 180 + mR * (90 - mix[3]) / 180 + (sL * (90 - mix[5]) / 180 + sR * (90 - mix[7]) / 180);
                const double right = (mix[1] + 90) * mL / 180 + (mix[3] + 90) * mR / 180 + ((mix[5] + 90) * sL / 180 + (mix[7] + 90) * sR / 180);
                const WideFrame& got = image.wide[static_cast<std::size_t>(t)];
                ASSERT_EQ(std::bit_cast<std::uint32_t>(got.left), std::bit_cast<std::uint32_t>(static_cast<float>(left / 2))) << t;
                ASSERT_EQ(std::bit_cast<std::uint32_t>(got.right), std::bit_cast<std::uint32_t>(static_cast<float>(right / 2))) << t;
            }
        }
    }
}

}  // namespace
}  // namespace tandem::test
