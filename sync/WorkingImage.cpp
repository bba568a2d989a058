#include "sync/WorkingImage.h"

#include <soxr.h>

#include <algorithm>
#include <cstring>

#include "core/BigBuffer.h"
#include "core/Error.h"
#include "core/Log.h"
#include "core/Message.h"
#include "core/TimeBase.h"
#include "wave/KWavefile.h"
#include "wave/WaveImage.h"

namespace tandem {
namespace {

// One stereo conversion, fed block by block. 16-bit in and out without dither, so that
// the image is the same on every run.
class Converter {
public:
    Converter(std::uint32_t fromRate, std::uint32_t toRate) {
        soxr_io_spec_t io = soxr_io_spec(SOXR_INT16_I, SOXR_INT16_I);
        io.flags |= SOXR_NO_DITHER;
        const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_VHQ, SOXR_LINEAR_PHASE);
        const soxr_runtime_spec_t runtime = soxr_runtime_spec(1);
        soxr_error_t error = nullptr;
        soxr_ = soxr_create(fromRate, toRate, 2, &error, &io, &quality, &runtime);
        if (error || !soxr_) throw SyncError(Msg::RateConversion, error ? error : "libsoxr");
    }
    ~Converter() { soxr_delete(soxr_); }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;

    // Converts n frames (none: the end of the input, which drains the filter) and hands
    // the output to put(frames, count).
    template <class Put>
    void Feed(const Frame* in, std::size_t n, Put&& put) {
        const bool end = in == nullptr;
        for (;;) {
            std::size_t used = 0, made = 0;
            if (soxr_error_t error = soxr_process(soxr_, in, n, &used, out_, kOut, &made))
                throw SyncError(Msg::RateConversion, error);
            if (made > 0) put(out_, made);
            if (!end) {
                in += used;
                n -= used;
                if (n == 0 && made < kOut) return;
            } else if (made == 0) {
                return;
            }
        }
    }

private:
    static constexpr std::size_t kOut = 16384;
    soxr_t soxr_ = nullptr;
    Frame out_[kOut];
};

}  // namespace

std::vector<Frame> ResampleFrames(const std::vector<Frame>& frames, std::uint32_t fromRate, std::uint32_t toRate) {
    const FrameIndex target = RescaleFrames(static_cast<FrameIndex>(frames.size()), fromRate, toRate);
    std::vector<Frame> out;
    out.reserve(static_cast<std::size_t>(target));
    Converter converter(fromRate, toRate);
    const auto put = [&](const Frame* f, std::size_t n) { out.insert(out.end(), f, f + n); };
    converter.Feed(frames.data(), frames.size(), put);
    converter.Feed(nullptr, 0, put);
    out.resize(static_cast<std::size_t>(target));
    return out;
}

std::unique_ptr<KWavefile> MakeWorkingImage(KWavefile& slave, std::uint32_t rate) {
    constexpr FrameIndex kHeader = 44;
    constexpr FrameIndex kBlock = 65536;
    const FrameIndex target = RescaleFrames(slave.FrameCount, slave.SampleRate, rate);
    if (target > (FrameIndex{0xFFFFFFFF} - kHeader) / 4) throw SyncError(Msg::ImageTooLarge, 0, target);
    AddLog("●" + slave.FileName + " : " + std::to_string(slave.SampleRate) + " Hz → " + std::to_string(rate) + " Hz");
    const std::size_t size = static_cast<std::size_t>(kHeader + 4 * target);
    ByteImage bytes;
    bytes.resize(size);  // left uninitialised: every byte is written below
    const std::vector<std::uint8_t> header = StereoPcmHeader(rate, static_cast<std::uint64_t>(target));
    std::memcpy(bytes.data(), header.data(), header.size());
    std::size_t written = 0;  // frames
    const auto put = [&](const Frame* f, std::size_t n) {
        n = std::min(n, static_cast<std::size_t>(target) - written);
        std::memcpy(bytes.data() + kHeader + written * 4, f, n * 4);
        written += n;
    };
    Converter converter(slave.SampleRate, rate);
    std::vector<Frame> block(static_cast<std::size_t>(std::min(kBlock, std::max<FrameIndex>(slave.FrameCount, 1))));
    for (FrameIndex at = 0; at < slave.FrameCount; at += kBlock) {
        const FrameIndex n = std::min(kBlock, slave.FrameCount - at);
        if (slave.ReadFrames(block.data(), at, at + n) == 0) {
            if (slave.LoadProblem().empty()) throw SyncError(Msg::CannotReadFile, slave.FileName);
            throw SyncError(Msg::CannotLoad, slave.FileName, slave.LoadProblem());
        }
        converter.Feed(block.data(), static_cast<std::size_t>(n), put);
    }
    converter.Feed(nullptr, 0, put);
    std::memset(bytes.data() + kHeader + written * 4, 0, (static_cast<std::size_t>(target) - written) * 4);
    auto image = std::make_unique<KWavefile>(slave.FileName, std::move(bytes), slave.ChannelPlacement, false);
    const auto at = [&](std::int32_t frames) {
        return static_cast<std::int32_t>(RescaleFrames(frames, slave.SampleRate, rate));
    };
    image->Levels() = slave.Levels();
    image->FrontNull = at(slave.FrontNull);
    image->BackNull = at(slave.BackNull);
    image->PointL = at(slave.PointL);
    image->PointR = at(slave.PointR);
    return image;
}

}  // namespace tandem
