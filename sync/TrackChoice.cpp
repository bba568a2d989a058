#include "sync/TrackChoice.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#include "sync/TrackSignal.h"

namespace tandem::track {
namespace {

// Every constant below is a bound of the clocks or of the evidence; the measurement
// behind each is said beside it.
constexpr double kMaxRateChange = 0.01;   // per second: speed controls, re-locking clocks, tape wow (0.3 % at 0.5 Hz)
// In all, a rate moves by about half a percent: a deck's speed control from one setting
// to the next, a clock re-locking, tape wow swinging +-0.3 %. More is charged as a jump.
constexpr double kMaxRateStep = 0.005;
constexpr double kLagNoiseS = 0.00005;    // spread of a window's lag on clean music (2 frames at 44.1 kHz)
constexpr double kJumpCharge = 25.0;      // about two windows of good evidence
constexpr double kSkipCharge = 1.0;       // leaving a window's evidence off the path
constexpr double kBendCharge = 2.0;       // a bend as large as the allowance: a third of a weak window's evidence
constexpr double kUncertaintyFloorS = 0.0001;  // the path's own precision on clean music: 0.2-0.5 frame median
constexpr double kUncertaintySpanS = 10.0;
constexpr double kOutlierS = 0.001;       // a weak window 1 ms off its strong neighbours' line is noise

class PathChooser {
public:
    PathChooser(double fs, double initialSlope) : fs_(fs), initialSlope_(initialSlope) {}

    void Choose(CoarseTrack& track) const {
        PathNodes g = pathNodes(track);
        scorePaths(track, g);
        takePath(track, g);
        dropLoneWeakWindows(track);
        setUncertainty(track);
    }

private:
    // One peak of one window on the way through the windows (dynamic programming).
    struct PathNode {
        std::size_t window;
        int peak;
        double lag;     // frames
        double score = -std::numeric_limits<double>::infinity();
        double slope = 0.0;  // lag frames per master frame, from the best predecessor
        double span = kHopS; // seconds from that predecessor
        int from = -1;
        bool jump = false;
    };
    struct PathNodes {
        std::vector<PathNode> nodes;
        std::vector<std::size_t> firstNode;  // per evidence window, its first node
        std::vector<std::size_t> windowOf;   // per evidence window, its window
    };

    PathNodes pathNodes(const CoarseTrack& track) const {
        PathNodes g;
        std::vector<PathNode>& nodes = g.nodes;
        std::vector<std::size_t>& firstNode = g.firstNode;
        std::vector<std::size_t>& windowOf = g.windowOf;
        for (std::size_t k = 0; k < track.windows.size(); ++k) {
            if (track.windows[k].peaks.empty()) continue;
            firstNode.push_back(nodes.size());
            windowOf.push_back(k);
            for (std::size_t p = 0; p < track.windows[k].peaks.size(); ++p)
                nodes.push_back({k, static_cast<int>(p), track.windows[k].peaks[p].lag});
        }
        firstNode.push_back(nodes.size());
        return g;
    }

    // Each node's best way in: its evidence, less the bends and skips since the best
    // predecessor among the last few windows.
    void scorePaths(const CoarseTrack& track, PathNodes& g) const {
        std::vector<PathNode>& nodes = g.nodes;
        const std::vector<std::size_t>& firstNode = g.firstNode;
        const std::vector<std::size_t>& windowOf = g.windowOf;
        const int back = 8;
        const double maxJump = kMaxJumpS * fs_;
        const double noise = kLagNoiseS * fs_;
        const auto gain = [](double z) { return std::min(z, 30.0) - kEvidenceZ + 0.5; };
        for (std::size_t e = 0; e < windowOf.size(); ++e) {
            const double t = static_cast<double>(track.windows[windowOf[e]].master);
            for (std::size_t a = firstNode[e]; a < firstNode[e + 1]; ++a) {
                PathNode& node = nodes[a];
                const double here = gain(track.windows[node.window].peaks[static_cast<std::size_t>(node.peak)].z);
                // A path may begin here, leaving out the evidence before.
                node.score = here - kSkipCharge * static_cast<double>(e);
                for (int d = 1; d <= back && static_cast<int>(e) - d >= 0; ++d) {
                    const std::size_t pe = e - static_cast<std::size_t>(d);
                    const double tp = static_cast<double>(track.windows[windowOf[pe]].master);
                    const double dt = (t - tp) / fs_;
                    for (std::size_t b = firstNode[pe]; b < firstNode[pe + 1]; ++b) {
                        const PathNode& prev = nodes[b];
                        const double predicted = prev.lag + prev.slope * (t - tp);
                        const double dev = std::fabs(node.lag - predicted);
                        if (dev > maxJump) continue;
                        // What a rate change of 1 %/s moves the lag by: half of it over this
                        // step squared, and as much again for the slope, which the last step
                        // measured at its middle; and the lags' own noise carried by that slope.
                        // Over a long gap the rate cannot keep changing: it moves by at most
                        // kMaxRateStep in all, so the lag by that much a second.
                        const double allowance =
                            std::min(kMaxRateChange * dt * (dt + prev.span) * 0.5, kMaxRateStep * dt) * fs_ +
                            3.0 * noise * (1.0 + dt / prev.span);
                        // Within the allowance a bend costs a little, so that among weak
                        // peaks the straighter way wins; past it, up to a jump's charge.
                        double charge = kBendCharge * std::min(1.0, (dev / allowance) * (dev / allowance));
                        bool jump = false;
                        if (dev > allowance) {
                            const double x = (dev - allowance) / allowance;
                            charge += std::min(kJumpCharge, kJumpCharge * x * x);
                            jump = x >= 1.0;
                        }
                        const double score = prev.score - charge - kSkipCharge * (d - 1) + here;
                        if (score > node.score) {
                            node.score = score;
                            node.from = static_cast<int>(b);
                            node.jump = jump;
                            node.span = dt;
                            node.slope = jump ? prev.slope : (node.lag - prev.lag) / (t - tp);
                        }
                    }
                }
                if (node.from < 0) node.slope = initialSlope_;
            }
        }
    }

    // The best end (charged for the evidence it leaves out after it), traced back: the
    // path's windows take their chosen peak's place and evidence.
    void takePath(CoarseTrack& track, const PathNodes& g) const {
        const std::vector<PathNode>& nodes = g.nodes;
        const std::vector<std::size_t>& firstNode = g.firstNode;
        const std::vector<std::size_t>& windowOf = g.windowOf;
        int end = -1;
        double bestScore = -std::numeric_limits<double>::infinity();
        for (std::size_t e = 0; e < windowOf.size(); ++e)
            for (std::size_t a = firstNode[e]; a < firstNode[e + 1]; ++a) {
                const double s = nodes[a].score - kSkipCharge * static_cast<double>(windowOf.size() - 1 - e);
                if (s > bestScore) {
                    bestScore = s;
                    end = static_cast<int>(a);
                }
            }
        std::vector<int> chosen;
        for (int a = end; a >= 0; a = nodes[static_cast<std::size_t>(a)].from) chosen.push_back(a);
        std::reverse(chosen.begin(), chosen.end());
        for (TrackWindow& w : track.windows) w.evidence = 0.0;
        for (int a : chosen) {
            const PathNode& node = nodes[static_cast<std::size_t>(a)];
            TrackWindow& w = track.windows[node.window];
            const TrackPeak& p = w.peaks[static_cast<std::size_t>(node.peak)];
            w.slave = static_cast<double>(w.master) + p.lag;
            w.evidence = p.z;
            w.jump = node.jump;
            if (node.peak != 0) std::swap(w.peaks[0], w.peaks[static_cast<std::size_t>(node.peak)]);
        }
    }

    void dropLoneWeakWindows(CoarseTrack& track) const {
        // A weak window that disagrees with strong neighbours on both sides is noise that
        // the allowance let through (a rate change smears the true peak): it leaves the path.
        {
            std::vector<std::size_t> path;
            for (std::size_t k = 0; k < track.windows.size(); ++k)
                if (track.windows[k].evidence > 0.0) path.push_back(k);
            for (std::size_t i = 1; i + 1 < path.size(); ++i) {
                TrackWindow &a = track.windows[path[i - 1]], &b = track.windows[path[i]], &c = track.windows[path[i + 1]];
                if (b.jump || c.jump || b.evidence * 2.0 > std::min(a.evidence, c.evidence)) continue;
                const double f = static_cast<double>(b.master - a.master) / static_cast<double>(c.master - a.master);
                const double between = (a.slave - a.master) + f * ((c.slave - c.master) - (a.slave - a.master));
                if (std::fabs((b.slave - b.master) - between) > kOutlierS * fs_) b.evidence = 0.0;
            }
        }
    }

    void setUncertainty(CoarseTrack& track) const {
        const double noise = kLagNoiseS * fs_;
        // Windows off the path: carried between their neighbours on it.
        std::vector<std::size_t> on;
        for (std::size_t k = 0; k < track.windows.size(); ++k)
            if (track.windows[k].evidence > 0.0) on.push_back(k);
        if (on.empty()) return;
        // The spread of the path about its neighbours, within 10 s of each window, widens
        // its uncertainty where the material is rough or the tape wows.
        std::vector<double> residual(on.size(), -1.0);
        for (std::size_t i = 1; i + 1 < on.size(); ++i) {
            const TrackWindow &a = track.windows[on[i - 1]], &b = track.windows[on[i]], &c = track.windows[on[i + 1]];
            if (b.jump || c.jump) continue;
            const double f = static_cast<double>(b.master - a.master) / static_cast<double>(c.master - a.master);
            residual[i] = std::fabs((b.slave - b.master) - ((a.slave - a.master) + f * ((c.slave - c.master) - (a.slave - a.master))));
        }
        const double floor = kUncertaintyFloorS * fs_ + 3.0 * noise;
        const FrameIndex span = static_cast<FrameIndex>(kUncertaintySpanS * fs_);
        track.uncertainty = floor;
        std::size_t lo = 0, hi = 0;
        for (std::size_t k = 0; k < track.windows.size(); ++k) {
            TrackWindow& w = track.windows[k];
            while (lo < on.size() && track.windows[on[lo]].master < w.master - span) ++lo;
            while (hi < on.size() && track.windows[on[hi]].master <= w.master + span) ++hi;
            std::vector<double> near;
            for (std::size_t i = lo; i < hi; ++i)
                if (residual[i] >= 0.0) near.push_back(residual[i]);
            // The local bend (a speed change) as well as the spread about it.
            double bend = 0.0;
            const std::size_t at = static_cast<std::size_t>(
                std::lower_bound(on.begin(), on.end(), k) - on.begin());
            for (std::size_t i = at > 0 ? at - 1 : 0; i < std::min(on.size(), at + 1); ++i)
                if (residual[i] > 0.0) bend = std::max(bend, residual[i]);
            w.uncertainty = floor + std::max(3.0 * 1.4826 * median(near), 2.0 * bend);
            track.uncertainty = std::max(track.uncertainty, w.uncertainty);
        }
    }

    double fs_;
    double initialSlope_;
};

}  // namespace

void ChooseTrackPath(CoarseTrack& track, double fs, double initialSlope) { PathChooser(fs, initialSlope).Choose(track); }

}  // namespace tandem::track
