#include <cmath>
#include <filesystem>
#include <tuple>
#include <vector>

#include "core/Text.h"
#include "core/TimeBase.h"
#include "sync/JobRequest.h"
#include "sync/SignalMatch.h"
#include "sync/SyncFixture.h"
#include "sync/PatternSearch.h"
#include "sync/WorkingImage.h"
#include "wave/KWavefile.h"

namespace tandem::test {
namespace {

TEST(TimeBase, lengths_given_at_44100_hz_are_kept_exactly_there_and_scale_with_the_rate) {
    // The division step, the ranges, the start range, the 60 s edges and the windows of
    // the checks beside the search.
    for (FrameIndex frames : {4410, 8820, 13230, 800, 300, 200, 150, 64, 3, 2205, 441, 660, 22050, 39690, 176400, 2646000}) {
        EXPECT_EQ(TimeBase(44100).Frames(frames), frames);
        EXPECT_EQ(TimeBase(44100).Frames(-frames), -frames);
        EXPECT_EQ(TimeBase(48000).Frames(frames), std::llround(frames * 48000.0 / 44100.0)) << frames;
        EXPECT_EQ(TimeBase(96000).Frames(-frames), -std::llround(frames * 96000.0 / 44100.0)) << frames;
    }
    EXPECT_EQ(TimeBase(44100).Tenths(2), 8820);
    EXPECT_EQ(TimeBase(48000).Tenths(2), 9600);
    EXPECT_EQ(TimeBase(44100).Seconds(60.0), 2646000);
    EXPECT_EQ(BandFor(44100).Decimation(), 4);
    EXPECT_EQ(BandFor(44100).Margin(), 256);
    // About 11 kHz after decimation at every rate, so that the 4 kHz band survives it.
    for (std::uint32_t rate : {8000u, 22050u, 32000u, 48000u, 96000u, 192000u}) {
        const double decimated = static_cast<double>(rate) / BandFor(rate).Decimation();
        EXPECT_GE(decimated, 8000.0) << rate;
        EXPECT_LT(decimated, 16000.0) << rate;
    }
}

// A sine through the conversion, fitted: level, delay (frames at the new rate) and what
// is left over.
// Stretch reads x linearly at from + i * step, zero outside [0, last], for any run of
// positions: before, across and past the ends, onto the last frame exactly, slower and
// faster than one for one.
TEST(Stretch, reads_between_frames_inside_the_signal_and_zero_outside_it) {
    std::vector<double> x(1000);
    for (std::size_t k = 0; k < x.size(); ++k) x[k] = std::sin(0.37 * static_cast<double>(k)) * 1000.0 + static_cast<double>(k);
    for (const auto& [from, step, count] : {std::tuple{-3.7, 1.0001, 1200}, std::tuple{2.25, 0.999, 990}, std::tuple{0.0, 0.5, 1998},
                                            std::tuple{0.0, 0.5, 2000}, std::tuple{998.5, 0.25, 9}, std::tuple{1500.0, 1.0, 5},
                                            std::tuple{-10.0, 3.0, 2}}) {
        const std::vector<double> y = Stretch(x, from, step, static_cast<std::size_t>(count));
        ASSERT_EQ(y.size(), static_cast<std::size_t>(count));
        for (int i = 0; i < count; ++i) {
            const double pos = from + i * step;
            const std::size_t k = pos < 0.0 ? 0 : static_cast<std::size_t>(pos);
            const double want = pos < 0.0 || pos > 999.0 ? 0.0 : pos == 999.0 ? x[999] : x[k] + (pos - k) * (x[k + 1] - x[k]);
            ASSERT_EQ(y[static_cast<std::size_t>(i)], want) << "from " << from << " step " << step << " i " << i;
        }
    }
}

TEST(WorkingImage, conversion_keeps_the_time_and_the_level_of_the_signal) {
    for (auto [from, to] : {std::pair{48000u, 44100u}, std::pair{44100u, 48000u}, std::pair{96000u, 44100u}}) {
        for (double hz : {200.0, 3000.0, 15000.0}) {
            const double amplitude = 20000.0;
            std::vector<Frame> in(from);
            for (std::size_t i = 0; i < in.size(); ++i) {
                const auto v = static_cast<std::int16_t>(std::lround(amplitude * std::sin(2.0 * M_PI * hz * i / from)));
                in[i] = Frame{v, static_cast<std::int16_t>(-v)};
            }
            const std::vector<Frame> out = ResampleFrames(in, from, to);
            ASSERT_EQ(out.size(), to);
            double ss = 0, sc = 0, cc = 0, ys = 0, yc = 0;
            const std::size_t a = out.size() / 4, b = out.size() * 3 / 4;
            for (std::size_t i = a; i < b; ++i) {
                const double w = 2.0 * M_PI * hz * i / to, s = std::sin(w), c = std::cos(w);
                ss += s * s, sc += s * c, cc += c * c, ys += out[i].left * s, yc += out[i].left * c;
                EXPECT_EQ(out[i].right, -out[i].left) << "channels stay apart";
            }
            const double det = ss * cc - sc * sc, A = (ys * cc - yc * sc) / det, B = (yc * ss - ys * sc) / det;
            double residual = 0.0;
            for (std::size_t i = a; i < b; ++i) {
                const double w = 2.0 * M_PI * hz * i / to;
                residual += std::pow(out[i].left - (A * std::sin(w) + B * std::cos(w)), 2);
            }
            const double delay = -std::atan2(B, A) / (2.0 * M_PI * hz / to);
            EXPECT_NEAR(std::hypot(A, B) / amplitude, 1.0, 1e-3) << from << "->" << to << " " << hz << " Hz";
            EXPECT_LT(std::fabs(delay), 0.01) << from << "->" << to << " " << hz << " Hz";
            const double snrDb = 10.0 * std::log10(amplitude * amplitude / 2.0 / (residual / static_cast<double>(b - a)));
            EXPECT_GT(snrDb, 85.0) << from << "->" << to << " " << hz << " Hz: 16-bit rounding on both sides";
        }
    }
}

// A slave that vanished after it was opened cannot be converted: a SyncError that names
// it, in the one shape every engine failure has.
TEST(WorkingImage, an_unreadable_slave_is_a_sync_error_naming_it) {
    TempDir dir;
    const std::string path = dir.file("gone.wav");
    WriteStereoWave(path, std::vector<Frame>(4800, Frame{100, -100}), 48000);
    KWavefile slave(path, kPlaceBoth, false);
    std::filesystem::remove(path);
    try {
        MakeWorkingImage(slave, 44100);
        ADD_FAILURE() << "no error";
    } catch (const SyncError& e) {
        EXPECT_NE(std::string(e.what()).find(path), std::string::npos) << e.what();
    }
}

class RatePair : public SyncFixture {
protected:
    SyntheticPair makePair(double masterRate, double slaveRate) {
        SyntheticPairSpec spec;
        spec.seconds = 15.0;
        spec.ppm = 500.0;
        spec.wobblePpm = 1500.0;
        spec.wobblePeriodSeconds = 20.0;
        spec.slaveNoiseDb = -55.0;
        spec.seed = 5;
        spec.masterRate = masterRate;
        spec.slaveRate = slaveRate;
        const SyntheticPair pair = MakeSyntheticPair(spec);
        master = dir.file("master.wav");
        slave = dir.file("slave.wav");
        WriteStereoWave(master, pair.master, static_cast<std::uint32_t>(masterRate));
        WriteStereoWave(slave, pair.slave, static_cast<std::uint32_t>(slaveRate));
        return pair;
    }

    // Errors of the stored slave points (the slave's own frames), in 44.1 kHz frames.
    std::vector<double> errorsAt44100(const SyntheticPair& pair) const {
        std::vector<double> errors = pointErrors(pair);
        for (double& e : errors) e *= 44100.0 / pair.spec.slaveRate;
        return errors;
    }

    // A 48 kHz master's job: divided every 0.2 s of its own time (9600 frames), the slave
    // points within 2 frames (in time) and the output in step.
    void expectSearchedAt48000(const SyntheticPair& pair, const JobOutcome& outcome) {
        ASSERT_TRUE(outcome.outputWritten) << outcome.error;
        EXPECT_EQ(point(master, 3) - point(master, 2), 9600);
        const std::vector<double> errors = errorsAt44100(pair);
        ASSERT_GT(errors.size(), 60u);
        EXPECT_GE(shareWithin(errors, 2.0), 0.95);
        EXPECT_TRUE(outcome.inStep) << outcome.checkSummary;
    }
};

TEST_F(RatePair, pair_at_48000_hz_is_searched_in_its_own_time) {
    const SyntheticPair pair = makePair(48000.0, 48000.0);
    expectSearchedAt48000(pair, runJob());
}

TEST_F(RatePair, mixed_pair_stores_points_in_each_files_own_frames_and_writes_from_them) {
    // The common pair: a camera at 48 kHz as the master, a recorder at 44.1 kHz.
    const SyntheticPair pair = makePair(48000.0, 44100.0);
    const JobOutcome outcome = runJob(kOptResultCsv);
    expectSearchedAt48000(pair, outcome);
    if (HasFatalFailure()) return;

    // Report rows count the slave in its own frames too: P of row A is near slave point A.
    const std::vector<std::uint8_t> csv = ReadFileBytes(dir.file("slave.Result.csv"));
    const std::string text(csv.begin(), csv.end());
    const std::size_t row = text.find("\n5,");
    ASSERT_NE(row, std::string::npos);
    int A = 0;
    long long K = 0, P = 0;
    double seconds = 0.0;
    ASSERT_EQ(std::sscanf(text.c_str() + row + 1, "%d,%lld,%lf,%lld,", &A, &K, &seconds, &P), 4);
    EXPECT_EQ(K, point(master, 5));
    EXPECT_NEAR(static_cast<double>(P), static_cast<double>(point(slave, 5)), 100.0);
    EXPECT_NEAR(seconds, static_cast<double>(K) / 48000.0, 0.001);

    // An output-only job reads the points back in each file's frames.
    std::filesystem::remove(outcome.outputFile);
    KSyncThread remix(job, progress, master, slave, kDefaultMix);
    const JobOutcome rebuilt = remix.Execute();
    ASSERT_TRUE(rebuilt.outputWritten) << rebuilt.error;
    EXPECT_TRUE(rebuilt.inStep) << rebuilt.checkSummary;

    // Resuming names each lead-in in seconds of its own file.
    JobRequest request{.master = master, .slave = slave, .rangeE = 200};
    const std::string message = ResumeAtLastStoredPair(request);
    ASSERT_TRUE(request.resume) << message;
    for (const std::string& expected : {Fixed(static_cast<double>(request.resumeMasterFrame) / 48000.0) + " s（",
                                       Fixed(static_cast<double>(request.resumeSlaveFrame) / 44100.0) + " s（"})
        EXPECT_NE(message.find(expected), std::string::npos) << message;

    // A lead-in is a time: 0.1 s past the last stored point leaves nothing to resume,
    // although it counts fewer (44.1 kHz) frames than the point's 48 kHz ones.
    JobRequest late{.master = master, .slave = slave, .masterSkipFrames = request.resumeMasterFrame * 44100 / 48000 + 4410};
    EXPECT_EQ(ResumeAtLastStoredPair(late), MessageText(Msg::PointsBeforeLeadIn));
    EXPECT_FALSE(late.resume);
}

}  // namespace
}  // namespace tandem::test
