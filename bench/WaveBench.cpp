// The WAVE engine's per-frame paths: format conversion on fetch, the level analysis pass
// and the resampled mix of one segment (the output writer runs it over a whole file twice).
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "common/TestWave.h"
#include "settings/Settings.h"
#include "wave/KWavefile.h"

namespace {

using tandem::Frame;
using tandem::FrameIndex;
using tandem::KWavefile;

constexpr FrameIndex kMinute = 60 * 44100;

std::vector<Frame> music(FrameIndex frames, unsigned seed) {
    const std::vector<double> signal = tandem::test::MusicLike(frames, seed);
    std::vector<Frame> out(signal.size());
    for (std::size_t i = 0; i < signal.size(); ++i)
        out[i] = Frame{tandem::test::ToSample(signal[i]), tandem::test::ToSample(-0.7 * signal[i])};
    return out;
}

// A scratch settings store for the division points and the analysis cache.
struct Store {
    tandem::test::TempDir dir;
    Store() {
        ::setenv("XDG_CONFIG_HOME", dir.path().c_str(), 1);
        tandem::SettingsReset();
        tandem::SettingsOpen(dir.file("qzv.ini"));
    }
    ~Store() { tandem::SettingsReset(); }
};

void BM_ReadFrames8BitMono(benchmark::State& state) {
    tandem::test::WaveSpec spec;
    spec.channels = 1;
    spec.bits = 8;
    std::vector<std::uint8_t> data(static_cast<std::size_t>(kMinute));
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i * 7);
    KWavefile wave("/bench/m8.wav", tandem::test::MakeWaveBytes(spec, data), tandem::kPlaceBoth, false);
    std::vector<Frame> out(static_cast<std::size_t>(kMinute));
    for (auto _ : state) {
        benchmark::DoNotOptimize(wave.ReadFrames(out.data(), 0, kMinute));
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kMinute);
}
BENCHMARK(BM_ReadFrames8BitMono)->Unit(benchmark::kMillisecond);

void BM_CheckDataOneMinute(benchmark::State& state) {
    Store store;
    KWavefile wave("/bench/a.wav", tandem::test::StereoWave(music(kMinute, 3)), tandem::kPlaceBoth, false);
    for (auto _ : state) {
        tandem::SettingsWriteText(wave.FileName, "Date", "stale");  // measure, do not take the cache
        wave.CheckData();
        benchmark::DoNotOptimize(wave.Average);
    }
    state.SetItemsProcessed(state.iterations() * kMinute);
}
BENCHMARK(BM_CheckDataOneMinute)->Unit(benchmark::kMillisecond);

// One minute of master mixed with a slave segment 1 % longer.
void BM_MakePitchChangedImageOneMinute(benchmark::State& state) {
    Store store;
    const FrameIndex slaveFrames = kMinute + kMinute / 100;
    KWavefile master("/bench/master.wav", tandem::test::StereoWave(music(kMinute + 100, 1)), tandem::kPlaceBoth, false);
    KWavefile slave("/bench/slave.wav", tandem::test::StereoWave(music(slaveFrames + 100, 2)), tandem::kPlaceBoth, false);
    master.DivisionPoints = {0, kMinute};
    slave.DivisionPoints = {0, slaveFrames};
    master.ChannelFlags = tandem::kRemix;
    master.MixSettings = {100, -90, 100, -90, 100, 90, 100, 90};
    for (auto _ : state) {
        tandem::WaveImage image;
        if (master.MakePitchChangedImage(slave, 0, 0, 1, 1, 1, 1, 1000, 1000, nullptr, image) == 0)
            state.SkipWithError("no image");
        benchmark::DoNotOptimize(image.frames.data());
    }
    state.SetItemsProcessed(state.iterations() * kMinute);
}
BENCHMARK(BM_MakePitchChangedImageOneMinute)->Unit(benchmark::kMillisecond);

}  // namespace
