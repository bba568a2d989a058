// A WAVE image: a complete WAVE file in memory, the header (the source's own leading
// bytes, patched to stereo at the source's rate, its format and the image's sizes) then
// the frames. Header and frames are held apart so that frames stay aligned whatever the
// header's length (a source with an odd-sized chunk before its data has an odd data
// offset).
//
// Frames are 16-bit (frames) unless the image keeps a deeper format (24 or 32-bit
// integers, float): then they are wide, in the 16-bit range with a fraction, and are
// coded into that format when written.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/Types.h"

namespace tandem {

// How samples are coded: integers (8-bit offset binary, else signed) or IEEE float.
enum class SampleKind : std::uint8_t { Integer, Float };

// One stereo instant at full precision, scaled like Frame (a 16-bit sample s is s.0, a
// 24-bit sample v is v / 256).
struct WideFrame {
    float left = 0;
    float right = 0;
};

struct WaveImage {
    std::vector<std::uint8_t> header;
    std::vector<Frame> frames;     // 16-bit images
    std::vector<WideFrame> wide;   // deeper images
    int rate = kSampleRate;
    std::uint16_t bits = 16;       // of the samples written
    SampleKind kind = SampleKind::Integer;

    bool isWide() const { return bits != 16 || kind != SampleKind::Integer; }
    std::size_t headerSize() const { return header.size(); }
    FrameIndex frameCount() const { return static_cast<FrameIndex>(isWide() ? wide.size() : frames.size()); }
    int bytesPerFrame() const { return 2 * (bits / 8); }
    // Patches the RIFF size (offset 4) and the data size (last 4 header bytes) for the
    // current frame count. Returns false when the sizes do not fit 32 bits.
    bool patchSizes();
    // The frames as written to disk (little-endian, in the image's format).
    std::vector<std::uint8_t> frameBytes() const;
    // Header and frames as one byte string, as written to disk.
    std::vector<std::uint8_t> bytes() const;
};

// The one writer of WAVE headers: little-endian fields, the fmt chunk's format, RIFF
// and RF64 sizes, and the plain header of a 16-bit stereo file.

// Little-endian fields: the low `bytes` bytes of v at p, and back.
void PutLe(std::uint8_t* p, std::uint64_t v, int bytes);
std::uint64_t GetLe(const std::uint8_t* p, int bytes);

// WAVE format codes.
constexpr std::uint16_t kFormatPcm = 1, kFormatFloat = 3, kFormatExtensible = 0xFFFE;

// Sets the format of the fmt chunk body at fmt (its original format code formatTag) to
// channels of bits at rate. The format code follows the samples written (a float
// source's 16-bit image is PCM); an extensible header says it in its sub-format, with
// its valid bits and speakers.
void SetFormatFields(std::uint8_t* fmt, std::uint16_t formatTag, int channels, int bits, int rate, SampleKind kind);

// The 44-byte header of a plain 16-bit stereo PCM file of frames frames at rate.
// Throws std::length_error when they do not fit 32-bit sizes.
std::vector<std::uint8_t> StereoPcmHeader(std::uint32_t rate, std::uint64_t frames);

// Counts a chunk of extraBytes after the data into the RIFF size. false, nothing
// changed, when the size would not fit 32 bits.
bool GrowRiffSize(std::uint8_t* header, std::uint64_t extraBytes);

// Writes the sizes of a WAVE header whose data chunk holds dataBytes (frames frames) in
// RIFF form: an RF64/BW64 header becomes RIFF with its ds64 chunk turned into JUNK, so
// that its length stays. false, nothing changed, when the sizes do not fit 32 bits.
bool SetRiffSizes(std::uint8_t* header, std::size_t size, std::uint64_t dataBytes, std::uint64_t frames);
// The same in RF64 form, for data past 4 GiB: the header gets a ds64 chunk after "WAVE"
// (36 bytes more) unless it has one, and its 32-bit sizes read 0xFFFFFFFF.
void SetRf64Sizes(std::vector<std::uint8_t>& header, std::uint64_t dataBytes, std::uint64_t frames);
// Whether a header with dataBytes of data needs the RF64 form.
bool NeedsRf64(std::size_t headerSize, std::uint64_t dataBytes);

// Codes wide frames into 24 or 32-bit integers (rounded, saturated) or 32 or 64-bit float.
void EncodeWideFrames(const WideFrame* frames, std::size_t n, int bits, SampleKind kind, std::uint8_t* out);
// Codes frames in any format a file may have (8 to 32-bit integers, rounded and
// saturated, or float), 1 channel (the left) or 2.
void EncodeFrames(const WideFrame* frames, std::size_t n, int channels, int bits, SampleKind kind, std::uint8_t* out);

}  // namespace tandem
