#include "wave/FrameSums.h"

#include <cstdint>
#include <bit>
#include <cstddef>
#include <cstring>

#include "core/Clones.h"

namespace tandem {
namespace {

// Each frame read as one 32-bit word (left in the low half, as Frame lays it out on a
// little-endian machine), so that the loop vectorises as shifts instead of a
// de-interleave of 16-bit lanes.
std::int32_t wordAt(const Frame* f, std::size_t k) {
    std::int32_t word;
    std::memcpy(&word, reinterpret_cast<const unsigned char*>(f) + 4 * k, 4);
    return word;
}
std::int32_t leftOf(std::int32_t word) { return static_cast<std::int32_t>(static_cast<std::uint32_t>(word) << 16) >> 16; }

TANDEM_CLONES("avx512f", "avx2")
void sums(const Frame* f, std::size_t n, float scale, float* out) {
    for (std::size_t k = 0; k < n; ++k) {
        const std::int32_t word = wordAt(f, k);
        out[k] = scale * static_cast<float>(leftOf(word) + (word >> 16));
    }
}

TANDEM_CLONES("avx512f", "avx2")
void doubleSums(const Frame* f, std::size_t n, double* out) {
    for (std::size_t k = 0; k < n; ++k) {
        const std::int32_t word = wordAt(f, k);
        out[k] = static_cast<double>(leftOf(word) + (word >> 16));
    }
}

TANDEM_CLONES("avx512f", "avx2")
void apart(const Frame* f, std::size_t n, double* left, double* right) {
    for (std::size_t k = 0; k < n; ++k) {
        const std::int32_t word = wordAt(f, k);
        left[k] = static_cast<double>(leftOf(word));
        right[k] = static_cast<double>(word >> 16);
    }
}

}  // namespace

static_assert(std::endian::native == std::endian::little && sizeof(Frame) == 4 && offsetof(Frame, left) == 0 &&
              offsetof(Frame, right) == 2);

void ChannelSums(const Frame* f, std::size_t n, float* out) { sums(f, n, 1.0f, out); }
void ChannelMeans(const Frame* f, std::size_t n, float* out) { sums(f, n, 0.5f, out); }
void ChannelSums(const Frame* f, std::size_t n, double* out) { doubleSums(f, n, out); }
void ChannelsApart(const Frame* f, std::size_t n, double* left, double* right) { apart(f, n, left, right); }

}  // namespace tandem
