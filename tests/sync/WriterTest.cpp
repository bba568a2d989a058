#include <bit>
#include <cstring>

#include "core/Log.h"
#include "sync/OutputCheck.h"
#include "sync/OutputWriter.h"
#include "wave/KWavefile.h"
#include "sync/SyncFixture.h"

// Formats are written as designated initializers of WaveSpec that name only what differs.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace tandem::test {
namespace {

struct Output {
    std::vector<Frame> frames;
    std::uint32_t riffSize = 0, dataSize = 0;
};

Output readOutput(const std::string& path) {
    const std::vector<std::uint8_t> b = ReadFileBytes(path);
    Output o;
    if (b.size() < 44) return o;
    auto u32 = [&](std::size_t at) { return static_cast<std::uint32_t>(b[at] | b[at + 1] << 8 | b[at + 2] << 16 | b[at + 3] << 24); };
    o.riffSize = u32(4);
    o.dataSize = u32(40);
    o.frames.resize((b.size() - 44) / 4);
    std::memcpy(o.frames.data(), b.data() + 44, o.frames.size() * 4);
    return o;
}

class Writer : public SyncFixture {
protected:
    // master and slave hold the same material; points at the given frames in both.
    void storePoints(const std::vector<FrameIndex>& points) {
        for (const std::string& file : {master, slave}) {
            for (std::size_t i = 0; i < points.size(); ++i)
                SettingsWriteInt(file, "DP" + std::to_string(i), static_cast<int>(points[i]));
            SettingsWriteInt(file, "Count", static_cast<int>(points.size()));
        }
        job.MasterFile = master;
        job.SlaveFile = slave;
    }
    void identicalPair(double seconds) {
        const std::vector<double> v = MusicLike(static_cast<FrameIndex>(seconds * 44100), 21);
        frames.resize(v.size());
        for (std::size_t i = 0; i < v.size(); ++i) frames[i] = Frame{ToSample(v[i]), ToSample(-0.5 * v[i])};
        master = dir.file("m.wav");
        slave = dir.file("s.wav");
        WriteStereoWave(master, frames);
        WriteStereoWave(slave, frames);
    }
    std::vector<Frame> frames;
};

TEST_F(Writer, fewer_than_two_points_write_nothing) {
    identicalPair(3);
    storePoints({44100});
    const WriteResult r = WriteSynchronisedFile(job, kDefaultMix, progress);
    EXPECT_FALSE(r.written);
    EXPECT_TRUE(r.error.empty());
    EXPECT_FALSE(std::filesystem::exists(SynchronisedFileName(job, false)));
}

TEST_F(Writer, three_segments_master_left_slave_right_level_matched) {
    identicalPair(3);
    storePoints({44100, 88200});
    const WriteResult r = WriteSynchronisedFile(job, kDefaultMix, progress);
    ASSERT_TRUE(r.written) << r.error;
    EXPECT_EQ(r.file, dir.file("【m】-【s】.wav"));
    const Output o = readOutput(r.file);
    ASSERT_EQ(o.frames.size(), frames.size()) << "lead-in, middle and tail cover the whole file";
    EXPECT_EQ(o.dataSize, 4 * frames.size());
    EXPECT_EQ(o.riffSize, 36 + 4 * frames.size());
    EXPECT_EQ(progress.StageBar(2).Max.load(), 4);

    int largestLeft = 0;
    for (std::size_t i = 0; i < frames.size(); ++i) {
        const int mono = (frames[i].left + frames[i].right) / 2;
        ASSERT_EQ(o.frames[i].right, mono) << "slave, both channels mixed, at frame " << i;
        largestLeft = std::max(largestLeft, std::abs(static_cast<int>(o.frames[i].left)));
    }
    KWavefile probe(slave, kPlaceBoth, true);
    EXPECT_NEAR(largestLeft, probe.Peak, probe.Peak / 100) << "the master is scaled to the slave's peak";
}

// Segments are built ahead on all cores, or one by one while the debug log is shown;
// taking over already loaded files must not change a byte either.
TEST_F(Writer, parallel_and_one_by_one_building_write_the_same_file) {
    identicalPair(20);
    std::vector<FrameIndex> points;
    for (FrameIndex p = 22050; p < 19 * 44100; p += 4410 + (p / 7) % 97) points.push_back(p);
    storePoints(points);
    // The slave's points wander around the master's, so every segment is resampled.
    for (std::size_t i = 0; i < points.size(); ++i)
        SettingsWriteInt(slave, "DP" + std::to_string(i), static_cast<int>(points[i] + static_cast<FrameIndex>(i % 5) * 3 - 6));

    WriteResult r = WriteSynchronisedFile(job, kDefaultMix, progress);
    ASSERT_TRUE(r.written) << r.error;
    const std::vector<std::uint8_t> parallel = ReadFileBytes(r.file);

    KWavefile loadedMaster(master, kPlaceLeft, false), loadedSlave(slave, kPlaceLeft, false);
    ASSERT_TRUE(loadedMaster.LoadData() && loadedSlave.LoadData());
    r = WriteSynchronisedFile(job, kDefaultMix, progress, {&loadedMaster, &loadedSlave});
    ASSERT_TRUE(r.written) << r.error;
    EXPECT_TRUE(!loadedMaster.HasImage() && !loadedSlave.HasImage()) << "the images were taken over";
    EXPECT_EQ(ReadFileBytes(r.file), parallel);

    StartLog();
    r = WriteSynchronisedFile(job, kDefaultMix, progress);
    HideLog();
    ASSERT_TRUE(r.written) << r.error;
    EXPECT_EQ(ReadFileBytes(r.file), parallel);
}

TEST_F(Writer, lead_in_and_tail_are_kept_up_to_sixty_seconds) {
    identicalPair(75);
    storePoints({70 * 44100, 70 * 44100 + 8820});
    const WriteResult r = WriteSynchronisedFile(job, kDefaultMix, progress);
    ASSERT_TRUE(r.written) << r.error;
    const Output o = readOutput(r.file);
    EXPECT_EQ(o.frames.size(), static_cast<std::size_t>(60 * 44100 + 8820 + (frames.size() - (70 * 44100 + 8820))));
}

// Lag of right behind left, by the strongest correlation within +-30 frames.
int rightLag(const std::vector<Frame>& f, std::size_t from, std::size_t length) {
    int best = 0;
    double bestScore = -1;
    for (int lag = -30; lag <= 30; ++lag) {
        double c = 0;
        for (std::size_t i = from; i < from + length; ++i) c += static_cast<double>(f[i].left) * f[i + lag].right;
        if (std::abs(c) > bestScore) bestScore = std::abs(c), best = lag;
    }
    return best;
}

TEST_F(Writer, lead_in_and_tail_borrow_the_ratio_of_seconds_not_of_one_quantised_segment) {
    identicalPair(12);
    std::vector<FrameIndex> points;
    for (FrameIndex p = 4 * 44100; p <= 8 * 44100; p += 8820) points.push_back(p);
    std::vector<FrameIndex> slavePoints = points;
    slavePoints[1] += 1;  // the first and the last segment a frame long, as quantisation leaves them
    slavePoints[slavePoints.size() - 2] -= 1;
    for (auto [file, p] : {std::pair{master, points}, std::pair{slave, slavePoints}}) {
        for (std::size_t i = 0; i < p.size(); ++i) SettingsWriteInt(file, "DP" + std::to_string(i), static_cast<int>(p[i]));
        SettingsWriteInt(file, "Count", static_cast<int>(p.size()));
    }
    job.MasterFile = master;
    job.SlaveFile = slave;
    const WriteResult r = WriteSynchronisedFile(job, kDefaultMix, progress);
    ASSERT_TRUE(r.written) << r.error;
    const Output o = readOutput(r.file);
    ASSERT_GE(o.frames.size(), static_cast<std::size_t>(12 * 44100 - 100));
    EXPECT_EQ(rightLag(o.frames, 44100, 8820), 0) << "lead-in";
    EXPECT_EQ(rightLag(o.frames, 10 * 44100, 8820), 0) << "tail";
}

TEST_F(Writer, master_phase_shift_inverts_only_the_master) {
    identicalPair(3);
    storePoints({44100, 88200});
    SettingsWriteInt(master, "PhaseShift", 1);
    const WriteResult r = WriteSynchronisedFile(job, kDefaultMix, progress);
    ASSERT_TRUE(r.written) << r.error;
    const Output o = readOutput(r.file);
    long long agree = 0;
    for (std::size_t i = 0; i < o.frames.size(); ++i) agree += static_cast<long long>(o.frames[i].left) * o.frames[i].right;
    EXPECT_LT(agree, 0) << "left (inverted master) runs against right (slave)";
}

TEST_F(Writer, output_only_mix_follows_the_settings) {
    identicalPair(3);
    storePoints({44100, 88200});
    KSyncThread silent(job, progress, master, slave, MixSettings{0, -90, 0, -90, 0, 90, 0, 90});
    const JobOutcome quiet = silent.Execute();
    ASSERT_TRUE(quiet.outputWritten) << quiet.error;
    for (const Frame& f : readOutput(quiet.outputFile).frames) ASSERT_TRUE(f.left == 0 && f.right == 0);

    // Master-L panned right and Master-R panned left, slave muted: the master's channels swap.
    KSyncThread swapped(job, progress, master, slave, MixSettings{100, 90, 100, -90, 0, 90, 0, 90});
    const JobOutcome s = swapped.Execute();
    ASSERT_TRUE(s.outputWritten) << s.error;
    const Output o = readOutput(s.outputFile);
    long long leftFollowsR = 0, rightFollowsL = 0;
    for (std::size_t i = 0; i < o.frames.size(); ++i) {
        leftFollowsR += static_cast<long long>(o.frames[i].left) * frames[i].right;
        rightFollowsL += static_cast<long long>(o.frames[i].right) * frames[i].left;
    }
    EXPECT_GT(leftFollowsR, 0);
    EXPECT_GT(rightFollowsL, 0);
}

TEST_F(Writer, unwritable_output_folder_is_an_error) {
    identicalPair(3);
    storePoints({44100, 88200});
    SetProgramFolder("/proc/no-such-folder/");
    const WriteResult r = WriteSynchronisedFile(job, kDefaultMix, progress);
    EXPECT_FALSE(r.written);
    EXPECT_NE(r.error.find("/proc/no-such-folder/"), std::string::npos) << r.error;
}

// A 48 kHz master deeper than 16 bits gives an output in its own format and rate, mixed
// at full precision: with equal channels and a slave at the master's peak the level
// stays 1000, so the left channel is the master's samples bit for bit.
TEST_F(Writer, deeper_master_keeps_its_format_rate_and_resolution) {
    struct Case {
        const char* what;
        WaveSpec spec;
    };
    const std::vector<Case> cases = {
        {"24-bit extensible", {.bits = 24, .rate = 48000, .extensible = true}},
        {"float 32", {.bits = 32, .rate = 48000, .formatTag = 3}},
        {"32-bit RF64", {.bits = 32, .rate = 48000, .rf64 = true}},
    };
    const FrameIndex n = 3 * 48000;
    const std::vector<double> music = MusicLike(n, 5);
    std::vector<std::int32_t> v24(static_cast<std::size_t>(n));  // the master's samples, 24-bit
    // Peak 20000 (in 16-bit units) at frame 10 in both files; every other sample below it
    // in either, and with a fraction that 16 bits would lose.
    constexpr std::int32_t kPeak = 20000 * 256;
    for (std::size_t i = 0; i < v24.size(); ++i)
        v24[i] = std::clamp(static_cast<std::int32_t>(std::lround(music[i] * 9000000.0)), -kPeak + 512, kPeak - 512) | 1;
    v24[10] = kPeak;
    std::vector<std::uint8_t> slaveData;
    for (std::int32_t v : v24) {
        put16(slaveData, static_cast<std::uint16_t>(v >> 8));
        put16(slaveData, static_cast<std::uint16_t>(v >> 8));
    }
    for (const Case& c : cases) {
        std::vector<std::uint8_t> data;
        for (std::int32_t v : v24)
            for (int channel = 0; channel < 2; ++channel) {
                if (c.spec.formatTag == 3)
                    put32(data, std::bit_cast<std::uint32_t>(static_cast<float>(v) / 8388608.0f));
                else if (c.spec.bits == 32)
                    put32(data, static_cast<std::uint32_t>(v) << 8);
                else
                    for (int k = 0; k < 3; ++k) data.push_back(static_cast<std::uint8_t>(v >> (8 * k)));
            }
        master = dir.file(std::string(c.what) + ".wav");
        slave = dir.file("s48.wav");
        WriteFile(master, MakeWaveBytes(c.spec, data));
        WriteFile(slave, MakeWaveBytes({.rate = 48000}, slaveData));
        storePoints({48000, 96000});
        const WriteResult r = WriteSynchronisedFile(job, kDefaultMix, progress);
        ASSERT_TRUE(r.written) << c.what << ": " << r.error;

        KWavefile out(r.file, kPlaceBoth, false);
        ASSERT_TRUE(out.Usable()) << c.what << ": " << out.Problem();
        EXPECT_FALSE(out.Rf64) << c.what << ": under 4 GiB the output is plain RIFF";
        EXPECT_EQ(out.SampleRate, 48000u) << c.what;
        EXPECT_EQ(out.BitsPerSample, c.spec.bits) << c.what;
        EXPECT_EQ(out.Kind, c.spec.formatTag == 3 ? SampleKind::Float : SampleKind::Integer) << c.what;
        EXPECT_EQ(out.Channels, 2) << c.what;
        ASSERT_EQ(out.FrameCount, n) << c.what;
        std::vector<WideFrame> got(static_cast<std::size_t>(n));
        ASSERT_EQ(out.ReadWideFrames(got.data(), 0, n), n);
        int exact = 0;
        for (std::size_t i = 0; i < got.size(); ++i) {
            exact += got[i].left == static_cast<float>(v24[i]) / 256.0f;
            ASSERT_EQ(got[i].right, static_cast<float>(v24[i] >> 8)) << c.what << " frame " << i;
        }
        EXPECT_EQ(exact, n) << c.what << ": the master's own samples on the left";
        const AlignmentCheck check = CheckSynchronisedFile(r.file);
        EXPECT_TRUE(check.error.empty() && check.inStep) << c.what << ": " << check.error;
    }
}

}  // namespace
}  // namespace tandem::test
