// The coarse track and the jobs that follow it, on generated pairs of each kind of
// material where a chain of local searches goes wrong: a speed change, tape wow, a far
// microphone in a reverberant room, pauses, offsets of a minute either way, and a slave
// whose middle holds other music.
#include <random>

#include "core/Log.h"
#include "dsp/Fft.h"
#include "settings/Settings.h"
#include "sync/CoarseTrack.h"
#include "sync/SignalMatch.h"
#include "sync/StoredPoints.h"
#include "sync/SyncFixture.h"
#include "sync/TrackSignal.h"
#include "wave/KWavefile.h"

namespace tandem::test {
namespace {

SyntheticPairSpec pairOf(double seconds, unsigned seed) {
    SyntheticPairSpec spec;
    spec.seconds = seconds;
    spec.ppm = 400.0;
    spec.wobblePpm = 0.0;
    spec.masterPadSeconds = 0.2;
    spec.slavePadSeconds = 0.4;
    spec.slaveNoiseDb = -50.0;
    spec.seed = seed;
    return spec;
}

// The slave as a far microphone hears it: the direct sound at lag 0, early reflections
// at 2-23 ms and a diffuse tail (RT60 0.7 s) holding twice the direct sound's energy.
void reverberate(std::vector<Frame>& frames, unsigned seed) {
    const std::size_t n = frames.size(), tail = static_cast<std::size_t>(0.7 * kSampleRate);
    std::vector<double> ir(tail, 0.0);
    ir[0] = 1.0;
    const double reflections[][2] = {{0.002, 0.6}, {0.005, 0.5}, {0.009, 0.45}, {0.014, 0.4}, {0.018, 0.3}, {0.023, 0.25}};
    for (const auto& r : reflections) ir[static_cast<std::size_t>(r[0] * kSampleRate)] += r[1];
    std::mt19937 rng(seed);
    std::normal_distribution<double> noise(0.0, 1.0);
    double energy = 0.0;
    std::vector<double> diffuse(tail, 0.0);
    for (std::size_t i = static_cast<std::size_t>(0.005 * kSampleRate); i < tail; ++i) {
        diffuse[i] = noise(rng) * std::pow(10.0, -3.0 * static_cast<double>(i) / static_cast<double>(tail));
        energy += diffuse[i] * diffuse[i];
    }
    for (std::size_t i = 0; i < tail; ++i) ir[i] += diffuse[i] * std::sqrt(2.0 / energy);
    std::size_t size = 2;
    while (size < n + tail) size *= 2;
    const RealFft fft(size);
    FftReals x = AllocReals(size), h = AllocReals(size);
    FftBins X = AllocBins(fft.Bins()), H = AllocBins(fft.Bins());
    for (std::size_t i = 0; i < size; ++i) {
        x[i] = i < n ? static_cast<float>(frames[i].left) : 0.0f;
        h[i] = i < tail ? static_cast<float>(ir[i]) : 0.0f;
    }
    fft.Forward(x.get(), X.get());
    fft.Forward(h.get(), H.get());
    for (std::size_t k = 0; k < fft.Bins(); ++k) X[k] *= H[k] / static_cast<float>(size);
    fft.Inverse(X.get(), x.get());
    double peak = 1.0;
    for (std::size_t i = 0; i < n; ++i) peak = std::max(peak, std::fabs(static_cast<double>(x[i])));
    for (std::size_t i = 0; i < n; ++i) {
        const auto v = static_cast<std::int16_t>(std::lround(x[i] * 20000.0 / peak));
        frames[i] = {v, v};
    }
}

class CoarseTrackJob : public SyncFixture {
protected:
    // Share of the stored points away from gaps within limit frames of the truth.
    double pointsWithin(const SyntheticPair& pair, double limit) const {
        std::vector<double> errors;
        const int n = std::min(count(master), count(slave));
        for (int i = 0; i < n; ++i) {
            const double m = static_cast<double>(point(master, i));
            if (m >= static_cast<double>(pair.master.size()) || pair.NearGap(m, 0.5)) continue;
            errors.push_back(std::fabs(static_cast<double>(point(slave, i)) - pair.SlavePositionOf(m)));
        }
        EXPECT_GT(errors.size(), 40u);
        return shareWithin(errors, limit);
    }

    // The pair written and its track built (found stays false where none is).
    CoarseTrack trackOf(const SyntheticPair& pair) {
        writePair(pair);
        KWavefile m(master, kPlaceBoth, true), s(slave, kPlaceBoth, true);
        EXPECT_TRUE(m.LoadData() && s.LoadData());
        return BuildCoarseTrack(m, s, {});
    }
};

struct Material {
    const char* name;
    void (*shape)(SyntheticPairSpec&);
    bool room;
    // 97 % of the points within this of the direct sound: 2 frames where the rate bends
    // by 1 % per second too (each end is measured again on its own; the straight stretch
    // of a segment lands a few frames off there), 1 ms in the room.
    double limitFrames;
};

const Material kMaterials[] = {
    // 0.4 % swinging every 2.5 s: the rate changes by 1 % per second.
    {"speed_change", [](SyntheticPairSpec& s) { s.wobblePpm = 4000.0; s.wobblePeriodSeconds = 2.5; }, false, 2.0},
    // 0.3 % wow at 0.5 Hz.
    {"tape_wow", [](SyntheticPairSpec& s) { s.wobblePpm = 3000.0; s.wobblePeriodSeconds = 2.0; }, false, 2.0},
    {"far_microphone", [](SyntheticPairSpec&) {}, true, 44.0},
    // Phrases with silences between them, in the room: speech in a hall.
    {"phrases_in_a_room", [](SyntheticPairSpec& s) { s.silences = {{4.0, 5.5}, {9.0, 9.6}, {14.0, 16.0}}; }, true, 44.0},
    {"offset_plus_60s", [](SyntheticPairSpec& s) { s.slavePadSeconds = 0.0; s.slaveExtraSeconds = 60.0; }, false, 2.0},
    {"offset_minus_60s", [](SyntheticPairSpec& s) {
         s.seconds += 60.0;
         s.slavePadSeconds = 0.0;
         s.slaveExtraSeconds = -60.0;
     }, false, 2.0},
};

class TrackMaterial : public CoarseTrackJob, public ::testing::WithParamInterface<Material> {};

// The decimator runs most outputs sixteen to a vector and the last few one by one: an
// output must not depend on which. Dropping 100 * factor values at the start moves every
// output 100 places (away from the zero-padded start): z[64..99] come from the tail loop
// and y[164..191] from vectors, and the vectors' lanes fall elsewhere.
TEST(CoarseTrack, decimated_values_do_not_depend_on_where_the_vectors_end) {
    std::mt19937 rng(7);
    std::normal_distribution<float> noise(0.0f, 1000.0f);
    for (const int factor : {4, 5}) {
        track::Signal x(static_cast<std::size_t>(factor) * 200 + 3);
        for (float& v : x) v = noise(rng);
        const std::size_t shift = 100;
        const track::Signal tail(x.begin() + static_cast<std::ptrdiff_t>(shift) * factor, x.end());
        const track::Signal y = track::decimate(x, factor, 0.45 / factor), z = track::decimate(tail, factor, 0.45 / factor);
        ASSERT_EQ(y.size(), 200u);
        ASSERT_EQ(z.size(), 100u);
        for (std::size_t k = 20; k < z.size(); ++k) ASSERT_EQ(z[k], y[k + shift]) << "factor " << factor << ", output " << k;
    }
}

TEST_P(TrackMaterial, the_job_without_lead_ins_ends_in_step_on_the_direct_sound) {
    const Material& m = GetParam();
    SyntheticPairSpec spec = pairOf(20.0, 5);
    m.shape(spec);
    SyntheticPair pair = MakeSyntheticPair(spec);
    if (m.room) reverberate(pair.slave, 9);
    writePair(pair);
    const JobOutcome outcome = runJob();
    ASSERT_TRUE(outcome.outputWritten) << outcome.error;
    EXPECT_TRUE(job.TrackFound);
    EXPECT_GE(pointsWithin(pair, m.limitFrames), 0.97);
    EXPECT_TRUE(outcome.inStep) << outcome.checkSummary;
}

INSTANTIATE_TEST_SUITE_P(Kinds, TrackMaterial, ::testing::ValuesIn(kMaterials),
                         [](const auto& p) { return std::string(p.param.name); });

// The length search narrowed to the track's uncertainty stores the points of the search
// over the whole range, on material whose rate bends and on a plain drift.
TEST_F(CoarseTrackJob, a_search_narrowed_to_the_track_stores_the_full_searchs_points) {
    const auto stored = [&] {
        std::vector<std::string> v;
        for (int i = 0; i < count(slave); ++i)
            v.push_back(SettingsReadText(slave, "DP" + std::to_string(i), "") + " " +
                        SettingsReadText(slave, "SubFrame" + std::to_string(i), ""));
        return v;
    };
    for (const auto& [material, seed] : {std::pair{kMaterials[0], 3u}, {kMaterials[1], 8u}, {Material{"drift", [](SyntheticPairSpec&) {}, false, 2.0}, 11u}}) {
        SyntheticPairSpec spec = pairOf(20.0, seed);
        material.shape(spec);
        writePair(MakeSyntheticPair(spec));
        StartLog();
        ASSERT_TRUE(runJob().outputWritten) << material.name;
        const std::vector<std::string> log = LogLines();
        HideLog();
        EXPECT_TRUE(std::any_of(log.begin(), log.end(), [](const std::string& l) { return l.rfind("◇追跡内の探索", 0) == 0; }))
            << material.name << ": no segment was searched narrowly";
        const std::vector<std::string> narrow = stored();
        SettingsWriteInt("TandemEnv", "NARROW_SEARCH", 0);
        ASSERT_TRUE(runJob().outputWritten) << material.name;
        SettingsWriteInt("TandemEnv", "NARROW_SEARCH", 1);
        EXPECT_GT(narrow.size(), 80u);
        EXPECT_EQ(narrow, stored()) << material.name;
    }
}

// A far microphone: the plain correlation's peak is shaped by the reflections, and its
// sub-frame vertex lies further from the direct sound than the whole frame it refines
// (0.73 against 0.56 frame from their median): the points keep their frames.
TEST_F(CoarseTrackJob, a_far_microphones_points_are_no_more_spread_than_their_whole_frames) {
    SyntheticPair pair = MakeSyntheticPair(pairOf(20.0, 5));
    reverberate(pair.slave, 9);
    writePair(pair);
    ASSERT_TRUE(runJob().outputWritten);
    const StoredPoints slavePoints(slave), masterPoints(master);
    const int n = std::min(masterPoints.count(), slavePoints.count());
    const std::vector<FrameIndex> m = masterPoints.load(n), whole = slavePoints.load(n);
    const std::vector<double> exact = slavePoints.loadExact(n);
    const auto spread = [&](const auto& at) {
        std::vector<double> e;
        for (int i = 5; i < n; ++i)
            if (m[i] < static_cast<FrameIndex>(pair.master.size()))
                e.push_back(static_cast<double>(at[i]) - pair.SlavePositionOf(static_cast<double>(m[i])));
        std::sort(e.begin(), e.end());
        const double middle = e[e.size() / 2];
        for (double& v : e) v = std::fabs(v - middle);
        std::sort(e.begin(), e.end());
        return e[e.size() / 2];
    };
    EXPECT_LE(spread(exact), spread(whole) + 0.01) << "frames from the errors' median";
}

// A pause near the end leaves a few seconds of evidence after it: the path must jump to
// them rather than carry the old lag through, which a much dearer jump would.
TEST_F(CoarseTrackJob, the_path_jumps_over_a_pause_near_the_end) {
    SyntheticPairSpec spec = pairOf(16.0, 7);
    spec.gaps = {{12.0, 1.5}};
    const SyntheticPair pair = MakeSyntheticPair(spec);
    const CoarseTrack track = trackOf(pair);
    ASSERT_TRUE(track.found) << track.why;
    int after = 0, right = 0;
    for (const TrackWindow& w : track.windows) {
        const double at = static_cast<double>(w.master);
        if (at / kSampleRate < 13.0 || pair.NearGap(at, 0.6) || at >= static_cast<double>(pair.master.size())) continue;
        ++after;
        right += std::fabs(track.SlaveAt(at) - pair.SlavePositionOf(at)) < 10.0;
    }
    ASSERT_GT(after, 4);
    EXPECT_EQ(right, after);
    // About the jump the rate is the clocks', not the pause's.
    for (double t = 1.0; t < 15.5; t += 0.025) ASSERT_NEAR(track.RateAt(t * kSampleRate), 1.0, 0.01) << t << " s";
}

// Speech in a hall: the last second before a pause hears a reflection 21 ms late louder
// than the direct sound. The rate followed on through the pause must not tilt towards
// it (nor towards the room's own reflections): read 0.3 % off, every 1 s window smears
// the direct sound's peak over 3 ms, and the path loses it to the reflections.
TEST_F(CoarseTrackJob, a_loud_reflection_before_a_pause_does_not_tilt_the_track) {
    SyntheticPairSpec spec = pairOf(20.0, 13);
    spec.silences = {{8.0, 9.5}};
    spec.slaveNoiseDb = -25.0;
    SyntheticPair pair = MakeSyntheticPair(spec);
    reverberate(pair.slave, 9);
    const auto slaveFrame = [&](double materialS) {
        return static_cast<std::size_t>(pair.SlavePositionOf((spec.masterPadSeconds + materialS) * kSampleRate));
    };
    const std::size_t delay = static_cast<std::size_t>(0.021 * kSampleRate);
    const std::vector<Frame> heard = pair.slave;
    for (std::size_t i = slaveFrame(7.0); i < slaveFrame(8.0); ++i) {
        const auto v = static_cast<std::int16_t>(0.3 * heard[i].left + 0.9 * heard[i - delay].left);
        pair.slave[i] = {v, v};
    }
    const CoarseTrack track = trackOf(pair);
    ASSERT_TRUE(track.found) << track.why;
    int sounding = 0, kept = 0, off = 0;
    for (const TrackWindow& w : track.windows) {
        const double at = static_cast<double>(w.master), t = at / kSampleRate - spec.masterPadSeconds;
        if (w.evidence > 0.0) off += std::fabs(w.slave - pair.SlavePositionOf(at)) > 0.001 * kSampleRate;
        if (t < 10.0 || !w.sounding) continue;
        ++sounding;
        kept += w.evidence > 0.0;
    }
    EXPECT_EQ(off, 0);
    // Noise 25 dB down leaves some windows weak; a smeared peak loses most of them.
    EXPECT_GE(3 * kept, 2 * sounding) << kept << " of " << sounding << " windows after the pause";
}

// The slave paused 0.3 s and lost 50 ms, neither half way between two windows: each
// jump's place is found, and the lag on either side holds up to it.
TEST_F(CoarseTrackJob, a_jump_is_placed_where_the_slave_paused_or_lost_material) {
    SyntheticPairSpec spec = pairOf(24.0, 17);
    spec.gaps = {{12.32, 0.3}, {17.61, -0.05}};
    const SyntheticPair pair = MakeSyntheticPair(spec);
    const CoarseTrack track = trackOf(pair);
    ASSERT_TRUE(track.found) << track.why;
    for (const auto& [at, seconds] : spec.gaps) {
        // Lost material matches nothing: the jump may lie anywhere in it.
        const double from = (spec.masterPadSeconds + at) * kSampleRate, to = from + std::max(0.0, -seconds) * kSampleRate;
        const TrackWindow* jump = nullptr;
        for (const TrackWindow& w : track.windows)
            if (w.jump && w.evidence > 0.0 && (!jump || std::fabs(w.jumpAt - from) < std::fabs(jump->jumpAt - from))) jump = &w;
        ASSERT_NE(jump, nullptr) << at << " s";
        EXPECT_GE(jump->jumpAt, from - jump->jumpSpread) << at << " s";
        EXPECT_LE(jump->jumpAt, to + jump->jumpSpread) << at << " s";
        for (double d = 0.01; d < 0.25; d += 0.01)
            for (const double mf : {from - (jump->jumpSpread + d * kSampleRate), to + jump->jumpSpread + d * kSampleRate})
                EXPECT_NEAR(track.SlaveAt(mf), pair.SlavePositionOf(mf), 10.0) << at << " s, " << (mf - from) / kSampleRate << " s from it";
    }
    // Stray peaks about the old lag keep the track from looking wide until seconds after
    // the pause; found again, it looks back at every window since it was last followed.
    for (const TrackWindow& w : track.windows) {
        const double t = static_cast<double>(w.master) / kSampleRate - spec.masterPadSeconds;
        if (w.sounding && t > 12.9 && t < 17.1) {
            EXPECT_GT(w.evidence, 0.0) << t << " s";
        }
    }
}

TEST_F(CoarseTrackJob, unrelated_material_gives_no_track) {
    const SyntheticPair a = MakeSyntheticPair(pairOf(15.0, 3)), b = MakeSyntheticPair(pairOf(15.0, 29));
    WriteStereoWave(dir.file("a.wav"), a.master);
    WriteStereoWave(dir.file("b.wav"), b.slave);
    KWavefile m(dir.file("a.wav"), kPlaceBoth, true), s(dir.file("b.wav"), kPlaceBoth, true);
    ASSERT_TRUE(m.LoadData() && s.LoadData());
    const CoarseTrack track = BuildCoarseTrack(m, s, {});
    EXPECT_FALSE(track.found);
    EXPECT_FALSE(track.why.empty());
}

// The slave's middle 6 s hold other music: the job must not call that in step, and must
// say where.
TEST_F(CoarseTrackJob, a_slave_whose_middle_is_other_music_is_not_in_step) {
    SyntheticPair pair = MakeSyntheticPair(pairOf(24.0, 11));
    const SyntheticPair other = MakeSyntheticPair(pairOf(24.0, 41));
    const std::size_t from = static_cast<std::size_t>(9.0 * kSampleRate), to = static_cast<std::size_t>(15.0 * kSampleRate);
    for (std::size_t i = from; i < to && i < pair.slave.size(); ++i) pair.slave[i] = other.slave[i];
    writePair(pair);
    const JobOutcome outcome = runJob();
    ASSERT_TRUE(outcome.outputWritten) << outcome.error;
    EXPECT_FALSE(outcome.inStep) << outcome.checkSummary;
    EXPECT_NE(outcome.checkSummary.find("同期していません"), std::string::npos) << outcome.checkSummary;
    EXPECT_NE(outcome.checkSummary.find(" 秒"), std::string::npos) << "the stretch is named: " << outcome.checkSummary;
}

// The whitened correlation finds a delayed, scaled copy at its delay, well clear of
// every other lag; a silent pattern (every bin empty) gives zeros, not NaN.
TEST(WhitenedCorrelation, finds_a_delayed_copy_and_keeps_empty_bins_empty) {
    std::mt19937 rng(4);
    std::normal_distribution<float> g(0.0f, 1.0f);
    const std::size_t n = 4000;
    const int lags = 301, delay = 117;
    std::vector<float> stretch(n + lags - 1);
    for (float& v : stretch) v = g(rng);
    std::vector<float> pattern(stretch.begin() + delay, stretch.begin() + delay + static_cast<long>(n));
    for (float& v : pattern) v *= 3e4f;
    WhitenedCorrelation corr(n, lags, 8000.0);
    const std::vector<float>& c = corr.Run(pattern.data(), stretch.data());
    ASSERT_EQ(c.size(), static_cast<std::size_t>(lags));
    const auto peak = std::max_element(c.begin(), c.end());
    EXPECT_EQ(peak - c.begin(), delay);
    EXPECT_GT(*peak, 0.8f);
    for (int l = 0; l < lags; ++l) {
        if (std::abs(l - delay) > 3) {
            ASSERT_LT(std::fabs(c[static_cast<std::size_t>(l)]), *peak / 4) << l;
        }
    }
    std::vector<float> silent(n, 0.0f);
    for (float v : corr.Correlate(silent.data())) ASSERT_EQ(v, 0.0f);
    // So faint a copy that some bins' products underflow to zero: they drop out, the rest
    // still find the delay.
    for (float& v : pattern) v *= 3e-31f;
    const std::vector<float>& faint = corr.Correlate(pattern.data());
    EXPECT_EQ(std::max_element(faint.begin(), faint.end()) - faint.begin(), delay);
}

}  // namespace
}  // namespace tandem::test
