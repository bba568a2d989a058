// Inputs the WAVE fuzz target found faults with, kept as they were found.
#include <climits>

#include "wave/WaveFixture.h"

namespace tandem::test {
namespace {

class WaveFuzzRegression : public WaveFixture {
protected:
    template <std::size_t N>
    static std::vector<std::uint8_t> Bytes(const unsigned char (&b)[N]) {
        return std::vector<std::uint8_t>(b, b + N);
    }
};

// 16-bit stereo, an 18-byte fmt chunk, a data chunk stating 0x78 bytes of which 16 are there.
const unsigned char kShortStereo[] = {
    0x52, 0x49, 0x46, 0x46, 0x9e, 0x00, 0x00, 0x00, 0x57, 0x41, 0x56, 0x45, 0x66, 0x6d, 0x74, 0x20, 0x12, 0x00,
    0x00, 0x00, 0x01, 0x00, 0x02, 0x00, 0x44, 0xac, 0x00, 0x00, 0x10, 0xb1, 0x02, 0x00, 0x04, 0x00, 0x10, 0x00,
    0x00, 0x00, 0x64, 0x61, 0x74, 0x61, 0x78, 0x00, 0x00, 0x00, 0x80, 0xc1, 0x30, 0xd6, 0xd0, 0xff, 0x80, 0x14,
    0x20, 0x3e, 0xd0, 0xd5, 0x70, 0xff, 0x20, 0x14};

TEST_F(WaveFuzzRegression, empty_span_at_the_top_of_the_frame_range_is_refused_without_overflow) {
    KWavefile w("/fuzz/base.wav", Bytes(kShortStereo), kPlaceBoth, false);
    ASSERT_TRUE(w.Usable());
    EXPECT_EQ(w.FrameCount, 4) << "the 16 bytes there, not the 0x78 stated";
    WaveImage image;
    // An empty span becomes one frame: start + 1 overflowed at the end of the range.
    EXPECT_EQ(w.MakeWaveImage(INT64_MAX, INT64_MAX - 2, image), 0u);
    EXPECT_EQ(w.MakeWaveImage(INT64_MAX, INT64_MAX, image), 0u);
    EXPECT_TRUE(image.frames.empty());
    EXPECT_EQ(alerts.size(), 2u) << "each refusal is told";
    ASSERT_EQ(w.MakeWaveImage(3, 3, image), 46u) << "the one frame of an empty span inside the file";
    EXPECT_EQ(image.frameCount(), 1);
    EXPECT_EQ(image.frames[0].left, -144) << "bytes 70 ff";
}

}  // namespace
}  // namespace tandem::test
