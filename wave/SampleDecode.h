// Decoding the sample data of every layout Tandem reads (PCM of 8 to 32 bits, float of
// 32 and 64 bits, any number of channels) into 16-bit or full-precision stereo frames.
#pragma once

#include <cstdint>

#include "core/Types.h"
#include "wave/WaveImage.h"

namespace tandem {

inline std::uint16_t Le16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | p[1] << 8); }
inline std::uint32_t Le32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

// The first two channels of n frames at p (blockAlign bytes each). A mono sample goes to
// the left channel only (placeLeft) or, halved, to both. Deeper integers keep their top
// 16 bits in 16-bit frames; floats are rounded down and saturated there; a float that is
// not finite is silence.
void DecodeFrames(const std::uint8_t* p, FrameIndex n, int channels, int bits, int blockAlign, SampleKind kind, bool placeLeft,
                  Frame* dest);
void DecodeFrames(const std::uint8_t* p, FrameIndex n, int channels, int bits, int blockAlign, SampleKind kind, bool placeLeft,
                  WideFrame* dest);

}  // namespace tandem
