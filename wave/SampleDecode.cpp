// Samples of every readable layout as 16-bit or full-precision frames.
#include "wave/SampleDecode.h"

#include <bit>
#include <cmath>
#include <cstring>
#include <type_traits>

#include "core/Clones.h"

namespace tandem {
namespace {

// A float sample, 32 or 64 bits, in the 16-bit range (x 32768).
template <int Bits>
double floatSample(const std::uint8_t* p) {
    if constexpr (Bits == 32)
        return static_cast<double>(std::bit_cast<float>(Le32(p))) * 32768.0;
    else
        return std::bit_cast<double>(static_cast<std::uint64_t>(Le32(p)) | static_cast<std::uint64_t>(Le32(p + 4)) << 32) *
               32768.0;
}

// One sample as a 16-bit frame holds it: deeper integers keep their top 16 bits (rounded
// down), floats are rounded down the same way and saturated, so that a 24-bit sample and
// the float holding the same value give the same result.
// As a wide frame holds it: at full precision.
// A float that is not finite (NaN, an infinity) is silence in both.
template <typename Out, int Bits, bool IsFloat>
auto sampleOf(const std::uint8_t* p) {
    constexpr bool kWide = std::is_same_v<Out, WideFrame>;
    if constexpr (IsFloat) {
        const double x = floatSample<Bits>(p);
        if constexpr (kWide) {
            return std::isfinite(x) ? static_cast<float>(x) : 0.0f;
        } else {
            if (!std::isfinite(x)) return std::int16_t{0};
            const double f = std::floor(x);
            if (!(f > -32768.0)) return std::int16_t{-32768};
            return f >= 32767.0 ? std::int16_t{32767} : static_cast<std::int16_t>(f);
        }
    } else if constexpr (Bits == 8) {
        return static_cast<std::conditional_t<kWide, float, std::int16_t>>((p[0] - 128) * 256);
    } else if constexpr (!kWide || Bits == 16) {
        return static_cast<std::conditional_t<kWide, float, std::int16_t>>(static_cast<std::int16_t>(Le16(p + Bits / 8 - 2)));
    } else if constexpr (Bits == 24) {
        const auto v = static_cast<std::int32_t>(static_cast<std::uint32_t>(p[0]) << 8 | static_cast<std::uint32_t>(p[1]) << 16 |
                                                 static_cast<std::uint32_t>(p[2]) << 24);
        return static_cast<float>(v >> 8) / 256.0f;  // v's low byte is 0: the shift is exact
    } else {
        return static_cast<float>(static_cast<double>(static_cast<std::int32_t>(Le32(p))) / 65536.0);
    }
}

// Stereo frames packed without padding: the common case, with the stride known to the
// compiler.
template <typename Out, int Bits, bool IsFloat>
[[gnu::always_inline]] inline void decodePackedStereo(const std::uint8_t* p, FrameIndex n, Out* dest) {
    constexpr int kBytes = Bits / 8;
    FrameIndex i = 0;
    if constexpr (!std::is_same_v<Out, WideFrame> && !IsFloat && Bits > 16) {
        // A 16-bit frame of deeper integers is each sample's top two bytes.
        static_assert(std::endian::native == std::endian::little && sizeof(Frame) == 4);
        auto* out = reinterpret_cast<std::uint8_t*>(dest);
        for (; i < n; ++i, p += 2 * kBytes, out += 4) {
            out[0] = p[kBytes - 2];
            out[1] = p[kBytes - 1];
            out[2] = p[2 * kBytes - 2];
            out[3] = p[2 * kBytes - 1];
        }
        return;
    } else if constexpr (Bits == 24 && !IsFloat) {
        static_assert(std::endian::native == std::endian::little);
        // One 8-byte load per 6-byte frame: every frame but the last has the next one's
        // bytes behind it.
        for (; i + 1 < n; ++i, p += 6) {
            std::uint64_t w;
            std::memcpy(&w, p, 8);  // little-endian, as the file
            const std::int32_t l = static_cast<std::int32_t>(static_cast<std::uint32_t>(w) << 8) >> 8;
            const std::int32_t r = static_cast<std::int32_t>(static_cast<std::uint32_t>(w >> 24) << 8) >> 8;
            dest[i] = Out{static_cast<float>(l) / 256.0f, static_cast<float>(r) / 256.0f};
        }
    }
    for (; i < n; ++i, p += 2 * kBytes)
        dest[i] = Out{sampleOf<Out, Bits, IsFloat>(p), sampleOf<Out, Bits, IsFloat>(p + kBytes)};
}

// The 24-bit loops built for the widest instruction set too (clones cannot be templates).
TANDEM_CLONES("avx2")
void decodePacked24(const std::uint8_t* p, FrameIndex n, Frame* dest) { decodePackedStereo<Frame, 24, false>(p, n, dest); }
TANDEM_CLONES("avx2")
void decodePacked24(const std::uint8_t* p, FrameIndex n, WideFrame* dest) {
    decodePackedStereo<WideFrame, 24, false>(p, n, dest);
}

template <typename Out, int Bits, bool IsFloat>
void decodeAs(const std::uint8_t* p, FrameIndex n, int channels, int align, bool placeLeft, Out* dest) {
    constexpr int kBytes = Bits / 8;
    if (channels == 2 && align == 2 * kBytes) {
        if constexpr (Bits == 24 && !IsFloat)
            return decodePacked24(p, n, dest);
        else
            return decodePackedStereo<Out, Bits, IsFloat>(p, n, dest);
    }
    for (FrameIndex i = 0; i < n; ++i, p += align) {
        auto l = sampleOf<Out, Bits, IsFloat>(p);
        auto r = channels >= 2 ? sampleOf<Out, Bits, IsFloat>(p + kBytes) : l;
        if (channels == 1) {
            if (placeLeft) {
                r = 0;
            } else {
                // A 16-bit frame's half truncates toward zero.
                l = static_cast<decltype(l)>(l / 2);
                r = l;
            }
        }
        dest[i] = Out{l, r};
    }
}

// The first two channels of n frames of any readable layout, as 16-bit or wide frames;
// a mono sample is placed as the placement code says.
template <typename Out>
void decodeFrames(const std::uint8_t* p, FrameIndex n, int channels, int bits, int blockAlign, SampleKind kind,
                  bool placeLeft, Out* dest) {
    if (kind == SampleKind::Float) {
        if (bits == 64)
            decodeAs<Out, 64, true>(p, n, channels, blockAlign, placeLeft, dest);
        else
            decodeAs<Out, 32, true>(p, n, channels, blockAlign, placeLeft, dest);
        return;
    }
    switch (bits) {
        case 8: decodeAs<Out, 8, false>(p, n, channels, blockAlign, placeLeft, dest); break;
        case 16: decodeAs<Out, 16, false>(p, n, channels, blockAlign, placeLeft, dest); break;
        case 24: decodeAs<Out, 24, false>(p, n, channels, blockAlign, placeLeft, dest); break;
        default: decodeAs<Out, 32, false>(p, n, channels, blockAlign, placeLeft, dest); break;
    }
}

}  // namespace

void DecodeFrames(const std::uint8_t* p, FrameIndex n, int channels, int bits, int blockAlign, SampleKind kind, bool placeLeft,
                  Frame* dest) {
    decodeFrames(p, n, channels, bits, blockAlign, kind, placeLeft, dest);
}

void DecodeFrames(const std::uint8_t* p, FrameIndex n, int channels, int bits, int blockAlign, SampleKind kind, bool placeLeft,
                  WideFrame* dest) {
    decodeFrames(p, n, channels, bits, blockAlign, kind, placeLeft, dest);
}

}  // namespace tandem
