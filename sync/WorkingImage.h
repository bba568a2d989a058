// A slave recorded at another rate than the master is searched and written from a
// working image: the slave converted once to the master's rate, held in memory as a
// WAVE file of its own. The conversion is libsoxr's very high quality (28-bit, linear
// phase), whose filter delay libsoxr takes out, so frame n of the image is the slave
// at time n / rate.
//
// The image carries the slave's file name (its settings section) and the slave's level
// analysis, with the positions in it counted at the new rate. Points found in it are
// stored in the slave's own frames (StoredPoints with both rates).
//
// Thread safety: the files belong to the calling thread.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "core/Types.h"

namespace tandem {

class KWavefile;

// 16-bit stereo frames at fromRate converted to toRate: round(n * toRate / fromRate)
// frames. Throws SyncError when libsoxr fails, std::bad_alloc without memory.
std::vector<Frame> ResampleFrames(const std::vector<Frame>& frames, std::uint32_t fromRate, std::uint32_t toRate);

// The slave's frames (as fetched: placed, unfiltered) converted to rate. Throws SyncError
// when the slave cannot be read, the image would pass 4 GiB or libsoxr fails, and
// std::bad_alloc without memory.
std::unique_ptr<KWavefile> MakeWorkingImage(KWavefile& slave, std::uint32_t rate);

}  // namespace tandem
