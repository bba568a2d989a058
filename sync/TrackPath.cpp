// The coarse track's chosen path as the fine stage reads it: the slave position, rate,
// jumps, uncertainty and evidence at any master frame (CoarseTrack's queries). How the
// path is found is in sync/CoarseTrack.cpp.
#include "sync/CoarseTrack.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace tandem {

void CoarseTrack::Index() {
    path_.clear();
    int piece = 0;
    for (const TrackWindow& w : windows) {
        if (w.evidence <= 0.0) continue;
        if (w.jump) ++piece;
        path_.push_back({static_cast<double>(w.master), w.slave - static_cast<double>(w.master), piece});
    }
}

double CoarseTrack::SlaveAt(double m) const {
    const std::vector<PathPoint>& path = path_;
    if (path.empty()) return m;
    const auto lagAt = [&](std::size_t i) { return path[i].lag; };
    std::size_t hi = static_cast<std::size_t>(std::lower_bound(path.begin(), path.end(), m, [](const PathPoint& p, double v) { return p.master < v; }) - path.begin());
    if (hi == 0) {
        const double slope = path.size() > 1 && path[1].piece == path[0].piece ? (path[1].lag - path[0].lag) / (path[1].master - path[0].master) : 0.0;
        return m + path[0].lag + slope * (m - path[0].master);
    }
    if (hi == path.size()) {
        const std::size_t n = path.size();
        const double slope = n > 1 && path[n - 1].piece == path[n - 2].piece
                                 ? (path[n - 1].lag - path[n - 2].lag) / (path[n - 1].master - path[n - 2].master)
                                 : 0.0;
        return m + path[n - 1].lag + slope * (m - path[n - 1].master);
    }
    const std::size_t lo = hi - 1;
    if (path[lo].piece != path[hi].piece) {
        // The jump lies somewhere between: each side holds up to the middle.
        const bool left = m - path[lo].master < path[hi].master - m;
        return m + (left ? path[lo].lag : path[hi].lag);
    }
    // Cubic Hermite with tangents from the neighbours in the same piece.
    const auto tangent = [&](std::size_t i) {
        const bool hasPrev = i > 0 && path[i - 1].piece == path[i].piece;
        const bool hasNext = i + 1 < path.size() && path[i + 1].piece == path[i].piece;
        if (hasPrev && hasNext) return (lagAt(i + 1) - lagAt(i - 1)) / (path[i + 1].master - path[i - 1].master);
        if (hasNext) return (lagAt(i + 1) - lagAt(i)) / (path[i + 1].master - path[i].master);
        if (hasPrev) return (lagAt(i) - lagAt(i - 1)) / (path[i].master - path[i - 1].master);
        return 0.0;
    };
    const double h = path[hi].master - path[lo].master;
    const double u = (m - path[lo].master) / h;
    const double h00 = 2 * u * u * u - 3 * u * u + 1, h10 = u * u * u - 2 * u * u + u, h01 = -2 * u * u * u + 3 * u * u,
                 h11 = u * u * u - u * u;
    return m + h00 * lagAt(lo) + h10 * h * tangent(lo) + h01 * lagAt(hi) + h11 * h * tangent(hi);
}

double CoarseTrack::RateAt(double m) const {
    const double d = std::max(1.0, 0.05 * rate);
    // A difference across a jump measures the jump, not the clocks.
    const int piece = pieceAt(m);
    const bool before = pieceAt(m - d) == piece, after = pieceAt(m + d) == piece;
    if (before && after) return (SlaveAt(m + d) - SlaveAt(m - d)) / (2.0 * d);
    if (after) return (SlaveAt(m + d) - SlaveAt(m)) / d;
    if (before) return (SlaveAt(m) - SlaveAt(m - d)) / d;
    return 1.0;
}

int CoarseTrack::pieceAt(double m) const {
    const std::vector<PathPoint>& path = path_;
    if (path.empty()) return 0;
    const std::size_t hi = static_cast<std::size_t>(
        std::lower_bound(path.begin(), path.end(), m, [](const PathPoint& p, double v) { return p.master < v; }) - path.begin());
    if (hi == 0) return path.front().piece;
    if (hi == path.size()) return path.back().piece;
    const std::size_t lo = hi - 1;
    // As SlaveAt: between two pieces each side holds up to the middle.
    if (path[lo].piece != path[hi].piece) return m - path[lo].master < path[hi].master - m ? path[lo].piece : path[hi].piece;
    return path[lo].piece;
}

bool CoarseTrack::JumpBetween(double a, double b) const {
    for (const TrackWindow& w : windows)
        if (w.jump && w.evidence > 0.0 && static_cast<double>(w.master) > a - 0.25 * rate && static_cast<double>(w.master) <= b + 0.25 * rate)
            return true;
    return false;
}

const TrackWindow* CoarseTrack::nearestWindow(double m) const {
    const TrackWindow* best = nullptr;
    double distance = std::numeric_limits<double>::infinity();
    for (const TrackWindow& w : windows) {
        const double d = std::fabs(static_cast<double>(w.master) - m);
        if (d < distance) {
            distance = d;
            best = &w;
        }
    }
    return best;
}

double CoarseTrack::UncertaintyAt(double m) const {
    const TrackWindow* w = nearestWindow(m);
    return w ? w->uncertainty : uncertainty;
}

double CoarseTrack::EvidenceAt(double m) const {
    const TrackWindow* w = nearestWindow(m);
    return w ? w->evidence : 0.0;
}

}  // namespace tandem
