#include "dsp/TimeMap.h"

#include <algorithm>
#include <cmath>

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

void repairOutliers(const std::vector<double>& x, std::vector<double>& y, const std::vector<bool>& brk) {
    const std::size_t n = x.size();
    if (n < 5) return;
    std::vector<double> residual(n, 0.0), predicted(n, 0.0);
    std::vector<bool> judged(n, false);
    for (std::size_t i = 2; i + 2 < n; ++i) {
        if (brk[i - 2] || brk[i - 1] || brk[i] || brk[i + 1]) continue;
        const std::size_t at[4] = {i - 2, i - 1, i + 1, i + 2};
        double p = 0.0;
        for (int a = 0; a < 4; ++a) {
            double w = 1.0;
            for (int b = 0; b < 4; ++b)
                if (a != b) w *= (x[i] - x[at[b]]) / (x[at[a]] - x[at[b]]);
            p += w * y[at[a]];
        }
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

}  // namespace

TimeMap::TimeMap(std::vector<FrameIndex> master, std::vector<double> slave, FrameIndex edgeSpan) {
    const std::size_t count = std::min(master.size(), slave.size());
    for (std::size_t i = 0; i < count; ++i) {
        if (!x_.empty() && static_cast<double>(master[i]) <= x_.back()) continue;  // a point that does not advance
        x_.push_back(static_cast<double>(master[i]));
        y_.push_back(y_.empty() ? slave[i] : std::max(slave[i], y_.back()));  // held, never backwards
    }
    if (empty()) return;
    repairOutliers(x_, y_, breaks(x_, y_));
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
    d0_.resize(segments);
    d1_.resize(segments);
    for (std::size_t i = 0; i < segments; ++i) {
        if (brk_[i] || rate[i] <= 0.0) {
            d0_[i] = d1_[i] = rate[i];
            continue;
        }
        d0_[i] = i > 0 && !brk_[i - 1] ? between(i) : rate[i];
        d1_[i] = i + 1 < segments && !brk_[i + 1] ? between(i + 1) : rate[i];
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
}

std::size_t TimeMap::segmentOf(double m) const {
    const auto it = std::upper_bound(x_.begin(), x_.end(), m);
    const std::size_t k = static_cast<std::size_t>(it - x_.begin());
    return std::clamp<std::size_t>(k, 1, x_.size() - 1) - 1;
}

double TimeMap::eval(std::size_t i, double m) const {
    if (m <= x_.front()) return y_.front() + (m - x_.front()) * headRate_;
    if (m >= x_.back()) return y_.back() + (m - x_.back()) * tailRate_;
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
    return eval(segmentOf(m), m);
}

double TimeMap::Positions(FrameIndex from, std::size_t n, double* pos) const {
    if (n == 0) return 1.0;
    double fastest = 0.0;
    if (empty()) {
        for (std::size_t k = 0; k < n; ++k) pos[k] = static_cast<double>(from) + static_cast<double>(k);
        return 1.0;
    }
    std::size_t i = segmentOf(static_cast<double>(from));
    double previous = 0.0;
    for (std::size_t k = 0; k <= n; ++k) {
        const double m = static_cast<double>(from) + static_cast<double>(k);
        while (i + 2 < x_.size() && m >= x_[i + 1]) ++i;
        const double p = std::max(eval(i, m), k > 0 ? previous : -HUGE_VAL);  // no rounding step backwards
        if (k > 0) fastest = std::max(fastest, p - previous);
        if (k < n) pos[k] = p;
        previous = p;
    }
    return fastest;
}

}  // namespace tandem
