#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

// GCC 12 reports the byte builder's vector inserts as overflows (a false positive).
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wstringop-overflow"
#include "common/TestWave.h"
#include "wave/WaveFixture.h"
#pragma GCC diagnostic pop
#include "core/Log.h"
#include "core/Text.h"
#include "dsp/KFirFilter.h"
#include "eq/EqWave.h"
#include "wave/KWavefile.h"

namespace tandem {
namespace {

std::uint32_t Le(const std::vector<std::uint8_t>& b, std::size_t at, int bytes) {
    std::uint32_t v = 0;
    for (int i = bytes - 1; i >= 0; --i) v = (v << 8) | b.at(at + static_cast<std::size_t>(i));
    return v;
}

std::vector<Frame> Music(FrameIndex n) {
    const std::vector<double> left = test::MusicLike(n, 11);
    const std::vector<double> right = test::MusicLike(n, 12);
    std::vector<Frame> frames(static_cast<std::size_t>(n));
    for (std::size_t i = 0; i < frames.size(); ++i) frames[i] = Frame{test::ToSample(left[i]), test::ToSample(right[i])};
    return frames;
}

// The frames of a 16-bit stereo file written with a plain 44-byte header.
std::vector<Frame> FramesOf(const std::vector<std::uint8_t>& bytes) {
    std::vector<Frame> frames;
    for (std::size_t at = 44; at + 4 <= 44 + Le(bytes, 40, 4); at += 4) {
        frames.push_back(Frame{static_cast<std::int16_t>(Le(bytes, at, 2)), static_cast<std::int16_t>(Le(bytes, at + 2, 2))});
    }
    return frames;
}

std::vector<std::string> FilesIn(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    return names;
}

// The analysis cache goes to the fixture's scratch qzv.ini.
class EqWave : public test::WaveFixture {
protected:
    void SetUp() override {
        WaveFixture::SetUp();
        ::mkdir(folder().c_str(), 0777);
    }

    // The takes live in a folder of their own, apart from qzv.ini.
    std::string folder() const { return dir.file("takes/"); }
    std::string take(const std::vector<std::uint8_t>& bytes, const std::string& name = "take.wav") const {
        const std::string path = folder() + name;
        test::WriteFile(path, bytes);
        return path;
    }
};

TEST_F(EqWave, copy_is_named_after_its_source_and_band) {
    EXPECT_EQ(EqWaveName("/music/take.wav", 100, 2000), "/music/take_EQ(100,2000).wav");
    EXPECT_EQ(EqWaveName("/music/take.wav", 0, 2000), "/music/take_EQ(0,2000).wav");
    EXPECT_EQ(EqWaveName("/music/take.wav", 50, 0), "/music/take_EQ(50,0).wav");
    EXPECT_EQ(EqWaveName("/music/take.1.WAV", 100, 12000), "/music/take.1_EQ(100,12000).wav");
    EXPECT_EQ(EqWaveName("/music.d/take", 100, 2000), "/music.d/take_EQ(100,2000).wav");
    EXPECT_EQ(EqWaveName("take.wav", 100, 2000), "take_EQ(100,2000).wav");
}

TEST_F(EqWave, copy_holds_the_band_limited_source_as_16_bit_stereo) {
    const FrameIndex n = 44100;
    const std::vector<Frame> source = Music(n);
    const std::string path = take(test::StereoWave(source));

    const std::string copy = MakeEqWave(path, 500, 2000);
    ASSERT_EQ(copy, folder() + "take_EQ(500,2000).wav");
    const std::vector<std::uint8_t> bytes = test::ReadFileBytes(copy);
    // The frames, then the 32-byte record of the source.
    ASSERT_EQ(bytes.size(), 44u + 4u * static_cast<std::size_t>(n) + 32u);
    EXPECT_EQ(Le(bytes, 22, 2), 2u);
    EXPECT_EQ(Le(bytes, 24, 4), 44100u);
    EXPECT_EQ(Le(bytes, 34, 2), 16u);
    EXPECT_EQ(Le(bytes, 40, 4), 4u * static_cast<std::uint32_t>(n));
    EXPECT_EQ(Le(bytes, 4, 4), bytes.size() - 8);

    // High-pass at the lower edge, then low-pass at the upper one, over the whole file.
    std::vector<Frame> expected = source;
    ApplyBandFilter(expected.data(), n, 60.0f, (1.0f - 0.2f) * 500.0f, 500.0f, kHighPass);
    ApplyBandFilter(expected.data(), n, 60.0f, 2000.0f, (1.0f + 0.2f) * 2000.0f, kLowPass);
    const std::vector<Frame> frames = FramesOf(bytes);
    int worst = 0;
    for (std::size_t i = 0; i < frames.size(); ++i) {
        worst = std::max({worst, std::abs(frames[i].left - expected[i].left), std::abs(frames[i].right - expected[i].right)});
    }
    EXPECT_LE(worst, 1);
    EXPECT_EQ(FilesIn(folder()), (std::vector<std::string>{"take.wav", "take_EQ(500,2000).wav"}));
}

TEST_F(EqWave, zero_edge_switches_its_filter_off) {
    const FrameIndex n = 20000;
    const std::vector<Frame> source = Music(n);
    const std::string path = take(test::StereoWave(source));
    const std::vector<Frame> frames = FramesOf(test::ReadFileBytes(MakeEqWave(path, 0, 3000)));
    std::vector<Frame> expected = source;
    ApplyBandFilter(expected.data(), n, 60.0f, 3000.0f, (1.0f + 0.2f) * 3000.0f, kLowPass);
    ASSERT_EQ(frames.size(), expected.size());
    for (std::size_t i = 0; i < frames.size(); i += 97) EXPECT_NEAR(frames[i].left, expected[i].left, 1) << i;
}

TEST_F(EqWave, copy_is_reused_only_while_its_source_is_unchanged) {
    const std::string path = take(test::StereoWave(Music(5000)));
    const std::string name = EqWaveName(path, 100, 2000);
    // A file without the record of its source (an older copy, or not a copy at all).
    test::WriteFile(name, {'o', 'l', 'd'});
    EXPECT_EQ(MakeEqWave(path, 100, 2000), name);
    EXPECT_GT(test::ReadFileBytes(name).size(), 20000u);

    // Made from the source as it is: not made again (its time set back tells).
    const auto setBack = [&] {
        std::filesystem::last_write_time(name, std::filesystem::last_write_time(name) - std::chrono::hours(1));
        return std::filesystem::last_write_time(name);
    };
    auto mark = setBack();
    MakeEqWave(path, 100, 2000);
    EXPECT_EQ(std::filesystem::last_write_time(name), mark);

    // The source replaced by other audio of the same size within the same second: only
    // the nanoseconds of its time differ.
    struct stat before {};
    ASSERT_EQ(::stat(path.c_str(), &before), 0);
    test::WriteFile(path, test::StereoWave(std::vector<Frame>(5000)));
    timespec times[2] = {before.st_mtim, before.st_mtim};
    times[0].tv_nsec = times[1].tv_nsec = (before.st_mtim.tv_nsec + 1) % 1000000000;
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
    mark = setBack();
    MakeEqWave(path, 100, 2000);
    EXPECT_NE(std::filesystem::last_write_time(name), mark);
    const std::vector<Frame> silent = FramesOf(test::ReadFileBytes(name));
    EXPECT_TRUE(std::all_of(silent.begin(), silent.end(), [](const Frame& f) { return f.left == 0 && f.right == 0; }));
}

TEST_F(EqWave, mono_8_bit_source_gives_a_16_bit_stereo_copy) {
    const FrameIndex n = 10000;
    std::vector<std::uint8_t> data(static_cast<std::size_t>(n));
    const std::vector<double> signal = test::MusicLike(n, 5);
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(128 + std::lround(signal[i] * 120));
    test::WaveSpec spec;
    spec.channels = 1;
    spec.bits = 8;
    const std::string path = take(test::MakeWaveBytes(spec, data), "mono8.wav");

    const std::vector<std::uint8_t> bytes = test::ReadFileBytes(MakeEqWave(path, 100, 8000));
    ASSERT_EQ(bytes.size(), 44u + 4u * static_cast<std::size_t>(n) + 32u);
    EXPECT_EQ(Le(bytes, 22, 2), 2u);
    EXPECT_EQ(Le(bytes, 32, 2), 4u);
    EXPECT_EQ(Le(bytes, 34, 2), 16u);
    EXPECT_EQ(Le(bytes, 40, 4), 4u * static_cast<std::uint32_t>(n));
    const std::vector<Frame> frames = FramesOf(bytes);
    const auto loud = std::count_if(frames.begin(), frames.end(), [](const Frame& f) { return std::abs(f.left) > 256; });
    EXPECT_GT(loud, n / 10);
}

TEST_F(EqWave, unusable_source_throws_its_reason_and_gives_no_copy) {
    test::WaveSpec spec;
    spec.rate = 4000;
    const std::string path = take(test::MakeWaveBytes(spec, std::vector<std::uint8_t>(4000, 0)));
    try {
        MakeEqWave(path, 100, 2000);
        ADD_FAILURE() << "a name was returned for a copy that was not made";
    } catch (const WaveFileError& e) {
        const std::string text = e.what();
        EXPECT_NE(text.find(path), std::string::npos) << text;
        EXPECT_NE(text.find("4000 Hz"), std::string::npos) << text;
    }
    EXPECT_FALSE(std::filesystem::exists(EqWaveName(path, 100, 2000)));
}

TEST_F(EqWave, missing_source_throws) {
    EXPECT_THROW(MakeEqWave(folder() + "absent.wav", 100, 2000), WaveFileError);
    EXPECT_FALSE(std::filesystem::exists(folder() + "absent_EQ(100,2000).wav"));
}

TEST_F(EqWave, read_only_source_folder_puts_the_copy_in_the_cache_folder_and_says_so) {
    if (::geteuid() == 0) GTEST_SKIP() << "root writes into read-only folders";
    const std::string path = take(test::StereoWave(Music(5000)));
    ::setenv("XDG_CACHE_HOME", dir.file("cache").c_str(), 1);
    ::chmod(folder().c_str(), 0555);
    StartLog();
    std::string copy;
    EXPECT_NO_THROW(copy = MakeEqWave(path, 100, 2000));
    const std::vector<std::string> lines = LogLines();
    HideLog();
    ::chmod(folder().c_str(), 0755);
    ::unsetenv("XDG_CACHE_HOME");
    EXPECT_EQ(FilesIn(folder()), std::vector<std::string>{"take.wav"});
    EXPECT_EQ(FolderOf(copy), dir.file("cache/tandem/"));
    EXPECT_EQ(FramesOf(test::ReadFileBytes(copy)).size(), 5000u);
    EXPECT_TRUE(std::any_of(lines.begin(), lines.end(), [&](const std::string& l) {
        return l.find(copy) != std::string::npos && l.find("not writable") != std::string::npos;
    }));
}

TEST_F(EqWave, copy_name_too_long_for_the_file_system_is_reported) {
    // 250 characters are a valid source name; the copy's (and its temporary file's) are not.
    const std::string path = take(test::StereoWave(Music(5000)), std::string(246, 'x') + ".wav");
    try {
        MakeEqWave(path, 100, 2000);
        ADD_FAILURE() << "no error";
    } catch (const WaveFileError& e) {
        EXPECT_NE(std::string(e.what()).find("_EQ(100,2000).wav"), std::string::npos) << e.what();
    }
    EXPECT_EQ(FilesIn(folder()).size(), 1u);
}

TEST_F(EqWave, write_failure_midway_removes_the_partial_copy) {
    // A file-size limit makes the write fail part way, as a full disk does.
    const std::string path = take(test::StereoWave(Music(44100)));
    rlimit old{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = old;
    small.rlim_cur = 64 * 1024;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    bool thrown = false;
    try {
        MakeEqWave(path, 100, 2000);
    } catch (const WaveFileError& e) {
        thrown = std::string(e.what()).find("take_EQ(100,2000).wav") != std::string::npos;
    }
    ::setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_TRUE(thrown);
    EXPECT_EQ(FilesIn(folder()), std::vector<std::string>{"take.wav"});
}

}  // namespace
}  // namespace tandem
