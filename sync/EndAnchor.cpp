#include "sync/EndAnchor.h"

#include <cmath>

#include "sync/SignalMatch.h"

namespace tandem {
namespace {

constexpr FrameIndex kAround = 8820;  // +-0.2 s of master around the end
constexpr int kReach = 64;            // frames either side of the chain's end
constexpr double kMinR = 0.5;
constexpr int kMinShift = 3;

}  // namespace

EndAnchor AnchorSegmentEnd(KWavefile& master, KWavefile& slave, FrameIndex J, FrameIndex K, FrameIndex N,
                           FrameIndex P) {
    EndAnchor anchor;
    if (K <= J || P <= N) return anchor;
    const double rate = static_cast<double>(P - N) / static_cast<double>(K - J);
    const FrameIndex half = static_cast<FrameIndex>(std::llround(static_cast<double>(kAround) * rate));
    // Pattern value i lies at slave frame P - half + i when the chain's end is right.
    const std::vector<double> around = ReadMono(master, K - kAround - 2, K + kAround + 2);
    const double from = static_cast<double>(kAround + 2) - static_cast<double>(half) / rate;
    const std::vector<double> pattern = Stretch(around, from, 1.0 / rate, static_cast<std::size_t>(2 * half));
    const std::vector<double> region = ReadMono(slave, P - half - kReach, P + half + kReach);
    const LagPeak peak = BestCorrelation(pattern, region, 2 * kReach + 1);
    // A peak at the edge of the reach may belong to a match beyond it.
    if (peak.lag <= 0.0 || peak.lag >= 2.0 * kReach) return anchor;
    const int shift = static_cast<int>(std::lround(peak.lag)) - kReach;
    if (std::fabs(peak.r) < kMinR || std::abs(shift) < kMinShift) return anchor;
    anchor.shift = shift;
    anchor.r = peak.r;
    return anchor;
}

}  // namespace tandem
