#include "core/Log.h"
#include "wave/WaveFixture.h"

namespace tandem::test {
namespace {

class PitchChange : public WaveFixture {
protected:
    void points(const std::string& file, const std::vector<int>& dp) {
        for (std::size_t i = 0; i < dp.size(); ++i) SettingsWriteInt(file, "DP" + std::to_string(i), dp[i]);
        SettingsWriteInt(file, "Count", static_cast<int>(dp.size()));
    }
};

TEST_F(PitchChange, equal_lengths_average_master_and_slave_channel_by_channel) {
    std::vector<Frame> m = Ramp(1000, 7), s = Ramp(1000, 11);
    KWavefile base(write("m.wav", StereoWave(m)), kPlaceBoth, true);
    KWavefile other(write("s.wav", StereoWave(s)), kPlaceBoth, true);
    points(base.FileName, {100, 600});
    points(other.FileName, {200, 700});
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

TEST_F(PitchChange, longer_slave_segment_is_read_at_the_ratio_and_held_at_its_end) {
    std::vector<Frame> m(2000, Frame{}), s(2000);
    for (int i = 0; i < 2000; ++i) s[static_cast<std::size_t>(i)] = Frame{static_cast<std::int16_t>(i * 10), 0};
    KWavefile base(write("m.wav", StereoWave(m)), kPlaceBoth, true);
    KWavefile other(write("s.wav", StereoWave(s)), kPlaceBoth, true);
    points(base.FileName, {0, 100});
    points(other.FileName, {0, 101});
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

TEST_F(PitchChange, first_segment_is_cut_to_the_limit_and_widened_with_leading_silence) {
    std::vector<Frame> m = Ramp(20000, 1), s = Ramp(30000, 1);
    KWavefile base(write("m.wav", StereoWave(m)), kPlaceBoth, true);
    KWavefile other(write("s.wav", StereoWave(s)), kPlaceBoth, true);
    points(base.FileName, {5000, 10000});
    points(other.FileName, {8000, 13000});  // the slave's lead-in is 3000 frames longer
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
}

TEST_F(PitchChange, automatic_volume_matches_the_stored_averages) {
    std::vector<Frame> m(1000, Frame{1000, 1000}), s(1000, Frame{1000, 1000});
    s[10] = Frame{8000, 8000};
    KWavefile base(write("m.wav", StereoWave(m)), kPlaceBoth, true);
    KWavefile other(write("s.wav", StereoWave(s)), kPlaceBoth, true);
    points(base.FileName, {0, 500});
    points(other.FileName, {0, 500});
    SettingsWriteInt(base.FileName, "Average", 1000);
    SettingsWriteInt(other.FileName, "Average", 500);
    base.MixSettings = {0, -90, 0, -90, 100, 90, 100, 90};
    StartLog();
    WaveImage image;
    ASSERT_NE(base.MakePitchChangedImage(other, 0, 0, 1, 1, 1, 1, 0, 0, nullptr, image), 0u);
    const std::vector<std::string> log = LogLines();
    HideLog();
    EXPECT_NE(std::find(log.begin(), log.end(), "ボリューム調整：L は 1.000, R は 2.000"), log.end());
    EXPECT_EQ(image.frames[0].right, 2000) << "slave doubled to the master's level";

    SettingsWriteInt(other.FileName, "Average", 0);
    ASSERT_NE(base.MakePitchChangedImage(other, 0, 0, 1, 1, 1, 1, 0, 0, nullptr, image), 0u);
    EXPECT_EQ(image.frames[0].right, 1000) << "no stored level: volumes stay as they are";
}

TEST_F(PitchChange, loud_mix_saturates_instead_of_wrapping) {
    std::vector<Frame> m(100, Frame{30000, 30000}), s(100, Frame{30000, 30000});
    KWavefile base(write("m.wav", StereoWave(m)), kPlaceBoth, true);
    KWavefile other(write("s.wav", StereoWave(s)), kPlaceBoth, true);
    points(base.FileName, {0, 50});
    points(other.FileName, {0, 50});
    base.MixSettings = {200, -90, 200, -90, 200, -90, 200, -90};
    WaveImage image;
    ASSERT_NE(base.MakePitchChangedImage(other, 0, 0, 1, 1, 1, 1, 1000, 1000, nullptr, image), 0u);
    EXPECT_EQ(image.frames[0].left, 32767);
}

}  // namespace
}  // namespace tandem::test
