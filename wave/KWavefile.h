// KWavefile: one opened WAVE file (RIFF/WAVE or RF64/BW64; PCM of 8, 16, 24 or 32 bits or
// IEEE float of 32 or 64 bits, plain or extensible; 8 kHz to 192 kHz; of more than two
// channels the first two are read). Opening parses the header and optionally runs the
// level analysis, whose results are cached in the settings store under the file's own
// path. Frames are handed out as 16-bit stereo (deeper samples scaled to the 16-bit
// range), conditioned (phase inversion, band filter) on the way. The whole data source is
// loaded on the first fetch: a file on disk is mapped from the page cache (read into memory
// where it cannot be mapped).
//
// Unusable files are not errors: DataOffset stays 0 and Problem() says why in words a
// user understands ("compressed audio (A-law, format 0x0006) is not supported"). A file
// that cannot be opened at all throws WaveFileError.
//
// Thread safety: an object belongs to the thread that uses it.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "core/BigBuffer.h"
#include "core/Error.h"
#include "core/MappedFile.h"
#include "core/Types.h"
#include "wave/WaveImage.h"

namespace tandem {

namespace detail {
class ByteSource;
}
class TimeMap;

// ChannelFlags bits.
constexpr std::uint32_t kInvertRight = 0x0400;
constexpr std::uint32_t kRemix = 0x2000;
constexpr std::uint32_t kInvertLeft = 0x4000;

// Mono placement codes: 0 = all into the left channel, 2 = half into each.
constexpr int kPlaceLeft = 0;
constexpr int kPlaceBoth = 2;

// A file's level analysis (CheckData), cached in the file's settings section under
// these names: where the sound starts and ends, its average and peak levels and the
// frames of the left and right peaks. 16-bit units, frames of the file.
struct LevelAnalysis {
    std::int32_t FrontNull = 0, Average = 0, BackNull = 0, Peak = 0, PeakL = 0, PeakR = 0, PeakMono = 0,
                 PointL = 0, PointR = 0, MaxDistance = 0;
};

class KWavefile : public LevelAnalysis {
public:
    // Opens and parses path; throws WaveFileError when it cannot be opened or read.
    KWavefile(const std::string& fileName, int placement, bool analyse);
    // Parses an in-memory file (tests, fuzzing); the bytes become the file image.
    // fileName names the settings section; the analysis cache sees no modification time.
    KWavefile(const std::string& fileName, std::vector<std::uint8_t> bytes, int placement, bool analyse);
    // The same without a copy: the image becomes the file image.
    KWavefile(const std::string& fileName, ByteImage image, int placement, bool analyse);

    KWavefile(const KWavefile&) = delete;
    KWavefile& operator=(const KWavefile&) = delete;

    // Frames are fetched from name from now on ("" = the file itself); releases the image
    // (an in-memory file keeps its own bytes for the way back). The named file is read by
    // its own header. A source that cannot be loaded is not retried until the next call.
    void SetDataSource(const std::string& name);
    // Frames are fetched from image, a whole WAVE file in memory that stands for the file
    // name (read by its own header), from now on; SetDataSource("") goes back.
    void SetDataImage(const std::string& name, ByteImage image);
    // "" -> FileName; otherwise FileName with its extension replaced by ext.
    std::string ChangeExtension(const std::string& ext) const;
    // Fills dest with end - start conditioned stereo frames; 0 <= start <= end <= FrameCount.
    // Returns the number written, 0 when nothing could be read. Frames the data source
    // does not hold (truncated file or copy) come back silent.
    FrameIndex ReadFrames(Frame* dest, FrameIndex start, FrameIndex end);
    // The same at full precision (in the 16-bit range with a fraction), for the output.
    FrameIndex ReadWideFrames(WideFrame* dest, FrameIndex start, FrameIndex end);
    // The same into one array per channel.
    FrameIndex ReadWideChannels(float* left, float* right, FrameIndex start, FrameIndex end);
    // Frames [start, end) where they lie in the loaded file, when those are the frames
    // ReadFrames gives (16-bit stereo, all held, aligned, unfiltered, not inverted), else
    // nullptr: reading them costs no copy. Valid while the file keeps its image.
    const Frame* FramesInPlace(FrameIndex start, FrameIndex end);
    // 1 PeakL, 2 PeakR, 3 PeakMono, anything else Peak.
    int LevelValue(int kind) const;
    // Level analysis with its cache (runs from the constructor when asked).
    void CheckData();
    // Loads the data source now instead of at the first fetch. false when it cannot be
    // loaded (no memory, unreadable, gone); LoadProblem() then says why. Fetches from a
    // source that failed to load come back empty, so a job must check this first.
    bool LoadData() { return loadImage(); }
    // Takes over the image that from (another object on the same file, reading the file
    // itself) has loaded, so that the file is not read twice. false, and nothing taken,
    // when from holds no such image.
    bool AdoptImage(KWavefile& from);
    const std::string& LoadProblem() const { return loadProblem_; }
    // Whether the data source is loaded (mapped or in memory).
    bool HasImage() const { return !mapped_.empty() || !FileImage.empty(); }
    // Whether the file under a mapped data source was truncated or written since it was
    // mapped: frames fetched since may not be the file's. A job checks it before it
    // keeps anything made from them.
    bool ImageChanged() const { return mapped_.Changed(); }
    // The file's modification time (ns) and content fingerprint when it was opened.
    std::int64_t ModifiedNs() const { return modifiedNs_; }
    const std::string& Fingerprint() const { return fingerprint_; }

    // Writes the patched header (the source's first DataOffset bytes, in RIFF form) into
    // buffer, which holds at least DataOffset bytes.
    void MakeHeader(std::uint8_t* buffer, int channels, int bits, int rate, FrameIndex frames,
                    SampleKind kind = SampleKind::Integer) const;
    // Image of frames [start, end); outside the file is silence. Returns the header
    // size, 0 when no image was made (unusable file, no memory, too large for WAVE).
    // keepDepth: a file deeper than 16 bits (KeepsDepth) gives a wide image in its own
    // format; otherwise the image is 16-bit.
    std::size_t MakeWaveImage(FrameIndex start, FrameIndex end, WaveImage& image, bool keepDepth = false);
    // Whether the file's samples are finer than 16-bit frames (24 or 32 bits, float):
    // the output of such a master keeps its format.
    bool KeepsDepth() const { return BitsPerSample > 16 || Kind == SampleKind::Float; }
    // One output segment: the other file's segment resampled onto this (base) file's
    // segment and mixed through MixSettings. Indexes are division point numbers into
    // each file's DivisionPoints (an index past the end reads as 0), -1 the file's start/end. limit: in 0 / +N first N / -N last N base frames; out the frame
    // count. Returns the header size, 0 when nothing was produced. With a map (base frame
    // -> other file's position) the other file is read band-limited at the map's
    // positions instead of linearly between the points; the points still cut the segment.
    // leftOnly: only the left channel and the frame count are wanted; where the mix puts
    // none of the other file there (and the image is 16-bit, the log not shown), the other
    // file is not read and the right channel holds nothing of use.
    std::size_t MakePitchChangedImage(KWavefile& other, int baseStart, int otherStart, int baseEnd,
                                      int otherEnd, int baseNeighbour, int otherNeighbour, int baseVolume,
                                      int otherVolume, FrameIndex* limit, WaveImage& image,
                                      const TimeMap* map = nullptr, bool leftOnly = false);
    // Whether MixSettings put any of the other file into the left channel: where they do
    // not, an image's left channel does not depend on how the other file is read.
    bool MixFeedsOtherLeft() const;

    bool Usable() const { return DataOffset > 0; }
    // Why the file is unusable ("" when usable), or what was repaired while reading.
    const std::string& Problem() const { return problem_; }
    // What is left out of a usable file ("" when nothing): the channels past the second.
    std::string FormatNote() const;

    // Fields, public as callers set the conditioning and mix fields directly.
    ByteImage FileImage;  // an in-memory data source; empty until the first fetch, and for a mapped one
    std::string FileName;
    std::string DataSourceName;
    std::uint16_t FormatTag = 0;
    std::uint16_t Channels = 0;
    std::uint32_t SampleRate = 0;
    std::uint32_t AvgBytesPerSec = 0;
    std::uint16_t BlockAlign = 1;
    std::uint16_t BitsPerSample = 0;
    SampleKind Kind = SampleKind::Integer;  // from the format code or the extensible sub-format
    std::uint16_t ValidBits = 0;            // the extensible header's valid bits, else BitsPerSample
    bool Rf64 = false;                      // RF64/BW64: the sizes stand in a ds64 chunk
    std::int64_t FileSize = 0;
    std::int64_t RiffSize = 0;
    std::int64_t DataOffset = 0;
    FrameIndex FrameCount = 0;  // the frames the file holds, however many its header states
    std::int64_t FmtOffset = 0;
    LevelAnalysis& Levels() { return *this; }
    const LevelAnalysis& Levels() const { return *this; }
    std::int32_t ChannelPlacement = 0;
    std::uint32_t ChannelFlags = 0;
    std::array<std::int32_t, 8> MixSettings{};
    // The file's stored division points, for MakePitchChangedImage; the output writer
    // hands them over from the settings store.
    std::vector<FrameIndex> DivisionPoints;
    float FilterHigh = 0, FilterLow = 0, FilterAttenuation = 0, FilterWidth = 0;

private:
    void parse(const detail::ByteSource& src);
    // The loaded bytes of frames [start, start + n) and how many of them the data source
    // holds; nullptr when nothing could be loaded.
    const std::uint8_t* sourceFrames(FrameIndex start, FrameIndex n, FrameIndex& available);

    bool loadImage();
    bool readImage(int fd, std::int64_t size, const std::string& name);
    bool useSourceLayout();
    void measure(const std::string& section, const std::string& stamp);
    std::string fileBytesText() const;
    std::string fileTimeText() const;
    std::string fileHashText() const;

    // How frames are laid out in the data source now loaded: the file's own format, or
    // the equalised copy's (always 16-bit stereo) after SetDataSource.
    struct Source {
        std::uint16_t channels = 0, bits = 0, blockAlign = 1;
        SampleKind kind = SampleKind::Integer;
        std::int64_t dataOffset = 0, dataBytes = 0;
    };
    Source source_;
    Source ownSource() const;

    std::vector<std::uint8_t> headerBytes_;  // the file's first DataOffset bytes
    std::int64_t modifiedNs_ = 0;            // the file's modification time when opened
    std::string fingerprint_;                // of the content when opened
    bool loadOutOfMemory_ = false;           // the data source did not fit in memory
    std::string problem_;
    bool fromMemory_ = false;
    bool loadFailed_ = false;  // the data source could not be loaded; not tried again
    std::string loadProblem_;
    // An in-memory file's own bytes while its frames come from another data source.
    ByteImage setAside_;
    MappedFile mapped_;  // the data source, where it is a file that could be mapped
    const std::uint8_t* imageData() const { return mapped_.empty() ? FileImage.data() : mapped_.data(); }
    std::size_t imageSize() const { return mapped_.empty() ? FileImage.size() : mapped_.size(); }
};

// What tells one version of a file from another, and its length in its own frames.
// known is false when the file cannot be read or is not a usable WAVE file.
struct FileIdentity {
    bool known = false;
    std::int64_t bytes = 0;
    std::int64_t timeNs = 0;  // modification time in nanoseconds
    std::string hash;         // of the first and last MiB and the size
    FrameIndex frames = 0;
    std::uint32_t rate = 0;
};
FileIdentity IdentifyFile(const std::string& fileName);

// The sample rate in fileName's header; kSampleRate when the file cannot be read or is
// unusable now (whoever reads it next reports that).
std::uint32_t HeaderSampleRate(const std::string& fileName);

}  // namespace tandem
