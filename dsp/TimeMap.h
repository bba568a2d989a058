// A smooth monotone time map through matched points: master frame -> slave position.
//
// The points are measurements: one that its neighbours predict far better than it lies
// is replaced by the prediction; a point measured as a line over a window lies off a
// curving map by the curve's bias, which is taken off; and each point is smoothed with
// its neighbours as far as they agree with a parabola through them.
//
// Between points it is a monotone piecewise cubic (Hermite, with the three-point
// tangents limited as Fritsch and Carlson show, so it never overshoots), so the read rate
// changes smoothly instead of jumping at every point. A segment whose rate departs from both
// neighbours' by more than kBreakRate is where the slave paused or lost material (or a
// point is wrong): it is read linearly, and its neighbours take one-sided tangents, so
// the jump stays within it. Slave positions that would go backwards are held: the map
// never runs backwards. Before the first and after the last point it goes on as the
// parabola through the nearest edgeSpan frames of points does, for one segment's length,
// and then straight at the rate reached.
//
// Thread safety: immutable once built.
#pragma once

#include <cstddef>
#include <vector>

#include "core/Types.h"

namespace tandem {

// A recorder's clock, tape wow or a speed control moves the rate by at most about 1 %/s,
// 0.2 % over a 0.2 s segment; a point's search error of 10 frames in 8820 is 0.11 %. A
// pause or a loss of 5 ms changes a 0.2 s segment's rate by 2.5 %.
constexpr double kBreakRate = 0.02;

class TimeMap {
public:
    // master: increasing division points; slave: their slave positions (as many).
    // lineSpan: where the points were measured as the best line through +-lineSpan
    // master frames, the half-width (0: points given as they are, e.g. whole frames:
    // neither smoothed nor corrected, and the ends go on straight at the mean rate of
    // edgeSpan).
    TimeMap(std::vector<FrameIndex> master, std::vector<double> slave, FrameIndex edgeSpan, double lineSpan = 0.0);

    bool empty() const { return x_.size() < 2; }
    // The slave position of master frame m.
    double At(double m) const;
    // The slave positions of master frames from .. from + n - 1; returns the fastest
    // read rate (slave frames per master frame) among them.
    double Positions(FrameIndex from, std::size_t n, double* pos) const;
    // Fine offsets (slave frames) on top of the cubic: offsets[k] at master frame
    // origin + k * hop, linear between, none outside (sync/FineTrack.h measures them).
    // Replaces any set before; set before the map is shared.
    void SetFine(FrameIndex origin, FrameIndex hop, std::vector<float> offsets);
    const std::vector<float>& Fine() const { return fine_; }
    // Whether segment i (points i to i + 1) is read linearly as a break.
    bool IsBreak(std::size_t i) const { return i < brk_.size() && brk_[i]; }
    // Whether master frame m lies in a segment read linearly as a break.
    bool BreakAt(double m) const { return !empty() && IsBreak(segmentOf(m)); }

private:
    std::size_t segmentOf(double m) const;
    double eval(std::size_t i, double m) const;
    double fineAt(double m) const;
    void addFine(FrameIndex from, std::size_t n, double* pos) const;

    std::vector<double> x_, y_;
    std::vector<double> d0_, d1_;  // each segment's tangents at its start and end
    std::vector<bool> brk_;
    double headRate_ = 1.0, tailRate_ = 1.0;
    double headCurve_ = 0.0, tailCurve_ = 0.0;  // half the second derivative at either end
    double edgeReach_[2] = {1.0, 1.0};          // how far past either end the curve goes on
    std::vector<float> fine_;
    FrameIndex fineOrigin_ = 0, fineHop_ = 1;
};

}  // namespace tandem
