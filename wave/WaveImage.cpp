#include "wave/WaveImage.h"

#include <bit>
#include <cstring>

namespace tandem {

bool WaveImage::patchSizes() {
    if (header.size() < 12) return false;
    const std::uint64_t dataBytes = 4 * static_cast<std::uint64_t>(frames.size());
    const std::uint64_t riff = header.size() + dataBytes - 8;
    if (riff > 0xFFFFFFFFull) return false;
    auto put32 = [&](std::size_t at, std::uint32_t v) {
        for (int i = 0; i < 4; ++i) header[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(v >> (8 * i));
    };
    put32(4, static_cast<std::uint32_t>(riff));
    put32(header.size() - 4, static_cast<std::uint32_t>(dataBytes));
    return true;
}

std::vector<std::uint8_t> WaveImage::bytes() const {
    static_assert(std::endian::native == std::endian::little, "frames are stored as they lie in memory");
    std::vector<std::uint8_t> out(header.size() + 4 * frames.size());
    std::memcpy(out.data(), header.data(), header.size());
    if (!frames.empty()) std::memcpy(out.data() + header.size(), frames.data(), 4 * frames.size());
    return out;
}

}  // namespace tandem
