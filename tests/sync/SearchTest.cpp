#include <fstream>
#include <sstream>

#include "sync/PatternSearch.h"
#include "sync/Synchronise.h"
#include "sync/SyncFixture.h"
#include "wave/KWavefile.h"

namespace tandem::test {
namespace {

std::vector<Frame> musicFrames(FrameIndex n, unsigned seed) {
    const std::vector<double> v = MusicLike(n, seed);
    std::vector<Frame> frames(v.size());
    for (std::size_t i = 0; i < v.size(); ++i) frames[i] = Frame{ToSample(v[i]), ToSample(0.8 * v[i])};
    return frames;
}

// frames stretched to (n + extra) frames by linear interpolation.
std::vector<Frame> stretched(const std::vector<Frame>& in, FrameIndex extra) {
    const FrameIndex n = static_cast<FrameIndex>(in.size());
    std::vector<Frame> out(static_cast<std::size_t>(n + extra));
    for (FrameIndex i = 0; i < n + extra; ++i) {
        const double pos = static_cast<double>(i) * n / (n + extra);
        const FrameIndex k = static_cast<FrameIndex>(pos);
        const double f = pos - k;
        const Frame a = in[static_cast<std::size_t>(k)];
        const Frame b = in[static_cast<std::size_t>(std::min(k + 1, n - 1))];
        out[static_cast<std::size_t>(i)] = Frame{static_cast<std::int16_t>(std::lround(a.left + f * (b.left - a.left))),
                                                 static_cast<std::int16_t>(std::lround(a.right + f * (b.right - a.right)))};
    }
    return out;
}

std::vector<std::string> lines(const std::string& path) {
    std::ifstream in(path);
    std::vector<std::string> out;
    for (std::string line; std::getline(in, line);) out.push_back(line);
    return out;
}

class Search : public SyncFixture {
protected:
    // A slave file over the given frames; the master segment is frames [J, K) of master.
    SearchResult search(const std::vector<Frame>& masterFrames, const std::vector<Frame>& slaveFrames, FrameIndex J,
                        FrameIndex K, FrameIndex N, FrameIndex P, int rangeS, int rangeE, int A, int F, int options) {
        KWavefile slaveFile(dir.file("s.wav"), StereoWave(slaveFrames), kPlaceBoth, false);
        std::vector<Frame> segment(masterFrames.begin() + J, masterFrames.begin() + K);
        SegmentSearch q;
        q.rangeS = rangeS;
        q.rangeE = rangeE;
        q.J = J;
        q.K = K;
        q.N = N;
        q.P = P;
        q.A = A;
        q.F = F;
        q.options = options;
        q.reportBase = dir.file("s");
        SearchResult r;
        SearchSegment(q, slaveFile, segment, progress, r);
        return r;
    }
};

TEST_F(Search, lengths_are_scored_in_two_passes_then_the_range_is_extended) {
    const std::vector<Frame> frames = musicFrames(44100, 5);
    const SearchResult r = search(frames, frames, 10000, 18820, 10000, 18820, 0, 4, 2, 1, kOptSegmentCsv);
    EXPECT_EQ(r.bestG, 0);
    EXPECT_EQ(r.bestO, 0);
    std::vector<int> order;
    for (const std::string& line : lines(dir.file("s-2.csv"))) {
        std::istringstream in(line);
        int g, o;
        char comma;
        in >> g >> comma >> o;
        EXPECT_EQ(o, 0) << "after the start point only offset 0 is scored";
        order.push_back(g);
    }
    // First pass: every fourth length (0 and 4; G = 1 - RangeE is the pass marker).
    // Second pass: the neighbours of the winner, then -RangeE. With so small a range the
    // winner always lies within five of the edge, so one more length is tried.
    EXPECT_EQ(order, (std::vector<int>{0, 4, 1, -1, 2, -2, 3, -3, -4, 5}));
}

TEST_F(Search, range_extension_follows_a_winner_beyond_the_range_without_leaving_the_window) {
    const std::vector<Frame> frames = musicFrames(44100, 6);
    std::vector<Frame> slaveFrames(frames.begin(), frames.begin() + 10000);
    const std::vector<Frame> middle = stretched(std::vector<Frame>(frames.begin() + 10000, frames.begin() + 18820), 12);
    slaveFrames.insert(slaveFrames.end(), middle.begin(), middle.end());
    slaveFrames.insert(slaveFrames.end(), frames.begin() + 18820, frames.end());
    const SearchResult r = search(frames, slaveFrames, 10000, 18820, 10000, 18820, 0, 4, 2, 1, 0);
    EXPECT_NEAR(r.bestG, 12, 1);
}

TEST_F(Search, zero_length_range_is_searched_as_one) {
    const std::vector<Frame> frames = musicFrames(30000, 7);
    const SearchResult r = search(frames, frames, 10000, 18820, 10000, 18820, 0, 0, 2, 1, 0);
    EXPECT_LE(std::abs(r.bestG), 1);
    EXPECT_GT(r.best, 0.0);
}

TEST_F(Search, start_point_offsets_go_coarse_to_fine_and_find_the_shift) {
    const std::vector<Frame> frames = musicFrames(44100, 8);
    std::vector<Frame> slaveFrames(37, Frame{});
    slaveFrames.insert(slaveFrames.end(), frames.begin(), frames.end());
    const SearchResult r = search(frames, slaveFrames, 8000, 16820, 8000, 16820, 100, 4, 1, 1, kOptStartCsv);
    EXPECT_EQ(r.bestO, 37);
    EXPECT_EQ(r.bestG, 0);

    const std::vector<std::string> profile = lines(dir.file("s-1.csv"));
    ASSERT_EQ(profile.size(), 9u) << "one row per length, -RangeE .. RangeE";
    EXPECT_EQ(profile[0], "-4,-1.000") << "-RangeE is always still to be scored";
    EXPECT_EQ(profile[1], "-3,-1.000") << "a neighbour of the winner, marked for the second pass";

    std::vector<int> offsets;
    for (const std::string& line : lines(dir.file("s-1-E1.csv"))) offsets.push_back(std::stoi(line));
    ASSERT_GE(offsets.size(), 26u);
    for (int k = 0; k < 26; ++k) EXPECT_EQ(offsets[static_cast<std::size_t>(k)], -100 + 8 * k) << "coarse sweep";
    std::vector<int> sorted = offsets;
    std::sort(sorted.begin(), sorted.end());
    EXPECT_EQ(std::adjacent_find(sorted.begin(), sorted.end()), sorted.end()) << "no offset scored twice";
    for (int o : {36, 37, 38}) EXPECT_NE(std::find(offsets.begin(), offsets.end(), o), offsets.end()) << o;
    EXPECT_FALSE(std::filesystem::exists(dir.file("s-1-E0.csv"))) << "lengths of the first pass get no file";
}

// The onset is the first frame above the average within four seconds, wherever it lies
// among the pieces the span is read in, and past the file's end only silence is found.
TEST_F(Search, sound_onset_is_the_first_frame_above_the_average) {
    const FrameIndex span = 4 * 44100, piece = span / 40;
    std::vector<Frame> frames(static_cast<std::size_t>(3 * span), Frame{10, -10});
    KWavefile empty(dir.file("quiet.wav"), StereoWave(frames), kPlaceBoth, false);
    empty.Average = 100;
    EXPECT_EQ(FindSoundOnset(empty, 5, 100), 5 + span) << "silence";
    EXPECT_EQ(FindSoundOnset(empty, -span / 2, 100), span / 2) << "from before the start";
    for (FrameIndex at : {FrameIndex{0}, piece - 1, piece, piece + 1, 17 * piece + 3, span - 1}) {
        std::vector<Frame> loud = frames;
        loud[static_cast<std::size_t>(1000 + at)] = Frame{0, -101};
        loud[static_cast<std::size_t>(1000 + at + 1)] = Frame{400, 400};
        KWavefile file(dir.file("onset.wav"), StereoWave(loud), kPlaceBoth, false);
        file.Average = 100;
        EXPECT_EQ(FindSoundOnset(file, 1000, 100), 1000 + at) << at;
        EXPECT_EQ(FindSoundOnset(file, 1000, 200), 1000 + at + 1) << "percent raises the threshold, " << at;
        EXPECT_EQ(FindSoundOnset(file, 1000 + at - span + 1, 100), 1000 + at) << "last frame of the span, " << at;
    }
    EXPECT_EQ(FindSoundOnset(empty, 3 * span - 10, 100), 4 * span - 10) << "past the end";
}

TEST(MatchLevel, saturates_instead_of_wrapping) {
    std::vector<Frame> frames{{1000, -1000}, {20000, -20000}, {-32768, 32767}};
    MatchLevel(frames, 3500, 1000);
    EXPECT_EQ(frames[0].left, 3500);
    EXPECT_EQ(frames[0].right, -3500);
    EXPECT_EQ(frames[1].left, 32767);
    EXPECT_EQ(frames[1].right, -32768);
    EXPECT_EQ(frames[2].left, -32768);
    EXPECT_EQ(frames[2].right, 32767);
}

TEST(MatchLevel, is_the_truncating_integer_division_for_every_sample) {
    std::vector<Frame> frames;
    for (int x = -32768; x <= 32767; ++x) frames.push_back({static_cast<std::int16_t>(x), static_cast<std::int16_t>(-1 - x)});
    for (const auto& [slaveAverage, masterAverage] :
         std::vector<std::pair<int, int>>{{3500, 1000}, {1, 3}, {2858, 2917}, {2917, 2858}, {32767, 1}, {1, 32767}, {7, 7}}) {
        std::vector<Frame> matched = frames;
        MatchLevel(matched, slaveAverage, masterAverage);
        for (std::size_t i = 0; i < frames.size(); ++i)
            for (const auto& [in, out] : {std::pair{frames[i].left, matched[i].left}, std::pair{frames[i].right, matched[i].right}})
                ASSERT_EQ(out, std::clamp<std::int64_t>(std::int64_t{in} * slaveAverage / masterAverage, -32768, 32767))
                    << in << " * " << slaveAverage << " / " << masterAverage;
    }
}

TEST(EndPoint, formats_hours_minutes_seconds_and_milliseconds) {
    EXPECT_EQ(EndPointText(0), "0H 0M 0S 0ms");
    EXPECT_EQ(EndPointText(3723LL * 44100 + 22050), "1H 2M 3S 500ms");
}

}  // namespace
}  // namespace tandem::test
