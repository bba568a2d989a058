#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "core/Alert.h"

#include "common/ScratchSettings.h"
#include "core/ProgramFolder.h"
#include "settings/Settings.h"
#include "wave/KWavefile.h"

namespace tandem::test {

// A scratch folder with its own qzv.ini (the analysis cache lives there).
class WaveFixture : public ScratchSettings {
protected:
    void SetUp() override {
        ScratchSettings::SetUp();
        SetAlertHandler([this](const std::string& text) { alerts.push_back(text); });
    }
    void TearDown() override {
        SetAlertHandler({});
        ScratchSettings::TearDown();
    }

    std::string write(const std::string& name, const std::vector<std::uint8_t>& bytes) {
        const std::string path = dir.file(name);
        WriteFile(path, bytes);
        return path;
    }

    std::vector<std::string> alerts;  // texts the engine raised through ShowAlert
};

inline std::vector<Frame> Ramp(int n, int scale = 10) {
    std::vector<Frame> frames(static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i)
        frames[static_cast<std::size_t>(i)] = Frame{static_cast<std::int16_t>((i + 1) * scale), static_cast<std::int16_t>(-(i + 1) * scale)};
    return frames;
}

// The data bytes of 16-bit stereo frames.
inline std::vector<std::uint8_t> RawStereo(const std::vector<Frame>& frames) {
    std::vector<std::uint8_t> data;
    for (const Frame& f : frames) {
        put16(data, static_cast<std::uint16_t>(f.left));
        put16(data, static_cast<std::uint16_t>(f.right));
    }
    return data;
}

inline std::vector<Frame> Fetch(KWavefile& w, FrameIndex start, FrameIndex end) {
    std::vector<Frame> out(static_cast<std::size_t>(end - start));
    EXPECT_EQ(w.ReadFrames(out.data(), start, end), end - start);
    return out;
}

inline std::uint32_t U32(const std::vector<std::uint8_t>& b, std::size_t at) {
    return static_cast<std::uint32_t>(b[at] | b[at + 1] << 8 | b[at + 2] << 16 | b[at + 3] << 24);
}
inline std::uint16_t U16(const std::vector<std::uint8_t>& b, std::size_t at) {
    return static_cast<std::uint16_t>(b[at] | b[at + 1] << 8);
}

}  // namespace tandem::test
