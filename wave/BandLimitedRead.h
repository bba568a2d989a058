// A file's conditioned frames read band-limited at fractional positions (the windowed
// sinc of dsp/SincResampler.h, stretched for the fastest read rate among them).
//
// Thread safety: as KWavefile; the file must be loaded when several threads read it.
#pragma once

#include <cstddef>

#include "wave/WaveImage.h"

namespace tandem {

class KWavefile;

// out[i] = file's frame at pos[i] (frames of the file), at full precision in the 16-bit
// range; silence where the positions lie outside the file. fastestRate: the largest step
// between neighbouring positions (file frames per output frame).
void ReadAtPositions(KWavefile& file, const double* pos, std::size_t n, double fastestRate, WideFrame* out);
// The same of the channels' mean, at half the cost.
void ReadMonoAtPositions(KWavefile& file, const double* pos, std::size_t n, double fastestRate, float* out);

}  // namespace tandem
