// One output segment: the other file's segment resampled onto the base file's segment
// by linear interpolation and mixed with it through MixSettings.
#include <algorithm>
#include <array>
#include <cmath>
#include <exception>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/Alert.h"
#include "core/Clones.h"
#include "core/Log.h"
#include "core/Text.h"
#include "dsp/TimeMap.h"
#include "settings/Settings.h"
#include "wave/BandLimitedRead.h"
#include "wave/KWavefile.h"

namespace tandem {
namespace {

FrameIndex divisionPoint(const KWavefile& file, int index) {
    const std::vector<FrameIndex>& points = file.DivisionPoints;
    return index >= 0 && static_cast<std::size_t>(index) < points.size() ? points[static_cast<std::size_t>(index)] : 0;
}

// More frames than a WAVE file's 32-bit sizes can describe.
constexpr FrameIndex kMaxWaveFrames = FrameIndex{1} << 30;

std::int16_t saturate(std::int64_t v) { return static_cast<std::int16_t>(std::clamp<std::int64_t>(v, -32768, 32767)); }
std::int16_t roundTo16(float v) { return static_cast<std::int16_t>(std::clamp(std::nearbyint(v), -32768.0f, 32767.0f)); }

// A band-limited read's buffers kept per thread: ten seconds at 48 kHz.
constexpr std::size_t kKeptFrames = 480000;

// Vectors round as nearbyint does (to nearest, ties to even): the same frames, without a
// library call per sample.
TANDEM_CLONES("avx512f", "avx2")
void roundFrames(const WideFrame* in, std::size_t n, Frame* out) {
    for (std::size_t t = 0; t < n; ++t) out[t] = Frame{roundTo16(in[t].left), roundTo16(in[t].right)};
}

// The mix of one frame: base (master) frame B, the other file's frame interpolated
// between V[k] and V[k + 1] at fraction f (the first or last frame outside V), each
// channel scaled by its volume and the level factor (w base, a other), panned, the two
// files averaged. With T = std::int64_t (16-bit frames) every step truncates toward
// zero as specified; with T = double (wide frames, a master deeper than 16 bits) the
// same steps run at full precision, and saturation is left to the output's coding.
template <typename T>
struct MixedFrame {
    T SL, SR, mL, mR, sL, sR, leftM, rightM, leftS, rightS;
};

template <typename T, typename F>
MixedFrame<T> mixFrame(F B, const F* V, FrameIndex nv, FrameIndex k, double f, const std::array<std::int32_t, 8>& m,
                       double w, double a) {
    MixedFrame<T> r;
    if (k < 0) {
        r.SL = static_cast<T>(V[0].left);
        r.SR = static_cast<T>(V[0].right);
    } else if (k >= nv - 1) {
        r.SL = static_cast<T>(V[nv - 1].left);
        r.SR = static_cast<T>(V[nv - 1].right);
    } else {
        r.SL = static_cast<T>(V[k].left) + static_cast<T>((static_cast<T>(V[k + 1].left) - static_cast<T>(V[k].left)) * f);
        r.SR = static_cast<T>(V[k].right) + static_cast<T>((static_cast<T>(V[k + 1].right) - static_cast<T>(V[k].right)) * f);
    }
    const T BL = static_cast<T>(B.left), BR = static_cast<T>(B.right);
    r.mL = static_cast<T>(static_cast<double>(BL * m[0]) * w * 0.01);
    r.mR = static_cast<T>(static_cast<double>(BR * m[2]) * w * 0.01);
    r.sL = static_cast<T>(static_cast<double>(r.SL * m[4]) * a * 0.01);
    r.sR = static_cast<T>(static_cast<double>(r.SR * m[6]) * a * 0.01);
    r.leftM = r.mL * (90 - m[1]) / 180 + r.mR * (90 - m[3]) / 180;
    r.rightM = (m[1] + 90) * r.mL / 180 + (m[3] + 90) * r.mR / 180;
    r.leftS = r.sL * (90 - m[5]) / 180 + r.sR * (90 - m[7]) / 180;
    r.rightS = (m[5] + 90) * r.sL / 180 + (m[7] + 90) * r.sR / 180;
    return r;
}

void mixInIntegers(Frame* out, FrameIndex nb, const Frame* V, FrameIndex nv, double J, FrameIndex shift,
                   const std::array<std::int32_t, 8>& m, double w, double a) {
    for (FrameIndex t = 0; t < nb; ++t) {
        const double x = static_cast<double>(t) * J;
        const FrameIndex i = static_cast<FrameIndex>(x);
        const MixedFrame<std::int64_t> r = mixFrame<std::int64_t>(out[t], V, nv, i + shift, x - static_cast<double>(i), m, w, a);
        // Saturated: a loud mix would otherwise wrap around into full-scale clicks.
        out[t].left = saturate((r.leftM + r.leftS) / 2);
        out[t].right = saturate((r.rightM + r.rightS) / 2);
    }
}

// A block of a segment's mix inputs as doubles: the base frames, and the two frames of the
// other file around each interpolated position (at the edges, the edge frame twice).
template <typename F>
struct MixBlock {
    static constexpr FrameIndex kSize = 256;
    double bl[kSize], br[kSize], vl0[kSize], vl1[kSize], vr0[kSize], vr1[kSize], fr[kSize];
    std::int64_t inside[kSize];  // as wide as a double, so that selects on it vectorise

    // Loads the block from base frame t0 on; returns its length.
    [[gnu::always_inline]] FrameIndex load(const F* out, FrameIndex t0, FrameIndex nb, const F* V, FrameIndex nv, double J,
                                           FrameIndex shift) {
        const FrameIndex n = std::min(kSize, nb - t0);
        for (FrameIndex j = 0; j < n; ++j) {
            const double x = static_cast<double>(t0 + j) * J;
            const FrameIndex i = static_cast<FrameIndex>(x);
            const FrameIndex k = i + shift;
            inside[j] = k >= 0 && k < nv - 1;
            const FrameIndex k0 = k < 0 ? 0 : (k > nv - 1 ? nv - 1 : k);
            const FrameIndex k1 = inside[j] ? k + 1 : k0;
            fr[j] = x - static_cast<double>(i);
            vl0[j] = V[k0].left;
            vl1[j] = V[k1].left;
            vr0[j] = V[k0].right;
            vr1[j] = V[k1].right;
            bl[j] = out[t0 + j].left;
            br[j] = out[t0 + j].right;
        }
        return n;
    }
};

// The mix settings as the factors of each channel's volume (k), and its share of the left
// (p) and of the right (q) output, in 180ths.
struct MixFactors {
    double kml, kmr, ksl, ksr, pml, pmr, psl, psr, qml, qmr, qsl, qsr;
    explicit MixFactors(const std::array<std::int32_t, 8>& m)
        : kml(m[0]), kmr(m[2]), ksl(m[4]), ksr(m[6]), pml(90 - m[1]), pmr(90 - m[3]), psl(90 - m[5]), psr(90 - m[7]),
          qml(m[1] + 90), qmr(m[3] + 90), qsl(m[5] + 90), qsr(m[7] + 90) {}
};

// The base's channels at full volume, both panned wholly left, at the volume w = 1 (the
// measuring pass's, and the default mix's master): each is taken as it is, since
// RN(100 x * 0.01) = x for |x| <= 2^15 (0.01's excess, 2.1e-17 relative, is below a
// quarter ulp) and x * 180 / 180 = x, so where the other file feeds no left the mix's
// left is trunc((L + R) / 2), the integer quotient.
bool MonoOnLeft(const std::array<std::int32_t, 8>& m, double w) {
    return m[0] == 100 && m[1] == -90 && m[2] == 100 && m[3] == -90 && w == 1.0;
}

}  // namespace

// The left channel takes the other file's channels through ksl psl and ksr psr.
bool KWavefile::MixFeedsOtherLeft() const {
    const MixFactors c(MixSettings);
    return (c.ksl != 0.0 && c.psl != 0.0) || (c.ksr != 0.0 && c.psr != 0.0);
}

namespace {

// mixFrame<double> over a segment, in blocks the compiler vectorises; the same operations
// in the same order, so the same frames.
TANDEM_CLONES("avx512f", "avx2")
void mixWide(WideFrame* out, FrameIndex nb, const WideFrame* V, FrameIndex nv, double J, FrameIndex shift,
             const std::array<std::int32_t, 8>& m, double w, double a) {
    MixBlock<WideFrame> b;
    const MixFactors c(m);
    for (FrameIndex t0 = 0; t0 < nb; t0 += MixBlock<WideFrame>::kSize) {
        const FrameIndex n = b.load(out, t0, nb, V, nv, J, shift);
        for (FrameIndex j = 0; j < n; ++j) {
            // An edge frame is taken as it is (a -0.0 stays -0.0).
            const double l = b.vl0[j] + (b.vl1[j] - b.vl0[j]) * b.fr[j];
            const double r = b.vr0[j] + (b.vr1[j] - b.vr0[j]) * b.fr[j];
            const double SL = b.inside[j] ? l : b.vl0[j];
            const double SR = b.inside[j] ? r : b.vr0[j];
            const double mL = b.bl[j] * c.kml * w * 0.01;
            const double mR = b.br[j] * c.kmr * w * 0.01;
            const double sL = SL * c.ksl * a * 0.01;
            const double sR = SR * c.ksr * a * 0.01;
            const double leftM = mL * c.pml / 180 + mR * c.pmr / 180;
            const double rightM = c.qml * mL / 180 + c.qmr * mR / 180;
            const double leftS = sL * c.psl / 180 + sR * c.psr / 180;
            const double rightS = c.qsl * sL / 180 + c.qsr * sR / 180;
            b.bl[j] = (leftM + leftS) / 2;
            b.br[j] = (rightM + rightS) / 2;
        }
        for (FrameIndex j = 0; j < n; ++j)
            out[t0 + j] = WideFrame{static_cast<float>(b.bl[j]), static_cast<float>(b.br[j])};
    }
}

std::string number(std::int64_t v) { return std::to_string(v); }
std::string number(double v) { return Fixed(v); }

template <typename T, typename F>
void logFirstFrame(F B, const F* V, FrameIndex nv, FrameIndex shift, const std::array<std::int32_t, 8>& m, double w,
                   double a) {
    const MixedFrame<T> r = mixFrame<T>(B, V, nv, shift, 0.0, m, w, a);
    const auto line = [](T l1, T r1, T l2, T r2) {
        AddLog("☆☆1st(" + number(l1) + "," + number(r1) + ") 2nd(" + number(l2) + "," + number(r2) + ")");
    };
    line(static_cast<T>(B.left), static_cast<T>(B.right), r.SL, r.SR);
    line(r.mL, r.mR, r.sL, r.sR);
    line(r.leftM, r.rightM, r.leftS, r.rightS);
}

// Every integer the mix forms stays below 2^50 in magnitude: then doubles hold them
// exactly, and a quotient by 180 or 2 truncated in double precision is the integer
// quotient. (Volumes and level factors from a hand-edited qzv.ini can break this; the
// integer loop serves those.)
bool mixExactlyInDoubles(const std::array<std::int32_t, 8>& m, double w, double a) {
    constexpr double kLimit = 1125899906842624.0;  // 2^50
    const auto channel = [&](int vol, int pan, double factor) {
        const double scaled = 32768.0 * std::fabs(static_cast<double>(vol)) * std::fabs(factor) * 0.01 + 1.0;
        const double panned = scaled * (std::fabs(static_cast<double>(pan)) + 90.0);
        return std::isfinite(panned) && panned < kLimit / 4 ? panned : kLimit;
    };
    return channel(m[0], m[1], w) + channel(m[2], m[3], w) + channel(m[4], m[5], a) + channel(m[6], m[7], a) < kLimit;
}

// trunc(n / 180) for a whole n below 2^50 in magnitude, without the division (eight a
// frame were most of the mix's time). The double nearest 1/180 lies above it (by a
// relative 3.8e-17), so a multiple of 180 never falls below its quotient; any other
// quotient lies at least 1/n (relative) from the next whole number, more than the
// product's error (below 2^-52).
[[gnu::always_inline]] inline double quotient180(double n) { return std::trunc(n * (1.0 / 180.0)); }

// The mix of one block; Resampled false: the other file's frames are taken one for one
// (the band-limited reading), with no step to interpolate.
template <bool Resampled>
[[gnu::always_inline]] inline void mixBlock(MixBlock<Frame>& b, FrameIndex n, const MixFactors& c, double w, double a) {
    for (FrameIndex j = 0; j < n; ++j) {
        // At the edges both frames are the same: no step to interpolate.
        const double SL = Resampled ? b.vl0[j] + std::trunc((b.vl1[j] - b.vl0[j]) * b.fr[j]) : b.vl0[j];
        const double SR = Resampled ? b.vr0[j] + std::trunc((b.vr1[j] - b.vr0[j]) * b.fr[j]) : b.vr0[j];
        const double mL = std::trunc(b.bl[j] * c.kml * w * 0.01);
        const double mR = std::trunc(b.br[j] * c.kmr * w * 0.01);
        const double sL = std::trunc(SL * c.ksl * a * 0.01);
        const double sR = std::trunc(SR * c.ksr * a * 0.01);
        const double leftM = quotient180(mL * c.pml) + quotient180(mR * c.pmr);
        const double rightM = quotient180(c.qml * mL) + quotient180(c.qmr * mR);
        const double leftS = quotient180(sL * c.psl) + quotient180(sR * c.psr);
        const double rightS = quotient180(c.qsl * sL) + quotient180(c.qsr * sR);
        const double left = std::trunc((leftM + leftS) * 0.5), right = std::trunc((rightM + rightS) * 0.5);
        b.bl[j] = left < -32768.0 ? -32768.0 : left > 32767.0 ? 32767.0 : left;
        b.br[j] = right < -32768.0 ? -32768.0 : right > 32767.0 ? 32767.0 : right;
    }
}

// The integer mix carried out in doubles, in blocks the compiler vectorises. Gives the
// same frames as mixInIntegers whenever mixExactlyInDoubles holds. false, with nothing
// changed, when the positions do not fit (absurd ratios): the caller then mixes in
// integers.
TANDEM_CLONES("avx512f", "avx2")
bool mixInDoubles(Frame* out, FrameIndex nb, const Frame* V, FrameIndex nv, double J, FrameIndex shift,
                  const std::array<std::int32_t, 8>& m, double w, double a) {
    if (!(static_cast<double>(nb) * J < 9.0e15)) return false;
    MixBlock<Frame> b;
    const MixFactors c(m);
    // One for one: frame t is V[t] (the interpolation's step is zero, the held last frame
    // is V's own).
    const bool oneForOne = J == 1.0 && shift == 0 && nv >= nb;
    for (FrameIndex t0 = 0; t0 < nb; t0 += MixBlock<Frame>::kSize) {
        if (oneForOne) {
            const FrameIndex n = std::min(MixBlock<Frame>::kSize, nb - t0);
            for (FrameIndex j = 0; j < n; ++j) {
                b.vl0[j] = V[t0 + j].left;
                b.vr0[j] = V[t0 + j].right;
                b.bl[j] = out[t0 + j].left;
                b.br[j] = out[t0 + j].right;
            }
            mixBlock<false>(b, n, c, w, a);
            for (FrameIndex j = 0; j < n; ++j)
                out[t0 + j] = Frame{static_cast<std::int16_t>(b.bl[j]), static_cast<std::int16_t>(b.br[j])};
            continue;
        }
        const FrameIndex n = b.load(out, t0, nb, V, nv, J, shift);
        mixBlock<true>(b, n, c, w, a);
        for (FrameIndex j = 0; j < n; ++j)
            out[t0 + j] = Frame{static_cast<std::int16_t>(b.bl[j]), static_cast<std::int16_t>(b.br[j])};
    }
    return true;
}

// An image's frames at full precision (a 16-bit image's are widened).
std::vector<WideFrame> wideFramesOf(WaveImage& image) {
    if (image.isWide()) return std::move(image.wide);
    std::vector<WideFrame> wide(image.frames.size());
    for (std::size_t i = 0; i < wide.size(); ++i)
        wide[i] = WideFrame{static_cast<float>(image.frames[i].left), static_cast<float>(image.frames[i].right)};
    return wide;
}

// Puts the n frames of v at the end (first) or the start of a silent run of `wider`.
template <typename T>
void widenFrames(std::vector<T>& v, FrameIndex wider, bool first) {
    std::vector<T> wide(static_cast<std::size_t>(wider), T{});
    const std::size_t at = first ? static_cast<std::size_t>(wider) - v.size() : 0;
    std::copy(v.begin(), v.end(), wide.begin() + static_cast<std::ptrdiff_t>(at));
    v = std::move(wide);
}

}  // namespace

std::size_t KWavefile::MakePitchChangedImage(KWavefile& other, int baseStart, int otherStart, int baseEnd, int otherEnd,
                                             int baseNeighbour, int otherNeighbour, int baseVolume, int otherVolume,
                                             FrameIndex* limit, WaveImage& image, const TimeMap* map, bool leftOnly) {
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

    // A master deeper than 16 bits is mixed at full precision into its own format.
    const bool deep = KeepsDepth();
    if (MakeWaveImage(b0, b1, image, deep) == 0) return 0;
    leftOnly = leftOnly && !deep && !log && !MixFeedsOtherLeft();
    WaveImage otherImage;
    if (!map && !leftOnly && other.MakeWaveImage(o0, o1, otherImage, deep) == 0) {
        if (limit) *limit = b1 - b0;
        return image.headerSize();
    }

    const FrameIndex imageEnd = b1;  // the lead-in is widened in front of it
    FrameIndex widened = static_cast<FrameIndex>(static_cast<double>(o1 - o0) / J);
    // However long the slave's lead-in or tail, the image holds at most |limit| frames.
    if (limit && *limit != 0) widened = std::min(widened, *limit < 0 ? -*limit : *limit);
    if (b1 - b0 < widened) {
        if (log) AddLog("左側が不足しているので" + std::to_string(b1 - b0) + "から" + std::to_string(widened) + "に広げる");
        try {
            if (widened > kMaxWaveFrames) throw std::length_error("wider than a WAVE file");
            if (deep)
                widenFrames(image.wide, widened, first);
            else
                widenFrames(image.frames, widened, first);
            b1 = b0 + widened;
        } catch (const std::exception&) {  // bad_alloc, or length_error for an absurd ratio
            ShowAlert(MessageText(Msg::OhMyGod));
        }
    }
    if (limit) *limit = b1 - b0;

    const FrameIndex nb = image.frameCount();
    const FrameIndex u = first ? o1 - static_cast<FrameIndex>(static_cast<double>(nb) * J) : o0;
    if (log) AddLog("SR(Stereo)=" + std::to_string(u));
    const std::array<std::int32_t, 8> mix = MixSettings;
    if (leftOnly) {
        // The other file's share of the left is zero whatever it holds: the base's own
        // frames stand in for it, one for one (the right channel is of no use).
        Frame* B = image.frames.data();
        if (MonoOnLeft(mix, w)) {
            for (FrameIndex t = 0; t < nb; ++t) B[t].left = static_cast<std::int16_t>((B[t].left + B[t].right) / 2);
            return image.headerSize();
        }
        if (!mixExactlyInDoubles(mix, w, a) || !mixInDoubles(B, nb, B, nb, 1.0, 0, mix, w, a))
            mixInIntegers(B, nb, B, nb, 1.0, 0, mix, w, a);
        return image.headerSize();
    }
    if (map) {
        // The other file read band-limited at the map's position of every base frame,
        // then mixed frame for frame.
        const FrameIndex base0 = first ? imageEnd - nb : b0;
        // Each thread keeps its buffers for the next segment (fresh pages cost more than
        // the copy), those of a long lead-in or tail excepted.
        thread_local std::vector<double> pos;
        thread_local std::vector<WideFrame> read;
        thread_local std::vector<Frame> V;
        const auto release = [] {
            if (pos.capacity() > kKeptFrames) pos = {}, read = {}, V = {};
        };
        pos.resize(static_cast<std::size_t>(nb));
        read.resize(pos.size());
        const double fastest = map->Positions(base0, pos.size(), pos.data());
        ReadAtPositions(other, pos.data(), pos.size(), fastest, read.data());
        if (deep) {
            if (log && nb > 0) logFirstFrame<double>(image.wide[0], read.data(), nb, 0, mix, w, a);
            mixWide(image.wide.data(), nb, read.data(), nb, 1.0, 0, mix, w, a);
            release();
            return image.headerSize();
        }
        V.resize(read.size());
        roundFrames(read.data(), V.size(), V.data());
        if (log && nb > 0) logFirstFrame<std::int64_t>(image.frames[0], V.data(), nb, 0, mix, w, a);
        if (!mixExactlyInDoubles(mix, w, a) || !mixInDoubles(image.frames.data(), nb, V.data(), nb, 1.0, 0, mix, w, a))
            mixInIntegers(image.frames.data(), nb, V.data(), nb, 1.0, 0, mix, w, a);
        release();
        return image.headerSize();
    }
    if (deep) {
        const std::vector<WideFrame> V = wideFramesOf(otherImage);
        const FrameIndex nv = static_cast<FrameIndex>(V.size());
        if (log && nb > 0) logFirstFrame<double>(image.wide[0], V.data(), nv, u - o0, mix, w, a);
        mixWide(image.wide.data(), nb, V.data(), nv, J, u - o0, mix, w, a);
        return image.headerSize();
    }

    const Frame* V = otherImage.frames.data();
    const FrameIndex nv = static_cast<FrameIndex>(otherImage.frames.size());
    if (log && nb > 0) logFirstFrame<std::int64_t>(image.frames[0], V, nv, u - o0, mix, w, a);
    if (!mixExactlyInDoubles(mix, w, a) || !mixInDoubles(image.frames.data(), nb, V, nv, J, u - o0, mix, w, a))
        mixInIntegers(image.frames.data(), nb, V, nv, J, u - o0, mix, w, a);
    return image.headerSize();
}

}  // namespace tandem
