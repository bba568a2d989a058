// Frame and position types shared by every module.
#pragma once

#include <cstdint>

namespace tandem {

// Frame positions are signed and 64-bit: positions are subtracted freely (lead-ins,
// offsets that reach before a file's start) and a long file's byte offsets pass 2^31.
using FrameIndex = std::int64_t;

constexpr int kSampleRate = 44100;
constexpr FrameIndex kTenthFrames = 4410;  // 0.1 s, the unit of lead-ins and the division interval

// One stereo instant: left then right, signed 16 bit (a "sample" is one channel's value).
struct Frame {
    std::int16_t left = 0;
    std::int16_t right = 0;
};
static_assert(sizeof(Frame) == 4, "frames are packed 16-bit pairs");

}  // namespace tandem
