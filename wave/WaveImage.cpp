#include "wave/WaveImage.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <stdexcept>

#include "core/Clones.h"

namespace tandem {
namespace {

// Inlined into the sample encoders.
inline void putLe(std::uint8_t* p, std::uint64_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

constexpr std::uint64_t kMaxRiffSize = 0xFFFFFFFFull;
constexpr std::size_t kDs64Body = 28;  // RIFF size, data size, sample count (64 bits each), table length

bool hasDs64(const std::uint8_t* header, std::size_t size) {
    return size >= 12 + 8 + kDs64Body && (std::memcmp(header, "RF64", 4) == 0 || std::memcmp(header, "BW64", 4) == 0) &&
           std::memcmp(header + 12, "ds64", 4) == 0;
}

// Integer samples of Bits from wide values in 16-bit units: rounded to nearest, saturated;
// NaN is silence. The scale is a power of two, so the product is exact.
template <int Bits>
[[gnu::always_inline]] inline void encodeIntegers(const float* v, std::size_t n, std::uint8_t* out) {
    constexpr double kScale = static_cast<double>(std::int64_t{1} << (Bits - 1)) / 32768.0;
    constexpr double kTop = static_cast<double>(std::int64_t{1} << (Bits - 1));
    for (std::size_t i = 0; i < n; ++i, out += Bits / 8) {
        const double x = std::nearbyint(static_cast<double>(v[i]) * kScale);
        const std::int64_t s = !(x == x)    ? 0
                               : x >= kTop  ? static_cast<std::int64_t>(kTop) - 1
                               : x < -kTop  ? -static_cast<std::int64_t>(kTop)
                                            : static_cast<std::int64_t>(x);
        putLe(out, static_cast<std::uint64_t>(s), Bits / 8);
    }
}

// Built for the widest instruction set too (clones cannot be templates).
TANDEM_CLONES("avx2")
void encode24(const float* v, std::size_t n, std::uint8_t* out) { encodeIntegers<24>(v, n, out); }
TANDEM_CLONES("avx2")
void encode32(const float* v, std::size_t n, std::uint8_t* out) { encodeIntegers<32>(v, n, out); }

}  // namespace

void PutLe(std::uint8_t* p, std::uint64_t v, int bytes) { putLe(p, v, bytes); }

std::uint64_t GetLe(const std::uint8_t* p, int bytes) {
    std::uint64_t v = 0;
    for (int i = bytes - 1; i >= 0; --i) v = (v << 8) | p[i];
    return v;
}

void SetFormatFields(std::uint8_t* f, std::uint16_t formatTag, int channels, int bits, int rate, SampleKind kind) {
    const std::uint32_t blockAlign = static_cast<std::uint32_t>(channels * (bits / 8));
    const std::uint16_t code = kind == SampleKind::Float ? kFormatFloat : kFormatPcm;
    if (formatTag == kFormatPcm || formatTag == kFormatFloat) putLe(f, code, 2);
    if (formatTag == kFormatExtensible) {
        putLe(f + 18, static_cast<std::uint16_t>(bits), 2);
        putLe(f + 20, channels == 2 ? 0x3 : 0x4, 4);
        putLe(f + 24, code, 2);
    }
    putLe(f + 2, static_cast<std::uint16_t>(channels), 2);
    putLe(f + 4, static_cast<std::uint32_t>(rate), 4);
    putLe(f + 8, blockAlign * static_cast<std::uint32_t>(rate), 4);
    putLe(f + 12, static_cast<std::uint16_t>(blockAlign), 2);
    putLe(f + 14, static_cast<std::uint16_t>(bits), 2);
}

std::vector<std::uint8_t> StereoPcmHeader(std::uint32_t rate, std::uint64_t frames) {
    std::vector<std::uint8_t> h(44, 0);
    std::memcpy(h.data(), "RIFF", 4);
    std::memcpy(h.data() + 8, "WAVEfmt ", 8);
    putLe(h.data() + 16, 16, 4);
    std::memcpy(h.data() + 36, "data", 4);
    SetFormatFields(h.data() + 20, kFormatPcm, 2, 16, static_cast<int>(rate), SampleKind::Integer);
    if (!SetRiffSizes(h.data(), h.size(), 4 * frames, frames)) throw std::length_error("too long for a WAVE file");
    return h;
}

bool GrowRiffSize(std::uint8_t* header, std::uint64_t extraBytes) {
    const std::uint64_t riff = GetLe(header + 4, 4) + extraBytes;
    if (riff > kMaxRiffSize) return false;
    putLe(header + 4, riff, 4);
    return true;
}

bool NeedsRf64(std::size_t headerSize, std::uint64_t dataBytes) { return headerSize + dataBytes - 8 > kMaxRiffSize; }

bool SetRiffSizes(std::uint8_t* header, std::size_t size, std::uint64_t dataBytes, std::uint64_t frames) {
    (void)frames;
    if (size < 12 || NeedsRf64(size, dataBytes)) return false;
    if (std::memcmp(header, "RF64", 4) == 0 || std::memcmp(header, "BW64", 4) == 0) {
        if (hasDs64(header, size)) std::memcpy(header + 12, "JUNK", 4);
        std::memcpy(header, "RIFF", 4);
    }
    putLe(header + 4, size + dataBytes - 8, 4);
    putLe(header + size - 4, dataBytes, 4);
    return true;
}

void SetRf64Sizes(std::vector<std::uint8_t>& header, std::uint64_t dataBytes, std::uint64_t frames) {
    if (!hasDs64(header.data(), header.size())) {
        std::uint8_t ds64[8 + kDs64Body] = {'d', 's', '6', '4'};
        putLe(ds64 + 4, kDs64Body, 4);
        header.insert(header.begin() + 12, ds64, ds64 + sizeof ds64);
    }
    std::memcpy(header.data(), "RF64", 4);
    putLe(header.data() + 4, kMaxRiffSize, 4);
    putLe(header.data() + 20, header.size() + dataBytes - 8, 8);
    putLe(header.data() + 28, dataBytes, 8);
    putLe(header.data() + 36, frames, 8);
    putLe(header.data() + header.size() - 4, kMaxRiffSize, 4);
}

namespace {

// Samples in the 16-bit range with a fraction, coded in the given format.
void encodeSamples(const float* v, std::size_t samples, int bits, SampleKind kind, std::uint8_t* out) {
    if (kind == SampleKind::Float && bits == 32) {
        for (std::size_t i = 0; i < samples; ++i, out += 4) putLe(out, std::bit_cast<std::uint32_t>(v[i] / 32768.0f), 4);
    } else if (kind == SampleKind::Float) {
        for (std::size_t i = 0; i < samples; ++i, out += 8)
            putLe(out, std::bit_cast<std::uint64_t>(static_cast<double>(v[i]) / 32768.0), 8);
    } else if (bits == 24) {
        encode24(v, samples, out);
    } else if (bits == 32) {
        encode32(v, samples, out);
    } else if (bits == 16) {
        for (std::size_t i = 0; i < samples; ++i, out += 2)
            putLe(out, static_cast<std::uint16_t>(static_cast<std::int16_t>(std::clamp(std::nearbyint(v[i]), -32768.0f, 32767.0f))), 2);
    } else {  // 8-bit offset binary
        for (std::size_t i = 0; i < samples; ++i)
            out[i] = static_cast<std::uint8_t>(std::clamp(std::nearbyint(v[i] / 256.0f), -128.0f, 127.0f) + 128.0f);
    }
}

}  // namespace

void EncodeWideFrames(const WideFrame* frames, std::size_t n, int bits, SampleKind kind, std::uint8_t* out) {
    static_assert(sizeof(WideFrame) == 2 * sizeof(float), "a wide frame is its two samples");
    encodeSamples(&frames->left, 2 * n, bits, kind, out);
}

void EncodeFrames(const WideFrame* frames, std::size_t n, int channels, int bits, SampleKind kind, std::uint8_t* out) {
    if (channels == 2) {
        encodeSamples(&frames->left, 2 * n, bits, kind, out);
        return;
    }
    std::vector<float> left(n);
    for (std::size_t i = 0; i < n; ++i) left[i] = frames[i].left;
    encodeSamples(left.data(), n, bits, kind, out);
}

bool WaveImage::patchSizes() {
    const std::uint64_t n = static_cast<std::uint64_t>(frameCount());
    return SetRiffSizes(header.data(), header.size(), n * static_cast<std::uint64_t>(bytesPerFrame()), n);
}

std::vector<std::uint8_t> WaveImage::frameBytes() const {
    static_assert(std::endian::native == std::endian::little, "frames are stored as they lie in memory");
    std::vector<std::uint8_t> out(static_cast<std::size_t>(frameCount()) * static_cast<std::size_t>(bytesPerFrame()));
    if (isWide())
        EncodeWideFrames(wide.data(), wide.size(), bits, kind, out.data());
    else if (!frames.empty())
        std::memcpy(out.data(), frames.data(), 4 * frames.size());
    return out;
}

std::vector<std::uint8_t> WaveImage::bytes() const {
    std::vector<std::uint8_t> out = header;
    const std::vector<std::uint8_t> data = frameBytes();
    out.insert(out.end(), data.begin(), data.end());
    return out;
}

}  // namespace tandem
