// Listening at the skip point: five seconds of a file from its lead-in, band-limited
// with the EQ strip's band, built as an in-memory WAVE image and handed to a player.
//
// The excerpt always spans end - start frames: frames past the end of the file are
// silence, and so are the last frames of the band filters' group delay.
//
// Thread safety: reentrant; the player is called on the calling thread.
#pragma once

#include <string>

#include "core/Types.h"
#include "wave/WaveImage.h"

namespace tandem {

constexpr FrameIndex kExcerptSeconds = 5;

struct FrameSpan {
    FrameIndex start = 0;
    FrameIndex end = 0;
};

// The excerpt of a lead-in of skipCount tenths of a second: [s × 4410, s × 4410 + 220500).
// At another rate than 44100 Hz the tenths and the five seconds are the file's.
FrameSpan SkipPointExcerpt(int skipCount, int rate = kSampleRate);

// Plays an image from memory and returns when it has been played. A player without a
// sound device plays nothing and returns at once.
class ExcerptPlayer {
public:
    virtual ~ExcerptPlayer() = default;
    virtual void Play(const WaveImage& image) = 0;
};

// Builds the image of frames [start, end) of fileName, high-passed at lowHz and
// low-passed at highHz (an edge of 0 or less: no filter), opened with both channels of
// a mono file in the middle and its level analysis. Returns the header size, 0 when no
// image was made (MakeWaveImage). Throws WaveFileError for a file that cannot be opened
// or is unusable.
std::size_t MakeExcerptImage(const std::string& fileName, FrameIndex start, FrameIndex end, int lowHz, int highHz,
                             WaveImage& image);

// Plays the excerpt; start >= end or any failure plays nothing and shows nothing.
void PlayExcerpt(ExcerptPlayer& player, const std::string& fileName, FrameIndex start, FrameIndex end, int lowHz,
                 int highHz);
// btnSoundClick: five seconds of fileName from its lead-in of skipCount tenths, in the
// EQ strip's band as it stands (the job's 100 Hz / 12000 Hz rule does not apply).
void PlaySkipPoint(ExcerptPlayer& player, const std::string& fileName, int skipCount, int bandLow, int bandHigh);

}  // namespace tandem
