// Test fixtures made in code: WAVE byte builders, signals and a scratch folder.
#pragma once

#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "core/Types.h"

namespace tandem::test {

inline void put16(std::vector<std::uint8_t>& b, std::uint32_t v) {
    b.push_back(static_cast<std::uint8_t>(v & 0xff));
    b.push_back(static_cast<std::uint8_t>((v >> 8) & 0xff));
}
inline void put32(std::vector<std::uint8_t>& b, std::uint32_t v) {
    put16(b, v & 0xffff);
    put16(b, v >> 16);
}
inline void putId(std::vector<std::uint8_t>& b, const char* id) {
    for (int i = 0; i < 4; ++i) b.push_back(static_cast<std::uint8_t>(id[i]));
}

struct WaveSpec {
    int channels = 2;
    int bits = 16;
    int rate = 44100;
    int formatTag = 1;                     // the sub-format when extensible
    bool extensible = false;               // WAVE_FORMAT_EXTENSIBLE header (fmt of 40 bytes)
    int validBits = 0;                     // extensible only; 0 = bits
    bool rf64 = false;                     // RF64 with a ds64 chunk; RIFF and data sizes 0xFFFFFFFF
    std::vector<std::uint8_t> extraChunk;  // whole chunk (id, size, body) placed before data
};

// A WAVE file of the given raw data bytes.
inline std::vector<std::uint8_t> MakeWaveBytes(const WaveSpec& spec, const std::vector<std::uint8_t>& data) {
    std::vector<std::uint8_t> b;
    b.reserve(100 + spec.extraChunk.size() + data.size());
    putId(b, spec.rf64 ? "RF64" : "RIFF");
    put32(b, 0);
    putId(b, "WAVE");
    std::size_t ds64 = 0;
    if (spec.rf64) {
        putId(b, "ds64");
        put32(b, 28);
        ds64 = b.size();
        b.resize(b.size() + 28, 0);
    }
    putId(b, "fmt ");
    put32(b, spec.extensible ? 40 : 16);
    const int blockAlign = spec.channels * (spec.bits / 8);
    put16(b, spec.extensible ? 0xFFFE : spec.formatTag);
    put16(b, spec.channels);
    put32(b, spec.rate);
    put32(b, spec.rate * blockAlign);
    put16(b, blockAlign);
    put16(b, spec.bits);
    if (spec.extensible) {
        put16(b, 22);
        put16(b, spec.validBits ? spec.validBits : spec.bits);
        put32(b, spec.channels == 1 ? 4 : (1u << spec.channels) - 1);
        put16(b, spec.formatTag);
        for (std::uint8_t byte : {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71})
            b.push_back(byte);
    }
    for (std::uint8_t byte : spec.extraChunk) b.push_back(byte);
    putId(b, "data");
    put32(b, spec.rf64 ? 0xFFFFFFFFu : static_cast<std::uint32_t>(data.size()));
    b.insert(b.end(), data.begin(), data.end());
    const auto at = [&](std::size_t offset, std::uint64_t v, int bytes) {
        for (int i = 0; i < bytes; ++i) b[offset + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(v >> (8 * i));
    };
    at(4, spec.rf64 ? 0xFFFFFFFFu : b.size() - 8, 4);
    if (spec.rf64) {
        at(ds64, b.size() - 8, 8);
        at(ds64 + 8, data.size(), 8);
        at(ds64 + 16, data.size() / static_cast<std::size_t>(blockAlign), 8);
    }
    return b;
}

// 16-bit stereo WAVE bytes from frames.
inline std::vector<std::uint8_t> StereoWave(const std::vector<Frame>& frames) {
    std::vector<std::uint8_t> data;
    data.reserve(frames.size() * 4);
    for (const Frame& f : frames) {
        put16(data, static_cast<std::uint16_t>(f.left));
        put16(data, static_cast<std::uint16_t>(f.right));
    }
    return MakeWaveBytes(WaveSpec{}, data);
}

inline void WriteFile(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

inline std::vector<std::uint8_t> ReadFileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<std::uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// A scratch folder removed with its content at the end of the test.
class TempDir {
public:
    TempDir() {
        std::string pattern = (std::filesystem::temp_directory_path() / "tandem-test-XXXXXX").string();
        std::vector<char> buf(pattern.begin(), pattern.end());
        buf.push_back('\0');
        char* made = ::mkdtemp(buf.data());
        path_ = made ? std::string(made) + "/" : std::string("/tmp/");
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    // Folder path, ending with '/'.
    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + name; }

private:
    std::string path_;
};

// A music-like test signal: a few decaying notes of changing pitch plus a little noise,
// with onsets every few hundred milliseconds, so that a segment's position is well
// defined by its content. Deterministic for a seed.
inline std::vector<double> MusicLike(FrameIndex frames, unsigned seed = 1) {
    std::vector<double> out(static_cast<std::size_t>(frames), 0.0);
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> uni(0.0, 1.0);
    FrameIndex t = 0;
    while (t < frames) {
        const FrameIndex len = 4000 + static_cast<FrameIndex>(uni(rng) * 14000);
        const double f0 = 110.0 * std::pow(2.0, std::floor(uni(rng) * 36) / 12.0);
        const double amp = 0.2 + 0.5 * uni(rng);
        for (FrameIndex i = 0; i < len + 20000 && t + i < frames; ++i) {
            const double env = amp * std::exp(-static_cast<double>(i) / (0.25 * len + 2000)) *
                               std::min(1.0, static_cast<double>(i) / 40.0);
            const double ph = 2.0 * M_PI * f0 * static_cast<double>(i) / kSampleRate;
            out[static_cast<std::size_t>(t + i)] += env * (std::sin(ph) + 0.5 * std::sin(2 * ph) + 0.25 * std::sin(3 * ph));
        }
        t += len;
    }
    std::normal_distribution<double> noise(0.0, 0.003);
    for (double& v : out) v = std::clamp(0.45 * v + noise(rng), -1.0, 1.0);
    return out;
}

inline std::int16_t ToSample(double v) {
    return static_cast<std::int16_t>(std::lround(std::clamp(v, -1.0, 1.0) * 32767.0));
}

}  // namespace tandem::test
