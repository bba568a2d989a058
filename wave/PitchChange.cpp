// One output segment: the other file's segment resampled onto the base file's segment
// by linear interpolation and mixed with it through MixSettings.
#include <algorithm>
#include <cmath>
#include <exception>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/Alert.h"
#include "core/Log.h"
#include "core/Text.h"
#include "settings/Settings.h"
#include "wave/KWavefile.h"

namespace tandem {
namespace {

FrameIndex divisionPoint(const KWavefile& file, int index) {
    return SettingsReadInt(file.ChangeExtension(""), "DP" + std::to_string(index), 0);
}

// More frames than a WAVE file's 32-bit sizes can describe.
constexpr FrameIndex kMaxWaveFrames = FrameIndex{1} << 30;

std::int16_t saturate(std::int64_t v) { return static_cast<std::int16_t>(std::clamp<std::int64_t>(v, -32768, 32767)); }

}  // namespace

std::size_t KWavefile::MakePitchChangedImage(KWavefile& other, int baseStart, int otherStart, int baseEnd, int otherEnd,
                                             int baseNeighbour, int otherNeighbour, int baseVolume, int otherVolume,
                                             FrameIndex* limit, WaveImage& image) {
    const bool log = LogIsShown();
    if (log) {
        AddLog("※MakePitchChangedImage(" + std::to_string(baseStart) + "," + std::to_string(otherStart) + ")");
        AddLog("◆：PeakL=" + std::to_string(Peak) + " PeakR=" + std::to_string(other.Peak));
        AddLog("◆：R/Base=" + std::to_string(baseVolume) + " / " + std::to_string(otherVolume));
    }

    double w = 1.0, a = 1.0;
    if (baseVolume != 0) {
        w = baseVolume * 0.001;
        a = otherVolume * 0.001;
    } else {
        const std::int64_t bv = SettingsReadInt(ChangeExtension(""), "Average", 0);
        const std::int64_t ov =
            static_cast<std::int64_t>(otherVolume != 0 ? otherVolume : 100) * SettingsReadInt(other.ChangeExtension(""), "Average", 0) / 100;
        // Without a level for either file there is nothing to match: unchanged volumes.
        if (ov > 0 && bv > 0) {
            if (other.Peak * bv / ov < 32512) {
                a = static_cast<double>(bv) / static_cast<double>(ov);
                w = 1.0;
            } else {
                a = 32512.0 / other.Peak;
                w = static_cast<double>(ov) * a / static_cast<double>(bv);
            }
        }
        baseVolume = static_cast<int>(bv);
        otherVolume = static_cast<int>(ov);
    }
    if (log) {
        AddLog("◆◆：R/Base=" + std::to_string(baseVolume) + " / " + std::to_string(otherVolume));
        AddLog("ボリューム調整：L は " + Fixed(w) + ", R は " + Fixed(a));
    }

    const bool first = baseStart == -1;
    const bool last = baseEnd == -1;
    FrameIndex b0 = first ? 0 : divisionPoint(*this, baseStart);
    FrameIndex o0 = otherStart == -1 ? 0 : divisionPoint(other, otherStart);
    FrameIndex b1 = last ? FrameCount : divisionPoint(*this, baseEnd);
    FrameIndex o1 = otherEnd == -1 ? other.FrameCount : divisionPoint(other, otherEnd);
    if (log)
        AddLog("分割区間：L は " + std::to_string(b0) + "～" + std::to_string(b1) + ", R は " + std::to_string(o0) + "～" +
               std::to_string(o1));
    if (b1 <= b0) return 0;

    if (o1 <= o0) {
        // An empty slave segment takes the previous segment's ratio. Before point 1 there
        // is no previous segment between division points, and an empty or reversed one
        // has no ratio: 1:1 then.
        const bool havePrevious = baseStart >= 1 && otherStart >= 1;
        const FrameIndex pb = havePrevious ? b0 - divisionPoint(*this, baseStart - 1) : 0;
        const FrameIndex po = havePrevious ? o0 - divisionPoint(other, otherStart - 1) : 0;
        if (log) AddLog("■直前の比率：L は " + std::to_string(pb) + ", R は " + std::to_string(po));
        if (pb > 0 && po > 0) {
            const __int128 span = static_cast<__int128>(b1 - b0) * po / pb;
            o1 = o0 + static_cast<FrameIndex>(std::min<__int128>(span, kMaxWaveFrames));
        } else {
            o1 = o0 + (b1 - b0);
        }
        if (log) AddLog("■■■■■：ER変更 " + std::to_string(o0) + "～" + std::to_string(o1));
    }

    FrameIndex lb, lo;
    if (first) {
        lb = divisionPoint(*this, baseNeighbour) - b1;
        lo = divisionPoint(other, otherNeighbour) - o1;
    } else if (last) {
        lb = b0 - divisionPoint(*this, baseNeighbour);
        lo = o0 - divisionPoint(other, otherNeighbour);
    } else {
        lb = b1 - b0;
        lo = o1 - o0;
    }
    if (log) AddLog("比率：L は " + std::to_string(lb) + ", R は " + std::to_string(lo));
    if (lb <= 0 || lo <= 0) return 0;
    const double J = static_cast<double>(lo) / static_cast<double>(lb);

    // A limit that cuts the base segment cuts the other one to match; an uncut first
    // segment keeps a longer slave lead-in, which the widening below makes room for.
    if (limit && *limit > 0 && *limit < b1 - b0) {
        b1 = b0 + *limit;
        const FrameIndex span = static_cast<FrameIndex>(static_cast<double>(b1 - b0) * J);
        if (span < o1 - o0) o1 = o0 + span;
    } else if (limit && *limit < 0 && -*limit < b1 - b0) {
        b0 = b1 + *limit;
        const FrameIndex span = static_cast<FrameIndex>(static_cast<double>(b1 - b0) * J);
        if (span < o1 - o0) o0 = o1 - span;
    }

    if (MakeWaveImage(b0, b1, image) == 0) return 0;
    WaveImage otherImage;
    if (other.MakeWaveImage(o0, o1, otherImage) == 0) {
        if (limit) *limit = b1 - b0;
        return image.headerSize();
    }

    const FrameIndex widened = static_cast<FrameIndex>(static_cast<double>(o1 - o0) / J);
    if (b1 - b0 < widened) {
        if (log) AddLog("左側が不足しているので" + std::to_string(b1 - b0) + "から" + std::to_string(widened) + "に広げる");
        try {
            if (widened > kMaxWaveFrames) throw std::length_error("wider than a WAVE file");
            std::vector<Frame> wide(static_cast<std::size_t>(widened), Frame{});
            const std::size_t at = first ? static_cast<std::size_t>(widened - (b1 - b0)) : 0;
            std::copy(image.frames.begin(), image.frames.end(), wide.begin() + static_cast<std::ptrdiff_t>(at));
            image.frames = std::move(wide);
            b1 = b0 + widened;
        } catch (const std::exception&) {  // bad_alloc, or length_error for an absurd ratio
            ShowAlert("Oh, my god!");
        }
    }
    if (limit) *limit = b1 - b0;

    const FrameIndex nb = static_cast<FrameIndex>(image.frames.size());
    const FrameIndex u = first ? o1 - static_cast<FrameIndex>(static_cast<double>(nb) * J) : o0;
    if (log) AddLog("SR(Stereo)=" + std::to_string(u));

    const Frame* V = otherImage.frames.data();
    const FrameIndex nv = static_cast<FrameIndex>(otherImage.frames.size());
    const int volML = MixSettings[0], panML = MixSettings[1], volMR = MixSettings[2], panMR = MixSettings[3];
    const int volSL = MixSettings[4], panSL = MixSettings[5], volSR = MixSettings[6], panSR = MixSettings[7];
    for (FrameIndex t = 0; t < nb; ++t) {
        Frame& out = image.frames[static_cast<std::size_t>(t)];
        const double x = static_cast<double>(t) * J;
        const FrameIndex i = static_cast<FrameIndex>(x);
        const double f = x - static_cast<double>(i);
        const FrameIndex k = i + u - o0;
        std::int64_t SL, SR;
        if (k < 0) {
            SL = V[0].left;
            SR = V[0].right;
        } else if (k >= nv - 1) {
            SL = V[nv - 1].left;
            SR = V[nv - 1].right;
        } else {
            SL = V[k].left + static_cast<std::int64_t>((V[k + 1].left - V[k].left) * f);
            SR = V[k].right + static_cast<std::int64_t>((V[k + 1].right - V[k].right) * f);
        }
        const std::int64_t BL = out.left, BR = out.right;
        const std::int64_t mL = static_cast<std::int64_t>(static_cast<double>(BL * volML) * w * 0.01);
        const std::int64_t mR = static_cast<std::int64_t>(static_cast<double>(BR * volMR) * w * 0.01);
        const std::int64_t sL = static_cast<std::int64_t>(static_cast<double>(SL * volSL) * a * 0.01);
        const std::int64_t sR = static_cast<std::int64_t>(static_cast<double>(SR * volSR) * a * 0.01);
        const std::int64_t leftM = mL * (90 - panML) / 180 + mR * (90 - panMR) / 180;
        const std::int64_t rightM = (panML + 90) * mL / 180 + (panMR + 90) * mR / 180;
        const std::int64_t leftS = sL * (90 - panSL) / 180 + sR * (90 - panSR) / 180;
        const std::int64_t rightS = (panSL + 90) * sL / 180 + (panSR + 90) * sR / 180;
        // Saturated: a loud mix would otherwise wrap around into full-scale clicks.
        out.left = saturate((leftM + leftS) / 2);
        out.right = saturate((rightM + rightS) / 2);
        if (t == 0 && log) {
            AddLog("☆☆1st(" + std::to_string(BL) + "," + std::to_string(BR) + ") 2nd(" + std::to_string(SL) + "," +
                   std::to_string(SR) + ")");
            AddLog("☆☆1st(" + std::to_string(mL) + "," + std::to_string(mR) + ") 2nd(" + std::to_string(sL) + "," +
                   std::to_string(sR) + ")");
            AddLog("☆☆1st(" + std::to_string(leftM) + "," + std::to_string(rightM) + ") 2nd(" + std::to_string(leftS) +
                   "," + std::to_string(rightS) + ")");
        }
    }
    return image.headerSize();
}

}  // namespace tandem
