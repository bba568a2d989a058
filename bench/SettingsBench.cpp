// A synchronisation job of about an hour stores ~40,000 division points in the section of
// its slave file, one or two keys per segment, while the file already holds as many.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <fstream>
#include <string>

#include "common/TestWave.h"
#include "settings/Settings.h"

namespace {

constexpr int kKeys = 40000;
const std::string kSection = "/music/slave.wav";

void writeFileWithKeys(const std::string& path) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << "[TandemEnv]\nMODE=1\n[" << kSection << "]\n";
    for (int i = 0; i < kKeys; ++i) out << "DP" << i << '=' << i * 4410 << '\n';
    out << "[/music/other.wav]\nCount=0\n";
}

// Each iteration: kKeys new keys in the section that holds kKeys, then a flush.
void BM_WriteIntIntoLargeSectionThenFlush(benchmark::State& state) {
    tandem::test::TempDir dir;
    ::setenv("XDG_CONFIG_HOME", dir.path().c_str(), 1);
    const std::string ini = dir.file("qzv.ini");
    for (auto _ : state) {
        state.PauseTiming();
        tandem::SettingsReset();
        writeFileWithKeys(ini);
        tandem::SettingsOpen(ini);
        benchmark::DoNotOptimize(tandem::SettingsReadInt(kSection, "DP0", 0));
        state.ResumeTiming();

        for (int i = 0; i < kKeys; ++i) tandem::SettingsWriteInt(kSection, "DP" + std::to_string(kKeys + i), i);
        if (!tandem::SettingsFlush()) state.SkipWithError("flush failed");
    }
    tandem::SettingsReset();
    state.SetItemsProcessed(state.iterations() * kKeys);
}
BENCHMARK(BM_WriteIntIntoLargeSectionThenFlush)->Unit(benchmark::kMillisecond)->Iterations(5);

// The same count of writes, each overwriting a stored key (a job that is run again).
void BM_OverwriteIntInLargeSectionThenFlush(benchmark::State& state) {
    tandem::test::TempDir dir;
    ::setenv("XDG_CONFIG_HOME", dir.path().c_str(), 1);
    const std::string ini = dir.file("qzv.ini");
    tandem::SettingsReset();
    writeFileWithKeys(ini);
    tandem::SettingsOpen(ini);
    int round = 0;
    for (auto _ : state) {
        ++round;
        for (int i = 0; i < kKeys; ++i) tandem::SettingsWriteInt(kSection, "DP" + std::to_string(i), i + round);
        if (!tandem::SettingsFlush()) state.SkipWithError("flush failed");
    }
    tandem::SettingsReset();
    state.SetItemsProcessed(state.iterations() * kKeys);
}
BENCHMARK(BM_OverwriteIntInLargeSectionThenFlush)->Unit(benchmark::kMillisecond)->Iterations(5);

// Reading every stored point back, as the output writer does.
void BM_ReadIntFromLargeSection(benchmark::State& state) {
    tandem::test::TempDir dir;
    ::setenv("XDG_CONFIG_HOME", dir.path().c_str(), 1);
    const std::string ini = dir.file("qzv.ini");
    tandem::SettingsReset();
    writeFileWithKeys(ini);
    tandem::SettingsOpen(ini);
    for (auto _ : state) {
        long long sum = 0;
        for (int i = 0; i < kKeys; ++i) sum += tandem::SettingsReadInt(kSection, "DP" + std::to_string(i), 0);
        benchmark::DoNotOptimize(sum);
    }
    tandem::SettingsReset();
    state.SetItemsProcessed(state.iterations() * kKeys);
}
BENCHMARK(BM_ReadIntFromLargeSection)->Unit(benchmark::kMillisecond)->Iterations(5);

}  // namespace
