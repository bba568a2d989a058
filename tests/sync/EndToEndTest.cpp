#include <cmath>

#include "sync/SyncFixture.h"

namespace tandem::test {
namespace {

struct Alignment {
    int windows = 0;
    int aligned = 0;     // |lag| <= 2 frames
    double worst = 0.0;  // largest |lag|
    double meanR = 0.0;  // mean correlation at the found lag (sign shows polarity)
};

// Cross-correlates 1 s windows (hop 0.5 s) of the output's left and right channels
// within +-30 frames, with parabolic refinement; skips near-silent windows.
Alignment measureAlignment(const std::string& path) {
    const std::vector<std::uint8_t> bytes = ReadFileBytes(path);
    Alignment a;
    if (bytes.size() < 44) return a;
    const std::size_t frames = (bytes.size() - 44) / 4;
    std::vector<double> left(frames), right(frames);
    for (std::size_t i = 0; i < frames; ++i) {
        const std::uint8_t* p = bytes.data() + 44 + 4 * i;
        left[i] = static_cast<std::int16_t>(p[0] | (p[1] << 8));
        right[i] = static_cast<std::int16_t>(p[2] | (p[3] << 8));
    }
    const int maxLag = 30;
    const std::size_t window = 44100, hop = 22050;
    double sumR = 0.0;
    for (std::size_t start = maxLag; start + window + maxLag < frames; start += hop) {
        double el = 0.0, er = 0.0;
        for (std::size_t i = 0; i < window; ++i) {
            el += left[start + i] * left[start + i];
            er += right[start + i] * right[start + i];
        }
        if (el < 1e6 * window / 44100.0 * 100 || er < 1e6 * window / 44100.0 * 100) continue;
        std::vector<double> r(2 * maxLag + 1);
        for (int lag = -maxLag; lag <= maxLag; ++lag) {
            double s = 0.0;
            for (std::size_t i = 0; i < window; ++i) s += left[start + i] * right[start + i + lag];
            r[static_cast<std::size_t>(lag + maxLag)] = s / std::sqrt(el * er);
        }
        std::size_t best = 0;
        for (std::size_t k = 1; k < r.size(); ++k)
            if (std::fabs(r[k]) > std::fabs(r[best])) best = k;
        double lag = static_cast<double>(best) - maxLag;
        if (best > 0 && best + 1 < r.size()) {
            const double y0 = std::fabs(r[best - 1]), y1 = std::fabs(r[best]), y2 = std::fabs(r[best + 1]);
            const double d = y0 - 2 * y1 + y2;
            if (d != 0.0) lag += 0.5 * (y0 - y2) / d;
        }
        ++a.windows;
        if (std::fabs(lag) <= 2.0) ++a.aligned;
        a.worst = std::max(a.worst, std::fabs(lag));
        sumR += r[best];
    }
    if (a.windows > 0) a.meanR = sumR / a.windows;
    return a;
}

SyntheticPairSpec driftingPair() {
    SyntheticPairSpec spec;
    spec.seconds = 40.0;
    spec.ppm = 500.0;
    spec.wobblePpm = 2000.0;  // the rate swings between -0.15 % and +0.25 %
    spec.wobblePeriodSeconds = 25.0;
    spec.masterPadSeconds = 0.5;
    spec.slavePadSeconds = 1.3;
    spec.slaveNoiseDb = -55.0;
    spec.seed = 3;
    return spec;
}

class EndToEnd : public SyncFixture {};

TEST_F(EndToEnd, finds_slave_positions_under_varying_drift_and_writes_an_aligned_file) {
    const SyntheticPair pair = MakeSyntheticPair(driftingPair());
    writePair(pair);
    const JobOutcome outcome = runJob();
    ASSERT_TRUE(outcome.error.empty()) << outcome.error;
    ASSERT_TRUE(outcome.outputWritten);
    EXPECT_EQ(outcome.outputFile, dir.file("【master】-【slave】.wav"));

    const std::vector<double> errors = pointErrors(pair);
    ASSERT_GT(errors.size(), 150u) << "a 40 s master divided every 0.2 s";
    EXPECT_GE(shareWithin(errors, 2.0), 0.95);
    EXPECT_EQ(SettingsReadInt(slave, "PhaseShift", -1), 0);

    const Alignment a = measureAlignment(outcome.outputFile);
    ASSERT_GT(a.windows, 60);
    EXPECT_EQ(a.aligned, a.windows) << "worst lag " << a.worst;
    EXPECT_GT(a.meanR, 0.8);
}

TEST_F(EndToEnd, inverted_slave_sets_phase_shift_and_still_lines_up) {
    SyntheticPairSpec spec = driftingPair();
    spec.seconds = 25.0;
    spec.slaveGain = -1.0;
    const SyntheticPair pair = MakeSyntheticPair(spec);
    writePair(pair);
    const JobOutcome outcome = runJob();
    ASSERT_TRUE(outcome.outputWritten) << outcome.error;
    EXPECT_EQ(SettingsReadInt(slave, "PhaseShift", -1), 1);
    EXPECT_GE(shareWithin(pointErrors(pair), 2.0), 0.95);

    const Alignment a = measureAlignment(outcome.outputFile);
    ASSERT_GT(a.windows, 30);
    EXPECT_EQ(a.aligned, a.windows) << "worst lag " << a.worst;
    EXPECT_GT(a.meanR, 0.8) << "the inverted slave is turned back when written";
}

TEST_F(EndToEnd, bt_level_searches_six_divisions_on_band_limited_copies) {
    SyntheticPairSpec spec = driftingPair();
    spec.seconds = 20.0;
    const SyntheticPair pair = MakeSyntheticPair(spec);
    writePair(pair);
    // BT: division every 0.3 s, length range 150, six divisions per search, band 100-1000 Hz.
    KSyncThread thread(job, progress,
                       JobRequest{.master = master, .slave = slave, .baseStep = 3, .rangeE = 150, .eqLow = 100, .eqHigh = 1000,
                                  .channelFlag = 1, .mode = kModeLookAhead, .options = progress.JobOptions()});
    const JobOutcome outcome = thread.Execute();
    ASSERT_TRUE(outcome.outputWritten) << outcome.error;
    // Six divisions are searched at once and the length found is scaled back to one,
    // truncated: the rate follows the drift (which reaches 2,000 frames here) in steps,
    // so points wander by some frames; they never lose the material.
    const std::vector<double> errors = pointErrors(pair);
    ASSERT_GT(errors.size(), 50u);
    EXPECT_LT(*std::max_element(errors.begin(), errors.end()), 20.0);
    EXPECT_GE(shareWithin(errors, 10.0), 0.75);
    EXPECT_FALSE(std::filesystem::exists(dir.file("master_EQ(100,1000).wav"))) << "copies go after the job";
}

}  // namespace
}  // namespace tandem::test
