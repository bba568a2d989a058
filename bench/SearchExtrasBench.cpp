// The checks beside the plain search: one robust start estimate (envelopes over a rate
// sweep and the waveform checks), one re-anchored segment end, and one point's fraction.
// Their share of a job: the start runs once per job, the anchor once per segment longer
// than two division steps, the quick look at the end once per other segment, the
// fraction once per point of a band-limited output.
#include <benchmark/benchmark.h>

#include <cstdlib>

#include "common/TestWave.h"
#include "core/ProgramFolder.h"
#include "settings/Settings.h"
#include "sync/EndAnchor.h"
#include "sync/PatternSearch.h"
#include "sync/RobustStart.h"
#include "sync/SubFrame.h"
#include "sync/SyntheticPair.h"
#include "wave/KWavefile.h"

namespace {

using namespace tandem;

struct OpenPair {
    test::TempDir dir;
    SyntheticPair pair;
    std::unique_ptr<KWavefile> master, slave;

    explicit OpenPair(const SyntheticPairSpec& spec) : pair(MakeSyntheticPair(spec)) {
        ::setenv("XDG_CONFIG_HOME", dir.path().c_str(), 1);
        SettingsReset();
        SetProgramFolder(dir.path());
        SettingsOpen(dir.file("qzv.ini"));
        WriteStereoWave(dir.file("master.wav"), pair.master);
        WriteStereoWave(dir.file("slave.wav"), pair.slave);
        master = std::make_unique<KWavefile>(dir.file("master.wav"), kPlaceBoth, true);
        slave = std::make_unique<KWavefile>(dir.file("slave.wav"), kPlaceBoth, true);
    }
    ~OpenPair() { SettingsReset(); }
};

void RobustStartEstimate(benchmark::State& state) {
    SyntheticPairSpec spec;
    spec.seconds = 30.0;
    spec.slaveNoiseDb = -24.0;  // the onset estimate is wrong: every candidate is checked
    OpenPair p(spec);
    const FrameIndex J = FindSoundOnset(*p.master, 0, 100);
    const FrameIndex N0 = FindSoundOnset(*p.slave, 0, 100);
    for (auto _ : state) benchmark::DoNotOptimize(FindRobustStart(*p.master, *p.slave, J, N0, 800));
}

void AnchoredEnd(benchmark::State& state) {
    SyntheticPairSpec spec;
    spec.seconds = 20.0;
    OpenPair p(spec);
    const FrameIndex J = 10 * kSampleRate, K = J + 3 * kSampleRate;
    const FrameIndex N = static_cast<FrameIndex>(p.pair.SlavePositionOf(static_cast<double>(J)));
    const FrameIndex P = static_cast<FrameIndex>(p.pair.SlavePositionOf(static_cast<double>(K))) + 9;
    for (auto _ : state) benchmark::DoNotOptimize(AnchorSegmentEnd(*p.master, *p.slave, J, K, N, P));
}

// An ordinary 0.2 s segment of a 20 s pair (the slave about 0.1 % fast), its end
// `endOff` frames from the true one.
struct OrdinarySegment {
    OpenPair p;
    FrameIndex J = 10 * kSampleRate, K = J + 8820, N = 0, P = 0;

    explicit OrdinarySegment(FrameIndex endOff) : p(spec()) {
        N = std::llround(p.pair.SlavePositionOf(static_cast<double>(J)));
        P = std::llround(p.pair.SlavePositionOf(static_cast<double>(K))) + endOff;
    }
    static SyntheticPairSpec spec() {
        SyntheticPairSpec s;
        s.seconds = 20.0;
        return s;
    }
};

// The end is right: only the quick look runs.
void CheckedEnd(benchmark::State& state) {
    OrdinarySegment s(0);
    for (auto _ : state) benchmark::DoNotOptimize(CheckSegmentEnd(*s.p.master, *s.p.slave, s.J, s.K, s.N, s.P));
}

void PointFraction(benchmark::State& state) {
    OrdinarySegment s(1);
    for (auto _ : state) benchmark::DoNotOptimize(SubFrameOffset(*s.p.master, *s.p.slave, s.J, s.K, s.N, s.P));
}

}  // namespace

BENCHMARK(PointFraction)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(CheckedEnd)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(RobustStartEstimate)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(AnchoredEnd)->Unit(benchmark::kMicrosecond)->UseRealTime();
