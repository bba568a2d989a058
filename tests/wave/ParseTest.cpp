#include <bit>
#include <limits>

#include "core/EnglishMessages.h"
#include "core/Log.h"
#include "wave/WaveFixture.h"

// Layouts are written as designated initializers of WaveSpec that name only what differs.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace tandem::test {
namespace {

std::vector<std::uint8_t> listChunk(std::size_t bodySize) {
    std::vector<std::uint8_t> c;
    c.reserve(8 + bodySize);
    putId(c, "LIST");
    put32(c, static_cast<std::uint32_t>(bodySize));
    for (std::size_t i = 0; i < bodySize; ++i) c.push_back(static_cast<std::uint8_t>('a' + i % 26));
    return c;
}

// Refusals are checked in their English words, the translation tandem-cli shows.
class WaveParse : public WaveFixture {
protected:
    void SetUp() override {
        WaveFixture::SetUp();
        SetMessageTranslator(MessageLanguage::English, EnglishMessageText);
    }
    void TearDown() override {
        SetMessageTranslator(MessageLanguage::Japanese, nullptr);
        WaveFixture::TearDown();
    }
    KWavefile open(const std::vector<std::uint8_t>& bytes) { return KWavefile(dir.file("t.wav"), bytes, kPlaceBoth, false); }
};

TEST_F(WaveParse, plain_16bit_stereo_logs_its_chunks_and_counts_frames) {
    StartLog();
    KWavefile w(write("plain.wav", StereoWave(Ramp(100))), kPlaceBoth, false);
    const std::vector<std::string> log = LogLines();
    HideLog();
    EXPECT_TRUE(w.Usable()) << w.Problem();
    EXPECT_EQ(w.DataOffset, 44);
    EXPECT_EQ(w.FmtOffset, 20);
    EXPECT_EQ(w.FrameCount, 100);
    EXPECT_EQ(w.BlockAlign, 4);
    EXPECT_EQ(w.FileSize, 444);
    ASSERT_EQ(log.size(), 5u);
    EXPECT_EQ(log[0], "●open " + dir.file("plain.wav"));
    EXPECT_EQ(log[1], "  RIFF size=0x01B4");
    EXPECT_EQ(log[2], "  WAVE-fmt  size=0x0010");
    EXPECT_EQ(log[3], "  format=1  16bits  2ch  44100Hz");
    EXPECT_EQ(log[4], "  WAVE-data size=0x0190");
}

TEST_F(WaveParse, chunks_before_data_are_skipped_odd_ones_with_or_without_pad) {
    WaveSpec spec;
    spec.extraChunk = listChunk(10);
    KWavefile even = open(MakeWaveBytes(spec, std::vector<std::uint8_t>(40, 0)));
    EXPECT_EQ(even.DataOffset, 44 + 18);
    EXPECT_EQ(even.FrameCount, 10);

    spec.extraChunk = listChunk(7);  // odd, no pad byte: the next chunk follows at once
    KWavefile unpadded = open(MakeWaveBytes(spec, std::vector<std::uint8_t>(40, 0)));
    EXPECT_EQ(unpadded.DataOffset, 44 + 15);
    EXPECT_TRUE(unpadded.Usable());

    spec.extraChunk = listChunk(7);
    spec.extraChunk.push_back(0);  // odd with the pad byte RIFF asks for
    KWavefile padded = open(MakeWaveBytes(spec, std::vector<std::uint8_t>(40, 0)));
    EXPECT_TRUE(padded.Usable()) << padded.Problem();
    EXPECT_EQ(padded.DataOffset, 44 + 16);
}

struct Broken {
    const char* what;
    std::vector<std::uint8_t> bytes;
    const char* reason;
};

TEST_F(WaveParse, unusable_files_say_why_and_never_read) {
    std::vector<Broken> cases;
    cases.push_back({"empty", {}, "empty"});
    cases.push_back({"short", {'R', 'I', 'F', 'F'}, "too short"});
    std::vector<std::uint8_t> b = StereoWave(Ramp(10));
    b[0] = 'X';
    cases.push_back({"not riff", b, "not a RIFF/WAVE"});
    const auto refused = [&](const char* what, WaveSpec spec, std::size_t bytes, const char* reason) {
        cases.push_back({what, MakeWaveBytes(spec, std::vector<std::uint8_t>(bytes)), reason});
    };
    refused("12 bit", {.bits = 12}, 60, "12-bit PCM samples are not supported");
    refused("4 kHz", {.rate = 4000}, 40, "sample rate of 4000 Hz is not supported (8000 to 192000 Hz are)");
    refused("384 kHz", {.rate = 384000}, 40, "384000 Hz is not supported");
    refused("16-bit float", {.formatTag = 3}, 40, "16-bit float samples are not supported");
    refused("a-law", {.bits = 8, .formatTag = 6}, 40, "compressed audio (A-law, format 0x0006) is not supported");
    refused("mp3", {.formatTag = 0x55}, 40, "MPEG Layer 3 (MP3)");
    refused("unknown", {.formatTag = 0x1234}, 40, "format 0x1234 is not supported (only PCM and IEEE float are)");
    refused("extensible a-law", {.bits = 8, .formatTag = 6, .extensible = true}, 40, "extensible WAVE with A-law samples");
    refused("no channels", {.channels = 0}, 40, "the file has no channels");
    b = MakeWaveBytes({.extensible = true}, std::vector<std::uint8_t>(40));
    b[50] = 0x11;  // not the GUID tail of a format code
    cases.push_back({"unknown sub-format", b, "unknown sub-format"});
    b = MakeWaveBytes({.extensible = true}, std::vector<std::uint8_t>(40));
    b[16] = 18;  // extensible fmt of 18 bytes: the rest reads as a chunk
    cases.push_back({"short extensible", b, "extensible fmt chunk is too short (18 bytes)"});
    b = StereoWave(Ramp(10));
    b[32] = 0;  // block align 0
    b[33] = 0;
    cases.push_back({"align 0", b, "block align (0)"});
    b = StereoWave(Ramp(10));
    b[32] = 3;  // odd block align
    cases.push_back({"align 3", b, "block align (3)"});
    b = StereoWave(Ramp(10));
    b[16] = 12;  // fmt chunk of 12 bytes
    cases.push_back({"short fmt", b, "fmt chunk is too short"});
    WaveSpec huge;
    huge.extraChunk = listChunk(4);
    huge.extraChunk[4] = 0xff;  // LIST size far past the end
    huge.extraChunk[7] = 0x7f;
    cases.push_back({"chunk past end", MakeWaveBytes(huge, std::vector<std::uint8_t>(40)), "runs past the end"});
    b = StereoWave(Ramp(10));
    b.resize(36);  // no data chunk
    cases.push_back({"no data", b, "no data chunk"});

    for (const Broken& c : cases) {
        KWavefile w = open(c.bytes);
        EXPECT_FALSE(w.Usable()) << c.what;
        EXPECT_EQ(w.DataOffset, 0) << c.what;
        EXPECT_NE(w.Problem().find(c.reason), std::string::npos) << c.what << ": " << w.Problem();
        Frame f[4];
        EXPECT_EQ(w.ReadFrames(f, 0, 4), 0) << c.what;
        WaveImage image;
        EXPECT_EQ(w.MakeWaveImage(0, 10, image), 0u) << c.what;
    }
}

TEST_F(WaveParse, riff_size_zero_or_absurd_does_not_hide_the_data) {
    WaveSpec withList;
    withList.extraChunk = listChunk(6);
    for (std::uint32_t riff : {0u, 0xFFFFFFF0u}) {
        std::vector<std::uint8_t> b = MakeWaveBytes(withList, RawStereo(Ramp(10)));
        b[4] = riff & 0xff;
        b[5] = (riff >> 8) & 0xff;
        b[6] = (riff >> 16) & 0xff;
        b[7] = (riff >> 24) & 0xff;
        KWavefile w = open(b);
        EXPECT_TRUE(w.Usable()) << riff;
        EXPECT_EQ(w.DataOffset, 44 + 14) << riff;
        EXPECT_EQ(w.FrameCount, 10);
        EXPECT_EQ(Fetch(w, 9, 10)[0].left, 100);
    }
}

TEST_F(WaveParse, data_size_past_end_reads_as_silence) {
    std::vector<std::uint8_t> b = StereoWave(Ramp(10));
    b[40] = 0xff;  // data chunk claims 0xFF*... bytes
    b[41] = 0x01;
    KWavefile w = open(b);
    ASSERT_TRUE(w.Usable());
    EXPECT_EQ(w.FrameCount, 10) << "only the frames the file holds count";
    const std::vector<Frame> f = Fetch(w, 8, 20);
    EXPECT_EQ(f[0].left, 90);
    EXPECT_EQ(f[1].left, 100);
    for (std::size_t i = 2; i < f.size(); ++i) EXPECT_TRUE(f[i].left == 0 && f[i].right == 0) << i;
}

TEST_F(WaveParse, eight_bit_and_mono_are_converted_and_placed) {
    WaveSpec mono8;
    mono8.channels = 1;
    mono8.bits = 8;
    const std::vector<std::uint8_t> bytes8 = MakeWaveBytes(mono8, {0, 128, 255, 1});
    KWavefile both(dir.file("m8.wav"), bytes8, kPlaceBoth, false);
    std::vector<Frame> f = Fetch(both, 0, 4);
    EXPECT_EQ(f[0].left, -16384);
    EXPECT_EQ(f[0].right, -16384);
    EXPECT_EQ(f[1].left, 0);
    EXPECT_EQ(f[2].left, 16256);
    EXPECT_EQ(f[3].right, -16256);
    KWavefile leftOnly(dir.file("m8.wav"), bytes8, kPlaceLeft, false);
    f = Fetch(leftOnly, 0, 3);
    EXPECT_EQ(f[0].left, -32768);
    EXPECT_EQ(f[0].right, 0);
    EXPECT_EQ(f[2].left, 32512);

    WaveSpec stereo8;
    stereo8.bits = 8;
    KWavefile s8(dir.file("s8.wav"), MakeWaveBytes(stereo8, {0, 255, 128, 129}), kPlaceBoth, false);
    f = Fetch(s8, 0, 2);
    EXPECT_EQ(f[0].left, -32768);
    EXPECT_EQ(f[0].right, 32512);
    EXPECT_EQ(f[1].left, 0);
    EXPECT_EQ(f[1].right, 256);

    WaveSpec mono16;
    mono16.channels = 1;
    std::vector<std::uint8_t> d;
    put16(d, static_cast<std::uint16_t>(-1001));
    put16(d, 3000);
    KWavefile m16(dir.file("m16.wav"), MakeWaveBytes(mono16, d), kPlaceBoth, false);
    f = Fetch(m16, 0, 2);
    EXPECT_EQ(f[0].left, -500) << "halves truncate toward zero";
    EXPECT_EQ(f[1].right, 1500);
}

TEST_F(WaveParse, inversion_flags_negate_each_channel) {
    std::vector<Frame> frames{{100, -200}, {-32768, 32767}};
    KWavefile w(dir.file("i.wav"), StereoWave(frames), kPlaceBoth, false);
    w.ChannelFlags = kInvertLeft;
    std::vector<Frame> f = Fetch(w, 0, 2);
    EXPECT_EQ(f[0].left, -100);
    EXPECT_EQ(f[0].right, -200);
    EXPECT_EQ(f[1].left, -32768) << "16-bit negation keeps -32768";
    w.ChannelFlags = kInvertRight;
    f = Fetch(w, 0, 2);
    EXPECT_EQ(f[0].left, 100);
    EXPECT_EQ(f[0].right, 200);
    EXPECT_EQ(f[1].right, -32767);
}

TEST_F(WaveParse, change_extension_replaces_the_last_extension_of_the_name) {
    KWavefile w(dir.file("take.1.wav"), StereoWave(Ramp(2)), kPlaceBoth, false);
    EXPECT_EQ(w.ChangeExtension(""), dir.file("take.1.wav"));
    EXPECT_EQ(w.ChangeExtension(".log"), dir.file("take.1.log"));
    KWavefile plain("/a.b/noext", StereoWave(Ramp(2)), kPlaceBoth, false);
    EXPECT_EQ(plain.ChangeExtension(".wav"), "/a.b/noext.wav");
}

TEST_F(WaveParse, missing_file_throws_with_its_name) {
    try {
        KWavefile w(dir.file("missing.wav"), kPlaceBoth, false);
        FAIL() << "no exception";
    } catch (const WaveFileError& e) {
        EXPECT_NE(std::string(e.what()).find("missing.wav"), std::string::npos);
    }
}

TEST_F(WaveParse, data_before_fmt_and_truncated_fmt_are_unusable) {
    std::vector<std::uint8_t> b;
    putId(b, "RIFF");
    put32(b, 28);
    putId(b, "WAVE");
    putId(b, "data");
    put32(b, 8);
    put32(b, 0x01000100);
    put32(b, 0x01000100);
    KWavefile dataFirst = open(b);
    EXPECT_FALSE(dataFirst.Usable()) << "no format to read the frames by";
    EXPECT_NE(dataFirst.Problem().find("before the fmt chunk"), std::string::npos) << dataFirst.Problem();

    std::vector<std::uint8_t> cut = StereoWave(Ramp(4));
    cut.resize(30);  // ends inside the fmt body
    KWavefile truncated = open(cut);
    EXPECT_FALSE(truncated.Usable());
    EXPECT_NE(truncated.Problem().find("fmt chunk runs past the end"), std::string::npos) << truncated.Problem();
}

TEST_F(WaveParse, sizes_near_4gib_are_kept_wide_and_images_beyond_32_bits_refused) {
    std::vector<std::uint8_t> b = StereoWave(Ramp(10));
    b[40] = 0xF0;  // data size 0xFFFFFFF0
    b[41] = b[42] = b[43] = 0xFF;
    KWavefile w = open(b);
    ASSERT_TRUE(w.Usable());
    const FrameIndex stated = 0xFFFFFFF0LL / 4;
    EXPECT_EQ(w.FrameCount, 10);
    EXPECT_NE(w.Problem().find("only the frames the file holds are read"), std::string::npos) << w.Problem();

    WaveImage image;
    EXPECT_EQ(w.MakeWaveImage(0, stated, image), 0u) << "44 + 0xFFFFFFF0 - 8 bytes do not fit the RIFF size";
    ASSERT_EQ(alerts.size(), 1u);
    EXPECT_EQ(alerts[0], MessageText(Msg::ImageTooLarge, 0, stated));
    EXPECT_EQ(w.MakeWaveImage(-(FrameIndex{1} << 62), 10, image), 0u) << "no overflow on absurd spans";

    ASSERT_EQ(w.MakeWaveImage(stated - 3, stated, image), 44u);
    for (const Frame& f : image.frames) EXPECT_TRUE(f.left == 0 && f.right == 0);
    EXPECT_EQ(U32(image.header, 40), 12u);
}

TEST_F(WaveParse, frames_past_the_data_chunk_are_silent_not_the_next_chunk) {
    std::vector<std::uint8_t> b = StereoWave(Ramp(4));
    const std::vector<std::uint8_t> trailer = listChunk(32);
    b.insert(b.end(), trailer.begin(), trailer.end());
    KWavefile w = open(b);
    ASSERT_EQ(w.FrameCount, 4);
    std::vector<Frame> f(8, Frame{1, 1});
    ASSERT_EQ(w.ReadFrames(f.data(), 2, 10), 8);
    EXPECT_EQ(f[1].left, 40);
    for (std::size_t i = 2; i < f.size(); ++i) EXPECT_TRUE(f[i].left == 0 && f[i].right == 0) << i;
}

// Raw samples, little-endian, of any width.
void putSample(std::vector<std::uint8_t>& b, std::uint64_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}
std::uint64_t f32(float x) { return std::bit_cast<std::uint32_t>(x); }
std::uint64_t f64(double x) { return std::bit_cast<std::uint64_t>(x); }

struct Layout {
    const char* what;
    WaveSpec spec;
    std::vector<std::uint64_t> samples;  // interleaved, spec.bits wide
    std::vector<Frame> expected;         // as fetched with placement "both"
};

TEST_F(WaveParse, deeper_extensible_float_rf64_and_multichannel_layouts_read_as_16_bit_frames) {
    const std::uint64_t nan = f32(std::numeric_limits<float>::quiet_NaN());
    const float inf = std::numeric_limits<float>::infinity();
    const std::vector<Layout> layouts = {
        {"48 kHz", {.rate = 48000}, {0x1234, 0xFFFF}, {{0x1234, -1}}},
        {"extensible 16", {.extensible = true}, {0x1234, 0x8000}, {{0x1234, -32768}}},
        {"24 bit", {.bits = 24, .rate = 96000}, {0x123456, 0xFFFFFF, 0x800000, 0x7FFFFF}, {{0x1234, -1}, {-32768, 32767}}},
        {"24 bit mono, odd chunk", {.channels = 1, .bits = 24, .extraChunk = {'L', 'I', 'S', 'T', 1, 0, 0, 0, 'x'}},
         {0x123456, 0xFEDCBA}, {{0x1234 / 2, 0x1234 / 2}, {-0x0124 / 2, -0x0124 / 2}}},
        {"32 bit", {.bits = 32}, {0x12345678, 0x80000000}, {{0x1234, -32768}}},
        {"24 in 32, extensible", {.bits = 32, .extensible = true, .validBits = 24}, {0x12345600, 0xFFFFFF00}, {{0x1234, -1}}},
        {"float 32", {.bits = 32, .formatTag = 3}, {f32(0.5f), f32(-1.0f), f32(1.5f), nan, f32(-inf), f32(inf)},
         {{16384, -32768}, {32767, 0}, {0, 0}}},
        {"float 64, extensible", {.bits = 64, .formatTag = 3, .extensible = true}, {f64(-0.25), f64(1.0 / 65536)},
         {{-8192, 0}}},
        {"float rounds down like 24 bit", {.bits = 32, .formatTag = 3}, {f32(-1.0f / 65536), f32(0x123456 / 8388608.0f)},
         {{-1, 0x1234}}},
        {"6 channels: the first two", {.channels = 6, .bits = 24}, {0x000100, 0x000200, 0x7FFFFF, 4, 5, 6}, {{1, 2}}},
        {"RF64", {.rf64 = true}, {0x1111, 0x2222, 0x3333, 0x4444}, {{0x1111, 0x2222}, {0x3333, 0x4444}}},
    };
    for (const Layout& c : layouts) {
        std::vector<std::uint8_t> data;
        for (std::uint64_t v : c.samples) putSample(data, v, c.spec.bits / 8);
        KWavefile w = open(MakeWaveBytes(c.spec, data));
        ASSERT_TRUE(w.Usable()) << c.what << ": " << w.Problem();
        EXPECT_TRUE(w.Problem().empty()) << c.what << ": " << w.Problem();
        EXPECT_EQ(w.SampleRate, static_cast<std::uint32_t>(c.spec.rate)) << c.what;
        EXPECT_EQ(w.Rf64, c.spec.rf64) << c.what;
        EXPECT_EQ(w.FormatNote().empty(), c.spec.channels <= 2) << c.what;
        ASSERT_EQ(w.FrameCount, static_cast<FrameIndex>(c.expected.size())) << c.what;
        const std::vector<Frame> f = Fetch(w, 0, w.FrameCount);
        for (std::size_t i = 0; i < f.size(); ++i) {
            EXPECT_EQ(f[i].left, c.expected[i].left) << c.what << " frame " << i;
            EXPECT_EQ(f[i].right, c.expected[i].right) << c.what << " frame " << i;
        }
    }
}

}  // namespace
}  // namespace tandem::test
