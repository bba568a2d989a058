#include "sync/Synchronise.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include "core/Log.h"
#include "core/Parallel.h"
#include "core/ProgramFolder.h"
#include "core/TimeBase.h"
#include "core/Text.h"
#include "settings/Settings.h"
#include "sync/CoarseTrack.h"
#include "sync/EndAnchor.h"
#include "sync/FractionMeter.h"
#include "sync/JobStart.h"
#include "sync/LockGuard.h"
#include "sync/RobustStart.h"
#include "sync/StoredPoints.h"
#include "sync/SubFrame.h"
#include "sync/TrackChoice.h"
#include "wave/KWavefile.h"

namespace tandem {
namespace {

// Seconds in the master's time (the slave's working image runs at the master's rate).
std::string seconds(FrameIndex frames, const TimeBase& time) { return Fixed(time.ToSeconds(frames)); }

// Predicted slave length of a master span at the given rate (percent): the product is
// taken in single precision as the rate itself is kept.
FrameIndex predictedLength(FrameIndex masterLength, float rate) {
    const float product = static_cast<float>(masterLength) * rate;
    return static_cast<FrameIndex>(static_cast<double>(product) * 0.01);
}

std::string signedText(FrameIndex v) { return (v > 0 ? "+" : "") + std::to_string(v); }

void writeHeldRow(const CsvFile& csv, int A, FrameIndex K, FrameIndex held, float rate, const TimeBase& time) {
    if (!csv) return;
    WriteReport(csv, "\n" + std::to_string(A) + "," + std::to_string(K) + "," + seconds(K, time) + "," + std::to_string(held) +
                         ",0,0,0.000," + Fixed(rate) + ",HOLD,");
}

// The stop point (master frames): a STOP already given stays the reason.
void stopAtPoint(SyncJob& job, FrameIndex dpLimit, FrameIndex J) {
    if (dpLimit > 0 && dpLimit < J) {
        int none = 0;
        job.StopRequest.compare_exchange_strong(none, kStopAtPoint);
    }
}

// The lock was found again at master point `at`: that point moves to where the material
// lies. Where slave material was lost, the points carried since the loss would run past
// it; they are spread evenly between the last good point and the new one instead.
void reacquired(const StoredPoints& slavePoints, const StoredPoints& masterPoints, int at, int heldFrom,
                const Reacquisition& found, const TimeBase& time) {
    const FrameIndex before = slavePoints.at(at);
    AddLog("◆ロック回復 DP" + std::to_string(at) + " : " + std::to_string(before) + " → " + std::to_string(found.slaveStart) +
           " (score=" + Fixed(found.score) + " 次点=" + Fixed(found.runnerUp) + ", " + seconds(masterPoints.at(at), time) + " 秒)");
    slavePoints.set(at, found.slaveStart);
    slavePoints.setSubFrame(at, found.slaveStart, 0.0);  // none measured: the whole frame
    if (heldFrom <= 0 || found.slaveStart >= before) return;
    const FrameIndex m0 = masterPoints.at(heldFrom - 1), s0 = slavePoints.at(heldFrom - 1);
    const FrameIndex m1 = masterPoints.at(at);
    for (int i = heldFrom; i < at; ++i) {
        const double t = static_cast<double>(masterPoints.at(i) - m0) / static_cast<double>(std::max<FrameIndex>(m1 - m0, 1));
        const FrameIndex spread = s0 + std::llround(t * static_cast<double>(found.slaveStart - s0));
        slavePoints.set(i, spread);
        slavePoints.setSubFrame(i, spread, 0.0);
    }
}

// A resumed chain's guard learns the line and the end correlations from the stored points.
void seedGuard(LockGuard& guard, KWavefile& master, KWavefile& slave, const StoredPoints& masterPoints,
               const StoredPoints& slavePoints, int F0) {
    // Far enough back that the guard's history window holds what the interrupted chain's held.
    int first = F0;
    while (first > 0 && masterPoints.at(F0) - masterPoints.at(first) < 4 * static_cast<FrameIndex>(master.SampleRate)) --first;
    guard.Start(masterPoints.at(first), slavePoints.at(first));
    for (int i = first + 1; i <= F0; ++i)
        guard.Accept(masterPoints.at(i), slavePoints.at(i),
                     EndCorrelation(master, slave, masterPoints.at(i - 1), masterPoints.at(i), slavePoints.at(i - 1),
                                    slavePoints.at(i)));
}

// Where the fine search's end stands at least this high on the whitened correlation, as
// a share of the best peak near the track, it is a match in its own right: a tone's
// periods match about equally, while a room's single reflections stay below 0.6 of the
// direct sound.
constexpr double kKeepFineShare = 0.8;

// See SegmentLoop::remeasureEnd.
constexpr double kLocalMoveFrames = 1.5;
constexpr double kLocalMinPeak = 0.5;
constexpr double kLocalAgreeFrames = 2.0;
constexpr long kLocalMaxPartings = 1;  // of the last 20 ends
// Lengths scored beyond the track's uncertainty on either side: the second pass scores
// up to 4 lengths around a first-pass peak and a winner within extendWithin (5 frames)
// of the edge widens the search, so 16 keeps a peak at the uncertainty's edge inside.
constexpr int kNarrowMargin = 16;
// While narrowing, one segment in ten is still searched over the whole range, so that
// material on which the plain score strays from the track after 20 ends agreed by chance
// (a far microphone: its winners part from the track at most ends) shows it within two
// seconds at 普 and stops the narrowing. One in four cost 9 % of a 20-minute job's time.
constexpr int kProbeEvery = 10;

// How often the fine search's ends parted from the track lately: over a quarter of the
// last 20 (4 s at 普) is no chance scatter of a good search but material on which the
// plain score has no clear peak.
class FineTrust {
public:
    void Note(bool parted) {
        recent_[next_] = parted;
        next_ = (next_ + 1) % recent_.size();
        agreeing_ = parted ? 0 : agreeing_ + 1;
    }
    long Parted() const { return std::count(recent_.begin(), recent_.end(), true); }  // of the last 20
    bool Unsure() const { return Parted() * 4 > static_cast<long>(recent_.size()); }
    // None of the last 20 ends parted: the search may be narrowed to the track. Counted
    // from the job's start, so that the first 20 ends are searched in full and material
    // on which the plain score strays (rooms) shows it before any narrowing could hide it.
    bool Agreeing() const { return agreeing_ >= recent_.size(); }

private:
    std::array<bool, 20> recent_{};
    std::size_t next_ = 0;
    std::size_t agreeing_ = 0;  // ends in a row that did not part
};

// The track's and the stored points' rows of the track picture (see JobOutcome::trackCsv).
std::string trackRows(const CoarseTrack& track, const StoredPoints& masterPoints, const StoredPoints& slavePoints,
                      const std::vector<std::string>& marks, const TimeBase& time) {
    std::string rows;
    const auto ppm = [](double rate) { return Fixed((rate - 1.0) * 1e6, 1); };
    if (track.found) {
        for (const TrackWindow& w : track.windows) {
            const double m = static_cast<double>(w.master);
            rows += "track," + Fixed(time.ToSeconds(w.master)) + "," + Fixed(track.SlaveAt(m) / time.Rate()) + "," +
                    ppm(track.RateAt(m)) + "," + (w.evidence > 0.0 ? Fixed(w.evidence, 1) : std::string()) + "," +
                    (w.jump && w.evidence > 0.0 ? "jump" : "") + "\n";
        }
    }
    const int n = std::min(masterPoints.count(), slavePoints.count());
    const std::vector<FrameIndex> master = masterPoints.load(n), slave = slavePoints.load(n);
    for (std::size_t i = 0; i < master.size(); ++i) {
        const FrameIndex m = master[i], s = slave[i];
        std::string rate;
        if (i > 0 && m > master[i - 1])
            rate = ppm(static_cast<double>(s - slave[i - 1]) / static_cast<double>(m - master[i - 1]));
        const std::string mark = i < marks.size() ? marks[i] : std::string();
        rows += "point," + Fixed(time.ToSeconds(m)) + "," + Fixed(time.ToSeconds(s)) + "," + rate + ",," + mark + "\n";
    }
    return rows;
}

// The slave end of master segment [J, K) from the track, where the fine search's end
// lies outside the track's uncertainty: the whitened correlation at the end first
// (where reverberation or a narrow band leave the plain score no clear peak), then
// the length search again around the track, then the track itself.
FrameIndex endFromTrack(const CoarseTrack& track, KWavefile& master, KWavefile& slave, SegmentSearch q, FrameIndex fineEnd,
                        const std::vector<Frame>& segment, SyncProgress& progress, bool fineUnsure) {
    const double onTrack = track.SlaveAt(static_cast<double>(q.K));
    const double fine = static_cast<double>(fineEnd);
    // The whitened peak is looked for as far as the fine end (the track can be the one that
    // is off, next to a jump); the length search again only within the track's uncertainty.
    const int reach = static_cast<int>(std::ceil(track.UncertaintyAt(static_cast<double>(q.K)))) + 16;
    const int peakReach = std::max(reach, static_cast<int>(std::ceil(std::fabs(fine - onTrack))) + 16);
    double refined = 0.0, fineShare = 0.0;
    if (RefineOnWhitened(master, slave, q.K, onTrack, track.RateAt(static_cast<double>(q.K)), peakReach, refined, &fine,
                         &fineShare)) {
        // Tonal or repeating material matches as well a period away: where the fine end
        // is nearly as good a match, it is the track that is off by that period. Not
        // where the fine search keeps parting from the track (a far microphone): there a
        // nearly as good match is a reflection of the direct sound.
        return fineShare >= kKeepFineShare && !fineUnsure ? fineEnd : std::llround(refined);
    }
    // Where the fine search keeps parting from the track (a far microphone), a plain
    // length search lands on a reflection as readily as on the direct sound; the track,
    // on whitened windows, does not (pub_speech_pauses: within 2 frames at every point).
    if (fineUnsure) return std::llround(onTrack);
    if (!segment.empty()) {
        q.P = std::llround(onTrack);
        q.rangeE = reach;
        q.rangeS = 0;
        q.F = -1;  // a length search only: the segment's start stays
        q.options = 0;
        StageBarState& bar = progress.StageBar(q.stage);
        const int position = bar.Position.load(), max = bar.Max.load();
        SearchResult r;
        SearchSegment(q, slave, segment, progress, r);
        bar.Position.store(position);
        bar.Max.store(max);
        const int G = -r.worst > r.best ? r.worstG : r.bestG;
        if (std::abs(G) < q.rangeE - 2) return q.P + G;
    }
    return std::llround(onTrack);
}

}  // namespace

LevelMatch::LevelMatch(int slaveAverage, int masterAverage)
    : slave_(slaveAverage), master_(masterAverage), table_(65536) {
    // A silent master has no level to match (the search stops on it first).
    for (int x = -32768; x <= 32767; ++x)
        table_[static_cast<std::size_t>(x + 32768)] = static_cast<std::int16_t>(
            masterAverage > 0 ? std::clamp<std::int64_t>(std::int64_t{x} * slaveAverage / masterAverage, -32768, 32767) : x);
}

void LevelMatch::Apply(std::vector<Frame>& frames) const {
    const std::int16_t* t = table_.data() + 32768;
    for (Frame& f : frames) {
        f.left = t[f.left];
        f.right = t[f.right];
    }
}

void MatchLevel(std::vector<Frame>& frames, int slaveAverage, int masterAverage) {
    LevelMatch(slaveAverage, masterAverage).Apply(frames);
}

std::string EndPointText(FrameIndex J, std::uint32_t rate) {
    const FrameIndex fs = TimeBase(rate).Rate();
    const FrameIndex h = J / (3600 * fs);
    const FrameIndex m = (J / fs) % 3600 / 60;
    const FrameIndex s = (J / fs) % 3600 % 60;
    const FrameIndex ms = (J % fs) * 1000 / fs;
    return std::to_string(h) + "H " + std::to_string(m) + "M " + std::to_string(s) + "S " + std::to_string(ms) + "ms";
}

namespace {

// The segment loop: segment A of the master, [J, K), is searched in the slave from N
// (where the last one ended) with the rate the last one implied; its end P becomes
// slave point A. Each step of one segment is a method, in the order they run.
class SegmentLoop {
public:
    SegmentLoop(SyncRun& run, const StoredPoints& masterPoints, const StoredPoints& slavePoints, const CoarseTrack& track,
                const Division& d, const SearchStart& start, const LeadIns& lead, const TimeBase& time)
        : run_(run), job_(run.job), master_(run.master), slave_(run.slave), progress_(run.progress),
          masterPoints_(masterPoints), slavePoints_(slavePoints), track_(track), time_(time),
          options_(run.progress.JobOptions()), F0_(d.F0), F_(d.resume ? d.F0 : d.F0 + 1), number_(d.number),
          step_(d.step), dpLimit_(lead.dpLimit), RE_(std::max(static_cast<int>(time.Frames(run.request.rangeE)), 1)),
          initialLookAhead_(std::max(run.request.mode % 10, 1)),
          largestLookAhead_(std::max(run.request.mode / 10, initialLookAhead_)),
          reportBase_(ProgramFolder() + BaseName(slave_.FileName)), A_(d.F0 + 1), U_(initialLookAhead_),
          rangeS_(start.rangeS), J_(masterPoints.at(d.F0)), N_(start.N), rate_(start.rate) {
        // The first segment searched is F0 + 1; F is the one that starts with the start
        // point search, which a resumed job does not run. A zero range would never end
        // the first pass.
        StageBarState& startBar = progress_.StageBar(0, false);
        startBar.Max.store((2 * RE_ + 1) * (2 * rangeS_ + 1));
        progress_.StageBar(1).Max.store(std::max(0, number_ - F0_ - 1) * (2 * RE_ + 1));
        progress_.StageBar(0, true).Marker.store(d.resume ? kStageFinished : kStageRunning);
        progress_.SetResultRange(-RE_, RE_);
        progress_.SetResultValue(0);
        if (options_ & kOptResultCsv) resultCsv_ = CreateReport(reportBase_ + ".Result.csv");
        AddLog(std::to_string(F0_) + "-" + std::to_string(number_) + " : " + std::to_string(job_.StopRequest.load()));
        UseEqualisedSources(run_);
        if (run.request.lockGuard && !track_.found) {
            guard_ = std::make_unique<LockGuard>(master_, slave_);
            if (d.resume) seedGuard(*guard_, master_, slave_, masterPoints_, slavePoints_, F0_);
        }
    }

    void Run() {
        while (A_ < number_ && job_.StopRequest.load() == 0) {
            if (guard_ && guard_->Lost() && carriedWhileLost()) continue;
            Segment s = predict();
            search(s);
            if (s.lookAhead) rescaleLookAhead(s);
            if (retriedWithLongerLookAhead(s)) continue;
            takeResult(s);
            measureEnd(s);
            anchorEnd(s);
            followTrack(s);
            remeasureEnd(s);
            judgeByGuard(s);
            store(s);
        }
        finish();
    }

private:
    struct Segment {
        int stage = 0;
        int savedPosition = 0, savedMax = 0;  // the stage bar, for a retry
        FrameIndex K = 0;                     // the segment's master end (the look-ahead's, while searching)
        FrameIndex len = 0;                   // master frames searched
        FrameIndex P = 0;                     // the slave end: predicted, then found
        bool lookAhead = false;
        SearchResult r;
        SegmentSearch q;
        WaveImage image;
        EndAnchor anchor;
        std::optional<LocalEnd> local;  // the local measure at localAt, where it was taken ahead
        FrameIndex localAt = 0;
        std::string row;   // the result CSV's row, built as the steps go
        std::string mark;  // its ninth field
    };

    // The guard has lost lock: a place found again ends the carrying; otherwise this
    // point is carried at the recent rate. True when the point was carried.
    bool carriedWhileLost() {
        const Reacquisition found = guard_->Reacquire(J_, N_);
        if (found.found) {
            // The point found again replaces any fraction still being measured for it.
            fractions_.MeasureAll(storeFraction());
            reacquired(slavePoints_, masterPoints_, A_ - 1, heldFrom_, found, time_);
            N_ = found.slaveStart;
            rate_ = static_cast<float>(guard_->RecentRate() * 100.0);
            heldFrom_ = -1;
            return false;
        }
        const FrameIndex K = masterPoints_.at(A_);
        if (heldFrom_ < 0) heldFrom_ = A_;
        const FrameIndex held = guard_->Carry(J_, K, N_);
        AddLog("◆ロック保持 DP" + std::to_string(A_) + " : " + std::to_string(held) + " (" + seconds(K, time_) + " 秒)");
        writeHeldRow(resultCsv_, A_, K, slavePoints_.ToFile(held), rate_, time_);
        slavePoints_.set(A_, held);
        slavePoints_.setSubFrame(A_, held, 0.0);  // a held point is a guess in whole frames
        slavePoints_.setCount(A_ + 1);
        J_ = K;
        N_ = held;
        stopAtPoint(job_, dpLimit_, J_);
        ++A_;
        return true;
    }

    // Where the segment (or the look-ahead's span) should end in the slave.
    Segment predict() {
        Segment s;
        s.stage = A_ == F_ ? 0 : 1;
        StageBarState& bar = progress_.StageBar(s.stage);
        s.savedPosition = bar.Position.load();
        s.savedMax = bar.Max.load();
        s.K = masterPoints_.at(A_);
        s.lookAhead = U_ > 1 && A_ + U_ - 1 < number_;
        if (s.lookAhead) s.K = masterPoints_.at(A_ + U_ - 1);
        s.len = s.K - J_;
        s.P = N_ + predictedLength(s.len, rate_);
        // The chain's prediction follows the track where the two part.
        if (track_.found) {
            const double onTrack = track_.SlaveAt(static_cast<double>(s.K));
            if (std::fabs(static_cast<double>(s.P) - onTrack) > track_.UncertaintyAt(static_cast<double>(s.K)))
                s.P = std::llround(onTrack);
        }
        AddLog("区間 DP" + std::to_string(A_ - 1) + "-" + std::to_string(A_) + " : " + std::to_string(J_) + "～" +
               std::to_string(s.K));
        progress_.SetMessageLine(MessageText(Msg::Segment, A_ - 1, A_, seconds(J_, time_), seconds(s.K, time_)), 0);
        return s;
    }

    // The specified search: every start offset within RangeS and length within RE.
    void search(Segment& s) {
        if (s.len <= 0 || master_.MakeWaveImage(J_, s.K, s.image) == 0) return;
        if (master_.Average == 0) throw SyncError(Msg::MasterSilent, master_.FileName);
        if (!level_ || !level_->Scales(slave_.Average, master_.Average)) level_.emplace(slave_.Average, master_.Average);
        level_->Apply(s.image.frames);
        SegmentSearch& q = s.q;
        q.rangeS = rangeS_;
        q.rangeE = RE_;
        q.extendWithin = static_cast<int>(time_.Frames(5));
        q.J = J_;
        q.K = s.K;
        q.N = N_;
        q.P = s.P;
        q.A = A_;
        q.F = F_;
        q.stage = s.stage;
        q.options = options_;
        q.reportBase = reportBase_;
        if (!searchedNearTrack(s)) SearchSegment(q, slave_, s.image.frames, progress_, s.r);
    }

    // On the track the end lies within the track's uncertainty of it: only the lengths
    // there and a margin for the peak's flanks are scored, not the hundreds within
    // RangeE. A winner at the window's edge says the window was too narrow, and the whole
    // range is searched as specified. Not for the start point (it searches offsets too),
    // near a jump (either side's lag may hold), nor unless the last 20 ends agreed with the
    // track: where the fine search parts from it (reverberation puts its winners hundreds
    // of frames from the direct sound), the whitened measure judges each end, and a narrow
    // window would hide the parting (pub_speech_pauses: 93.9 % of points within 2 frames
    // instead of 98.4 %). True when the narrow search's result stands.
    bool searchedNearTrack(Segment& s) {
        const SegmentSearch& q = s.q;
        if (!run_.request.narrowSearch || !track_.found || q.rangeS != 0 || A_ == F_ || !trustTrack_.Agreeing())
            return false;
        // Long segments span a quiet passage, where the plain score has little to go on
        // and the anchor searches them again.
        if (s.K - J_ > 2 * step_) return false;
        const double k = static_cast<double>(s.K);
        // A track window within reach of a jump holds both lags.
        const double window = track::kWindowS * time_.Rate();
        if (track_.NearJump(k) || track_.JumpBetween(static_cast<double>(J_) - window, k + window)) return false;
        const int half = static_cast<int>(std::ceil(track_.UncertaintyAt(k))) + kNarrowMargin;
        if (half >= RE_) return false;
        if (++eligible_ % kProbeEvery == 0) return false;
        StageBarState& bar = progress_.StageBar(s.stage);
        const int position = bar.Position.load(), max = bar.Max.load();
        SegmentSearch narrow = q;
        const int centre = static_cast<int>(std::llround(track_.SlaveAt(k) - static_cast<double>(q.P)));
        narrow.P = q.P + centre;
        narrow.rangeE = half;
        narrow.extendWithin = 0;  // the edge is judged here
        SearchResult r;
        SearchSegment(narrow, slave_, s.image.frames, progress_, r);
        const int G = -r.worst > r.best ? r.worstG : r.bestG;
        // No positive score in the window (silence, a slave not yet begun): the specified
        // search keeps the prediction or finds a match elsewhere, and so must this.
        if (std::abs(G) >= half - q.extendWithin || r.best <= 0.0) {
            bar.Position.store(position);
            bar.Max.store(max);
            return false;
        }
        r.bestG += centre;
        r.worstG += centre;
        s.r = r;
        // The bar counts every length of the specified range.
        bar.Advance(2 * (RE_ - half));
        ++narrowed_;
        return true;
    }

    // A look-ahead searched several segments at once: its result scaled to the first.
    void rescaleLookAhead(Segment& s) {
        SearchResult& r = s.r;
        s.K = masterPoints_.at(A_);
        const FrameIndex len1 = s.K - J_;
        s.P = N_ + predictedLength(len1, rate_);
        AddLog("--比率 = " + std::to_string(len1) + " / " + std::to_string(s.len));
        AddLog("--best=" + Fixed(r.best) + " S=" + std::to_string(r.bestO) + " E=" + std::to_string(r.bestG));
        AddLog("--worst=" + Fixed(r.worst) + " S=" + std::to_string(r.worstO) + " E=" + std::to_string(r.worstG));
        r.best = static_cast<double>(len1) * r.best / static_cast<double>(s.len);
        r.worst = static_cast<double>(len1) * r.worst / static_cast<double>(s.len);
        r.bestG = static_cast<int>(len1 * r.bestG / s.len);
        r.worstG = static_cast<int>(len1 * r.worstG / s.len);
        AddLog("->best=" + Fixed(r.best) + " S=" + std::to_string(r.bestO) + " E=" + std::to_string(r.bestG));
        AddLog("->worst=" + Fixed(r.worst) + " S=" + std::to_string(r.worstO) + " E=" + std::to_string(r.worstG));
    }

    // An end far from the prediction is searched again with a longer look-ahead, up to
    // the mode's largest. True when the segment is to be searched again.
    bool retriedWithLongerLookAhead(const Segment& s) {
        if (A_ <= F_) return false;
        const SearchResult& r = s.r;
        const int far = static_cast<int>(time_.Frames(20));
        const bool suspicious = (-r.worst > r.best && r.worstG < -far) || (-r.worst < r.best && r.bestG > far);
        if (!suspicious) return false;
        if (U_ < largestLookAhead_) {
            ++U_;
            StageBarState& bar = progress_.StageBar(s.stage);
            bar.Position.store(s.savedPosition);
            bar.Max.store(s.savedMax);
            progress_.SetMessageLine(MessageText(Msg::Retry, U_, seconds(J_, time_)), 2);
            return true;
        }
        U_ = initialLookAhead_;
        return false;
    }

    // The better of the best and the (inverted) worst match moves the segment.
    void takeResult(Segment& s) {
        SearchResult& r = s.r;
        if (resultCsv_)
            s.row = "\n" + std::to_string(A_) + "," + std::to_string(s.K) + "," + seconds(s.K, time_) + "," +
                    std::to_string(slavePoints_.ToFile(s.P)) + ",";
        // The row counts in each file's own frames.
        const auto slaveFrames = [&](int v) { return std::to_string(slavePoints_.ToFile(v)); };
        if (-r.worst > r.best) {
            AddLog(" worst=" + Fixed(r.worst) + " -S=" + std::to_string(r.worstO) + " E=" + std::to_string(r.worstG));
            s.row += slaveFrames(r.worstO) + "," + slaveFrames(r.worstG) + "," + Fixed(r.worst) + ",";
            r.bestO = r.worstO;
            r.bestG = r.worstG;
            --phase_;
        } else {
            AddLog(" best=" + Fixed(r.best) + " S=" + std::to_string(r.bestO) + " E=" + std::to_string(r.bestG));
            s.row += slaveFrames(r.bestO) + "," + slaveFrames(r.bestG) + "," + Fixed(r.best) + ",";
            ++phase_;
        }
        progress_.SetResultValue(r.bestG);
        N_ += r.bestO;
        s.P += r.bestO + r.bestG;
    }

    // The end's anchor check and its local measure read both files and nothing else:
    // they run on two cores at once (the local measure was a twentieth of a 20-minute
    // job, on one core). The local measure is taken at the end as the search found it;
    // where the anchor or the track then moves the end, it is taken again there.
    void measureEnd(Segment& s) {
        const bool anchor = run_.request.anchorEnds;
        const bool local = localMeasureMayApply(s);
        const FrameIndex K = s.K, P = s.P;
        // Long segments (over a quiet passage) are searched again; the others get a quick look.
        const auto anchorOf = [&] {
            return K - J_ > 2 * step_ ? AnchorSegmentEnd(master_, slave_, J_, K, N_, P)
                                      : CheckSegmentEnd(master_, slave_, J_, K, N_, P);
        };
        const auto localOf = [&] { return LocalEndOffset(master_, slave_, K, P, track_.RateAt(static_cast<double>(K))); };
        if (anchor && local) {
            EndAnchor a;
            LocalEnd l;
            ParallelFor(2, [&](std::size_t begin, std::size_t end) {
                for (std::size_t i = begin; i < end; ++i) {
                    if (i == 0) a = anchorOf();
                    else l = localOf();
                }
            });
            s.anchor = a;
            s.local = l;
        } else if (anchor) {
            s.anchor = anchorOf();
        } else if (local) {
            s.local = localOf();
        }
        s.localAt = P;
    }

    void anchorEnd(Segment& s) {
        if (s.anchor.shift == 0) return;  // also where ends are not anchored: none was measured
        AddLog("◇再アンカー DP" + std::to_string(A_) + " : " + std::to_string(s.P) + " → " +
               std::to_string(s.P + s.anchor.shift) + " (r=" + Fixed(s.anchor.r) + ")");
        s.P += s.anchor.shift;
        s.mark = "ANCHOR" + signedText(slavePoints_.ToFile(s.anchor.shift));
    }

    // An end outside the track's uncertainty is placed from the track; inside it, where
    // the fine search keeps parting from the track, it is refined on the whitened measure.
    void followTrack(Segment& s) {
        if (!track_.found) return;
        const double k = static_cast<double>(s.K);
        const bool off = std::fabs(static_cast<double>(s.P) - track_.SlaveAt(k)) > track_.UncertaintyAt(k);
        FrameIndex onTrack = s.P;
        if (off) {
            // A look-ahead's image spans more than this segment: no length search again there.
            SegmentSearch atEnd = s.q;
            atEnd.K = s.K;
            onTrack = endFromTrack(track_, master_, slave_, atEnd, s.P, s.lookAhead ? std::vector<Frame>{} : s.image.frames,
                                   progress_, trustTrack_.Unsure());
        } else if (trustTrack_.Unsure()) {
            // Where the fine search keeps parting from the track (reverberation, a narrow
            // band), its ends inside the uncertainty are no surer than the others: the
            // whitened correlation at the end decides (a frame apart is more than its own
            // error: median 0.64 frame in pub_speech_pauses, against 2.1 for the fine
            // ends), else the track where the end lies more than 2 frames off it.
            const double onLine = track_.SlaveAt(k);
            double refined = 0.0;
            if (RefineOnWhitened(master_, slave_, s.K, onLine, track_.RateAt(k),
                                 static_cast<int>(std::ceil(track_.UncertaintyAt(k))) + 16, refined)) {
                if (std::fabs(refined - static_cast<double>(s.P)) > 1.0) onTrack = std::llround(refined);
            } else if (std::fabs(onLine - static_cast<double>(s.P)) > 2.0) {
                onTrack = std::llround(onLine);
            }
        }
        trustTrack_.Note(onTrack != s.P);
        // An end so near a jump that its side of it is not sure: the slave paused or lost
        // material about here, and the point may hold the other side's lag.
        if (track_.NearJump(k) && s.mark.empty()) s.mark = "JUMP";
        if (onTrack == s.P) return;
        AddLog("◆追跡補正 DP" + std::to_string(A_) + " : " + std::to_string(s.P) + " → " + std::to_string(onTrack) + " (" +
               seconds(s.K, time_) + " 秒)");
        s.mark = "TRACK" + signedText(slavePoints_.ToFile(onTrack - s.P));
        s.P = onTrack;
        ++job_.TrackPoints;
    }

    // Each end is measured again on its own, at the track's rate: the segment's linear
    // stretch misfits a tape's wow (0.2 % at 0.45 Hz curves the slave's position by 250
    // frames/s^2), and a chain whose start is a few frames off swings from end to end
    // (pub_cassette: ends off by up to 60 frames, the local measure within 2 of every one).
    // Only a disagreement of more than 1.5 frames moves the end, so that material the
    // search already fits keeps its points. Not near a jump (the window may straddle it),
    // nor where the fine search parted from the track more than once in its last 20 ends
    // (4 s at 普: reverberation, whose reflections pull a plain correlation's peak), nor
    // where the best correlation is under 0.5: three quarters of the window's energy
    // (1 - 0.5^2) are then sound the master lacks (the cassette's hiss leaves peaks down
    // to 0.54 whose positions are right).
    bool localMeasureMayApply(const Segment& s) const {
        return track_.found && s.K > J_ && !track_.NearJump(static_cast<double>(s.K));
    }

    void remeasureEnd(Segment& s) {
        if (!localMeasureMayApply(s) || trustTrack_.Parted() > kLocalMaxPartings) return;
        const double rate = track_.RateAt(static_cast<double>(s.K));
        const LocalEnd local = s.local && s.localAt == s.P ? *s.local : LocalEndOffset(master_, slave_, s.K, s.P, rate);
        if (!local.measured || std::fabs(local.offset) <= kLocalMoveFrames || local.peak < kLocalMinPeak) return;
        const FrameIndex shift = std::llround(local.offset);
        // Reverberation spreads the plain correlation's peak towards the reflections;
        // the same measure on the signals' differences (every octave weighed more nearly
        // alike) is spread far less, and where the two part the end stays.
        const LocalEnd sharp = LocalEndOffset(master_, slave_, s.K, s.P, rate, true);
        if (sharp.measured && std::fabs(sharp.offset - local.offset) > kLocalAgreeFrames) return;
        AddLog("◇局所測定 DP" + std::to_string(A_) + " : " + std::to_string(s.P) + " → " + std::to_string(s.P + shift) +
               " (r=" + Fixed(local.peak) + ")");
        s.P += shift;
        s.mark = "LOCAL" + signedText(slavePoints_.ToFile(shift));
    }

    // Without a track, the lock guard judges the end against the recent chain.
    void judgeByGuard(Segment& s) {
        if (!guard_) return;
        if (A_ == F_) guard_->Start(J_, N_);
        // A segment over a quiet passage has no neighbours to judge it by; its end was
        // re-anchored on the onset that ends it.
        const GuardJudgement judged = s.K - J_ > 2 * step_
                                          ? GuardJudgement{GuardJudgement::Kind::Kept, s.P, -1.0}
                                          : guard_->Judge(J_, s.K, N_, s.P, s.anchor.shift != 0 ? -1.0 : s.anchor.endR);
        if (judged.kind == GuardJudgement::Kind::Corrected) {
            AddLog("◆ロック補正 DP" + std::to_string(A_) + " : " + std::to_string(s.P) + " → " +
                   std::to_string(judged.slaveEnd) + " (r=" + Fixed(judged.r) + ", " + seconds(s.K, time_) + " 秒)");
            s.mark = "GUARD" + signedText(slavePoints_.ToFile(judged.slaveEnd - s.P));
        } else if (judged.kind == GuardJudgement::Kind::Held) {
            AddLog("◆ロック喪失 DP" + std::to_string(A_) + " : " + std::to_string(s.P) + " → " +
                   std::to_string(judged.slaveEnd) + " (" + seconds(s.K, time_) + " 秒、直近のRATEで継続)");
            s.mark = "HOLD";
            heldFrom_ = A_;
        }
        s.P = judged.slaveEnd;
        if (judged.kind != GuardJudgement::Kind::Held) guard_->Accept(s.K, s.P, judged.r);
    }

    // The end becomes slave point A, its row is written, and the next segment starts there.
    void store(Segment& s) {
        const FrameIndex K = s.K;
        rate_ = K > J_ ? static_cast<float>(static_cast<double>(s.P - N_) * 100.0 / static_cast<double>(K - J_)) : rate_;
        if (resultCsv_) {
            s.row += Fixed(rate_) + ",";
            // A re-anchored or guarded row gets a ninth field; the eight before it keep their meaning.
            if (!s.mark.empty()) s.row += s.mark + ",";
            WriteReport(resultCsv_, s.row);
        }
        AddLog("予想RATE：" + Fixed(rate_));

        if (static_cast<int>(marks_.size()) <= A_) marks_.resize(static_cast<std::size_t>(A_) + 1);
        marks_[static_cast<std::size_t>(A_)] = s.mark;
        if (A_ == F_) {
            progress_.StageBar(0).Marker.store(kStageFinished);
            slavePoints_.set(F_ - 1, N_);
            if (job_.BandLimited) measureFraction(F_ - 1, K, J_, s.P, N_);
        }
        // The fraction is measured only for an output that reads it.
        if (job_.BandLimited) measureFraction(A_, J_, K, N_, s.P);
        slavePoints_.set(A_, s.P);
        slavePoints_.setCount(A_ + 1);
        J_ = K;
        N_ = s.P;
        rangeS_ = 0;
        stopAtPoint(job_, dpLimit_, J_);
        ++A_;
    }

    // Where the fine search keeps parting from the track (a far microphone, whose
    // reflections outweigh the direct sound), the plain correlation's peak is shaped by
    // the reflections and its fraction is not the direct sound's: such a point keeps its
    // whole frame, and so does every point of a job where that held for more than a
    // tenth of them (finish). In a generated hall the fractions of the points found
    // while the search agreed with the track still spread more than the whole frames
    // (0.73 against 0.56 frame from their median), and half its points part; on the
    // evaluation kit's clean music, tape and phone none do, in its rooms nearly all. The
    // output read on whole frames times no worse there than the linear writer's.
    // Elsewhere the fraction is measured beside the search (FractionMeter) and stored
    // as each comes in, so that a killed job loses few (its points then read as whole
    // frames).
    void measureFraction(int index, FrameIndex J, FrameIndex K, FrameIndex N, FrameIndex P) {
        fractions_.TakeMeasured(storeFraction());
        fractioned_.push_back({index, P});
        if (trustTrack_.Unsure()) {
            ++unsureFractions_;
            slavePoints_.setSubFrame(index, P, 0.0);
        } else {
            fractions_.Add({index, J, K, N, P});
        }
    }

    // A job whose fine search parted from the track for more than a tenth of its points
    // is a far microphone throughout: its points keep their whole frames. (Only the lock
    // guard moves a stored point, and it runs only without a track, where none parts.)
    void wholeFramesInARoom() {
        if (unsureFractions_ * 10 <= fractioned_.size()) return;
        AddLog("◇残響：分割点はフレーム単位のまま (" + std::to_string(unsureFractions_) + "/" +
               std::to_string(fractioned_.size()) + ")");
        for (const auto& [index, P] : fractioned_) slavePoints_.setSubFrame(index, P, 0.0);
    }

    FractionMeter::Apply storeFraction() const {
        return [this](const FractionMeter::Item& p) { slavePoints_.setSubFrame(p.index, p.P, p.offset); };
    }

    void finish() {
        fractions_.MeasureAll(storeFraction());
        wholeFramesInARoom();
        if (narrowed_ > 0)
            AddLog("◇追跡内の探索：" + std::to_string(narrowed_) + " / " + std::to_string(A_ - F0_ - 1) + " 区間");
        FinishReport(resultCsv_, reportBase_ + ".Result.csv");
        job_.TrackRows = trackRows(track_, masterPoints_, slavePoints_, marks_, time_);
        if (guard_) {
            job_.Guard = guard_->Counts();
            if (job_.Guard.lost > 0 || job_.Guard.corrected > 0)
                AddLog("◆ロック判定：補正 " + std::to_string(job_.Guard.corrected) + "、喪失 " + std::to_string(job_.Guard.lost) +
                       "、保持 " + std::to_string(job_.Guard.held) + "、回復 " + std::to_string(job_.Guard.reacquired));
        }
        slavePoints_.setPhaseShift(phase_ < 0);
        AddLog("終了ポイント=" + EndPointText(J_, master_.SampleRate));
    }

    SyncRun& run_;
    SyncJob& job_;
    KWavefile& master_;
    KWavefile& slave_;
    SyncProgress& progress_;
    const StoredPoints& masterPoints_;
    const StoredPoints& slavePoints_;
    const CoarseTrack& track_;
    const TimeBase time_;
    const int options_;
    const int F0_, F_, number_;
    const FrameIndex step_, dpLimit_;
    const int RE_;
    const int initialLookAhead_, largestLookAhead_;
    const std::string reportBase_;
    CsvFile resultCsv_;
    std::unique_ptr<LockGuard> guard_;
    FineTrust trustTrack_;
    int narrowed_ = 0;  // segments searched only within the track's uncertainty
    int eligible_ = 0;  // segments that could have been
    FractionMeter fractions_{master_, slave_};
    std::optional<LevelMatch> level_;
    std::vector<std::pair<int, FrameIndex>> fractioned_;  // the points given fractions: index, whole frame
    std::size_t unsureFractions_ = 0;                    // of them, found while the search parted from the track
    std::vector<std::string> marks_;  // the result CSV's ninth field of each point searched
    int A_, U_;
    int rangeS_;         // the start search's half-width, 0 after the first segment
    int phase_ = 0;      // best matches less inverted ones: PhaseShift
    int heldFrom_ = -1;  // first point carried since the lock was lost
    FrameIndex J_, N_;
    float rate_;
};

}  // namespace

void SynchroniseFiles(SyncRun& run) {
    const StoredPoints masterPoints(run.master.ChangeExtension(""));
    const StoredPoints slavePoints(run.slave.ChangeExtension(""), run.slaveFileRate, run.slave.SampleRate);
    RequireUsable(run);
    // Every length and position the search defines is a time, taken at the master's rate.
    const TimeBase time(run.master.SampleRate);
    const LeadIns lead = LeadInsOf(run, time);
    // The start point search's half-width at the master's rate: the search's own working
    // value, widened and narrowed as the start is found, never written back into the job.
    const int rangeS = static_cast<int>(time.Frames(run.request.rangeS));

    const CoarseTrack track = BuildJobTrack(run, lead);
    const Division division = DivideMaster(run, masterPoints, slavePoints, track, lead, rangeS, time);
    const SearchStart start = FindSearchStart(run, masterPoints, slavePoints, track, division, lead, rangeS, time);
    SegmentLoop(run, masterPoints, slavePoints, track, division, start, lead, time).Run();
}

}  // namespace tandem
