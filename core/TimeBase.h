// The search's tuning counts time in frames at 44.1 kHz (0.1 s = 4410 frames, a range
// of 300 frames, 64 frames either side of an end). A TimeBase takes such a count at a
// file's own rate, rounded to the nearest frame; at 44.1 kHz every count is kept exactly.
//
// Thread safety: a plain value.
#pragma once

#include <cmath>
#include <cstdint>

#include "core/Types.h"

namespace tandem {

// frames counted at fromRate, counted at toRate: the nearest frame, halves away from
// zero, exact integer arithmetic (|frames| below 2^44 at rates up to 1 MHz).
constexpr FrameIndex RescaleFrames(FrameIndex frames, std::int64_t fromRate, std::int64_t toRate) {
    if (fromRate == toRate || fromRate <= 0 || toRate <= 0) return frames;
    const std::int64_t magnitude = frames < 0 ? -frames : frames;
    const std::int64_t scaled = (2 * magnitude * toRate + fromRate) / (2 * fromRate);
    return frames < 0 ? -scaled : scaled;
}

class TimeBase {
public:
    // rate 0 (a file not parsed) counts as 44.1 kHz.
    constexpr explicit TimeBase(std::uint32_t rate) : rate_(rate > 0 ? rate : kSampleRate) {}

    constexpr std::uint32_t Rate() const { return rate_; }
    // frames44 frames at 44.1 kHz, at this rate.
    constexpr FrameIndex Frames(FrameIndex frames44) const { return RescaleFrames(frames44, kSampleRate, rate_); }
    // A fractional count of 44.1 kHz frames, unrounded.
    constexpr double Scale(double frames44) const { return frames44 * rate_ / kSampleRate; }
    // Tenths of a second (lead-ins, the division interval).
    constexpr FrameIndex Tenths(FrameIndex tenths) const { return Frames(tenths * kTenthFrames); }
    FrameIndex Seconds(double seconds) const { return std::llround(seconds * rate_); }
    double ToSeconds(FrameIndex frames) const { return static_cast<double>(frames) / rate_; }

private:
    std::uint32_t rate_;
};

}  // namespace tandem
