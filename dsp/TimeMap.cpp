#include "dsp/TimeMap.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "core/Clones.h"
#include "dsp/CubicRun.h"

namespace tandem {
namespace {

bool departs(double rate, double neighbour) { return std::fabs(rate - neighbour) > kBreakRate * std::fabs(neighbour); }

std::vector<bool> breaks(const std::vector<double>& x, const std::vector<double>& y) {
    const std::size_t segments = x.size() - 1;
    std::vector<double> rate(segments);
    for (std::size_t i = 0; i < segments; ++i) rate[i] = (y[i + 1] - y[i]) / (x[i + 1] - x[i]);
    std::vector<bool> brk(segments, false);
    for (std::size_t i = 0; i < segments; ++i) {
        const bool hasLeft = i > 0, hasRight = i + 1 < segments;
        if (!hasLeft && !hasRight) break;
        brk[i] = (!hasLeft || departs(rate[i], rate[i - 1])) && (!hasRight || departs(rate[i], rate[i + 1]));
    }
    return brk;
}

// A point that its two neighbours on either side (a cubic through them) predict much
// better than it lies is a measurement that went astray (a window of weak or ambiguous
// material): it takes the prediction. "Much better" is against the spread of such
// residuals nearby, so a fast warp (tape wow), which the cubic follows less well, keeps
// its points; nothing is repaired next to a break.
constexpr int kSpreadReach = 8;
constexpr double kOutlierSpreads = 4.0;
constexpr double kOutlierFloor = 0.02;  // frames: below this a point is as good as its prediction
// A point's residual against the quintic through its three neighbours on either side is
// its noise times 1.52 (equal steps: weights 0.05, -0.3, 0.75, 0.75, -0.3, 0.05); a
// smooth warp hardly enters it (a 0.1 % wow of 4 s: 0.001 frame, against 0.05 for the
// cubic through two).
constexpr std::size_t kNoiseReach = 3;
constexpr double kNoiseGain = 1.52;

double parabolaAt(const std::vector<double>& x, const std::vector<double>& y, std::size_t i, std::size_t a, std::size_t b,
                  double& gain, double* slope = nullptr, double* curve = nullptr);

// Point i as the polynomial through its `reach` neighbours on either side predicts it.
double prediction(const std::vector<double>& x, const std::vector<double>& y, std::size_t i, std::size_t reach) {
    double p = 0.0;
    for (std::size_t a = i - reach; a <= i + reach; ++a) {
        if (a == i) continue;
        double w = 1.0;
        for (std::size_t b = i - reach; b <= i + reach; ++b)
            if (b != a && b != i) w *= (x[i] - x[b]) / (x[a] - x[b]);
        p += w * y[a];
    }
    return p;
}

void repairOutliers(const std::vector<double>& x, std::vector<double>& y, const std::vector<bool>& brk) {
    const std::size_t n = x.size();
    if (n < 5) return;
    std::vector<double> residual(n, 0.0), predicted(n, 0.0);
    std::vector<bool> judged(n, false);
    for (std::size_t i = 2; i + 2 < n; ++i) {
        if (brk[i - 2] || brk[i - 1] || brk[i] || brk[i + 1]) continue;
        const double p = prediction(x, y, i, 2);
        predicted[i] = p;
        residual[i] = std::fabs(y[i] - p);
        judged[i] = true;
    }
    std::vector<double> nearby;
    std::vector<double> repaired = y;
    for (std::size_t i = 0; i < n; ++i) {
        if (!judged[i]) continue;
        nearby.clear();
        for (std::size_t k = i >= kSpreadReach ? i - kSpreadReach : 0; k < std::min(n, i + kSpreadReach + 1); ++k)
            if (judged[k] && k != i) nearby.push_back(residual[k]);
        if (nearby.size() < 4) continue;
        std::nth_element(nearby.begin(), nearby.begin() + static_cast<std::ptrdiff_t>(nearby.size() / 2), nearby.end());
        const double spread = 1.4826 * nearby[nearby.size() / 2];
        if (residual[i] > std::max(kOutlierSpreads * spread, kOutlierFloor)) repaired[i] = predicted[i];
    }
    y = std::move(repaired);
}

// The noise of a point, from its residual against the quintic (kNoiseGain). A
// sub-frame point's own noise is 0.003 to 0.05 frame (RMS, on the evaluation music);
// a local spread above the ceiling is the warp the cubic does not follow, not noise.
constexpr double kNoiseFloor = 0.002, kNoiseCeiling = 0.05;  // frames
// Each point is replaced by a least-squares parabola through its neighbours, never
// across a break. The window is the widest whose estimate's confidence interval (kGamma
// times its noise) still meets those of all the narrower ones (the intersection of
// confidence intervals rule): a warp the parabola cannot follow (tape wow) moves the
// wider estimates away and stops the window there, or leaves the point as measured.
// The widest window, 30 points on either side (6 s at the 0.2 s step), takes a straight
// clock's noise to a fifth.
constexpr int kSmoothReaches[] = {2, 3, 4, 6, 8, 11, 16, 22, 30};
constexpr double kGamma = 3.0;
// A run's first point on music with 20 dB of noise: 0.076 frame off, 7 noises.
constexpr double kEndSpreads = 8.0;

std::vector<double> pointNoise(const std::vector<double>& x, const std::vector<double>& y, const std::vector<bool>& brk) {
    const std::size_t n = x.size();
    std::vector<double> residual(n, -1.0);
    for (std::size_t i = kNoiseReach; i + kNoiseReach < n; ++i) {
        bool unbroken = true;
        for (std::size_t k = i - kNoiseReach; k < i + kNoiseReach; ++k) unbroken = unbroken && !brk[k];
        if (unbroken) residual[i] = std::fabs(y[i] - prediction(x, y, i, kNoiseReach));
    }
    std::vector<double> noise(n, kNoiseCeiling), nearby;
    for (std::size_t i = 0; i < n; ++i) {
        nearby.clear();
        for (std::size_t k = i >= kSpreadReach ? i - kSpreadReach : 0; k < std::min(n, i + kSpreadReach + 1); ++k)
            if (residual[k] >= 0.0) nearby.push_back(residual[k]);
        if (nearby.size() < 4) continue;
        std::nth_element(nearby.begin(), nearby.begin() + static_cast<std::ptrdiff_t>(nearby.size() / 2), nearby.end());
        noise[i] = std::clamp(1.4826 * nearby[nearby.size() / 2] / kNoiseGain, kNoiseFloor, kNoiseCeiling);
    }
    return noise;
}

// The least-squares parabola through points [a, b] at x[i]; in gain the ratio of its
// noise to a point's, in slope and curve (where given) its slope and half its second
// derivative there.
double parabolaAt(const std::vector<double>& x, const std::vector<double>& y, std::size_t i, std::size_t a, std::size_t b,
                  double& gain, double* slope, double* curve) {
    const double scale = std::max(x[b] - x[a], 1.0);
    double s[5] = {}, r[3] = {};
    for (std::size_t k = a; k <= b; ++k) {
        const double t = (x[k] - x[i]) / scale, d = y[k] - y[i];
        double p = 1.0;
        for (int e = 0; e < 5; ++e, p *= t) {
            s[e] += p;
            if (e < 3) r[e] += p * d;
        }
    }
    // Normal equations [s0 s1 s2; s1 s2 s3; s2 s3 s4] c = r, by Cramer's rule.
    const auto det3 = [](double a11, double a12, double a13, double a21, double a22, double a23, double a31, double a32,
                         double a33) {
        return a11 * (a22 * a33 - a23 * a32) - a12 * (a21 * a33 - a23 * a31) + a13 * (a21 * a32 - a22 * a31);
    };
    const double det = det3(s[0], s[1], s[2], s[1], s[2], s[3], s[2], s[3], s[4]);
    if (!(std::fabs(det) > 1e-12 * s[0] * s[2] * s[4])) {
        gain = HUGE_VAL;
        return y[i];
    }
    const double c0 = det3(r[0], s[1], s[2], r[1], s[2], s[3], r[2], s[3], s[4]) / det;
    gain = std::sqrt(std::max((s[2] * s[4] - s[3] * s[3]) / det, 0.0));
    if (slope) *slope = det3(s[0], r[0], s[2], s[1], r[1], s[3], s[2], r[2], s[4]) / det / scale;
    if (curve) *curve = det3(s[0], s[1], r[0], s[1], s[2], r[1], s[2], s[3], r[2]) / det / (scale * scale);
    return y[i] + c0;
}

void smooth(const std::vector<double>& x, std::vector<double>& y, const std::vector<bool>& brk) {
    const std::size_t n = x.size();
    const std::vector<double> noise = pointNoise(x, y, brk);
    constexpr std::size_t widest = static_cast<std::size_t>(kSmoothReaches[std::size(kSmoothReaches) - 1]);
    std::vector<double> smoothed = y;
    for (std::size_t i = 0; i < n; ++i) {
        // The run of unbroken segments about i, up to the widest reach.
        std::size_t lo = i, hi = i;
        while (lo > 0 && i - lo < widest && !brk[lo - 1]) --lo;
        while (hi + 1 < n && hi - i < widest && !brk[hi]) ++hi;
        // The measured point itself is the narrowest estimate, but for the first and last
        // of a run, which the outlier check cannot judge: there the parabola through the
        // points inward stands in for it unless it parts from it by more than kEndSpreads
        // noises (a warp it cannot follow).
        const bool end = (i == lo || i == hi) && hi > lo;
        double low = end ? -HUGE_VAL : y[i] - kGamma * noise[i], high = end ? HUGE_VAL : y[i] + kGamma * noise[i];
        for (const int reach : kSmoothReaches) {
            const std::size_t k = static_cast<std::size_t>(reach);
            const std::size_t a = i - std::min(k, i - lo), b = i + std::min(k, hi - i);
            if (b - a < 4) continue;  // a parabola through five points at least
            double gain = 0.0;
            const double at = parabolaAt(x, y, i, a, b, gain);
            if (end && !(low > -HUGE_VAL) && std::fabs(at - y[i]) > kEndSpreads * noise[i] * std::hypot(1.0, gain)) break;
            const double width = kGamma * noise[i] * gain;
            low = std::max(low, at - width);
            high = std::min(high, at + width);
            if (!std::isfinite(gain) || low > high) break;
            smoothed[i] = at;
            if (a == lo && b == hi) break;
        }
    }
    y = std::move(smoothed);
}

// The best line through a window of +-T of a map curving by y'' lies y'' T^2 / 6 above
// it at the middle: taken off, the points of a 0.1 % wow of 40 s on the evaluation music
// come from 0.0095 to 0.0051 frame RMS of the truth. The curve is that of the parabola
// through kCurveReach points on either side.
constexpr double kCurveBias = 1.0 / 6.0;
constexpr int kCurveReach = 5;

void takeOffCurveBias(const std::vector<double>& x, std::vector<double>& y, const std::vector<bool>& brk, double span) {
    const std::size_t n = x.size();
    std::vector<double> corrected = y;
    for (std::size_t i = 0; i < n; ++i) {
        std::size_t lo = i, hi = i;
        while (lo > 0 && i - lo < kCurveReach && !brk[lo - 1]) --lo;
        while (hi + 1 < n && hi - i < kCurveReach && !brk[hi]) ++hi;
        if (hi - lo < 4) continue;
        double gain = 0.0, curve = 0.0;
        parabolaAt(x, y, i, lo, hi, gain, nullptr, &curve);
        if (std::isfinite(gain)) corrected[i] -= kCurveBias * 2.0 * curve * span * span;
    }
    y = std::move(corrected);
}

}  // namespace

TimeMap::TimeMap(std::vector<FrameIndex> master, std::vector<double> slave, FrameIndex edgeSpan, double lineSpan) {
    const std::size_t count = std::min(master.size(), slave.size());
    for (std::size_t i = 0; i < count; ++i) {
        if (!x_.empty() && static_cast<double>(master[i]) <= x_.back()) continue;  // a point that does not advance
        x_.push_back(static_cast<double>(master[i]));
        y_.push_back(y_.empty() ? slave[i] : std::max(slave[i], y_.back()));  // held, never backwards
    }
    if (empty()) return;
    repairOutliers(x_, y_, breaks(x_, y_));
    // Whole frames (a file without sub-frame points) are mapped as they are.
    if (lineSpan > 0.0) {
        takeOffCurveBias(x_, y_, breaks(x_, y_), lineSpan);
        smooth(x_, y_, breaks(x_, y_));
    }
    for (std::size_t i = 1; i < y_.size(); ++i) y_[i] = std::max(y_[i], y_[i - 1]);
    const std::size_t segments = x_.size() - 1;
    std::vector<double> h(segments), rate(segments);
    for (std::size_t i = 0; i < segments; ++i) {
        h[i] = x_[i + 1] - x_[i];
        rate[i] = (y_[i + 1] - y_[i]) / h[i];
    }
    brk_ = breaks(x_, y_);
    // The tangent at point k between smooth segments k - 1 and k: the slope of the
    // parabola through points k - 1, k, k + 1 (exact to second order), 0 at an extremum.
    const auto between = [&](std::size_t k) {
        const double a = rate[k - 1], b = rate[k];
        if (a <= 0.0 || b <= 0.0) return 0.0;
        return (h[k] * a + h[k - 1] * b) / (h[k - 1] + h[k]);
    };
    // The tangent at an outer end e (a first or last point, or one beside a break): the
    // slope there of the cubic through it and its next three points inward (of the
    // parabola through two where there are no more before a break). The segment's own
    // slope would be off by half its change over the segment (0.02 frame inside the first
    // 0.2 s under a 0.1 % wow); the parabola's by a third of the curve's change.
    const auto outer = [&](std::size_t e, bool forward) {
        const std::size_t seg = forward ? e : e - 1;
        std::size_t nodes[4] = {e, 0, 0, 0};
        std::size_t used = 1;
        for (std::size_t k = 1; k < 4; ++k) {
            const std::size_t s = forward ? seg + k - 1 : seg + 1 - k;  // the segment stepped over
            if ((forward ? e + k >= x_.size() : e < k) || (k > 1 && brk_[s])) break;
            nodes[used++] = forward ? e + k : e - k;
        }
        // Newton's divided differences; the slope at nodes[0].
        double dd[4], slope = 0.0, product = 1.0;
        for (std::size_t k = 0; k < used; ++k) dd[k] = y_[nodes[k]];
        for (std::size_t level = 1; level < used; ++level) {
            for (std::size_t k = used - 1; k >= level; --k)
                dd[k] = (dd[k] - dd[k - 1]) / (x_[nodes[k]] - x_[nodes[k - level]]);
            slope += dd[level] * product;
            product *= x_[nodes[0]] - x_[nodes[level]];
        }
        return std::clamp(slope, 0.0, 3.0 * rate[seg]);
    };
    d0_.resize(segments);
    d1_.resize(segments);
    for (std::size_t i = 0; i < segments; ++i) {
        if (brk_[i] || rate[i] <= 0.0) {
            d0_[i] = d1_[i] = rate[i];
            continue;
        }
        const bool left = i > 0 && !brk_[i - 1], right = i + 1 < segments && !brk_[i + 1];
        d0_[i] = left ? between(i) : right ? outer(i, true) : rate[i];
        d1_[i] = right ? between(i + 1) : left ? outer(i + 1, false) : rate[i];
        // Fritsch and Carlson: tangents within the circle of radius 3 (in units of the
        // segment's own slope) keep the cubic monotone.
        const double alpha = d0_[i] / rate[i], beta = d1_[i] / rate[i];
        const double radius = std::hypot(alpha, beta);
        if (radius > 3.0) {
            d0_[i] *= 3.0 / radius;
            d1_[i] *= 3.0 / radius;
        }
    }
    const double span = static_cast<double>(std::max<FrameIndex>(edgeSpan, 1));
    std::size_t head = 1, tail = segments - 1;
    while (head < segments && x_[head] - x_[0] < span) ++head;
    while (tail > 0 && x_[segments] - x_[tail] < span) --tail;
    headRate_ = std::max(0.0, (y_[head] - y_[0]) / (x_[head] - x_[0]));
    tailRate_ = std::max(0.0, (y_[segments] - y_[tail]) / (x_[segments] - x_[tail]));
    // The rate and its change at either end, from the parabola through the points of
    // that span: the span's mean rate lags a changing rate by half the span (a 0.1 % wow
    // of 40 s puts a 0.2 s tail two frames off), and a straight tail leaves a clock's
    // curve behind (0.14 frame after 0.2 s under that wow).
    const auto endRate = [&](std::size_t at, std::size_t a, std::size_t b, double& end, double& curve, double reach) {
        for (std::size_t k = a; k < b; ++k)
            if (brk_[k]) return;
        double gain = 0.0, slope = 0.0, c = 0.0;
        if (b - a >= 4) parabolaAt(x_, y_, at, a, b, gain, &slope, &c);
        if (!std::isfinite(gain) || !(slope > 0.0)) return;
        end = slope;
        // The rate the curve reaches stays positive.
        curve = std::clamp(c, -0.5 * slope / reach, 0.5 * slope / reach);
    };
    edgeReach_[0] = h.front();
    edgeReach_[1] = h.back();
    // Points of whole frames (a file without sub-frame points) would put a parabola's
    // slope and curve frames off at the end: only sub-frame points are fitted.
    if (lineSpan > 0.0) {
        endRate(0, 0, head, headRate_, headCurve_, edgeReach_[0]);
        endRate(segments, tail, segments, tailRate_, tailCurve_, edgeReach_[1]);
    }
}

std::size_t TimeMap::segmentOf(double m) const {
    const auto it = std::upper_bound(x_.begin(), x_.end(), m);
    const std::size_t k = static_cast<std::size_t>(it - x_.begin());
    return std::clamp<std::size_t>(k, 1, x_.size() - 1) - 1;
}

double TimeMap::eval(std::size_t i, double m) const {
    // Past either end the rate goes on changing as it did for one segment's length,
    // and then holds.
    const auto edge = [](double u, double rate, double curve, double reach) {
        const double v = std::clamp(u, -reach, reach);
        return rate * u + curve * (2.0 * v * u - v * v);
    };
    if (m <= x_.front()) return y_.front() + edge(m - x_.front(), headRate_, headCurve_, edgeReach_[0]);
    if (m >= x_.back()) return y_.back() + edge(m - x_.back(), tailRate_, tailCurve_, edgeReach_[1]);
    // The chord plus the tangents' departures from it: exact on a straight line, so a
    // map of whole frames at the same rate reads whole frames.
    const double h = x_[i + 1] - x_[i], u = m - x_[i], rise = y_[i + 1] - y_[i];
    const double chord = y_[i] + rise * u / h;
    if (brk_[i]) return chord;
    const double t = u / h, slope = rise / h;
    return chord + h * ((d0_[i] - slope) * t * (1 - t) * (1 - t) + (d1_[i] - slope) * t * t * (t - 1));
}

double TimeMap::At(double m) const {
    if (empty()) return m;
    return eval(segmentOf(m), m) + fineAt(m);
}

void TimeMap::SetFine(FrameIndex origin, FrameIndex hop, std::vector<float> offsets) {
    fine_ = std::move(offsets);
    fineOrigin_ = origin;
    fineHop_ = std::max<FrameIndex>(hop, 1);
}

namespace {

// pos[k] += f0 + (r0 + k) * step * rise, with fineAt's operations in its order. The
// counter runs in doubles (whole numbers, so exact): a 64-bit integer has no packed
// conversion to double before AVX-512, and the integer loop ran a frame at a time.
TANDEM_CLONES("avx512f", "avx2")
void addRamp(double* pos, std::size_t n, double r0, double step, double f0, double rise) {
    using Lanes = double __attribute__((vector_size(8 * sizeof(double))));
    Lanes r = Lanes{0, 1, 2, 3, 4, 5, 6, 7} + r0;
    std::size_t k = 0;
    for (; k + 8 <= n; k += 8, r += 8.0) {
        Lanes p;
        std::memcpy(&p, pos + k, sizeof p);
        p += f0 + r * step * rise;
        std::memcpy(pos + k, &p, sizeof p);
    }
    for (double rk = r0 + static_cast<double>(k); k < n; ++k, rk += 1.0) pos[k] += f0 + rk * step * rise;
}

}  // namespace

// fineAt over whole frames, a node's interval at a time.
void TimeMap::addFine(FrameIndex from, std::size_t n, double* pos) const {
    if (fine_.size() < 2) return;
    const FrameIndex end = fineOrigin_ + static_cast<FrameIndex>(fine_.size() - 1) * fineHop_;
    FrameIndex m = std::max(from, fineOrigin_);
    const FrameIndex stop = std::min(from + static_cast<FrameIndex>(n), end);
    const double step = 1.0 / static_cast<double>(fineHop_);
    while (m < stop) {
        const auto j = static_cast<std::size_t>((m - fineOrigin_) / fineHop_);
        const FrameIndex x = fineOrigin_ + static_cast<FrameIndex>(j) * fineHop_;
        const FrameIndex to = std::min(stop, x + fineHop_);
        const double f0 = fine_[j], rise = static_cast<double>(fine_[j + 1]) - f0;
        addRamp(pos + (m - from), static_cast<std::size_t>(to - m), static_cast<double>(m - x), step, f0, rise);
        m = to;
    }
}

double TimeMap::fineAt(double m) const {
    if (fine_.empty()) return 0.0;
    const double u = (m - static_cast<double>(fineOrigin_)) / static_cast<double>(fineHop_);
    if (!(u >= 0.0) || u >= static_cast<double>(fine_.size() - 1)) return 0.0;
    const auto k = static_cast<std::size_t>(u);
    const double t = u - static_cast<double>(k);
    return static_cast<double>(fine_[k]) + t * (static_cast<double>(fine_[k + 1]) - static_cast<double>(fine_[k]));
}

namespace {

// Whether pos[0..n) never steps down (nor holds a NaN), with the largest step from 0.0
// up in largest: the clamp's loop then only finds that step, frame by frame in a chain
// of maxima, where vectors find it at once (the same value: maxima do not round).
TANDEM_CLONES("avx512f", "avx2")
bool risingSteps(const double* pos, std::size_t n, double& largest) {
    using Lanes = double __attribute__((vector_size(8 * sizeof(double))));
    using Masks = long long __attribute__((vector_size(8 * sizeof(long long))));
    Lanes big = {};
    Masks rising = ~Masks{};
    std::size_t k = 1;
    for (; k + 8 <= n; k += 8) {
        Lanes a, b;
        std::memcpy(&a, pos + k, sizeof a);
        std::memcpy(&b, pos + k - 1, sizeof b);
        const Lanes d = a - b;
        rising &= d >= 0.0;
        big = d > big ? d : big;
    }
    bool ok = true;
    double most = 0.0;
    for (int j = 0; j < 8; ++j) ok = ok && rising[j] != 0, most = std::max(most, big[j]);
    for (; k < n; ++k) {
        const double d = pos[k] - pos[k - 1];
        ok = ok && d >= 0.0;
        most = std::max(most, d);
    }
    if (ok) largest = most;
    return ok;
}

}  // namespace

double TimeMap::Positions(FrameIndex from, std::size_t n, double* pos) const {
    if (n == 0) return 1.0;
    double fastest = 0.0;
    if (empty()) {
        for (std::size_t k = 0; k < n; ++k) pos[k] = static_cast<double>(from) + static_cast<double>(k);
        return 1.0;
    }
    // The map at frames from .. from + n - 1 segment by segment, then at from + n for the
    // rate into it.
    const double start = static_cast<double>(from);
    std::size_t i = segmentOf(start);
    const auto segmentAt = [&](double m) {
        while (i + 2 < x_.size() && m >= x_[i + 1]) ++i;
    };
    for (std::size_t k = 0; k < n;) {
        const double m = start + static_cast<double>(k);
        segmentAt(m);
        // Frames [k, end) lie in segment i (the last takes all that follow).
        std::size_t end = n;
        if (i + 2 < x_.size()) {
            const double next = std::ceil(x_[i + 1] - start);
            end = std::clamp<std::size_t>(next > 0.0 ? static_cast<std::size_t>(next) : 0, k + 1, n);
        }
        if (m <= x_.front() || start + static_cast<double>(end - 1) >= x_.back()) {
            pos[k] = eval(i, m);  // the ends' extrapolation, frame by frame
            ++k;
            continue;
        }
        const std::size_t run = std::min<std::size_t>(end - k, std::size_t{1} << 30);
        // eval's arithmetic inside a segment, in the same order (whole frames as doubles add
        // exactly), without its tests frame by frame.
        CubicRun({x_[i], y_[i], x_[i + 1] - x_[i], y_[i + 1] - y_[i], d0_[i], d1_[i], brk_[i]}, m, static_cast<int>(run),
                 pos + k);
        k += run;
    }
    const double last = start + static_cast<double>(n);
    segmentAt(last);
    const double after = eval(i, last) + fineAt(last);
    addFine(from, n, pos);
    if (risingSteps(pos, n, fastest)) {
        // The clamp below would change nothing before the last frame.
        fastest = std::max(fastest, std::max(after, pos[n - 1]) - pos[n - 1]);
        return fastest;
    }
    double previous = 0.0;
    for (std::size_t k = 0; k <= n; ++k) {
        const double p = std::max(k < n ? pos[k] : after, k > 0 ? previous : -HUGE_VAL);  // no rounding step backwards
        if (k > 0) fastest = std::max(fastest, p - previous);
        if (k < n) pos[k] = p;
        previous = p;
    }
    return fastest;
}

}  // namespace tandem
