// The channels of 16-bit frames added into one float or double signal (the mono the
// measures correlate), or apart as doubles. Exact: a sum of two 16-bit samples needs 17
// bits of a float's 24.
#pragma once

#include <cstddef>

#include "core/Types.h"

namespace tandem {

// out[k] = left + right of f[k], k < n.
void ChannelSums(const Frame* f, std::size_t n, float* out);
// out[k] = (left + right) / 2.
void ChannelMeans(const Frame* f, std::size_t n, float* out);
// out[k] = left + right of f[k].
void ChannelSums(const Frame* f, std::size_t n, double* out);
// left[k] and right[k] of f[k].
void ChannelsApart(const Frame* f, std::size_t n, double* left, double* right);

}  // namespace tandem
