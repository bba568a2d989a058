#include <gtest/gtest.h>

#include <cmath>
#include <functional>

#include "sync/OutputCheck.h"
#include "sync/SyntheticPair.h"

namespace tandem::test {
namespace {

constexpr double kSeconds = 12.0;

// Right channel sample i, made from a second copy of the left's music (the same notes
// through the same clock, with a little noise) or from other music.
using RightOf = std::function<std::int16_t(const std::vector<Frame>& same, const std::vector<Frame>& other, std::size_t i)>;

// Left: a piece of generated music; right: as told. The music is made once.
std::vector<Frame> output(const RightOf& right) {
    static const auto pairs = [] {
        SyntheticPairSpec spec;
        spec.seconds = kSeconds;
        spec.ppm = 0.0;
        spec.wobblePpm = 0.0;
        spec.slavePadSeconds = spec.masterPadSeconds;
        spec.slaveNoiseDb = -45.0;
        std::pair<SyntheticPair, SyntheticPair> made{MakeSyntheticPair(spec), {}};
        spec.seed = 23;
        made.second = MakeSyntheticPair(spec);
        return made;
    }();
    const SyntheticPair& pair = pairs.first;
    std::vector<Frame> frames(pair.master.size());
    for (std::size_t i = 0; i < frames.size(); ++i)
        frames[i] = {pair.master[i].left, right(pair.slave, pairs.second.slave, i)};
    return frames;
}

Frame at(const std::vector<Frame>& v, std::ptrdiff_t i) {
    return i >= 0 && i < static_cast<std::ptrdiff_t>(v.size()) ? v[static_cast<std::size_t>(i)] : Frame{};
}

TEST(OutputCheck, judges_in_step_shifted_far_off_and_unrelated_outputs) {
    const std::size_t half = static_cast<std::size_t>(kSeconds / 2 * kSampleRate);
    struct Case {
        const char* name;
        RightOf right;
        bool inStep;
        double within2Min, within2Max;
        double lateLag;  // the lag of the windows in the second half
    };
    const auto shifted = [](std::ptrdiff_t by) {
        return [by](const std::vector<Frame>& same, const std::vector<Frame>&, std::size_t i) {
            return at(same, static_cast<std::ptrdiff_t>(i) - by).left;
        };
    };
    const Case cases[] = {
        {"in step", shifted(0), true, 1.0, 1.0, 0.0},
        {"inverted", [](const std::vector<Frame>& same, const std::vector<Frame>&, std::size_t i) {
             return static_cast<std::int16_t>(-same[i].left);
         }, true, 1.0, 1.0, 0.0},
        // Still within 1 ms, but every window of the second half is off by 3 frames.
        {"3 frames late from halfway", [half](const std::vector<Frame>& same, const std::vector<Frame>&, std::size_t i) {
             return at(same, static_cast<std::ptrdiff_t>(i) - (i < half ? 0 : 3)).left;
         }, true, 0.4, 0.6, 3.0},
        // Found by the wide search, and out of step.
        {"5 ms early", shifted(-220), false, 0.0, 0.0, -220.0},
        {"unrelated", [](const std::vector<Frame>&, const std::vector<Frame>& other, std::size_t i) {
             return at(other, static_cast<std::ptrdiff_t>(i)).left;
         }, false, 0.0, 0.0, 0.0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::vector<Frame> frames = output(c.right);
        const AlignmentCheck check = CheckAlignment(frames.data(), static_cast<FrameIndex>(frames.size()), kSampleRate);
        EXPECT_EQ(check.inStep, c.inStep) << CheckDetails(check);
        ASSERT_GT(check.sounding, 15);
        if (std::string(c.name) == "unrelated") {
            // Other music matches nowhere, or somewhere far from the place: never near it.
            EXPECT_LT(check.within1Ms, 0.2) << CheckDetails(check);
            EXPECT_NE(CheckSummary(check).find("同期していません"), std::string::npos);
            continue;
        }
        EXPECT_EQ(check.measured, check.sounding) << CheckDetails(check);
        EXPECT_GE(check.within2Frames, c.within2Min) << CheckDetails(check);
        EXPECT_LE(check.within2Frames, c.within2Max) << CheckDetails(check);
        for (const CheckWindow& w : check.windows) {
            if (w.state != CheckState::Measured || std::abs(static_cast<double>(w.start) / kSampleRate - kSeconds / 2) < 1.5)
                continue;
            const double expected = static_cast<double>(w.start) < static_cast<double>(half) && c.lateLag == 3.0 ? 0.0 : c.lateLag;
            EXPECT_NEAR(w.lagFrames, expected, 0.25) << "window at " << w.start;
        }
        if (c.lateLag == 3.0) {
            ASSERT_EQ(check.worst.size(), 1u) << CheckSummary(check);
            EXPECT_NEAR(check.worst[0].fromSeconds, kSeconds / 2, 1.0);
            EXPECT_NEAR(check.worst[0].toSeconds, kSeconds, 1.0);
            EXPECT_NE(CheckSummary(check).find("ずれ: "), std::string::npos) << CheckSummary(check);
        }
    }
}

TEST(OutputCheck, silent_right_channel_is_not_in_step) {
    const std::vector<Frame> frames = output([](const std::vector<Frame>&, const std::vector<Frame>&, std::size_t) { return std::int16_t{0}; });
    const AlignmentCheck check = CheckAlignment(frames.data(), static_cast<FrameIndex>(frames.size()), kSampleRate);
    EXPECT_EQ(check.sounding, 0);
    EXPECT_FALSE(check.inStep);
    EXPECT_NE(CheckSummary(check).find("同期していません"), std::string::npos);
}

}  // namespace
}  // namespace tandem::test
