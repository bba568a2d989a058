// Whole synchronisation jobs on generated pairs: analysis, search and output writing.
// Reports the realtime factor (seconds of audio per second of wall time).
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>

#include "common/TestWave.h"
#include "core/ProgramFolder.h"
#include "settings/Settings.h"
#include "sync/KSyncThread.h"
#include "sync/SyntheticPair.h"

namespace {

using namespace tandem;

void WholeJob(benchmark::State& state) {
    const double seconds = static_cast<double>(state.range(0));
    test::TempDir dir;
    ::setenv("XDG_CONFIG_HOME", dir.path().c_str(), 1);
    SyntheticPairSpec spec;
    spec.seconds = seconds;
    const SyntheticPair pair = MakeSyntheticPair(spec);
    const std::string master = dir.file("master.wav"), slave = dir.file("slave.wav");
    WriteStereoWave(master, pair.master);
    WriteStereoWave(slave, pair.slave);

    for (auto _ : state) {
        state.PauseTiming();
        SettingsReset();
        std::filesystem::remove(dir.file("qzv.ini"));
        SetProgramFolder(dir.path());
        SettingsOpen(dir.file("qzv.ini"));
        SyncJob job;
        SyncProgress progress;
        state.ResumeTiming();
        // 普: division every 0.2 s, start range 800, length range 200, one division per search.
        KSyncThread thread(job, progress, master, slave, 2, 0, 0, 800, 200, 0, 0, 0, 0, kModeSingle);
        const JobOutcome outcome = thread.Execute();
        if (!outcome.outputWritten) state.SkipWithError(outcome.error.c_str());
    }
    SettingsReset();
    state.counters["audio_s"] = seconds;
    state.counters["realtime_x"] =
        benchmark::Counter(seconds * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

}  // namespace

BENCHMARK(WholeJob)->Arg(600)->Unit(benchmark::kSecond)->UseRealTime()->Iterations(1);
