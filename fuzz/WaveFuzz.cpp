// libFuzzer target: the WAVE file engine over arbitrary bytes.
//
// The input is a WAVE file followed by kControlBytes control bytes: how to open
// it, which spans to fetch and image, the division points the settings store hands to
// the segment mix. One control bit makes the input's bytes the samples of a header the
// control bytes lay out (plain or extensible, PCM, float or compressed, of any depth,
// channel count and rate, RIFF or RF64), so that every reader is reached at once. Spans stay small so that no legitimate image needs much memory, but
// they reach before, across and beyond the file's ends, and a few sit at the extremes
// of the frame range. Every result is checked against what the engine promises.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "FuzzScratch.h"
#include "settings/Settings.h"
#include "wave/KWavefile.h"

using namespace tandem;

namespace {

// Analysis and segment mix only for files this long: a stated size of gigabytes over a
// few real bytes is legal, but analysing it costs seconds of silence per input.
constexpr FrameIndex kAnalyseLimit = FrameIndex{1} << 16;
constexpr FrameIndex kMixLimit = 4096;
constexpr FrameIndex kMaxSpan = 4096;
constexpr std::size_t kControlBytes = 96;

void check(bool ok, const char* what) {
    if (!ok) {
        std::fprintf(stderr, "fuzz_wave: %s\n", what);
        std::abort();
    }
}

std::uint32_t le32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

FrameIndex saturatingAdd(FrameIndex a, FrameIndex b) {
    FrameIndex r;
    if (__builtin_add_overflow(a, b, &r)) return b > 0 ? INT64_MAX : INT64_MIN;
    return r;
}

bool silent(const Frame* f, FrameIndex n) {
    for (FrameIndex i = 0; i < n; ++i)
        if (f[i].left != 0 || f[i].right != 0) return false;
    return true;
}

bool same(const Frame* a, const Frame* b, FrameIndex n) {
    return n == 0 || std::memcmp(a, b, static_cast<std::size_t>(n) * sizeof(Frame)) == 0;
}

void put(std::vector<std::uint8_t>& b, std::uint64_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

// A header laid out by the control bytes, then samples as the data chunk's body.
std::vector<std::uint8_t> laidOut(FuzzedDataProvider& in, const std::vector<std::uint8_t>& samples) {
    static constexpr std::uint16_t kTags[] = {1, 3, 6, 0x55, 0x1234};
    static constexpr std::uint16_t kBits[] = {8, 16, 24, 32, 64, 12, 0};
    static constexpr std::uint32_t kRates[] = {8000, 44100, 48000, 96000, 192000, 7999, 192001};
    const std::uint16_t tag = kTags[in.ConsumeIntegralInRange<std::size_t>(0, std::size(kTags) - 1)];
    const std::uint16_t bits = kBits[in.ConsumeIntegralInRange<std::size_t>(0, std::size(kBits) - 1)];
    const std::uint16_t channels = in.ConsumeIntegralInRange<std::uint16_t>(0, 8);
    const std::uint32_t rate = in.ConsumeBool() ? kRates[in.ConsumeIntegralInRange<std::size_t>(0, std::size(kRates) - 1)]
                                                : in.ConsumeIntegral<std::uint32_t>();
    const bool extensible = in.ConsumeBool(), rf64 = in.ConsumeBool();
    const std::uint16_t validBits = in.ConsumeIntegralInRange<std::uint16_t>(0, 70);
    const std::uint16_t align = static_cast<std::uint16_t>(channels * (bits / 8));
    std::vector<std::uint8_t> b;
    const char* form = rf64 ? "RF64" : "RIFF";
    b.insert(b.end(), form, form + 4);
    put(b, 0, 4);
    b.insert(b.end(), {'W', 'A', 'V', 'E'});
    std::size_t ds64 = 0;
    if (rf64) {
        b.insert(b.end(), {'d', 's', '6', '4'});
        put(b, 28, 4);
        ds64 = b.size();
        b.resize(b.size() + 28, 0);
    }
    b.insert(b.end(), {'f', 'm', 't', ' '});
    put(b, extensible ? 40 : 16, 4);
    put(b, extensible ? 0xFFFE : tag, 2);
    put(b, channels, 2);
    put(b, rate, 4);
    put(b, static_cast<std::uint64_t>(rate) * align, 4);
    put(b, align, 2);
    put(b, bits, 2);
    if (extensible) {
        put(b, 22, 2);
        put(b, validBits, 2);
        put(b, 3, 4);
        put(b, tag, 2);
        b.insert(b.end(), {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71});
    }
    b.insert(b.end(), {'d', 'a', 't', 'a'});
    put(b, rf64 ? 0xFFFFFFFFu : samples.size(), 4);
    b.insert(b.end(), samples.begin(), samples.end());
    for (int i = 0; i < 4; ++i) b[4 + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>((rf64 ? 0xFFFFFFFFu : b.size() - 8) >> (8 * i));
    if (rf64) {
        std::vector<std::uint8_t> sizes;
        put(sizes, b.size() - 8, 8);
        put(sizes, in.ConsumeBool() ? samples.size() : in.ConsumeIntegral<std::uint32_t>(), 8);
        std::copy(sizes.begin(), sizes.end(), b.begin() + static_cast<std::ptrdiff_t>(ds64));
    }
    return b;
}

// The full-precision image: in the file's own format when it is deeper than 16 bits,
// its frames within one 16-bit step of the 16-bit ones (where those do not saturate).
void checkWideImage(KWavefile& w, FrameIndex start, FrameIndex end) {
    WaveImage image, narrow;
    const std::size_t header = w.MakeWaveImage(start, end, image, true);
    if (header == 0 || w.MakeWaveImage(start, end, narrow) == 0) return;
    check(image.isWide() == w.KeepsDepth(), "a deeper file's image did not keep its depth");
    check(image.frameCount() == narrow.frameCount(), "wide and 16-bit images differ in length");
    if (!image.isWide()) return;
    check(image.bits == w.BitsPerSample && image.kind == w.Kind, "the image's format is not the file's");
    // The file's own frames, unconditioned: a float sample beyond full scale is clipped in
    // the 16-bit frames before a remix, the band filter or a mono sample's halving (placed
    // on both channels), and kept in the wide ones.
    WaveImage raw;
    const int flags = w.ChannelFlags;
    const float low = w.FilterLow, high = w.FilterHigh;
    w.ChannelFlags = 0;
    w.FilterLow = w.FilterHigh = 0.0f;
    w.MakeWaveImage(start, end, raw, true);
    w.ChannelFlags = flags;
    w.FilterLow = low;
    w.FilterHigh = high;
    const float full = w.Channels == 1 ? 16383.0f : 32767.0f;
    const auto inRange = [&](std::size_t i) {
        return i < raw.wide.size() && std::fabs(raw.wide[i].left) < full && std::fabs(raw.wide[i].right) < full;
    };
    for (std::size_t i = 0; i < image.wide.size(); ++i) {
        const WideFrame& a = image.wide[i];
        const Frame& b = narrow.frames[i];
        if (std::fabs(a.left) < 32767 && std::fabs(a.right) < 32767 && inRange(i))
            check(std::fabs(a.left - b.left) <= 1 && std::fabs(a.right - b.right) <= 1, "wide frame far from the 16-bit one");
    }
    check(image.bytes().size() == header + image.wide.size() * static_cast<std::size_t>(image.bytesPerFrame()),
          "coded frames of the wrong size");
}

void conditioning(FuzzedDataProvider& in, KWavefile& w) {
    const std::uint8_t c = in.ConsumeIntegral<std::uint8_t>();
    w.ChannelFlags = (c & 1 ? kInvertLeft : 0) | (c & 2 ? kInvertRight : 0) | (c & 4 ? kRemix : 0);
    // The band edges the EQ stage uses, or none.
    static constexpr float kLow[] = {0, 100, 500}, kHigh[] = {0, 2000, 12000};
    w.FilterLow = kLow[(c >> 3) % 3];
    w.FilterHigh = kHigh[(c >> 5) % 3];
    w.FilterAttenuation = 60.0f;
    w.FilterWidth = 0.2f;
}

// An image of [start, end): header patched for 16-bit stereo, silence outside the file,
// the file's frames (conditioned as ReadFrames gives them) inside.
void checkImage(KWavefile& w, FrameIndex start, FrameIndex end) {
    WaveImage image;
    const std::size_t header = w.MakeWaveImage(start, end, image);
    if (!w.Usable()) {
        check(header == 0, "an unusable file made an image");
        return;
    }
    if (header == 0) return;  // refused: too large for a WAVE file
    check(header == static_cast<std::size_t>(w.DataOffset), "image header size is not the data offset");
    const FrameIndex n = end > start ? end - start : 1;
    check(image.frameCount() == n, "image frame count");
    const std::uint8_t* h = image.header.data();
    check(le32(h + 4) == static_cast<std::uint32_t>(header + 4 * static_cast<std::uint64_t>(n) - 8), "RIFF size field");
    check(le32(h + header - 4) == static_cast<std::uint32_t>(4 * n), "data size field");
    const std::uint8_t* f = h + w.FmtOffset;
    check(f[2] == 2 && f[3] == 0 && f[14] == 16 && f[15] == 0 && le32(f + 4) == w.SampleRate, "patched format");

    const FrameIndex first = std::max<FrameIndex>(start, 0);
    const FrameIndex last = std::min(start + n, w.FrameCount);
    const Frame* frames = image.frames.data();
    if (first >= last) {
        check(silent(frames, n), "frames outside the file are not silent");
        return;
    }
    check(silent(frames, first - start), "frames before the file are not silent");
    check(silent(frames + (last - start), start + n - last), "frames after the file are not silent");
    std::vector<Frame> direct(static_cast<std::size_t>(last - first));
    check(w.ReadFrames(direct.data(), first, last) == last - first, "in-range fetch failed");
    check(same(frames + (first - start), direct.data(), last - first), "image frames differ from fetched frames");
}

FrameIndex spanStart(FuzzedDataProvider& in, const KWavefile& w) {
    static constexpr FrameIndex kExtremes[] = {INT64_MIN, INT64_MIN + 1, -(FrameIndex{1} << 30), -(FrameIndex{1} << 30) + 1,
                                               (FrameIndex{1} << 30) - 2, FrameIndex{1} << 30, INT64_MAX - 1, INT64_MAX};
    switch (in.ConsumeIntegralInRange<int>(0, 3)) {
        case 0: return in.ConsumeIntegralInRange<FrameIndex>(0, w.FrameCount);
        case 1: return in.ConsumeIntegralInRange<FrameIndex>(-kMaxSpan, 0);
        case 2: return saturatingAdd(w.FrameCount, in.ConsumeIntegralInRange<FrameIndex>(-kMaxSpan, kMaxSpan));
        default: return kExtremes[in.ConsumeIntegralInRange<std::size_t>(0, std::size(kExtremes) - 1)];
    }
}

void writeFile(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// Division points as a hand-edited or half-written qzv.ini may hold them: around and
// beyond the file, in any order.
void storePoints(FuzzedDataProvider& in, KWavefile& w) {
    w.DivisionPoints.resize(in.ConsumeIntegralInRange<std::size_t>(0, 4));
    for (FrameIndex& point : w.DivisionPoints) point = in.ConsumeIntegralInRange<FrameIndex>(-256, w.FrameCount + 256);
    if (in.ConsumeBool()) SettingsWriteInt(w.ChangeExtension(""), "Average", in.ConsumeIntegralInRange<int>(-1, 40000));
}

void mixSegment(FuzzedDataProvider& in, KWavefile& base, KWavefile& other) {
    storePoints(in, base);
    storePoints(in, other);
    for (int i = 0; i < 8; ++i)
        base.MixSettings[static_cast<std::size_t>(i)] =
            i % 2 == 0 ? in.ConsumeIntegralInRange<int>(0, 100) : in.ConsumeIntegralInRange<int>(-90, 90);
    auto index = [&] { return in.ConsumeIntegralInRange<int>(-1, 3); };
    const int bs = index(), os = index(), be = index(), oe = index();
    const int bn = in.ConsumeIntegralInRange<int>(0, 3), on = in.ConsumeIntegralInRange<int>(0, 3);
    const int bv = in.ConsumeBool() ? 0 : in.ConsumeIntegralInRange<int>(1, 4000);
    const int ov = in.ConsumeIntegralInRange<int>(0, 4000);
    FrameIndex limit = in.ConsumeIntegralInRange<FrameIndex>(-kMixLimit - 256, kMixLimit + 256);
    const bool useLimit = in.ConsumeBool();
    WaveImage image;
    const std::size_t header =
        base.MakePitchChangedImage(other, bs, os, be, oe, bn, on, bv, ov, useLimit ? &limit : nullptr, image);
    if (header == 0) return;
    check(header == static_cast<std::size_t>(base.DataOffset), "segment header size is not the data offset");
    if (useLimit) check(limit == image.frameCount(), "segment length not reported through the limit");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string& scratch = fuzz::ScratchFolder();
    // The last kControlBytes bytes steer the run; everything before them is the file.
    const std::size_t fileSize = size > kControlBytes ? size - kControlBytes : 0;
    FuzzedDataProvider ctl(data + fileSize, size - fileSize);
    std::vector<std::uint8_t> bytes(data, data + fileSize);
    const int placement = ctl.ConsumeBool() ? kPlaceBoth : kPlaceLeft;
    const std::uint8_t mode = ctl.ConsumeIntegral<std::uint8_t>();
    const bool analyse = mode & 1;
    const std::size_t split = ctl.ConsumeIntegral<std::uint16_t>();
    // The other file of a segment mix: the same file (as when a file is synchronised
    // with a copy of itself) or the bytes after split.
    std::vector<std::uint8_t> otherBytes;
    if (mode & 2) {
        otherBytes = bytes;
    } else if (split < bytes.size()) {
        otherBytes.assign(bytes.begin() + static_cast<std::ptrdiff_t>(split), bytes.end());
        bytes.resize(split);
    }

    if (mode & 4) bytes = laidOut(ctl, bytes);

    const std::string baseName = scratch + "base.wav";
    KWavefile base(baseName, bytes, placement, false);
    // A stale cache entry: the analysis must measure this file.
    SettingsWriteText(baseName, "Date", "stale");
    if (!base.Usable()) {
        check(!base.Problem().empty(), "unusable without a reason");
        Frame f[4];
        check(base.ReadFrames(f, 0, 4) == 0, "an unusable file gave frames");
    } else {
        check(base.DataOffset >= 20 && base.DataOffset <= static_cast<std::int64_t>(bytes.size()), "data offset");
        check(base.FmtOffset >= 20 && base.FmtOffset + 16 <= base.DataOffset - 8, "fmt chunk not before data");
        check(base.BlockAlign == base.Channels * (base.BitsPerSample / 8), "block align");
    }
    if (analyse && base.FrameCount <= kAnalyseLimit) {
        base.CheckData();
        check(base.Peak == std::max(base.PeakL, base.PeakR), "peak is not the larger channel peak");
        check(base.PeakL <= 32768 && base.PeakR <= 32768 && base.PeakMono <= 65536, "peak out of range");
        check(base.FrontNull <= base.FrameCount && base.BackNull <= base.FrameCount, "silence longer than the file");
    }
    // As callers do: the band filter and phase flags are set after the analysis.
    conditioning(ctl, base);

    if (base.Usable()) {
        // In range.
        const FrameIndex s = ctl.ConsumeIntegralInRange<FrameIndex>(0, base.FrameCount);
        const FrameIndex e = std::min(base.FrameCount, s + ctl.ConsumeIntegralInRange<FrameIndex>(0, kMaxSpan));
        checkImage(base, s, e);
        checkWideImage(base, s, e);
        std::vector<Frame> own(static_cast<std::size_t>(e - s));
        if (e > s) check(base.ReadFrames(own.data(), s, e) == e - s, "in-range fetch failed");

        // Frames from another data source, read by its own header, then back to the file.
        writeFile(scratch + "copy.wav", otherBytes);
        base.SetDataSource(scratch + "copy.wav");
        std::vector<Frame> copy(own.size());
        if (e > s) base.ReadFrames(copy.data(), s, e);
        base.SetDataSource("");
        std::vector<Frame> again(own.size());
        if (e > s) check(base.ReadFrames(again.data(), s, e) == e - s && same(again.data(), own.data(), e - s),
                           "frames changed after a trip through another data source");
    }
    for (int i = 0; i < 3; ++i) {
        const FrameIndex s = spanStart(ctl, base);
        const FrameIndex len = ctl.ConsumeIntegralInRange<FrameIndex>(-2, kMaxSpan);
        checkImage(base, s, saturatingAdd(s, len));
    }

    if (base.Usable() && base.FrameCount <= kMixLimit && !otherBytes.empty()) {
        const std::string otherName = scratch + "other.wav";
        KWavefile other(otherName, otherBytes, placement, false);
        if (other.Usable() && other.FrameCount <= kMixLimit) {
            SettingsWriteText(otherName, "Date", "stale");
            if (analyse) other.CheckData();
            conditioning(ctl, other);
            mixSegment(ctl, base, other);
        }
    }
    return 0;
}
