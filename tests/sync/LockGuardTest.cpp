// The lock guard and the start check on generated material of each kind where the plain
// chain goes wrong: loops, pauses, dropouts, lost material, late and quiet starts; all
// without lead-ins.
#include <fstream>
#include <sstream>

#include "common/ReferenceSearch.h"
#include "common/TestWave.h"
#include "sync/LockGuard.h"
#include "sync/PatternSearch.h"
#include "sync/RobustStart.h"
#include "sync/SyncFixture.h"

namespace tandem::test {
namespace {

SyntheticPairSpec basePair(unsigned seed) {
    SyntheticPairSpec spec;
    spec.seconds = 24.0;
    spec.ppm = -300.0;
    spec.wobblePpm = 600.0;
    spec.wobblePeriodSeconds = 20.0;
    spec.masterPadSeconds = 0.3;
    spec.slavePadSeconds = 0.6;
    spec.slaveNoiseDb = -55.0;
    spec.seed = seed;
    return spec;
}

struct Case {
    const char* name;
    void (*shape)(SyntheticPairSpec&);
    bool marked;  // the guard must have acted (counted and marked in the result CSV)
};

const Case kCases[] = {
    {"loop_1s", [](SyntheticPairSpec& s) { s.loopSeconds = 1.0; }, false},
    {"loop_0p4s", [](SyntheticPairSpec& s) { s.loopSeconds = 0.4; }, false},
    {"pause_0p5s", [](SyntheticPairSpec& s) { s.gaps = {{9.0, 0.5}}; }, true},
    {"pause_3s", [](SyntheticPairSpec& s) { s.gaps = {{9.0, 3.0}}; }, true},
    {"dropout_40ms", [](SyntheticPairSpec& s) { s.gaps = {{9.0, 0.04}}; }, true},
    {"dropout_5ms", [](SyntheticPairSpec& s) { s.gaps = {{9.0, 0.005}}; }, true},
    {"lost_10ms", [](SyntheticPairSpec& s) { s.gaps = {{9.0, -0.01}}; }, true},
    {"lost_1s", [](SyntheticPairSpec& s) { s.gaps = {{9.0, -1.0}}; }, true},
    {"pauses_in_a_loop", [](SyntheticPairSpec& s) { s.loopSeconds = 1.7; s.gaps = {{7.0, 0.3}, {15.0, 0.04}}; }, true},
    {"late_slave_6s", [](SyntheticPairSpec& s) { s.slavePadSeconds = 0.0; s.slaveExtraSeconds = -6.0; }, false},
    {"early_slave_7s", [](SyntheticPairSpec& s) { s.slavePadSeconds = 0.0; s.slaveExtraSeconds = 7.0; }, false},
    {"quiet_opening_late_slave", [](SyntheticPairSpec& s) {
         s.quietOpeningSeconds = 6.0;
         s.slavePadSeconds = 0.0;
         s.slaveExtraSeconds = -0.9;
     }, false},
};

class LockGuardTest : public SyncFixture, public ::testing::WithParamInterface<std::tuple<Case, unsigned>> {};

TEST_P(LockGuardTest, keeps_every_point_in_step_but_those_inside_a_gap) {
    const auto& [c, seed] = GetParam();
    SyntheticPairSpec spec = basePair(seed);
    c.shape(spec);
    const SyntheticPair pair = MakeSyntheticPair(spec);
    writePair(pair);
    // The guard's own work: without the coarse track, which takes its place by default.
    SettingsWriteInt("TandemEnv", "COARSE_TRACK", 0);
    const JobOutcome outcome = runJob(kOptResultCsv);
    ASSERT_TRUE(outcome.outputWritten) << outcome.error;

    std::vector<double> errors;
    const int n = std::min(count(master), count(slave));
    for (int i = 0; i < n; ++i) {
        const double m = static_cast<double>(point(master, i));
        if (m >= static_cast<double>(pair.master.size())) continue;
        if (pair.NearGap(m, 0.5)) continue;
        errors.push_back(std::fabs(static_cast<double>(point(slave, i)) - pair.SlavePositionOf(m)));
    }
    ASSERT_GT(errors.size(), 60u);
    // Points more than 0.5 s from a gap are all found again: the guard notices a gap in a
    // segment or two and finds the material again at its first or second try.
    EXPECT_GE(shareWithin(errors, 2.0), 0.97);
    EXPECT_GE(shareWithin(errors, 10.0), 0.995);
    if (c.marked) {
        EXPECT_GT(job.Guard.corrected + job.Guard.lost, 0);
        std::ifstream csv(dir.file("slave.Result.csv"));
        std::stringstream text;
        text << csv.rdbuf();
        EXPECT_TRUE(text.str().find(",GUARD") != std::string::npos || text.str().find(",HOLD") != std::string::npos);
    }
}

// Under the sanitizers a job runs some twenty times slower: one seed there.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define TANDEM_GUARD_SEEDS ::testing::Values(3u)
#else
#define TANDEM_GUARD_SEEDS ::testing::Values(3u, 11u)
#endif

INSTANTIATE_TEST_SUITE_P(Material, LockGuardTest, ::testing::Combine(::testing::ValuesIn(kCases), TANDEM_GUARD_SEEDS),
                         [](const auto& p) {
                             return std::string(std::get<0>(p.param).name) + "_seed" + std::to_string(std::get<1>(p.param));
                         });

class GuardSwitch : public SyncFixture {};

TEST_F(GuardSwitch, with_every_check_off_the_points_are_the_plain_chains) {
    SyntheticPairSpec spec = basePair(5);
    spec.gaps = {{9.0, 0.5}};
    writePair(MakeSyntheticPair(spec));
    SettingsWriteInt("TandemEnv", "COARSE_TRACK", 0);
    runJob();
    ASSERT_GT(job.Guard.lost, 0) << "the pair needs the guard";
    const std::vector<FrameIndex> guarded = [&] {
        std::vector<FrameIndex> p;
        for (int i = 0; i < count(slave); ++i) p.push_back(point(slave, i));
        return p;
    }();

    for (const char* key : {"ROBUST_START", "ANCHOR_ENDS", "LOCK_GUARD", "COARSE_TRACK"}) SettingsWriteInt("TandemEnv", key, 0);
    SettingsWriteInt(slave, "Count", 0);
    runJob();
    std::vector<FrameIndex> off;
    for (int i = 0; i < count(slave); ++i) off.push_back(point(slave, i));

    SettingsWriteInt(slave, "Count", 0);
    ReplaceSegmentSearch([](const SegmentSearch& q, KWavefile& file, const std::vector<Frame>& segment, SyncProgress&,
                            SearchResult& r) { ReferenceSearchSegment(q, file, segment, r); });
    runJob();
    ReplaceSegmentSearch(nullptr);
    std::vector<FrameIndex> plain;
    for (int i = 0; i < count(slave); ++i) plain.push_back(point(slave, i));
    EXPECT_EQ(off, plain);
    EXPECT_NE(off, guarded);
}

// Re-acquisition after a pause into a held tone, at 96 kHz: in the tone every window
// matches one pitch period away as well as in place, so the rough estimate lands a few
// periods off as often as not; the material after the tone has to decide.
TEST_F(GuardSwitch, reacquires_a_held_tone_on_the_period_that_goes_on_matching) {
    const double fs = 96000.0, pause = 0.5, pauseAt = 3.0, heldTo = 6.5, slavePad = 0.1;
    const auto tone = [](double f, double age) {
        const double ph = 2.0 * M_PI * f * age;
        return std::sin(ph) + 0.5 * std::sin(2.0 * ph) + 0.3 * std::sin(3.0 * ph);
    };
    const auto material = [&](double t) {
        if (t < 0.0) return 0.0;
        if (t >= pauseAt && t < heldTo) return 0.25 * tone(233.0, t - pauseAt);
        const int k = static_cast<int>(t / 0.23);
        const double age = t - 0.23 * k;
        return 0.25 * std::exp(-age / 0.1) * std::min(1.0, age / 0.004) * tone(110.0 * std::pow(2.0, (k * 7 % 24) / 12.0), age);
    };
    std::mt19937 rng(4);
    std::normal_distribution<double> noise(0.0, 0.0005);
    const auto frames = [&](std::size_t n, auto at) {
        std::vector<std::uint8_t> data;
        for (std::size_t i = 0; i < n; ++i) {
            const auto v = static_cast<std::uint16_t>(ToSample(at(static_cast<double>(i) / fs) + noise(rng)));
            put16(data, v);
            put16(data, v);
        }
        WaveSpec spec;
        spec.rate = 96000;
        return MakeWaveBytes(spec, data);
    };
    // The slave paused at material time pauseAt.
    const auto slaveTime = [&](double t) { return slavePad + t + (t >= pauseAt ? pause : 0.0); };
    KWavefile masterFile(dir.file("m.wav"), frames(static_cast<std::size_t>(9.0 * fs), material), kPlaceBoth, true);
    KWavefile slaveFile(dir.file("s.wav"), frames(static_cast<std::size_t>(9.6 * fs), [&](double s) {
        const double t = s - slavePad;
        return t >= pauseAt + pause ? material(t - pause) : t >= pauseAt ? 0.0 : material(t);
    }), kPlaceBoth, true);
    const auto frame = [&](double seconds) { return static_cast<FrameIndex>(std::llround(seconds * fs)); };

    LockGuard guard(masterFile, slaveFile);
    guard.Start(frame(0.6), frame(slaveTime(0.6)));
    for (double t = 0.8; t < 2.9; t += 0.2) guard.Accept(frame(t), frame(slaveTime(t)), 0.9);
    // The chain's end strays into the pause: nothing near the prediction matches.
    const FrameIndex J = frame(2.8), K = frame(3.2), N = frame(slaveTime(2.8));
    const GuardJudgement judged = guard.Judge(J, K, N, N + (K - J) + frame(0.1), -1.0);
    ASSERT_EQ(judged.kind, GuardJudgement::Kind::Held);
    const Reacquisition found = guard.Reacquire(K, judged.slaveEnd);
    ASSERT_TRUE(found.found);
    EXPECT_NEAR(static_cast<double>(found.slaveStart), slaveTime(3.2) * fs, 2.0);
}

TEST(ClearWinner, a_runner_up_within_the_ratio_decides_nothing) {
    struct Row {
        double winner, runnerUp;
        bool clear;
    } rows[] = {{0.9, 0.0, true}, {0.5, 0.38, true}, {0.5, 0.39, false}, {0.8, 0.75, false},
                {0.95, 0.84, true}, {0.95, 0.86, false}, {0.39, 0.0, false}};
    for (const Row& r : rows) EXPECT_EQ(ClearWinner(r.winner, r.runnerUp), r.clear) << r.winner << " / " << r.runnerUp;
}

TEST_F(GuardSwitch, an_undecidable_start_keeps_the_onset_and_says_so) {
    // Pure loops: every period matches as well as the next, so nothing is clear.
    SyntheticPairSpec spec = basePair(9);
    spec.loopSeconds = 0.5;
    spec.loopLeadGain = 0.0;
    writePair(MakeSyntheticPair(spec));
    const JobOutcome outcome = runJob();
    ASSERT_TRUE(outcome.outputWritten) << outcome.error;
    EXPECT_TRUE(job.StartUndecided);
    EXPECT_NE(outcome.notes.find("開始点"), std::string::npos);
}

}  // namespace
}  // namespace tandem::test
