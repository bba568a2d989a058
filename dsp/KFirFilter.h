// Kaiser-window FIR low-pass / high-pass and the band-limit step on stereo frames.
//
// The design keeps its single-precision arithmetic (pi as 3.141592, a 20-term I0, the
// 301-tap cap) so that equalised copies match those made by earlier versions.
// Filtering shifts the output by the group delay: output k lines up with input k and
// the last (taps - 1) / 2 outputs of a block are not written.
//
// Thread safety: filter objects are not shared; ApplyBandFilter is reentrant.
#pragma once

#include <vector>

#include "core/Types.h"

namespace tandem {

constexpr int kLowPass = 0;
constexpr int kHighPass = 1;

class KFirFilter {
public:
    KFirFilter(int sampleRate, float firstEdge, float secondEdge, float attenuation, int kind);
    virtual ~KFirFilter() = default;

    // Filters n inputs into out (at least n values); outCount := n. Returns the tap
    // count. The history carries over to the next call.
    int Filter(const float* in, FrameIndex n, float* out, FrameIndex& outCount);

    int TapCount() const { return tapCount_; }
    const std::vector<float>& Coefficients() const { return coefficients_; }

private:
    float nyquist_;
    float firstEdge_;
    float secondEdge_;
    float attenuation_;
    int kind_;
    int tapCount_ = 0;
    std::vector<float> coefficients_;
    std::vector<float> history_;
};

// Filters both channels of n frames in place, each from rest, designed for the given
// rate; truncates and saturates to 16 bit; the last (taps - 1) / 2 frames come out 0.
void ApplyBandFilter(Frame* frames, FrameIndex n, float attenuation, float firstEdge, float secondEdge, int kind,
                     int rate = kSampleRate);

}  // namespace tandem
