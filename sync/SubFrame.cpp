#include "sync/SubFrame.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "core/TimeBase.h"
#include "dsp/SincResampler.h"
#include "sync/StoredPoints.h"
#include "wave/KWavefile.h"

namespace tandem {
namespace {

// Half the correlation window: 50 ms holds a few periods of the lowest notes that
// carry a recording's timing and is short against how fast a clock's rate changes.
constexpr double kHalfWindowSeconds = 0.2;
constexpr int kLags = static_cast<int>(kSubFrameReach);
// Each pass shrinks the rate's error several times (the halves' own imbalance remains);
// on music the third pass still takes the points' RMS error from 0.029 to 0.020 frame.
constexpr int kRatePasses = 3;

// The slave around a segment end, as left + right.
class SlaveWindow {
public:
    SlaveWindow(KWavefile& slave, FrameIndex P, double reach) {
        first_ = P - static_cast<FrameIndex>(std::ceil(reach));
        const FrameIndex last = P + static_cast<FrameIndex>(std::ceil(reach));
        const std::size_t n = static_cast<std::size_t>(last - first_);
        left_.assign(n, 0.0f);
        right_.assign(n, 0.0f);
        const FrameIndex from = std::max<FrameIndex>(first_, 0), to = std::min<FrameIndex>(last, slave.FrameCount);
        if (to <= from) return;
        std::vector<Frame> frames(static_cast<std::size_t>(to - from));
        if (slave.ReadFrames(frames.data(), from, to) == 0) return;
        for (std::size_t k = 0; k < frames.size(); ++k) {
            left_[static_cast<std::size_t>(from - first_) + k] = frames[k].left;
            right_[static_cast<std::size_t>(from - first_) + k] = frames[k].right;
        }
    }

    // The slave at positions pos (slave frames), read band-limited at the given rate.
    std::vector<float> read(const SincTable& table, std::vector<double> pos) const {
        for (double& p : pos) p -= static_cast<double>(first_);
        std::vector<float> l(pos.size()), r(pos.size());
        const float* src[2] = {left_.data(), right_.data()};
        float* out[2] = {l.data(), r.data()};
        SincRead(table, src, 2, pos.data(), pos.size(), out);
        for (std::size_t k = 0; k < l.size(); ++k) l[k] += r[k];
        return l;
    }

private:
    FrameIndex first_ = 0;
    std::vector<float> left_, right_;
};

// Eight partial sums, so that the loop vectorises.
double dot(const float* x, const float* y, std::size_t n) {
    double lanes[8] = {};
    std::size_t k = 0;
    for (; k + 8 <= n; k += 8)
        for (std::size_t l = 0; l < 8; ++l) lanes[l] += static_cast<double>(x[k + l]) * y[k + l];
    for (; k < n; ++k) lanes[0] += static_cast<double>(x[k]) * y[k];
    return ((lanes[0] + lanes[1]) + (lanes[2] + lanes[3])) + ((lanes[4] + lanes[5]) + (lanes[6] + lanes[7]));
}

// The vertex of the parabola through (-h, a), (0, b), (h, c), as an offset from 0.
double vertex(double a, double b, double c, double h) {
    const double curve = a - 2.0 * b + c;
    if (!(curve < 0.0)) return 0.0;
    return std::clamp(0.5 * h * (a - c) / curve, -h, h);
}

// The correlation of a stretch of the master (x, master frames from C - hw on) with the
// slave along the line s(m) = P + base + rate * (m - K).
struct LineFit {
    const SlaveWindow& slave;
    const std::vector<float>& x;  // the master from K - half
    FrameIndex K, half;
    double P;

    // The slave offset (frames) at master frame C from the line, within the reach; NaN
    // where no peak lies inside it.
    double offsetAt(FrameIndex C, FrameIndex hw, double base, double rate, bool fine = true) const {
        const SincTable& table = SincTableFor(rate);
        const float* master = x.data() + (C - hw - (K - half));
        const std::size_t n = static_cast<std::size_t>(2 * hw);
        const auto along = [&](double shift, int extra) {
            std::vector<double> pos(n + 2 * static_cast<std::size_t>(extra));
            for (std::size_t k = 0; k < pos.size(); ++k)
                pos[k] = P + base + rate * (static_cast<double>(C - hw - extra + static_cast<FrameIndex>(k) - K) + shift);
            return slave.read(table, std::move(pos));
        };
        const std::vector<float> wide = along(0.0, kLags + 1);
        double c[2 * kLags + 3] = {};
        int best = 0;
        for (int d = -kLags - 1; d <= kLags + 1; ++d) {
            c[d + kLags + 1] = dot(master, wide.data() + (d + kLags + 1), n);
            if (std::fabs(c[d + kLags + 1]) > std::fabs(c[best + kLags + 1])) best = d;
        }
        if (best <= -kLags || best >= kLags || c[best + kLags + 1] == 0.0) return std::nan("");
        const double sign = c[best + kLags + 1] < 0.0 ? -1.0 : 1.0;
        const auto at = [&](int d) { return sign * c[d + kLags + 1]; };
        double shift = best + vertex(at(best - 1), at(best), at(best + 1), 1.0);
        // Near its peak a correlation is a parabola to within the step's fourth power: a
        // second, finer step changes nothing measurable.
        if (!fine) return rate * shift;
        constexpr double kStep = 0.1;
        const auto score = [&](double s) { return sign * dot(master, along(s, 0).data(), n); };
        shift += vertex(score(shift - kStep), score(shift), score(shift + kStep), kStep);
        return rate * shift;
    }
};

}  // namespace

double SubFrameOffset(KWavefile& master, KWavefile& slave, FrameIndex J, FrameIndex K, FrameIndex N, FrameIndex P) {
    const TimeBase time(master.SampleRate);
    // Near either end of the master the window shrinks to fit (down to a tenth of its
    // length): the last point ends the map's extrapolated tail.
    const FrameIndex half = std::min({time.Seconds(kHalfWindowSeconds), K, master.FrameCount - K}) / 2 * 2;
    if (half < time.Seconds(kHalfWindowSeconds / 10) || P < 0 || P > slave.FrameCount) return 0.0;
    double rate = K > J && P > N ? static_cast<double>(P - N) / static_cast<double>(K - J) : 1.0;
    rate = std::clamp(rate, 0.5, kSincMaxRate);

    std::vector<Frame> frames(static_cast<std::size_t>(2 * half));
    if (master.ReadFrames(frames.data(), K - half, K + half) == 0) return 0.0;
    std::vector<float> x(frames.size());
    double energy = 0.0;
    for (std::size_t k = 0; k < frames.size(); ++k) {
        x[k] = static_cast<float>(frames[k].left + frames[k].right);
        energy += static_cast<double>(x[k]) * x[k];
    }
    if (energy == 0.0) return 0.0;

    const double reach = kSincMaxRate * static_cast<double>(half + 3 * kLags) + kSincTaps * kSincMaxRate;
    const SlaveWindow window(slave, P, reach);
    const LineFit fit{window, x, K, half, static_cast<double>(P)};
    // The segment's rate is only known to a frame or two over its length, which would
    // smear the window by up to half a frame at its edges: each half measures its own
    // offset first, their difference corrects the rate, and the middle half then
    // measures the offset at K along the corrected line (the whole window would carry
    // four times the bias of a rate that changes within it, 0.03 frame under a 0.1 %
    // wow of 40 s).
    const FrameIndex quarter = half / 2;
    double base = 0.0;
    for (int pass = 0; pass < kRatePasses; ++pass) {
        // A parabola through the whole lags serves the rate: the finer step moves no
        // point's result measurably.
        const double early = fit.offsetAt(K - quarter, quarter, base, rate, false);
        const double late = fit.offsetAt(K + quarter, quarter, base, rate, false);
        if (!std::isfinite(early) || !std::isfinite(late) || std::fabs(late - early) >= kLags) break;
        base += (early + late) / 2.0;
        rate = std::clamp(rate + (late - early) / static_cast<double>(2 * quarter), 0.5, kSincMaxRate);
        if (std::fabs(late - early) < 0.002) break;
    }
    const double offset = fit.offsetAt(K, quarter, base, rate);
    if (!std::isfinite(offset)) return 0.0;
    return std::clamp(base + offset, -kSubFrameReach, kSubFrameReach);
}

}  // namespace tandem
