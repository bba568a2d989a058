#include "wave/KWavefile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <new>
#include <utility>

#include "core/Alert.h"
#include "core/Clones.h"
#include "core/Fd.h"
#include "core/FileStamp.h"
#include "core/Log.h"
#include "core/Text.h"
#include "dsp/KFirFilter.h"
#include "settings/Settings.h"
#include "wave/SampleDecode.h"

namespace tandem {
namespace {

std::string hex4(std::uint32_t v) {
    char b[16];
    std::snprintf(b, sizeof b, "%04X", v);
    return b;
}

bool printableId(const std::uint8_t* id) {
    for (int i = 0; i < 4; ++i)
        if (id[i] < 0x20 || id[i] > 0x7e) return false;
    return true;
}

// Opens path for reading; throws WaveFileError with the reason.
Fd openOrThrow(const std::string& path, std::int64_t& size, std::int64_t* modifiedNs = nullptr) {
    Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd.valid()) throw WaveFileError(Msg::CannotOpen, path, SystemErrorText(errno));
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) throw WaveFileError(Msg::CannotRead, path, MessageText(Msg::NotRegularFile));
    size = st.st_size;
    if (modifiedNs) *modifiedNs = FileStamp::Of(st).modifiedNs();
    return fd;
}

// "2007/3/9_14:5:38": the modification time, local, with the 2-second resolution of the
// file systems the cache was designed for.
std::string timeText(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return "";
    std::time_t t = st.st_mtime;
    std::tm tm {};
    if (!::localtime_r(&t, &tm)) return "";
    return std::to_string(tm.tm_year + 1900) + "/" + std::to_string(tm.tm_mon + 1) + "/" + std::to_string(tm.tm_mday) +
           "_" + std::to_string(tm.tm_hour) + ":" + std::to_string(tm.tm_min) + ":" + std::to_string(tm.tm_sec / 2 * 2);
}

// The cached analysis: key and field, in the order they are read and written.
constexpr std::pair<const char*, std::int32_t LevelAnalysis::*> kLevelKeys[] = {
    {"Peak", &LevelAnalysis::Peak},          {"PointL", &LevelAnalysis::PointL},
    {"PointR", &LevelAnalysis::PointR},      {"PeakL", &LevelAnalysis::PeakL},
    {"PeakR", &LevelAnalysis::PeakR},        {"PeakMono", &LevelAnalysis::PeakMono},
    {"FrontNull", &LevelAnalysis::FrontNull}, {"BackNull", &LevelAnalysis::BackNull},
    {"Average", &LevelAnalysis::Average},    {"MaxDistance", &LevelAnalysis::MaxDistance},
};

std::int16_t negate16(std::int16_t v) { return v == -32768 ? v : static_cast<std::int16_t>(-v); }

// Levels of a run of frames, in loops the compiler vectorises.
struct RunLevels {
    std::int32_t peakL = 0, peakR = 0, peakMono = 0, maxDistance = 0;
    std::int64_t sumL = 0, sumR = 0;
};

TANDEM_CLONES("avx2")
RunLevels runLevels(const Frame* f, FrameIndex n) {
    RunLevels r;
    std::int32_t peakL = 0, peakR = 0, peakMono = 0, maxDistance = 0;
    std::int64_t sumL = 0, sumR = 0;
    // 32-bit sums over runs of 2^15 frames cannot overflow (each term is at most 2^15),
    // and spare the vectors widening every term to 64 bits (half the loop's work).
    constexpr FrameIndex kRun = FrameIndex{1} << 15;
    for (FrameIndex from = 0; from < n; from += kRun) {
        std::int32_t runL = 0, runR = 0;
        for (FrameIndex i = from; i < std::min(n, from + kRun); ++i) {
            const std::int32_t L = f[i].left, R = f[i].right;
            const std::int32_t aL = L < 0 ? -L : L, aR = R < 0 ? -R : R;
            const std::int32_t m = L + R, d = L - R;
            peakL = std::max(peakL, aL);
            peakR = std::max(peakR, aR);
            peakMono = std::max(peakMono, m < 0 ? -m : m);
            maxDistance = std::max(maxDistance, d < 0 ? -d : d);
            runL += aL;
            runR += aR;
        }
        sumL += runL;
        sumR += runR;
    }
    r.peakL = peakL;
    r.peakR = peakR;
    r.peakMono = peakMono;
    r.maxDistance = maxDistance;
    r.sumL = sumL;
    r.sumR = sumR;
    return r;
}

// Index of the first frame whose left (or right) magnitude is level.
FrameIndex firstAt(const Frame* f, FrameIndex n, std::int32_t level, bool left) {
    for (FrameIndex i = 0; i < n; ++i) {
        const std::int32_t v = left ? f[i].left : f[i].right;
        if ((v < 0 ? -v : v) == level) return i;
    }
    return 0;
}

}  // namespace

namespace detail {

// Reads bytes of a file or of a buffer at absolute offsets.
class ByteSource {
public:
    explicit ByteSource(const std::vector<std::uint8_t>& bytes)
        : bytes_(bytes.data()), memory_(true), size_(static_cast<std::int64_t>(bytes.size())) {}
    explicit ByteSource(const ByteImage& bytes)
        : bytes_(bytes.data()), memory_(true), size_(static_cast<std::int64_t>(bytes.size())) {}
    ByteSource(const std::uint8_t* bytes, std::size_t size)
        : bytes_(bytes), memory_(true), size_(static_cast<std::int64_t>(size)) {}
    ByteSource(int fd, std::int64_t size) : fd_(fd), size_(size) {}

    std::int64_t size() const { return size_; }
    // Reads n bytes at offset; false when they are not all there.
    bool read(std::int64_t offset, std::size_t n, std::uint8_t* out) const {
        if (offset < 0 || offset > size_ || static_cast<std::int64_t>(n) > size_ - offset) return false;
        if (memory_) {
            if (n > 0) std::memcpy(out, bytes_ + offset, n);
            return true;
        }
        std::size_t done = 0;
        while (done < n) {
            const ssize_t got = ::pread(fd_, out + done, n - done, offset + static_cast<std::int64_t>(done));
            if (got < 0 && errno == EINTR) continue;
            if (got <= 0) return false;
            done += static_cast<std::size_t>(got);
        }
        return true;
    }

private:
    const std::uint8_t* bytes_ = nullptr;
    bool memory_ = false;
    int fd_ = -1;
    std::int64_t size_ = 0;
};

// The layout of a WAVE file's sample data, as far as reading frames is concerned.
struct WaveLayout {
    std::uint16_t formatTag = 0, channels = 0, bits = 0, blockAlign = 1;
    std::uint32_t sampleRate = 0, avgBytesPerSec = 0;
    std::int64_t riffSize = 0, fmtOffset = 0, dataOffset = 0, dataBytes = 0;
    SampleKind kind = SampleKind::Integer;
    std::uint16_t validBits = 0;  // the extensible header's valid bits, else bits
    bool rf64 = false;            // RF64/BW64 with its sizes in a ds64 chunk
    std::string problem;  // why unusable, or what was repaired
    bool usable = false;
};

constexpr std::uint32_t kLowestRate = 8000, kHighestRate = 192000;

// Names of the formats Tandem is most often handed and cannot read.
const char* formatName(std::uint16_t tag) {
    switch (tag) {
        case 0x0002: return "Microsoft ADPCM";
        case 0x0006: return "A-law";
        case 0x0007: return "µ-law";
        case 0x0011: return "IMA ADPCM";
        case 0x0031: return "GSM 6.10";
        case 0x0050: return "MPEG";
        case 0x0055: return "MPEG Layer 3 (MP3)";
        case 0x00FF: case 0x1610: return "AAC";
        case 0x0092: return "Dolby AC-3";
        case 0xF1AC: return "FLAC";
        default: return nullptr;
    }
}

std::string tagText(std::uint16_t tag) {
    char b[8];
    std::snprintf(b, sizeof b, "0x%04X", tag);
    return b;
}

// The sample layouts Tandem reads; every refusal of a format is worded here. fmt is the
// chunk's body (size bytes, at least 16). Fills kind and validBits.
std::string formatProblem(WaveLayout& l, const std::uint8_t* fmt, std::int64_t size) {
    std::uint16_t tag = l.formatTag;
    l.validBits = l.bits;
    if (tag == kFormatExtensible) {
        // The sub-format GUID: the real format code followed by a fixed tail.
        static const std::uint8_t kTail[14] = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                                               0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
        if (size < 40) return MessageText(Msg::ExtensibleFmtShort, size);
        if (std::memcmp(fmt + 26, kTail, sizeof kTail) != 0) return MessageText(Msg::ExtensibleUnknown);
        tag = Le16(fmt + 24);
        if (Le16(fmt + 18) != 0) l.validBits = Le16(fmt + 18);
        if (tag != kFormatPcm && tag != kFormatFloat) {
            const char* name = formatName(tag);
            return MessageText(Msg::ExtensibleFormat, name ? name : MessageText(Msg::FormatCode, tagText(tag)));
        }
    }
    if (tag == kFormatFloat) {
        l.kind = SampleKind::Float;
        if (l.bits != 32 && l.bits != 64) return MessageText(Msg::FloatBits, l.bits);
    } else if (tag == kFormatPcm) {
        l.kind = SampleKind::Integer;
        if (l.bits != 8 && l.bits != 16 && l.bits != 24 && l.bits != 32)
            return MessageText(Msg::PcmBits, l.bits);
    } else {
        const char* name = formatName(tag);
        return name ? MessageText(Msg::Compressed, name, tagText(tag)) : MessageText(Msg::UnknownFormat, tagText(tag));
    }
    if (l.validBits == 0 || l.validBits > l.bits) l.validBits = l.bits;
    if (l.channels == 0) return MessageText(Msg::NoChannels);
    if (l.sampleRate < kLowestRate || l.sampleRate > kHighestRate)
        return MessageText(Msg::RateUnsupported, l.sampleRate, kLowestRate, kHighestRate);
    if (l.blockAlign != l.channels * (l.bits / 8))
        return MessageText(Msg::BlockAlign, l.blockAlign, l.channels, l.bits);
    return "";
}

// Walks the chunks. Never trusts a size beyond the source's end; an unusable file gets a
// reason. log: whether to write the trace lines (only for the file itself).
WaveLayout parseLayout(const ByteSource& src, bool log) {
    WaveLayout l;
    std::uint8_t head[12];
    if (!src.read(0, 12, head)) {
        l.problem = MessageText(src.size() == 0 ? Msg::FileEmpty : Msg::NotRiffShort);
        return l;
    }
    l.rf64 = std::memcmp(head, "RF64", 4) == 0 || std::memcmp(head, "BW64", 4) == 0;
    if (std::memcmp(head, "RIFF", 4) != 0 && !l.rf64) {
        l.problem = MessageText(Msg::NotRiff);
        return l;
    }
    l.riffSize = Le32(head + 4);
    if (log) AddLog("  RIFF size=0x" + hex4(static_cast<std::uint32_t>(l.riffSize)));
    if (std::memcmp(head + 8, "WAVE", 4) != 0) {
        l.problem = MessageText(Msg::NoWaveForm);
        return l;
    }
    std::int64_t ds64Data = -1;  // the data size an RF64 file keeps in its ds64 chunk
    bool haveFmt = false;
    std::int64_t pos = 12;
    // The walk is bounded by the file, not by the RIFF size: a RIFF size of 0 or one
    // that is too large is a writer's slip that should not hide the data.
    while (pos + 8 <= src.size()) {
        std::uint8_t ch[8];
        if (!src.read(pos, 8, ch)) break;
        if (!printableId(ch) && pos % 2 == 1) {
            // Writers that pad odd chunks as RIFF requires: step over the pad byte.
            std::uint8_t padded[8];
            if (src.read(pos + 1, 8, padded) && printableId(padded)) {
                ++pos;
                std::memcpy(ch, padded, 8);
            }
        }
        const std::int64_t size = Le32(ch + 4);
        const std::string id(reinterpret_cast<const char*>(ch), 4);
        if (log) AddLog("  WAVE-" + id + " size=0x" + hex4(static_cast<std::uint32_t>(size)));
        const std::int64_t body = pos + 8;
        if (id == "ds64" && l.rf64 && pos == 12) {
            std::uint8_t d[24];
            if (size < 24 || !src.read(body, 24, d)) {
                l.problem = MessageText(Msg::Ds64Short);
                return l;
            }
            const std::uint64_t riff = Le32(d) | static_cast<std::uint64_t>(Le32(d + 4)) << 32;
            const std::uint64_t data = Le32(d + 8) | static_cast<std::uint64_t>(Le32(d + 12)) << 32;
            if (riff > (std::uint64_t{1} << 62) || data > (std::uint64_t{1} << 62)) {
                l.problem = MessageText(Msg::Ds64Impossible);
                return l;
            }
            l.riffSize = static_cast<std::int64_t>(riff);
            ds64Data = static_cast<std::int64_t>(data);
        } else if (id == "fmt ") {
            if (size < 16) {
                l.problem = MessageText(Msg::FmtShort, size);
                return l;
            }
            std::uint8_t f[40] = {};
            if (!src.read(body, static_cast<std::size_t>(std::min<std::int64_t>(size, 40)), f)) {
                l.problem = MessageText(Msg::FmtPastEnd);
                return l;
            }
            l.fmtOffset = body;
            l.formatTag = Le16(f);
            l.channels = Le16(f + 2);
            l.sampleRate = Le32(f + 4);
            l.avgBytesPerSec = Le32(f + 8);
            l.blockAlign = Le16(f + 12);
            l.bits = Le16(f + 14);
            if (log)
                AddLog("  format=" + std::to_string(l.formatTag) + "  " + std::to_string(l.bits) + "bits  " +
                       std::to_string(l.channels) + "ch  " + std::to_string(l.sampleRate) + "Hz");
            l.problem = formatProblem(l, f, size);
            if (!l.problem.empty()) return l;
            haveFmt = true;
        } else if (id == "data") {
            if (!haveFmt) {
                l.problem = MessageText(Msg::DataBeforeFmt);
                return l;
            }
            l.dataOffset = body;
            l.dataBytes = l.rf64 && size == 0xFFFFFFFF && ds64Data >= 0 ? ds64Data : size;
            if (l.riffSize + 8 != src.size()) l.problem = MessageText(Msg::RiffSizeMismatch);
            // A stated size drives every loop over the frames: only what the file holds
            // counts, or a 4 KB file stating 2^40 bytes would be measured for hours.
            const std::int64_t held = std::max<std::int64_t>(0, src.size() - body);
            if (l.dataBytes > held) {
                l.problem = MessageText(Msg::DataShort, l.dataBytes, held);
                l.dataBytes = held;
            }
            l.usable = true;
            return l;
        }
        if (body + size > src.size()) {
            l.problem = MessageText(Msg::ChunkPastEnd, id);
            return l;
        }
        pos = body + size;
    }
    l.problem = MessageText(haveFmt ? Msg::NoDataChunk : Msg::NoFmtChunk);
    return l;
}

// A hash of the first and the last MiB and the size: cheap to take on every open (two
// reads), and it tells a replaced file from the old one even where a copy kept the size
// and the modification time (cp -p).
std::string fingerprintOf(const ByteSource& src) {
    constexpr std::int64_t kPart = std::int64_t{1} << 20;
    const std::int64_t size = src.size();
    const std::int64_t first = std::min(size, kPart);
    const std::int64_t lastStart = std::max(first, size - kPart);
    std::string bytes(static_cast<std::size_t>(first + (size - lastStart)), '\0');
    auto* out = reinterpret_cast<std::uint8_t*>(bytes.data());
    if (!src.read(0, static_cast<std::size_t>(first), out) ||
        !src.read(lastStart, static_cast<std::size_t>(size - lastStart), out + first))
        return {};
    return HashName(bytes + '\n' + std::to_string(size));
}

}  // namespace detail

using detail::ByteSource;
using detail::WaveLayout;
using detail::parseLayout;
using detail::fingerprintOf;

KWavefile::KWavefile(const std::string& fileName, int placement, bool analyse)
    : FileName(fileName), ChannelPlacement(placement) {
    AddLog("●open " + fileName);
    std::int64_t size = 0;
    Fd file(openOrThrow(fileName, size, &modifiedNs_));
    FileSize = size;
    fingerprint_ = fingerprintOf(ByteSource(file.get(), size));
    parse(ByteSource(file.get(), size));
    if (DataOffset > 0) {
        headerBytes_.resize(static_cast<std::size_t>(DataOffset));
        if (!ByteSource(file.get(), size).read(0, headerBytes_.size(), headerBytes_.data()))
            throw WaveFileError(Msg::CannotRead, fileName, SystemErrorText(errno));
    }
    file.reset();
    if (analyse) CheckData();
}

KWavefile::KWavefile(const std::string& fileName, std::vector<std::uint8_t> bytes, int placement, bool analyse)
    : KWavefile(fileName, ByteImage(bytes.begin(), bytes.end()), placement, analyse) {}

KWavefile::KWavefile(const std::string& fileName, ByteImage image, int placement, bool analyse)
    : FileName(fileName), ChannelPlacement(placement), fromMemory_(true) {
    AddLog("●open " + fileName);
    FileSize = static_cast<std::int64_t>(image.size());
    fingerprint_ = fingerprintOf(ByteSource(image));
    parse(ByteSource(image));
    if (DataOffset > 0) headerBytes_.assign(image.begin(), image.begin() + DataOffset);
    FileImage = std::move(image);
    if (analyse) CheckData();
}

void KWavefile::parse(const detail::ByteSource& src) {
    const WaveLayout l = parseLayout(src, true);
    RiffSize = l.riffSize;
    Rf64 = l.rf64;
    problem_ = l.problem;
    if (l.fmtOffset > 0) {
        FormatTag = l.formatTag;
        Channels = l.channels;
        SampleRate = l.sampleRate;
        AvgBytesPerSec = l.avgBytesPerSec;
        BlockAlign = l.blockAlign;
        BitsPerSample = l.bits;
        Kind = l.kind;
        ValidBits = l.validBits;
        FmtOffset = l.fmtOffset;
    }
    if (l.usable) {
        DataOffset = l.dataOffset;
        FrameCount = l.dataBytes / BlockAlign;
        source_ = ownSource();
    }
    if (!problem_.empty()) AddLog("  " + problem_);
    if (const std::string note = FormatNote(); !note.empty()) AddLog("  " + note);
}

std::string KWavefile::FormatNote() const {
    if (!Usable() || Channels <= 2) return "";
    return MessageText(Msg::ExtraChannels, Channels);
}

KWavefile::Source KWavefile::ownSource() const {
    return {Channels, BitsPerSample, BlockAlign, Kind, DataOffset, FrameCount * BlockAlign};
}

void KWavefile::SetDataSource(const std::string& name) {
    if (fromMemory_ && DataSourceName.empty() && !FileImage.empty()) {
        // An in-memory file cannot be read again: keep its bytes for the way back.
        setAside_ = std::move(FileImage);
    }
    DataSourceName = name;
    FileImage.clear();
    FileImage.shrink_to_fit();
    mapped_.reset();
    source_ = ownSource();
    loadFailed_ = false;
    loadOutOfMemory_ = false;
    loadProblem_.clear();
    if (fromMemory_ && name.empty()) {
        FileImage = std::move(setAside_);
        setAside_.clear();
    }
}

std::string KWavefile::ChangeExtension(const std::string& ext) const {
    if (ext.empty()) return FileName;
    const std::string::size_type slash = FileName.rfind('/');
    const std::string::size_type dot = FileName.rfind('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return FileName + ext;
    return FileName.substr(0, dot) + ext;
}

bool KWavefile::loadImage() {
    if (HasImage()) return true;
    // One attempt per data source: a job fetches thousands of spans and must not retry
    // (and alert) on each.
    if (loadFailed_ || (fromMemory_ && DataSourceName.empty())) return false;
    loadFailed_ = true;
    const std::string& name = DataSourceName.empty() ? FileName : DataSourceName;
    AddLog("●READ● " + name);
    std::int64_t size = 0;
    Fd file;
    try {
        file = openOrThrow(name, size);
    } catch (const WaveFileError& e) {
        loadProblem_ = e.what();
        AddLog(loadProblem_);
        return false;
    }
    if (size == 0) {
        loadProblem_ = MessageText(Msg::CannotRead, name, MessageText(Msg::FileEmpty));
        return false;
    }
    mapped_ = MappedFile::Map(file.get(), static_cast<std::size_t>(size));
    if (mapped_.empty() && !readImage(file.get(), size, name)) return false;
    if (!DataSourceName.empty() && !useSourceLayout()) return false;
    loadFailed_ = false;
    return true;
}

bool KWavefile::readImage(int fd, std::int64_t size, const std::string& name) {
    try {
        FileImage.resize(static_cast<std::size_t>(size));
    } catch (const std::bad_alloc&) {
        FileImage.clear();
        FileImage.shrink_to_fit();
        loadOutOfMemory_ = true;
        loadProblem_ = MessageText(Msg::OutOfMemory, size);
        ShowAlert(loadProblem_);
        return false;
    }
    errno = 0;
    if (!ByteSource(fd, size).read(0, FileImage.size(), FileImage.data())) {
        // A short read: the file shrank since it was opened.
        loadProblem_ = MessageText(Msg::CannotRead, name, errno != 0 ? SystemErrorText(errno) : MessageText(Msg::FileShrank));
        AddLog(loadProblem_);
        FileImage.clear();
        FileImage.shrink_to_fit();
        return false;
    }
    return true;
}

bool KWavefile::useSourceLayout() {
    // An equalised copy is always 16-bit stereo whatever its source was: read it by its
    // own header, not by the source's format fields.
    const WaveLayout l = parseLayout(ByteSource(imageData(), imageSize()), false);
    if (!l.usable) {
        loadProblem_ = MessageText(Msg::Labelled, DataSourceName, l.problem);
        AddLog(loadProblem_);
        FileImage.clear();
        mapped_.reset();
        loadFailed_ = true;
        return false;
    }
    source_ = {l.channels, l.bits, l.blockAlign, l.kind, l.dataOffset, l.dataBytes};
    return true;
}

void KWavefile::SetDataImage(const std::string& name, ByteImage image) {
    SetDataSource(name);
    FileImage = std::move(image);
    useSourceLayout();
}

bool KWavefile::AdoptImage(KWavefile& from) {
    if (&from == this || from.FileName != FileName || !from.DataSourceName.empty() || !DataSourceName.empty() ||
        !from.HasImage() || from.FileSize != FileSize || static_cast<std::int64_t>(from.imageSize()) != FileSize ||
        from.DataOffset != DataOffset || from.FrameCount != FrameCount)
        return false;
    FileImage = std::move(from.FileImage);
    from.FileImage.clear();
    mapped_ = std::move(from.mapped_);
    source_ = ownSource();
    loadFailed_ = false;
    loadProblem_.clear();
    return true;
}

const std::uint8_t* KWavefile::sourceFrames(FrameIndex start, FrameIndex n, FrameIndex& available) {
    available = 0;
    if (!loadImage()) return nullptr;
    const std::int64_t imageSize = static_cast<std::int64_t>(this->imageSize());
    const int align = source_.blockAlign;
    // Frames that the data source does not hold (a truncated file or copy) are silence.
    const std::int64_t first = source_.dataOffset + start * align;
    const std::int64_t dataEnd = std::min(imageSize, source_.dataOffset + source_.dataBytes);
    if (first < dataEnd) available = std::min<FrameIndex>(n, (dataEnd - first) / align);
    return imageData() + (available > 0 ? first : 0);
}

FrameIndex KWavefile::ReadWideFrames(WideFrame* dest, FrameIndex start, FrameIndex end) {
    if (DataOffset <= 0 || end <= start || start < 0) return 0;
    const FrameIndex n = end - start;
    if (FilterLow > 0 || FilterHigh > 0) {
        // The band filter works on 16-bit frames.
        std::vector<Frame> narrow(static_cast<std::size_t>(n));
        if (ReadFrames(narrow.data(), start, end) == 0) return 0;
        for (FrameIndex i = 0; i < n; ++i) {
            const Frame& f = narrow[static_cast<std::size_t>(i)];
            dest[i] = WideFrame{static_cast<float>(f.left), static_cast<float>(f.right)};
        }
        return n;
    }
    FrameIndex available = 0;
    const std::uint8_t* p = sourceFrames(start, n, available);
    if (!p) return 0;
    DecodeFrames(p, available, source_.channels, source_.bits, source_.blockAlign, source_.kind,
                     ChannelPlacement == kPlaceLeft, dest);
    std::fill(dest + available, dest + n, WideFrame{});
    if (ChannelFlags & kInvertRight)
        for (FrameIndex i = 0; i < n; ++i) dest[i].right = -dest[i].right;
    if (ChannelFlags & kInvertLeft)
        for (FrameIndex i = 0; i < n; ++i) dest[i].left = -dest[i].left;
    return n;
}

FrameIndex KWavefile::ReadWideChannels(float* left, float* right, FrameIndex start, FrameIndex end) {
    if (const Frame* frames = FramesInPlace(start, end)) {
        for (FrameIndex i = 0; i < end - start; ++i) {
            left[i] = frames[i].left;
            right[i] = frames[i].right;
        }
        return end - start;
    }
    thread_local std::vector<WideFrame> wide;
    wide.resize(static_cast<std::size_t>(std::max<FrameIndex>(end - start, 0)));
    const FrameIndex n = ReadWideFrames(wide.data(), start, end);
    for (FrameIndex i = 0; i < n; ++i) {
        left[i] = wide[static_cast<std::size_t>(i)].left;
        right[i] = wide[static_cast<std::size_t>(i)].right;
    }
    return n;
}

const Frame* KWavefile::FramesInPlace(FrameIndex start, FrameIndex end) {
    if (DataOffset <= 0 || end <= start || start < 0 || FilterLow > 0 || FilterHigh > 0 ||
        (ChannelFlags & (kInvertLeft | kInvertRight)) != 0 || source_.bits != 16 || source_.channels != 2 ||
        source_.kind != SampleKind::Integer)
        return nullptr;
    FrameIndex available = 0;
    const std::uint8_t* p = sourceFrames(start, end - start, available);
    if (!p || available != end - start || reinterpret_cast<std::uintptr_t>(p) % alignof(Frame) != 0) return nullptr;
    return reinterpret_cast<const Frame*>(p);
}

FrameIndex KWavefile::ReadFrames(Frame* dest, FrameIndex start, FrameIndex end) {
    if (DataOffset <= 0 || end <= start || start < 0) return 0;
    const FrameIndex n = end - start;
    FrameIndex available = 0;
    const std::uint8_t* p = sourceFrames(start, n, available);
    if (!p) return 0;
    const bool placeLeft = ChannelPlacement == kPlaceLeft;
    if (source_.bits == 16 && source_.channels == 2 && source_.kind == SampleKind::Integer) {
        std::memcpy(dest, p, static_cast<std::size_t>(available) * 4);
    } else {
        DecodeFrames(p, available, source_.channels, source_.bits, source_.blockAlign, source_.kind, placeLeft, dest);
    }
    std::fill(dest + available, dest + n, Frame{});

    if (ChannelFlags & kInvertRight) {
        AddLog("右チャンネルの位相反転");
        for (FrameIndex i = 0; i < n; ++i) dest[i].right = negate16(dest[i].right);
    }
    if (ChannelFlags & kInvertLeft) {
        AddLog("左チャンネルの位相反転");
        for (FrameIndex i = 0; i < n; ++i) dest[i].left = negate16(dest[i].left);
    }
    if (FilterLow > 0)
        ApplyBandFilter(dest, n, FilterAttenuation, (1.0f - FilterWidth) * FilterLow, FilterLow, kHighPass, static_cast<int>(SampleRate));
    if (FilterHigh > 0)
        ApplyBandFilter(dest, n, FilterAttenuation, FilterHigh, (1.0f + FilterWidth) * FilterHigh, kLowPass, static_cast<int>(SampleRate));
    return n;
}

int KWavefile::LevelValue(int kind) const {
    switch (kind) {
        case 1: return PeakL;
        case 2: return PeakR;
        case 3: return PeakMono;
        default: return Peak;
    }
}

void KWavefile::MakeHeader(std::uint8_t* buffer, int channels, int bits, int rate, FrameIndex frames, SampleKind kind) const {
    if (DataOffset <= 0) return;
    std::memcpy(buffer, headerBytes_.data(), headerBytes_.size());
    const std::uint64_t dataBytes = static_cast<std::uint64_t>(channels * (bits / 8)) * static_cast<std::uint64_t>(frames);
    SetFormatFields(buffer + FmtOffset, FormatTag, channels, bits, rate, kind);
    SetRiffSizes(buffer, static_cast<std::size_t>(DataOffset), dataBytes, static_cast<std::uint64_t>(frames));
}

std::size_t KWavefile::MakeWaveImage(FrameIndex start, FrameIndex end, WaveImage& image, bool keepDepth) {
    if (DataOffset <= 0) return 0;
    const bool wide = keepDepth && KeepsDepth();
    image.rate = static_cast<int>(SampleRate);
    image.bits = wide ? BitsPerSample : 16;
    image.kind = wide ? Kind : SampleKind::Integer;
    // Checked before any arithmetic so that no span can overflow (not even the one frame
    // of an empty span at the top of the range): a WAVE file cannot hold more than
    // 2^32 bytes anyway.
    constexpr FrameIndex kMaxWaveFrames = FrameIndex{1} << 30;
    bool representable = start > -kMaxWaveFrames && start < kMaxWaveFrames;
    if (representable && start >= end) end = start + 1;
    representable = representable && end < kMaxWaveFrames && end - start <= kMaxWaveFrames;
    const FrameIndex frames = representable ? end - start : kMaxWaveFrames;
    const std::uint64_t size = static_cast<std::uint64_t>(frames) * static_cast<std::uint64_t>(image.bytesPerFrame()) +
                               static_cast<std::uint64_t>(DataOffset);
    if (!representable || size - 8 > 0xFFFFFFFFull) {
        AddLog("●an image of frames " + std::to_string(start) + ".." + std::to_string(end) +
               " does not fit a WAVE file");
        ShowAlert(MessageText(Msg::ImageTooLarge, start, end));
        return 0;
    }
    try {
        image.header.assign(static_cast<std::size_t>(DataOffset), 0);
        image.frames.assign(wide ? 0 : static_cast<std::size_t>(frames), Frame{});
        image.wide.assign(wide ? static_cast<std::size_t>(frames) : 0, WideFrame{});
    } catch (const std::bad_alloc&) {
        image.header.clear();
        image.frames.clear();
        image.wide.clear();
        image.header.shrink_to_fit();
        image.frames.shrink_to_fit();
        image.wide.shrink_to_fit();
        ShowAlert(MessageText(Msg::OutOfMemory, size));
        return 0;
    }
    MakeHeader(image.header.data(), 2, image.bits, image.rate, frames, image.kind);
    FrameIndex at = 0;  // where frame `start` goes in the image
    if (start < 0) {
        at = -start;
        start = 0;
    }
    end = std::min(end, FrameCount);
    if (start < end) {
        if (wide)
            ReadWideFrames(image.wide.data() + at, start, end);
        else
            ReadFrames(image.frames.data() + at, start, end);
    }
    return static_cast<std::size_t>(DataOffset);
}

void KWavefile::CheckData() {
    Levels() = {};
    if (DataOffset <= 0) return;
    const std::string section = ChangeExtension("");
    const std::string cached = SettingsReadText(section, "Date", "");
    const std::string stamp = fromMemory_ ? std::string() : timeText(FileName);
    AddLog("▲DATE; " + stamp + " : " + cached);
    // Date has a 2-second resolution: a file replaced within it is told apart by its
    // size and its modification time in nanoseconds (a cache without them is measured again).
    // The content fingerprint tells apart a copy that kept both (cp -p); a cache
    // without it is measured again.
    const bool same = stamp == cached && SettingsReadText(section, "FileBytes", "") == fileBytesText() &&
                      SettingsReadText(section, "FileTimeNs", "") == fileTimeText() &&
                      SettingsReadText(section, "FileHash", "") == fileHashText();
    bool accepted = false;
    if (same) {
        for (const auto& [key, field] : kLevelKeys) Levels().*field = SettingsReadInt(section, key, 0);
        const int aveLeft = SettingsReadInt(section, "AveLeft", 0);
        const int aveRight = SettingsReadInt(section, "AveRight", 0);
        // Levels of 16-bit frames (sums and differences of two channels reach 65535) and
        // frames of this file: a hand-edited value outside them would drive the search.
        const auto within = [](std::int64_t v, std::int64_t high) { return v >= 0 && v <= high; };
        const bool plausible = within(Peak, 32768) && within(PeakL, 32768) && within(PeakR, 32768) &&
                               within(Average, 32768) && within(aveLeft, 32768) && within(aveRight, 32768) &&
                               within(PeakMono, 65536) && within(MaxDistance, 65536) && within(PointL, FrameCount) &&
                               within(PointR, FrameCount) && within(FrontNull, FrameCount) && within(BackNull, FrameCount);
        accepted = plausible && (Peak == PeakL || Peak == PeakR) && (aveLeft >= Average || aveRight >= Average) &&
                   (PointL != 0 || PointR != 0);
    }
    if (!accepted) {
        try {
            measure(section, stamp);
        } catch (const SettingsError& e) {
            // A name that cannot be a section (a line break) is still read: uncached.
            AddLog(std::string("▲") + e.what());
        }
    }
    AddLog("▲CheckData();PEAK:L=" + std::to_string(PeakL) + " R=" + std::to_string(PeakR) +
           " MONO=" + std::to_string(PeakMono) + " MaxDist=" + std::to_string(MaxDistance));
}

void KWavefile::measure(const std::string& section, const std::string& stamp) {
    constexpr FrameIndex kBlock = 4194304;
    // A copy is made only of frames that cannot be read where they lie.
    std::vector<Frame> work;
    const auto makeWork = [&] {
        // Out of memory is a failure, never an analysis of zeros (which would be cached).
        const FrameIndex blockFrames = std::min<FrameIndex>(kBlock, std::max<FrameIndex>(FrameCount, 1));
        try {
            work.resize(static_cast<std::size_t>(blockFrames));
        } catch (const std::bad_alloc&) {
            throw WaveFileError(Msg::OutOfMemory, blockFrames * static_cast<FrameIndex>(sizeof(Frame)));
        }
    };
    if (!FramesInPlace(0, std::min(kBlock, FrameCount))) makeWork();
    Levels() = {};
    const std::int64_t second = SampleRate;  // frames
    std::int64_t sumL = 0, sumR = 0, sumLR = 0, k = 0;
    std::int64_t aveL = 0, aveR = 0, ave = 0, seconds = 0;
    // Leading silence ends at the first frame that is not (0, 0); trailing silence is
    // what follows the last such frame.
    FrameIndex measured = 0, firstSound = -1, lastSound = -1;
    for (FrameIndex b = 0; b < FrameCount; b += kBlock) {
        const FrameIndex e = std::min(b + kBlock, FrameCount);
        const Frame* frames = FramesInPlace(b, e);
        if (!frames) {
            if (work.empty()) makeWork();
            if (ReadFrames(work.data(), b, e) == 0) {
                // Out of memory: nothing measured, nothing stored; LoadProblem() says why.
                if (loadOutOfMemory_) return;
                ShowAlert(MessageText(Msg::DataMayBeBroken));
                break;
            }
            if (Channels == 1)
                for (FrameIndex i = 0; i < e - b; ++i) work[static_cast<std::size_t>(i)].right = work[static_cast<std::size_t>(i)].left;
            frames = work.data();
        }
        // Runs that end where a second of the file's frames completes.
        for (FrameIndex i = 0; i < e - b;) {
            const FrameIndex n = std::min<FrameIndex>(e - b - i, second - k);
            const RunLevels r = runLevels(frames + i, n);
            if (r.peakL > PeakL) {
                PeakL = r.peakL;
                PointL = static_cast<std::int32_t>(b + i + firstAt(frames + i, n, r.peakL, true));
            }
            if (r.peakR > PeakR) {
                PeakR = r.peakR;
                PointR = static_cast<std::int32_t>(b + i + firstAt(frames + i, n, r.peakR, false));
            }
            PeakMono = std::max(PeakMono, r.peakMono);
            MaxDistance = std::max(MaxDistance, r.maxDistance);
            if (r.peakL != 0 || r.peakR != 0) {
                FrameIndex first = 0, last = n - 1;
                const auto silent = [&](FrameIndex j) {
                    const Frame& f = frames[i + j];
                    return f.left == 0 && f.right == 0;
                };
                while (silent(first)) ++first;
                while (silent(last)) --last;
                if (firstSound < 0) firstSound = b + i + first;
                lastSound = b + i + last;
            }
            sumL += r.sumL;
            sumR += r.sumR;
            sumLR += r.sumL + r.sumR;
            k += n;
            i += n;
            if (k == second) {
                aveL += sumL / second;
                aveR += sumR / second;
                ave += (sumLR / second) / 2;
                ++seconds;
                sumL = sumR = sumLR = k = 0;
            }
        }
        measured = e;
    }
    if (k > 0) {
        aveL += sumL / k;
        aveR += sumR / k;
        ave += (sumLR / k) / 2;
        ++seconds;
    }
    const std::int64_t front = firstSound < 0 ? measured : firstSound;
    const std::int64_t back = firstSound < 0 ? 0 : measured - 1 - lastSound;
    FrontNull = static_cast<std::int32_t>(std::min<std::int64_t>(front, INT32_MAX));
    BackNull = static_cast<std::int32_t>(std::min<std::int64_t>(back, INT32_MAX));
    int aveLeft = 0, aveRight = 0;
    if (seconds >= 1) {
        double d = static_cast<double>(seconds) - static_cast<double>(front + back) / static_cast<double>(second);
        // Nothing but silence in whole seconds leaves no duration to divide by; the sums
        // are 0 then, and dividing by all seconds keeps them 0.
        if (d <= 0.0) d = static_cast<double>(seconds);
        auto mean = [d](std::int64_t sum) {
            return static_cast<int>(std::min(static_cast<double>(sum) / d, static_cast<double>(INT32_MAX)));
        };
        Average = mean(ave);
        aveLeft = mean(aveL);
        aveRight = mean(aveR);
    }
    Peak = PeakR >= PeakL ? PeakR : PeakL;
    SettingsWriteInt(section, "AveLeft", aveLeft);
    SettingsWriteInt(section, "AveRight", aveRight);
    for (const auto& [key, field] : kLevelKeys) SettingsWriteInt(section, key, Levels().*field);
    SettingsWriteText(section, "Date", stamp);
    SettingsWriteText(section, "FileBytes", fileBytesText());
    SettingsWriteText(section, "FileTimeNs", fileTimeText());
    SettingsWriteText(section, "FileHash", fileHashText());
}

std::string KWavefile::fileBytesText() const { return fromMemory_ ? std::string() : std::to_string(FileSize); }
std::string KWavefile::fileTimeText() const { return fromMemory_ ? std::string() : std::to_string(modifiedNs_); }

std::string KWavefile::fileHashText() const { return fromMemory_ ? std::string() : fingerprint_; }

FileIdentity IdentifyFile(const std::string& fileName) {
    FileIdentity id;
    try {
        const KWavefile probe(fileName, kPlaceBoth, false);
        if (!probe.Usable()) return id;
        id.known = true;
        id.bytes = probe.FileSize;
        id.timeNs = probe.ModifiedNs();
        id.hash = probe.Fingerprint();
        id.frames = probe.FrameCount;
        id.rate = probe.SampleRate;
    } catch (const std::exception&) {
        // Unreadable: nothing to compare; whoever reads it next reports that.
    }
    return id;
}

std::uint32_t HeaderSampleRate(const std::string& fileName) {
    try {
        const KWavefile probe(fileName, kPlaceBoth, false);
        if (probe.Usable()) return probe.SampleRate;
    } catch (const std::exception&) {
        // Unreadable: the caller's next step says so.
    }
    return kSampleRate;
}

}  // namespace tandem
