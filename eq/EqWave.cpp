#include "eq/EqWave.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <vector>

#include "core/AtomicFile.h"
#include "core/FileStamp.h"
#include "core/Log.h"
#include "core/Text.h"
#include "wave/KWavefile.h"
#include "wave/WaveImage.h"

namespace tandem {

namespace {

constexpr float kEqAttenuation = 60.0f;
constexpr float kEqWidth = 0.2f;

// A private chunk after the data records the source the copy was made from: its size
// and modification time (ns). Kept in the copy itself, it is replaced together with the
// frames by one rename, so a record can never describe other frames than those beside
// it (a record in qzv.ini could, when two processes make the same copy at once).
constexpr char kStampId[4] = {'t', 'n', 'd', 's'};
constexpr std::uint32_t kStampBytes = 24;

// The stamp a copy records; false when it has none (made before copies had one, or
// not a copy of ours at all).
bool recordedStamp(const std::string& copy, FileStamp& stamp) {
    const Fd fd(::open(copy.c_str(), O_RDONLY | O_CLOEXEC));
    struct stat st {};
    if (!fd.valid() || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
    std::uint8_t head[12];
    if (::pread(fd.get(), head, 12, 0) != 12 || std::memcmp(head, "RIFF", 4) != 0 || std::memcmp(head + 8, "WAVE", 4) != 0)
        return false;
    std::int64_t at = 12;
    for (int chunk = 0; chunk < 64 && at + 8 <= st.st_size; ++chunk) {
        std::uint8_t h[8];
        if (::pread(fd.get(), h, 8, at) != 8) return false;
        const std::uint64_t size = GetLe(h + 4, 4);
        if (std::memcmp(h, kStampId, 4) == 0 && size == kStampBytes) {
            std::uint8_t b[kStampBytes];
            if (::pread(fd.get(), b, kStampBytes, at + 8) != static_cast<ssize_t>(kStampBytes)) return false;
            stamp.size = static_cast<std::int64_t>(GetLe(b, 8));
            stamp.seconds = static_cast<std::int64_t>(GetLe(b + 8, 8));
            stamp.nanoseconds = static_cast<std::int64_t>(GetLe(b + 16, 8));
            return true;
        }
        at += 8 + static_cast<std::int64_t>(size + (size & 1));
    }
    return false;
}

std::string cacheFolder() {
    const char* cache = std::getenv("XDG_CACHE_HOME");
    if (cache && cache[0] == '/') return std::string(cache) + "/tandem/";
    const char* home = std::getenv("HOME");
    if (home && home[0] == '/') return std::string(home) + "/.cache/tandem/";
    return {};
}

// Beside the source; in the cache folder when the source's folder is not writable
// (named with a hash of the source's path, as takes of one name may sit in several
// folders).
std::string copyPath(const std::string& source, int lowHz, int highHz) {
    const std::string beside = EqWaveName(source, lowHz, highHz);
    const std::string folder = FolderOf(source);
    if (::access(folder.empty() ? "." : folder.c_str(), W_OK) == 0) return beside;
    const int why = errno;
    const std::string cache = cacheFolder();
    if (cache.empty()) return beside;
    std::error_code ec;
    std::filesystem::create_directories(cache, ec);
    const std::string absolute = std::filesystem::absolute(source, ec).lexically_normal().string();
    const std::string copy = cache + BaseName(beside) + "-" + HashName(absolute) + ".wav";
    AddLog("●EQ copy of " + source + " goes to " + copy + ": its folder is not writable (" + std::strerror(why) + ")");
    return copy;
}

void WriteFrames(AtomicFile& file, const std::vector<Frame>& frames) {
    if constexpr (std::endian::native == std::endian::little) {
        file.Write(frames.data(), frames.size() * sizeof(Frame));
    } else {
        std::vector<std::uint8_t> chunk;
        constexpr std::size_t kChunkFrames = 1 << 16;
        for (std::size_t at = 0; at < frames.size(); at += kChunkFrames) {
            const std::size_t end = std::min(frames.size(), at + kChunkFrames);
            chunk.clear();
            for (std::size_t i = at; i < end; ++i) {
                for (const std::int16_t sample : {frames[i].left, frames[i].right}) {
                    const auto u = static_cast<std::uint16_t>(sample);
                    chunk.push_back(static_cast<std::uint8_t>(u & 0xff));
                    chunk.push_back(static_cast<std::uint8_t>(u >> 8));
                }
            }
            file.Write(chunk.data(), chunk.size());
        }
    }
}

}  // namespace

std::string EqWaveName(const std::string& source, int lowHz, int highHz) {
    return FolderOf(source) + BaseName(source) + "_EQ(" + std::to_string(lowHz) + "," + std::to_string(highHz) +
           ").wav";
}

std::string MakeEqWave(const std::string& source, int lowHz, int highHz) {
    const std::string name = copyPath(source, lowHz, highHz);
    const FileStamp stamp = StampOf(source);
    const bool stamped = stamp.exists;
    std::error_code ec;
    if (std::filesystem::exists(name, ec)) {
        FileStamp recorded;
        if (stamped && recordedStamp(name, recorded) && recorded.sameVersion(stamp)) return name;
        AddLog("●EQ copy " + name + " was not made from " + source + " as it is now; made again");
    }

    WaveImage image;
    {
        KWavefile wave(source, kPlaceBoth, true);
        wave.ChannelFlags = kRemix;
        wave.FilterHigh = static_cast<float>(highHz);
        wave.FilterLow = static_cast<float>(lowHz);
        wave.FilterAttenuation = kEqAttenuation;
        wave.FilterWidth = kEqWidth;
        // No copy, no name: a caller would read a file that is not there, or an old one.
        if (!wave.Usable()) throw WaveFileError(Msg::NotUsable, source, wave.Problem());
        if (wave.MakeWaveImage(0, wave.FrameCount, image) == 0) {
            // The image is refused for its size (past a WAVE file's 4 GiB) or for want of memory.
            const bool tooLarge = static_cast<std::uint64_t>(wave.FrameCount) * 4 + static_cast<std::uint64_t>(wave.DataOffset) - 8 >
                                  0xFFFFFFFFull;
            throw WaveFileError(Msg::CannotWrite, MessageText(Msg::EqCopy, name),
                                tooLarge ? MessageText(Msg::ImageTooLarge, 0, wave.FrameCount) : MessageText(Msg::NoMemory));
        }
    }

    std::uint8_t chunk[8 + kStampBytes];
    std::memcpy(chunk, kStampId, 4);
    PutLe(chunk + 4, kStampBytes, 4);
    PutLe(chunk + 8, static_cast<std::uint64_t>(stamp.size), 8);
    PutLe(chunk + 16, static_cast<std::uint64_t>(stamp.seconds), 8);
    PutLe(chunk + 24, static_cast<std::uint64_t>(stamp.nanoseconds), 8);
    // A copy at the 4 GiB limit goes without its record (and is made again next time).
    const bool record = stamped && GrowRiffSize(image.header.data(), sizeof chunk);

    AtomicFile file(name, MessageText(Msg::EqCopy, name));
    file.Write(image.header.data(), image.header.size());
    WriteFrames(file, image.frames);
    if (record) file.Write(chunk, sizeof chunk);
    if (!file.Commit()) throw file.Failure<WaveFileError>();
    return name;
}

}  // namespace tandem
