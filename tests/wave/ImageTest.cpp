#include <bit>
#include <cmath>

#include "wave/WaveFixture.h"

// Layouts are written as designated initializers of WaveSpec that name only what differs.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace tandem::test {
namespace {

class WaveImageTest : public WaveFixture {};

TEST_F(WaveImageTest, image_header_is_patched_for_its_span) {
    KWavefile w(write("p.wav", StereoWave(Ramp(44100))), kPlaceBoth, false);
    WaveImage image;
    ASSERT_EQ(w.MakeWaveImage(0, 44100, image), 44u);
    const std::vector<std::uint8_t> b = image.bytes();
    EXPECT_EQ(b.size(), 44u + 4 * 44100);
    EXPECT_EQ(U32(b, 4), 44u + 4 * 44100 - 8);
    EXPECT_EQ(U32(b, 40), 4u * 44100);

    image = WaveImage{};
    ASSERT_EQ(w.MakeWaveImage(5, 5, image), 44u);
    ASSERT_EQ(image.frameCount(), 1) << "an empty span gives one frame";
    EXPECT_EQ(image.frames[0].left, 60);
}

TEST_F(WaveImageTest, spans_outside_the_file_are_silent) {
    KWavefile w(write("p.wav", StereoWave(Ramp(300))), kPlaceBoth, false);
    WaveImage image;
    ASSERT_NE(w.MakeWaveImage(-100, 100, image), 0u);
    ASSERT_EQ(image.frameCount(), 200);
    for (int i = 0; i < 100; ++i) EXPECT_EQ(image.frames[static_cast<std::size_t>(i)].left, 0);
    EXPECT_EQ(image.frames[100].left, 10);
    EXPECT_EQ(image.frames[199].left, 1000);

    ASSERT_NE(w.MakeWaveImage(290, 310, image), 0u);
    ASSERT_EQ(image.frameCount(), 20);
    EXPECT_EQ(image.frames[9].left, 3000);
    for (int i = 10; i < 20; ++i) EXPECT_EQ(image.frames[static_cast<std::size_t>(i)].left, 0);
    EXPECT_EQ(U32(image.header, 40), 80u);
}

TEST_F(WaveImageTest, eight_bit_mono_source_gives_a_16bit_stereo_header_and_keeps_its_list_chunk) {
    WaveSpec spec;
    spec.channels = 1;
    spec.bits = 8;
    putId(spec.extraChunk, "LIST");
    put32(spec.extraChunk, 4);
    putId(spec.extraChunk, "INFO");
    KWavefile w(write("m8.wav", MakeWaveBytes(spec, {0, 64, 128, 192})), kPlaceBoth, false);
    WaveImage image;
    ASSERT_EQ(w.MakeWaveImage(0, 4, image), 56u);
    EXPECT_EQ(U16(image.header, 22), 2) << "channels";
    EXPECT_EQ(U32(image.header, 24), 44100u);
    EXPECT_EQ(U32(image.header, 28), 4u * 44100) << "bytes per second";
    EXPECT_EQ(U16(image.header, 32), 4) << "block align";
    EXPECT_EQ(U16(image.header, 34), 16) << "bits";
    EXPECT_EQ(std::string(image.header.begin() + 36, image.header.begin() + 48), std::string("LIST\x04\0\0\0INFO", 12));
    EXPECT_EQ(image.frames[1].left, -8192);
    EXPECT_EQ(image.frames[1].right, -8192);
}

TEST_F(WaveImageTest, data_source_is_read_by_its_own_format_and_short_copies_are_padded) {
    WaveSpec spec;
    spec.channels = 1;
    spec.bits = 8;
    KWavefile w(write("mono.wav", MakeWaveBytes(spec, std::vector<std::uint8_t>(50, 200))), kPlaceBoth, false);
    // The copy is 16-bit stereo and shorter than the file.
    std::vector<Frame> copy = Ramp(20);
    const std::string copyPath = write("mono_EQ(0,1000).wav", StereoWave(copy));
    w.SetDataSource(copyPath);
    std::vector<Frame> f = Fetch(w, 0, 30);
    for (int i = 0; i < 20; ++i) {
        EXPECT_EQ(f[static_cast<std::size_t>(i)].left, copy[static_cast<std::size_t>(i)].left) << i;
        EXPECT_EQ(f[static_cast<std::size_t>(i)].right, copy[static_cast<std::size_t>(i)].right) << i;
    }
    for (int i = 20; i < 30; ++i) EXPECT_EQ(f[static_cast<std::size_t>(i)].left, 0);
    w.SetDataSource("");
    f = Fetch(w, 0, 1);
    EXPECT_EQ(f[0].left, (200 - 128) * 256 / 2) << "back on its own samples";
}

TEST_F(WaveImageTest, span_wholly_before_the_file_is_silence) {
    KWavefile w(write("p.wav", StereoWave(Ramp(10))), kPlaceBoth, false);
    WaveImage image;
    ASSERT_EQ(w.MakeWaveImage(-50, -10, image), 44u);
    ASSERT_EQ(image.frameCount(), 40);
    for (const Frame& f : image.frames) EXPECT_TRUE(f.left == 0 && f.right == 0);
    EXPECT_EQ(U32(image.header, 4), 44u + 160 - 8);
}

TEST_F(WaveImageTest, sixteen_bit_mono_copy_is_read_as_stereo_and_an_in_memory_file_comes_back) {
    WaveSpec spec;
    spec.channels = 1;
    std::vector<std::uint8_t> d;
    for (int i = 0; i < 40; ++i) put16(d, static_cast<std::uint16_t>(1000 + i));
    KWavefile w(dir.file("mono16.wav"), MakeWaveBytes(spec, d), kPlaceLeft, false);
    const std::vector<Frame> copy = Ramp(40, 3);
    w.SetDataSource(write("mono16_EQ.wav", StereoWave(copy)));
    std::vector<Frame> f = Fetch(w, 10, 20);
    EXPECT_EQ(f[0].left, copy[10].left);
    EXPECT_EQ(f[0].right, copy[10].right) << "the copy's right channel, not a placed mono sample";
    EXPECT_EQ(f[9].left, copy[19].left);
    w.SetDataSource("");
    f = Fetch(w, 10, 11);
    EXPECT_EQ(f[0].left, 1010);
    EXPECT_EQ(f[0].right, 0);
}

TEST_F(WaveImageTest, missing_data_source_reads_nothing_until_switched_back) {
    KWavefile w(write("p.wav", StereoWave(Ramp(10))), kPlaceBoth, false);
    w.SetDataSource(dir.file("gone_EQ.wav"));
    Frame f[2];
    EXPECT_EQ(w.ReadFrames(f, 0, 2), 0);
    EXPECT_EQ(w.ReadFrames(f, 0, 2), 0);
    w.SetDataSource("");
    EXPECT_EQ(Fetch(w, 1, 2)[0].left, 20);
}

// Images of sources in other layouts have headers that read back as what they hold:
// 16-bit PCM at the source's rate, or (keeping the depth) the source's own format; an
// RF64 source's image is plain RIFF with its ds64 chunk turned into JUNK.
TEST_F(WaveImageTest, images_of_deeper_extensible_and_rf64_sources_read_back_as_what_they_hold) {
    const std::vector<WaveSpec> sources = {
        {.bits = 24, .rate = 96000, .extensible = true},
        {.channels = 1, .bits = 32, .rate = 48000, .formatTag = 3},
        {.bits = 64, .rate = 8000, .formatTag = 3, .extensible = true},
        {.channels = 6, .bits = 32, .rate = 192000, .rf64 = true},
    };
    for (const WaveSpec& spec : sources) {
        std::vector<std::uint8_t> data;
        for (int i = 0; i < 20 * spec.channels; ++i) {
            const double x = 0.6 * std::sin(0.3 * i) + 1e-6;
            if (spec.formatTag == 3 && spec.bits == 32) put32(data, std::bit_cast<std::uint32_t>(static_cast<float>(x)));
            else if (spec.formatTag == 3) for (int k = 0; k < 8; ++k) data.push_back(static_cast<std::uint8_t>(std::bit_cast<std::uint64_t>(x) >> (8 * k)));
            else for (int k = 0; k < spec.bits / 8; ++k) data.push_back(static_cast<std::uint8_t>(std::lround(x * 2147483647.0) >> (32 - spec.bits + 8 * k)));
        }
        KWavefile w(dir.file("src.wav"), MakeWaveBytes(spec, data), kPlaceBoth, false);
        ASSERT_TRUE(w.Usable()) << w.Problem();
        for (const bool keepDepth : {false, true}) {
            const std::string what = std::to_string(spec.bits) + (spec.formatTag == 3 ? " float" : " int") +
                                     (keepDepth ? " kept" : " as 16");
            WaveImage image;
            ASSERT_EQ(w.MakeWaveImage(0, 20, image, keepDepth), static_cast<std::size_t>(w.DataOffset)) << what;
            KWavefile back(dir.file("image.wav"), image.bytes(), kPlaceBoth, false);
            ASSERT_TRUE(back.Usable()) << what << ": " << back.Problem();
            EXPECT_TRUE(back.Problem().empty()) << what << ": " << back.Problem();
            EXPECT_FALSE(back.Rf64) << what;
            EXPECT_EQ(back.SampleRate, w.SampleRate) << what;
            EXPECT_EQ(back.Channels, 2) << what;
            EXPECT_EQ(back.BitsPerSample, keepDepth ? w.BitsPerSample : 16) << what;
            EXPECT_EQ(back.Kind, keepDepth ? w.Kind : SampleKind::Integer) << what;
            ASSERT_EQ(back.FrameCount, 20) << what;
            std::vector<WideFrame> a(20), b(20);
            w.ReadWideFrames(a.data(), 0, 20);
            back.ReadWideFrames(b.data(), 0, 20);
            const std::vector<Frame> narrow = Fetch(w, 0, 20);
            for (std::size_t i = 0; i < 20; ++i) {
                EXPECT_EQ(b[i].left, keepDepth ? a[i].left : narrow[i].left) << what << " frame " << i;
                EXPECT_EQ(b[i].right, keepDepth ? a[i].right : narrow[i].right) << what << " frame " << i;
            }
        }
    }
}

TEST_F(WaveImageTest, rf64_sizes_add_a_ds64_chunk_that_reads_back) {
    KWavefile w(write("p.wav", StereoWave(Ramp(10))), kPlaceBoth, false);
    WaveImage image;
    ASSERT_EQ(w.MakeWaveImage(0, 10, image), 44u);
    SetRf64Sizes(image.header, 40, 10);
    ASSERT_EQ(image.header.size(), 44u + 36u);
    EXPECT_EQ(U32(image.header, 4), 0xFFFFFFFFu);
    EXPECT_EQ(U32(image.header, image.header.size() - 4), 0xFFFFFFFFu);
    KWavefile back(dir.file("rf64.wav"), image.bytes(), kPlaceBoth, false);
    ASSERT_TRUE(back.Usable()) << back.Problem();
    EXPECT_TRUE(back.Rf64);
    EXPECT_EQ(back.FrameCount, 10);
    EXPECT_EQ(back.DataOffset, 80);
    EXPECT_EQ(Fetch(back, 9, 10)[0].left, 100);
    EXPECT_TRUE(NeedsRf64(44, 0xFFFFFFFFull - 35));
    EXPECT_FALSE(NeedsRf64(44, 0xFFFFFFFFull - 36));
}

}  // namespace
}  // namespace tandem::test
