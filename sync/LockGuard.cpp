#include "sync/LockGuard.h"

#include <algorithm>
#include <cmath>

#include "core/TimeBase.h"
#include "dsp/LineFit.h"
#include "sync/EndAnchor.h"
#include "sync/RobustStart.h"
#include "sync/SignalMatch.h"
#include "wave/KWavefile.h"

namespace tandem {
namespace {

// The line is fitted through the points of the last few seconds; a rate averaged over
// less than a second is the chain's scatter rather than the clocks'.
constexpr double kHistorySeconds = 3.0;
constexpr double kMinHistorySeconds = 1.0;
// Clocks change their rate difference by well under 0.1 % per second.
constexpr double kRateChangePerSecond = 0.001;
// The chain's own scatter about the line: its ends lie within a frame or two of the
// truth, and its start (found from onsets) within a few more.
constexpr double kScatterSeconds = 0.0003;
// A segment end is suspect when its correlation falls below this share of the recent
// ends' typical value (when that typical value says something at all).
// 1 - r grows with the share of what does not match (noise, or material out of step). An
// end is consistent with its neighbours while that share is at most four times theirs
// (6 dB) plus a little for material that changes.
constexpr double kLooser = 4.0;
constexpr double kSlack = 0.05;
constexpr std::size_t kTypicalOf = 24;
// A master window whose mean level is below this share of the file's mean level is a rest.
constexpr double kQuietShare = 0.1;
constexpr double kQuietAroundSeconds = 0.05;
// The search around the prediction: +-0.2 s of master about the end.
constexpr double kAroundSeconds = 0.2;
constexpr double kReachSeconds = 0.05;     // a dropout of tens of ms stays within reach
constexpr double kRefineSeconds = 0.05;    // the envelope's 10 ms hops, the waveform check's +-15 ms, and some
// Near-equal matches there are told apart over the master the envelopes were matched on.
constexpr double kFollowSeconds = 5.0;
// Near-equal peaks (within this share of the best) count as one choice; the one nearest
// the prediction wins.
constexpr double kNearEqual = 0.9;
constexpr double kConfidentR = 0.5;
constexpr FrameIndex kSameEnd = 3;  // frames at 44.1 kHz: a re-searched end this close to the chain's keeps the chain's
// Re-acquisition: the window around the prediction is 1 s (dropouts), then 10 s (pauses
// of several seconds, lost material); at its widest it is tried once per second of master.
constexpr double kFirstReachSeconds = 1.0;
constexpr double kMaxReachSeconds = 10.0;
constexpr double kRetrySeconds = 1.0;

double median(std::vector<double> v) {
    if (v.empty()) return 0.0;
    const std::size_t mid = v.size() / 2;
    std::nth_element(v.begin(), v.begin() + static_cast<std::ptrdiff_t>(mid), v.end());
    return v[mid];
}

}  // namespace

LockGuard::LockGuard(KWavefile& master, KWavefile& slave)
    : master_(master),
      slave_(slave),
      fs_(TimeBase(master.SampleRate).Rate()),
      sameEnd_(TimeBase(master.SampleRate).Frames(kSameEnd)) {}

void LockGuard::Start(FrameIndex masterFrame, FrameIndex slaveFrame) {
    recent_.clear();
    recent_.push_back({masterFrame, slaveFrame, -1.0});
    lost_ = false;
}

double LockGuard::RecentRate() const {
    if (recent_.size() < 3) return 0.0;
    const double span = static_cast<double>(recent_.back().master - recent_.front().master);
    if (span < kMinHistorySeconds * fs_) return 0.0;
    // Least squares through the recent points, about the newest for precision.
    const Point& last = recent_.back();
    LineFit fit;
    for (const Point& p : recent_) fit.Add(static_cast<double>(p.master - last.master), static_cast<double>(p.slave - last.slave));
    double slope = 0.0;
    return fit.Slope(slope) ? slope : 0.0;
}

double LockGuard::typicalR() const {
    std::vector<double> r;
    for (auto it = recent_.rbegin(); it != recent_.rend() && r.size() < kTypicalOf; ++it)
        if (it->r >= 0.0) r.push_back(it->r);
    return r.size() >= 3 ? median(r) : 0.0;
}

FrameIndex LockGuard::bound(FrameIndex segmentFrames) const {
    // The recent rate is the average of the last seconds, centred half the history back;
    // by the segment's end the clocks may have moved on by the rate change over that time.
    const double L = static_cast<double>(segmentFrames) / fs_;
    const double drift = kRateChangePerSecond * (kHistorySeconds / 2.0 + L) * L;
    return static_cast<FrameIndex>(std::ceil((kScatterSeconds + drift) * fs_));
}

bool LockGuard::consistent(double r, double typical) const {
    return typical <= 0.0 || 1.0 - r <= kLooser * (1.0 - typical) + kSlack;
}

GuardJudgement LockGuard::Judge(FrameIndex J, FrameIndex K, FrameIndex N, FrameIndex P, double endR) {
    GuardJudgement j;
    j.slaveEnd = P;
    if (K <= J) return j;
    if (endR < 0.0) endR = EndCorrelation(master_, slave_, J, K, N, P);
    j.r = endR;
    const double rate = RecentRate();
    const bool pastEnd = P > slave_.FrameCount;
    if (rate <= 0.0 && !pastEnd) return j;

    const double useRate = rate > 0.0 ? rate : static_cast<double>(P - N) / static_cast<double>(K - J);
    const FrameIndex predicted = N + std::llround(static_cast<double>(K - J) * useRate);
    const FrameIndex limit = bound(K - J);
    const double typical = typicalR();
    const bool strayed = std::llabs(P - predicted) > limit;
    const bool collapsed = !consistent(endR, typical) && !masterQuiet(K);
    if (!strayed && !collapsed && !pastEnd) return j;

    // Searched again around the prediction, over a wider stretch of the material.
    const FrameIndex reach = std::max<FrameIndex>(limit, std::llround(kReachSeconds * fs_));
    const EndMatch found =
        FindEndNear(master_, slave_, K, predicted, useRate, std::llround(kAroundSeconds * fs_), reach, kNearEqual);
    const bool confident = found.r >= kConfidentR && consistent(found.r, typical);
    if (confident && !pastEnd) {
        if (std::llabs(found.slaveEnd - P) <= sameEnd_) return j;
        j.kind = GuardJudgement::Kind::Corrected;
        j.slaveEnd = found.slaveEnd;
        j.r = EndCorrelation(master_, slave_, J, K, N, found.slaveEnd);
        ++counts_.corrected;
        return j;
    }
    // A weak end that the chain and the prediction agree on is the material's, not a lost lock.
    if (!strayed && !pastEnd && std::llabs(found.slaveEnd - P) <= sameEnd_) return j;
    j.kind = GuardJudgement::Kind::Held;
    j.slaveEnd = predicted;
    j.r = 0.0;
    lost_ = true;
    heldRate_ = useRate;
    attempts_ = 0;
    sinceAttempt_ = 0;
    ++counts_.lost;
    return j;
}

bool LockGuard::masterQuiet(FrameIndex K) const {
    // Between tracks or in a long rest the end correlation says nothing.
    const FrameIndex around = std::llround(kQuietAroundSeconds * fs_);
    const std::vector<double> mono = ReadMono(master_, K - around, K + around);
    double sum = 0.0;
    for (double v : mono) sum += std::fabs(v);
    const double mean = mono.empty() ? 0.0 : sum / static_cast<double>(mono.size());
    return mean < kQuietShare * 2.0 * master_.Average;
}

void LockGuard::Accept(FrameIndex K, FrameIndex P, double r) {
    recent_.push_back({K, P, r});
    while (recent_.size() > 2 && static_cast<double>(K - recent_[1].master) >= kHistorySeconds * fs_) recent_.pop_front();
}

FrameIndex LockGuard::Carry(FrameIndex J, FrameIndex K, FrameIndex N) {
    ++counts_.held;
    sinceAttempt_ += K - J;
    return N + std::llround(static_cast<double>(K - J) * heldRate_);
}

Reacquisition LockGuard::Reacquire(FrameIndex J, FrameIndex N) {
    Reacquisition out;
    const double widest = kMaxReachSeconds * fs_;
    const double reach = attempts_ == 0 ? kFirstReachSeconds * fs_ : widest;
    if (attempts_ > 1 && static_cast<double>(sinceAttempt_) < kRetrySeconds * fs_) return out;
    ++attempts_;
    sinceAttempt_ = 0;
    MatchRequest q;
    q.masterStart = J;
    q.slaveCentre = N;
    q.reach = static_cast<FrameIndex>(reach);
    q.rate = heldRate_;
    q.rateSpread = 0.002;
    q.slaveSoundFrom = 0;
    const MatchResult match = MatchAround(master_, slave_, q);
    out.reach = q.reach;
    if (match.checked.empty()) return out;
    out.score = match.checked.front().score;
    out.runnerUp = match.runnerUp;
    out.slaveStart = match.checked.front().slaveStart;
    if (!match.clear || out.slaveStart < 0 || out.slaveStart >= slave_.FrameCount) return out;
    // To the frame, on the material after J only: before it lies what was lost or paused.
    const FrameIndex around = std::llround(kAroundSeconds * fs_);
    const FrameIndex ahead = std::llround(static_cast<double>(around) * heldRate_);
    const EndMatch exact = FindEndNear(master_, slave_, J + around, out.slaveStart + ahead, heldRate_, around,
                                       std::llround(kRefineSeconds * fs_), kNearEqual, std::llround(kFollowSeconds * fs_));
    if (exact.r >= kConfidentR) out.slaveStart = exact.slaveEnd - ahead;
    out.found = true;
    // The line goes on from where the material was found: the points before the loss
    // keep their rate, moved by the jump.
    const FrameIndex jump = out.slaveStart - N;
    for (Point& p : recent_) p.slave += jump;
    recent_.push_back({J, out.slaveStart, -1.0});
    lost_ = false;
    ++counts_.reacquired;
    return out;
}

}  // namespace tandem
