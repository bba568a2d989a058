#include "eq/EqWave.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <bit>
#include <cerrno>
#include <cstdint>
#include <filesystem>
#include <system_error>
#include <vector>

#include "core/Log.h"
#include "core/Text.h"
#include "wave/KWavefile.h"
#include "wave/WaveImage.h"

namespace tandem {

namespace {

constexpr float kEqAttenuation = 60.0f;
constexpr float kEqWidth = 0.2f;

// The copy is written to a temporary file beside it and renamed into place, so nobody
// ever sees half a copy; the temporary file is removed unless it was renamed.
class TempFile {
public:
    explicit TempFile(const std::string& target) : target_(target) {
        static std::atomic<unsigned> counter{0};
        for (int attempt = 0; attempt < 100; ++attempt) {
            path_ = target + ".tmp" + std::to_string(::getpid()) + "-" + std::to_string(counter++);
            fd_ = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
            if (fd_ >= 0 || errno != EEXIST) break;
        }
        if (fd_ < 0) Fail("cannot create " + path_);
    }
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;
    ~TempFile() {
        if (fd_ >= 0) ::close(fd_);
        if (!committed_ && !path_.empty()) ::unlink(path_.c_str());
    }

    void Write(const void* data, std::size_t size) {
        const char* p = static_cast<const char*>(data);
        while (size > 0) {
            const ssize_t written = ::write(fd_, p, size);
            if (written < 0) {
                if (errno == EINTR) continue;
                Fail("cannot write " + path_);
            }
            p += written;
            size -= static_cast<std::size_t>(written);
        }
    }

    // Flushes, closes and renames onto the target.
    void Commit() {
        if (::fsync(fd_) != 0) Fail("cannot write " + path_);
        const int fd = fd_;
        fd_ = -1;
        if (::close(fd) != 0) Fail("cannot write " + path_);
        if (::rename(path_.c_str(), target_.c_str()) != 0) Fail("cannot rename " + path_);
        committed_ = true;
    }

private:
    [[noreturn]] void Fail(const std::string& what) const {
        const int error = errno;
        throw WaveFileError("equalised copy " + target_ + " not written: " + what + ": " +
                            std::generic_category().message(error));
    }

    std::string target_;
    std::string path_;
    int fd_ = -1;
    bool committed_ = false;
};

void WriteFrames(TempFile& file, const std::vector<Frame>& frames) {
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
    const std::string name = EqWaveName(source, lowHz, highHz);
    std::error_code ec;
    if (std::filesystem::exists(name, ec)) return name;

    WaveImage image;
    {
        KWavefile wave(source, kPlaceBoth, true);
        wave.ChannelFlags = kRemix;
        wave.FilterHigh = static_cast<float>(highHz);
        wave.FilterLow = static_cast<float>(lowHz);
        wave.FilterAttenuation = kEqAttenuation;
        wave.FilterWidth = kEqWidth;
        if (wave.MakeWaveImage(0, wave.FrameCount, image) == 0) {
            const std::string reason = wave.Usable() ? "no image of its frames could be made" : wave.Problem();
            AddLog("●EQ copy of " + source + " not made: " + reason);
            return name;
        }
    }

    TempFile file(name);
    file.Write(image.header.data(), image.header.size());
    WriteFrames(file, image.frames);
    file.Commit();
    return name;
}

}  // namespace tandem
