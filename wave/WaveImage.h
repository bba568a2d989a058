// A WAVE image: a complete WAVE file in memory, the header (the source's own leading
// bytes, patched to 16-bit stereo 44100 Hz and the image's sizes) then the frames.
// Header and frames are held apart so that frames stay aligned whatever the header's
// length (a source with an odd-sized chunk before its data has an odd data offset).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/Types.h"

namespace tandem {

struct WaveImage {
    std::vector<std::uint8_t> header;
    std::vector<Frame> frames;

    std::size_t headerSize() const { return header.size(); }
    FrameIndex frameCount() const { return static_cast<FrameIndex>(frames.size()); }
    // Patches the RIFF size (offset 4) and the data size (last 4 header bytes) for the
    // current frame count. Returns false when the sizes do not fit 32 bits.
    bool patchSizes();
    // Header and frames as one byte string (little-endian samples), as written to disk.
    std::vector<std::uint8_t> bytes() const;
};

}  // namespace tandem
