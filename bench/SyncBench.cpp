// Whole synchronisation jobs on a generated 20-minute stereo pair at the 普 presets
// (analysis, search, output writing), and the segment search against the plain
// reference search measured in the same run.
//
// WholeJob reports the realtime factor (seconds of audio per second of wall time) and
// the job's peak resident memory against the two input files. SearchAgainstReference
// times the optimised and the plain search on the same segments, alternating, and
// reports their ratio, and times the score kernel on the same segments: the vector kernel
// against the plain loop (kernel_speedup_x) and against itself with the position divided
// (division_free_gain_x). WholeJobAgainstReference runs the whole job again with the plain
// search in place of the optimised one and checks that every division point is the same.
// BandLimitedAgainstLinear times the band-limited output against the linear one.
// DeepRateAgainstCd times the same material as a 48 kHz / 24-bit pair against the 44.1 kHz
// / 16-bit one.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "common/ReferenceSearch.h"
#include "common/TestWave.h"
#include "core/ProgramFolder.h"
#include "settings/Settings.h"
#include "sync/JobPresets.h"
#include "sync/KSyncThread.h"
#include "sync/OutputCheck.h"
#include "sync/PatternSearch.h"
#include "sync/StretchScore.h"
#include "sync/SyntheticPair.h"
#include "wave/KWavefile.h"

namespace {

using namespace tandem;

constexpr double kSeconds = 1200.0;

struct PairFiles {
    test::TempDir dir;
    SyntheticPair truth;  // spec only: the frames are dropped once written
    std::string master, slave;
    double megabytes = 0.0;
};

// Written once per run; the frames are not kept, so that they do not count in a job's
// memory.
const PairFiles& Pair() {
    static const std::unique_ptr<PairFiles> files = [] {
        auto f = std::make_unique<PairFiles>();
        SyntheticPairSpec spec;
        spec.seconds = kSeconds;
        f->truth = MakeSyntheticPair(spec);
        f->master = f->dir.file("master.wav");
        f->slave = f->dir.file("slave.wav");
        WriteStereoWave(f->master, f->truth.master);
        WriteStereoWave(f->slave, f->truth.slave);
        std::vector<Frame>().swap(f->truth.master);
        std::vector<Frame>().swap(f->truth.slave);
        f->megabytes = static_cast<double>(std::filesystem::file_size(f->master) + std::filesystem::file_size(f->slave)) /
                       (1024.0 * 1024.0);
        return f;
    }();
    return *files;
}

// The same material as a 48 kHz / 24-bit extensible pair, as field recorders write it: the
// generated 16-bit samples with a low byte of deterministic dither.
const PairFiles& DeepPair() {
    static const std::unique_ptr<PairFiles> files = [] {
        auto f = std::make_unique<PairFiles>();
        SyntheticPairSpec spec;
        spec.seconds = kSeconds;
        spec.masterRate = spec.slaveRate = 48000.0;
        f->truth = MakeSyntheticPair(spec);
        f->master = f->dir.file("master48.wav");
        f->slave = f->dir.file("slave48.wav");
        test::WaveSpec format;
        format.bits = 24;
        format.rate = 48000;
        format.extensible = true;
        std::uint32_t noise = 12345;
        for (auto [frames, path] : {std::pair{&f->truth.master, f->master}, std::pair{&f->truth.slave, f->slave}}) {
            std::vector<std::uint8_t> data;
            data.reserve(frames->size() * 6);
            for (const Frame& fr : *frames)
                for (const std::int16_t v : {fr.left, fr.right}) {
                    noise = noise * 1664525u + 1013904223u;
                    data.push_back(static_cast<std::uint8_t>(noise >> 24));
                    data.push_back(static_cast<std::uint8_t>(v));
                    data.push_back(static_cast<std::uint8_t>(static_cast<std::uint16_t>(v) >> 8));
                }
            std::vector<Frame>().swap(*frames);
            test::WriteFile(path, test::MakeWaveBytes(format, data));
        }
        f->megabytes = static_cast<double>(std::filesystem::file_size(f->master) + std::filesystem::file_size(f->slave)) /
                       (1024.0 * 1024.0);
        return f;
    }();
    return *files;
}

// Peak resident memory since the last reset, in MiB (0 where the kernel does not say).
void ResetPeakMemory() { std::ofstream("/proc/self/clear_refs") << "5"; }
double PeakMemoryMiB() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmHWM:", 0) == 0) return std::atof(line.c_str() + 6) / 1024.0;
    return 0.0;
}

struct JobRun {
    JobOutcome outcome;
    std::vector<FrameIndex> masterPoints, slavePoints;
};

// One 普 job on the pair in a fresh settings store; returns its stored points.
JobRun RunJob(const PairFiles& pair, bool bandLimited = true, bool coarseTrack = true) {
    SettingsReset();
    std::filesystem::remove(pair.dir.file("qzv.ini"));
    ::setenv("XDG_CONFIG_HOME", pair.dir.path().c_str(), 1);
    SetProgramFolder(pair.dir.path());
    SettingsOpen(pair.dir.file("qzv.ini"));
    const JobParameters p = ParametersForLevel(kLevelNormal, false, ExpertValues{}, 0, 0);
    SyncJob job;
    SyncProgress progress;
    JobRequest request{.master = pair.master, .slave = pair.slave, .options = progress.JobOptions()};
    ApplyLevel(request, p);
    request.bandLimited = bandLimited;
    request.coarseTrack = coarseTrack;
    KSyncThread thread(job, progress, request);
    JobRun run;
    run.outcome = thread.Execute();
    const auto points = [](const std::string& file) {
        const std::string& section = file;  // a file's points live in the section named by its path
        std::vector<FrameIndex> v;
        const int count = SettingsReadInt(section, "Count", 0);
        for (int n = 0; n < count; ++n) v.push_back(SettingsReadInt(section, "DP" + std::to_string(n), 0));
        return v;
    };
    run.masterPoints = points(pair.master);
    run.slavePoints = points(pair.slave);
    SettingsReset();
    return run;
}

void WholeJob(benchmark::State& state) {
    const PairFiles& pair = Pair();
    double peak = 0.0;
    std::string output;
    for (auto _ : state) {
        ResetPeakMemory();
        const JobRun run = RunJob(pair);
        peak = std::max(peak, PeakMemoryMiB());
        if (!run.outcome.outputWritten) state.SkipWithError(run.outcome.error.c_str());
        state.counters["points"] = static_cast<double>(run.slavePoints.size());
        output = run.outcome.outputFile;
    }
    // The verdict on the output is part of every job above; timed once more on its own to
    // show its share.
    const std::int64_t checkStart = TickCountMs();
    const AlignmentCheck check = CheckSynchronisedFile(output);
    state.counters["check_s"] = static_cast<double>(TickCountMs() - checkStart) / 1000.0;
    if (!check.inStep) state.SkipWithError(CheckDetails(check).c_str());
    state.counters["audio_s"] = kSeconds;
    state.counters["realtime_x"] =
        benchmark::Counter(kSeconds * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
    state.counters["inputs_MiB"] = pair.megabytes;
    state.counters["peak_MiB"] = peak;
    state.counters["peak_limit_MiB"] = 2.5 * pair.megabytes + 64.0;
}

// Jobs of two kinds alternating, five each (three left the ratio swinging by 0.15 on a
// shared machine); the median wall times and their ratio.
template <typename Job>
void Alternating(benchmark::State& state, const char* first, const char* second, Job job) {
    for (auto _ : state) {
        std::vector<double> seconds[2];
        constexpr int kRuns = 5;
        for (int run = 0; run < kRuns; ++run)
            for (const int kind : {0, 1}) {
                const JobRun r = job(kind == 1);
                if (!r.outcome.outputWritten) {
                    state.SkipWithError(r.outcome.error.c_str());
                    return;
                }
                seconds[kind].push_back(static_cast<double>(r.outcome.elapsedMs) / 1000.0);
            }
        for (auto& v : seconds) std::sort(v.begin(), v.end());
        state.counters[std::string(first) + "_s"] = seconds[0][kRuns / 2];
        state.counters[std::string(second) + "_s"] = seconds[1][kRuns / 2];
        state.counters["ratio_x"] = seconds[1][kRuns / 2] / seconds[0][kRuns / 2];
    }
}

// The 48 kHz / 24-bit pair against the 44.1 kHz / 16-bit one.
void DeepRateAgainstCd(benchmark::State& state) {
    const PairFiles& cd = Pair();
    const PairFiles& deep = DeepPair();
    Alternating(state, "cd", "deep", [&](bool second) { return RunJob(second ? deep : cd); });
}

// The band-limited output (sub-frame points, the smooth map, the windowed sinc) against
// whole frames and linear interpolation.
void BandLimitedAgainstLinear(benchmark::State& state) {
    const PairFiles& pair = Pair();
    Alternating(state, "linear", "sinc", [&](bool second) { return RunJob(pair, second); });
}

// The job with the coarse track against the segment search alone (and its lock guard),
// both with today's default writer.
void TrackAgainstNoTrack(benchmark::State& state) {
    const PairFiles& pair = Pair();
    Alternating(state, "no_track", "track", [&](bool second) { return RunJob(pair, false, second); });
}

void PlainSearch(const SegmentSearch& q, KWavefile& slave, const std::vector<Frame>& master, SyncProgress&,
                 SearchResult& r) {
    test::ReferenceSearchSegment(q, slave, master, r);
}

void WholeJobAgainstReference(benchmark::State& state) {
    const PairFiles& pair = Pair();
    for (auto _ : state) {
        const JobRun fast = RunJob(pair);
        ReplaceSegmentSearch(PlainSearch);
        const JobRun plain = RunJob(pair);
        ReplaceSegmentSearch(nullptr);
        if (!fast.outcome.outputWritten || !plain.outcome.outputWritten) {
            state.SkipWithError("a job wrote no output");
            break;
        }
        if (fast.masterPoints != plain.masterPoints || fast.slavePoints != plain.slavePoints) {
            state.SkipWithError("the optimised search found other division points than the plain one");
            break;
        }
        state.counters["points"] = static_cast<double>(fast.slavePoints.size());
        state.counters["job_ratio_x"] =
            static_cast<double>(plain.outcome.elapsedMs) / static_cast<double>(std::max<std::int64_t>(fast.outcome.elapsedMs, 1));
    }
}

double ThreadSeconds() {
    timespec t{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
}

// Thread CPU time of the score kernel variants over the candidate lengths of one length
// search, alternating: seconds[0] plain, [1] vector with division, [2] vector.
void TimeKernels(const std::vector<Frame>& master, KWavefile& slave, const SegmentSearch& q, double seconds[3]) {
    const FrameIndex n = static_cast<FrameIndex>(master.size());
    std::vector<double> left(master.size() + 1 + kStretchPadBack), right(left.size());
    for (std::size_t i = 0; i < master.size(); ++i) {
        left[i + 1] = master[i].left;
        right[i + 1] = master[i].right;
    }
    left[master.size() + 1] = left[master.size()];
    right[master.size() + 1] = right[master.size()];
    WaveImage window;
    slave.MakeWaveImage(q.N, q.P + q.rangeE + 8, window);
    std::vector<double> s(window.frames.size());
    for (std::size_t i = 0; i < s.size(); ++i) s[i] = window.frames[i].left + window.frames[i].right;
    const bool avx512 = Supports(StretchKernel::Avx512);
    const StretchKernel kernels[3] = {StretchKernel::Plain, avx512 ? StretchKernel::Avx512Divide : StretchKernel::Avx2Divide,
                                      avx512 ? StretchKernel::Avx512 : StretchKernel::Avx2};
    double sink = 0.0;
    for (FrameIndex L = q.P - q.N - q.rangeE; L <= q.P - q.N + q.rangeE; L += 4)
        for (int k = 0; k < 3; ++k) {
            if (!Supports(kernels[k])) continue;
            const double t0 = ThreadSeconds();
            sink += StretchScoreWith(kernels[k], left.data() + 1, right.data() + 1, n, L, s.data());
            seconds[k] += ThreadSeconds() - t0;
        }
    benchmark::DoNotOptimize(sink);
}

// Segments spread over the pair: one start point search (offsets and lengths), the rest
// length searches as every later segment runs them; the start point is reported apart.
// Both searches get the same inputs.
void SearchAgainstReference(benchmark::State& state) {
    const PairFiles& pair = Pair();
    const JobParameters p = ParametersForLevel(kLevelNormal, false, ExpertValues{}, 0, 0);
    test::TempDir scratch;
    SettingsReset();
    SettingsOpen(scratch.file("qzv.ini"));
    KWavefile masterFile(pair.master, kPlaceBoth, false);
    KWavefile slaveFile(pair.slave, kPlaceBoth, false);
    SyncProgress progress;
    {
        // Both files are loaded on first use: not part of either search.
        WaveImage warm;
        masterFile.MakeWaveImage(0, 1, warm);
        slaveFile.MakeWaveImage(0, 1, warm);
    }
    const FrameIndex length = p.expert.baseStep * kSampleRate / 10;
    const int segments = static_cast<int>(state.range(0));
    double fastSeconds = 0.0, plainSeconds = 0.0, fastStart = 0.0, plainStart = 0.0;
    double kernelSeconds[3] = {0.0, 0.0, 0.0};
    using Clock = std::chrono::steady_clock;
    for (auto _ : state) {
        for (int k = 0; k < segments; ++k) {
            const FrameIndex J = static_cast<FrameIndex>(kSampleRate) * (2 + k * static_cast<FrameIndex>(kSeconds - 4) / segments);
            const FrameIndex truth = static_cast<FrameIndex>(std::lround(pair.truth.SlavePositionOf(static_cast<double>(J))));
            WaveImage image;
            masterFile.MakeWaveImage(J, J + length, image);
            SegmentSearch q;
            q.J = J;
            q.K = J + length;
            q.rangeS = k == 0 ? p.expert.rangeS : 0;
            q.rangeE = p.expert.rangeE;
            q.N = k == 0 ? truth - 123 : truth;
            q.P = q.N + length;
            q.A = k == 0 ? 1 : 2;
            q.F = 1;
            SearchResult fast, plain;
            const Clock::time_point t0 = Clock::now();
            SearchSegment(q, slaveFile, image.frames, progress, fast);
            const Clock::time_point t1 = Clock::now();
            test::ReferenceSearchSegment(q, slaveFile, image.frames, plain);
            const Clock::time_point t2 = Clock::now();
            (k == 0 ? fastStart : fastSeconds) += std::chrono::duration<double>(t1 - t0).count();
            (k == 0 ? plainStart : plainSeconds) += std::chrono::duration<double>(t2 - t1).count();
            const bool same = fast.bestO == plain.bestO && fast.bestG == plain.bestG && fast.worstO == plain.worstO &&
                              fast.worstG == plain.worstG && std::fabs(fast.best - plain.best) <= 1e-9 * std::fabs(plain.best) &&
                              std::fabs(fast.worst - plain.worst) <= 1e-9 * std::fabs(plain.worst);
            if (!same) {
                state.SkipWithError("the optimised search disagrees with the plain one");
                return;
            }
            if (k > 0) TimeKernels(image.frames, slaveFile, q, kernelSeconds);
        }
    }
    SettingsReset();
    const double runs = static_cast<double>(state.iterations());
    state.counters["segments"] = segments;
    state.counters["fast_ms_per_segment"] = 1000.0 * fastSeconds / ((segments - 1) * runs);
    state.counters["plain_ms_per_segment"] = 1000.0 * plainSeconds / ((segments - 1) * runs);
    state.counters["speedup_x"] = plainSeconds / std::max(fastSeconds, 1e-9);
    state.counters["start_fast_ms"] = 1000.0 * fastStart / runs;
    state.counters["start_plain_ms"] = 1000.0 * plainStart / runs;
    state.counters["start_speedup_x"] = plainStart / std::max(fastStart, 1e-9);
    if (kernelSeconds[2] > 0.0) {
        state.counters["kernel_speedup_x"] = kernelSeconds[0] / kernelSeconds[2];
        state.counters["division_free_gain_x"] = kernelSeconds[1] / kernelSeconds[2];
    }
}

}  // namespace

BENCHMARK(WholeJob)->Unit(benchmark::kSecond)->UseRealTime()->Iterations(3);
BENCHMARK(BandLimitedAgainstLinear)->Unit(benchmark::kSecond)->UseRealTime()->Iterations(1);
BENCHMARK(TrackAgainstNoTrack)->Unit(benchmark::kSecond)->UseRealTime()->Iterations(1);
BENCHMARK(DeepRateAgainstCd)->Unit(benchmark::kSecond)->UseRealTime()->Iterations(1);
BENCHMARK(SearchAgainstReference)->Arg(60)->Unit(benchmark::kSecond)->UseRealTime()->Iterations(1);
BENCHMARK(WholeJobAgainstReference)->Unit(benchmark::kSecond)->UseRealTime()->Iterations(1);
