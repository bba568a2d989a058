#include "eq/Excerpt.h"

#include <exception>
#include <new>

#include "wave/KWavefile.h"

namespace tandem {

FrameSpan SkipPointExcerpt(int skipCount, int rate) {
    const FrameIndex start = static_cast<FrameIndex>(skipCount) * rate / 10;
    return {start, start + kExcerptSeconds * rate};
}

std::size_t MakeExcerptImage(const std::string& fileName, FrameIndex start, FrameIndex end, int lowHz, int highHz,
                             WaveImage& image) {
    KWavefile wave(fileName, kPlaceBoth, true);
    if (!wave.Usable()) throw WaveFileError(Msg::NotUsable, fileName, wave.Problem());
    wave.FilterHigh = static_cast<float>(highHz);
    wave.FilterLow = static_cast<float>(lowHz);
    wave.FilterAttenuation = 60.0f;
    wave.FilterWidth = 0.2f;
    return wave.MakeWaveImage(start, end, image);
}

void PlayExcerpt(ExcerptPlayer& player, const std::string& fileName, FrameIndex start, FrameIndex end, int lowHz,
                 int highHz) {
    if (start >= end) return;
    try {
        WaveImage image;
        if (MakeExcerptImage(fileName, start, end, lowHz, highHz, image) == 0) return;
        player.Play(image);
    } catch (const std::exception&) {
        // Listening is a convenience: a failure is silence, never a message.
    }
}

void PlaySkipPoint(ExcerptPlayer& player, const std::string& fileName, int skipCount, int bandLow, int bandHigh) {
    const FrameSpan span = SkipPointExcerpt(skipCount, static_cast<int>(HeaderSampleRate(fileName)));
    PlayExcerpt(player, fileName, span.start, span.end, bandLow, bandHigh);
}

}  // namespace tandem
