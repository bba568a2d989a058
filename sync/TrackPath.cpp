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
    jumps_.clear();
    int piece = 0;
    for (std::size_t k = 0; k < windows.size(); ++k) {
        const TrackWindow& w = windows[k];
        if (w.evidence <= 0.0) continue;
        if (w.jump) jumps_.push_back(k);
        double from = path_.empty() ? -std::numeric_limits<double>::infinity() : path_.back().from;
        if (w.jump && !path_.empty()) {
            ++piece;
            // A jump whose place was not found lies at the middle between the windows; a
            // piece never begins before the one it follows.
            from = std::max(from, w.jumpAt > 0.0 ? w.jumpAt : 0.5 * (path_.back().master + static_cast<double>(w.master)));
        }
        path_.push_back({static_cast<double>(w.master), w.slave - static_cast<double>(w.master), piece, from});
    }
    for (std::size_t i = 0, j = 0; i < path_.size(); i = j) {
        j = i;
        while (j < path_.size() && path_[j].piece == path_[i].piece) ++j;
        for (std::size_t k = i; k < j; ++k) path_[k].first = i, path_[k].last = j - 1;
    }
}

// The path points [first, last] of the piece that holds master frame m: the last piece
// begun at or before m.
std::pair<std::size_t, std::size_t> CoarseTrack::pieceSpan(double m) const {
    const std::vector<PathPoint>& path = path_;
    std::size_t i = static_cast<std::size_t>(
        std::upper_bound(path.begin(), path.end(), m, [](double v, const PathPoint& p) { return v < p.from; }) - path.begin());
    i = i == 0 ? 0 : i - 1;
    return {path[i].first, path[i].last};
}

double CoarseTrack::SlaveAt(double m) const {
    const std::vector<PathPoint>& path = path_;
    if (path.empty()) return m;
    const auto [first, last] = pieceSpan(m);
    const auto lagAt = [&](std::size_t i) { return path[i].lag; };
    // Tangents from the neighbours in the same piece.
    const auto tangent = [&, first = first, last = last](std::size_t i) {
        const bool hasPrev = i > first, hasNext = i < last;
        if (hasPrev && hasNext) return (lagAt(i + 1) - lagAt(i - 1)) / (path[i + 1].master - path[i - 1].master);
        if (hasNext) return (lagAt(i + 1) - lagAt(i)) / (path[i + 1].master - path[i].master);
        if (hasPrev) return (lagAt(i) - lagAt(i - 1)) / (path[i].master - path[i - 1].master);
        return 0.0;
    };
    // Beyond the piece's first or last window (up to a jump, or the path's ends): at the
    // piece's own rate there.
    if (m <= path[first].master) return m + lagAt(first) + tangent(first) * (m - path[first].master);
    if (m >= path[last].master) return m + lagAt(last) + tangent(last) * (m - path[last].master);
    const std::size_t hi = static_cast<std::size_t>(
        std::lower_bound(path.begin() + static_cast<std::ptrdiff_t>(first), path.begin() + static_cast<std::ptrdiff_t>(last) + 1, m,
                         [](const PathPoint& p, double v) { return p.master < v; }) -
        path.begin());
    const std::size_t lo = hi - 1;
    // Cubic Hermite between the two windows about m.
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
    return path_.empty() ? 0 : path_[pieceSpan(m).first].piece;
}

bool CoarseTrack::JumpBetween(double a, double b) const {
    for (const std::size_t k : jumps_) {
        const double at = static_cast<double>(windows[k].master);
        if (at > a - 0.25 * rate && at <= b + 0.25 * rate) return true;
    }
    return false;
}

bool CoarseTrack::NearJump(double m) const {
    for (const std::size_t k : jumps_)
        if (std::fabs(m - windows[k].jumpAt) <= windows[k].jumpSpread) return true;
    return false;
}

const TrackWindow* CoarseTrack::nearestWindow(double m) const {
    if (windows.empty()) return nullptr;
    const auto after = std::lower_bound(windows.begin(), windows.end(), m,
                                        [](const TrackWindow& w, double v) { return static_cast<double>(w.master) < v; });
    if (after == windows.begin()) return &*after;
    if (after == windows.end()) return &windows.back();
    const auto before = after - 1;
    // A tie goes to the earlier window, as a scan from the start would have it.
    return static_cast<double>(after->master) - m < m - static_cast<double>(before->master) ? &*after : &*before;
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
