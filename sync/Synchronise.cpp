#include "sync/Synchronise.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <memory>

#include "core/Clones.h"
#include "core/Log.h"
#include "core/ProgramFolder.h"
#include "core/TimeBase.h"
#include "core/Text.h"
#include "settings/Settings.h"
#include "sync/CoarseTrack.h"
#include "sync/EndAnchor.h"
#include "sync/LockGuard.h"
#include "sync/RobustStart.h"
#include "sync/StoredPoints.h"
#include "wave/KWavefile.h"

namespace tandem {
namespace {

constexpr int kStartRange = 8820;  // offset half-width when the start is searched with a lead-in

// Seconds in the master's time (the slave's working image runs at the master's rate).
std::string seconds(FrameIndex frames, const TimeBase& time) { return Fixed(time.ToSeconds(frames)); }

// Predicted slave length of a master span at the given rate (percent): the product is
// taken in single precision as the rate itself is kept.
FrameIndex predictedLength(FrameIndex masterLength, float rate) {
    const float product = static_cast<float>(masterLength) * rate;
    return static_cast<FrameIndex>(static_cast<double>(product) * 0.01);
}

// Fetches from a file that could not be loaded come back silent, and a search on them
// would store points made up from the predicted rate alone.
void requireData(KWavefile& file, Msg cannotLoad) {
    if (!file.LoadData()) throw SyncError(cannotLoad, file.FileName, file.LoadProblem());
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
    if (heldFrom <= 0 || found.slaveStart >= before) return;
    const FrameIndex m0 = masterPoints.at(heldFrom - 1), s0 = slavePoints.at(heldFrom - 1);
    const FrameIndex m1 = masterPoints.at(at);
    for (int i = heldFrom; i < at; ++i) {
        const double t = static_cast<double>(masterPoints.at(i) - m0) / static_cast<double>(std::max<FrameIndex>(m1 - m0, 1));
        slavePoints.set(i, s0 + std::llround(t * static_cast<double>(found.slaveStart - s0)));
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

// How often the fine search's ends parted from the track lately: over a quarter of the
// last 20 (4 s at 普) is no chance scatter of a good search but material on which the
// plain score has no clear peak.
class FineTrust {
public:
    void Note(bool parted) {
        recent_[next_] = parted;
        next_ = (next_ + 1) % recent_.size();
    }
    bool Unsure() const { return std::count(recent_.begin(), recent_.end(), true) * 4 > static_cast<long>(recent_.size()); }

private:
    std::array<bool, 20> recent_{};
    std::size_t next_ = 0;
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
    for (int i = 0; i < n; ++i) {
        const FrameIndex m = masterPoints.at(i), s = slavePoints.at(i);
        std::string rate;
        if (i > 0 && m > masterPoints.at(i - 1))
            rate = ppm(static_cast<double>(s - slavePoints.at(i - 1)) / static_cast<double>(m - masterPoints.at(i - 1)));
        const std::string mark = i < static_cast<int>(marks.size()) ? marks[static_cast<std::size_t>(i)] : std::string();
        rows += "point," + Fixed(time.ToSeconds(m)) + "," + Fixed(time.ToSeconds(s)) + "," + rate + ",," + mark + "\n";
    }
    return rows;
}

// Where a fresh chain starts on the track: at the master's onset, unless the slave
// lacks the master's beginning there (the track has no evidence until later).
FrameIndex trackStart(const CoarseTrack& track, FrameIndex onset) {
    for (const TrackWindow& w : track.windows) {
        if (w.evidence <= 0.0) continue;
        const FrameIndex from = w.master - static_cast<FrameIndex>(track.rate) / 2;  // the window's first frame
        return from > onset + static_cast<FrameIndex>(track.rate) / 4 ? w.master : onset;
    }
    return onset;
}

// The slave end of master segment [J, K) from the track, where the fine search's end
// lies outside the track's uncertainty: the whitened correlation at the end first
// (where reverberation or a narrow band leave the plain score no clear peak), then
// the length search again around the track, then the track itself.
FrameIndex endFromTrack(const CoarseTrack& track, KWavefile& master, KWavefile& slave, SegmentSearch q, FrameIndex fineEnd,
                        const std::vector<Frame>& segment, SyncProgress& progress) {
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
        // is nearly as good a match, it is the track that is off by that period.
        return fineShare >= kKeepFineShare ? fineEnd : std::llround(refined);
    }
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

// Where the stored points before a master lead-in put the slave at master frame J: on
// the line through the last of them and the one at least 3 s before it (the lock guard's
// span; the clocks' rate changes by at most 0.1 % per second), as the interrupted chain
// would have gone on. Without a second pair the rate is taken as 1.
struct StoredPlacement {
    FrameIndex slave = 0;
    float rate = 100.0f;  // percent, slave per master
    int range = 0;        // frames either side that the placement may be off
};

StoredPlacement placeAfterStoredPoints(const StoredPoints& masterPoints, const StoredPoints& slavePoints, int F0,
                                       FrameIndex J, std::uint32_t sampleRate) {
    const int last = F0 - 1;
    int first = last;
    while (first > 0 && masterPoints.at(last) - masterPoints.at(first) < 3 * static_cast<FrameIndex>(sampleRate)) --first;
    StoredPlacement placed;
    double rate = 1.0;
    const FrameIndex span = masterPoints.at(last) - masterPoints.at(first);
    if (span > 0) rate = static_cast<double>(slavePoints.at(last) - slavePoints.at(first)) / static_cast<double>(span);
    placed.rate = static_cast<float>(rate * 100.0);
    placed.slave = slavePoints.at(last) + std::llround(static_cast<double>(J - masterPoints.at(last)) * rate);
    // Over a gap of g seconds the rate may drift by 0.1 %/s (0.0005 g^2 s of position),
    // the rate read from 3 s of points with 0.3 ms scatter is off by up to 1.5e-4
    // (1.5e-4 g s), plus the scatter itself; at least 10 ms.
    const double g = static_cast<double>(J - masterPoints.at(last)) / sampleRate;
    const double seconds = std::max(0.0005 * g * g + 1.5e-4 * g + 0.0003, 0.010);
    placed.range = static_cast<int>(std::min(std::ceil(seconds * sampleRate), 1e9));
    return placed;
}

}  // namespace

TANDEM_CLONES("avx2")
void MatchLevel(std::vector<Frame>& frames, int slaveAverage, int masterAverage) {
    // x * slave / master truncated, in doubles rather than a 64-bit division per sample
    // (vectorised): the product is exact, and a quotient of integers below 2^53 is an
    // integer or lies at least 1 / master from one, far beyond its rounding error, so
    // truncating the rounded quotient gives the integer division's result. Clamping
    // before the truncation gives the same as after it.
    const double s = slaveAverage, m = masterAverage;
    auto scale = [&](std::int16_t x) {
        return static_cast<std::int16_t>(static_cast<int>(std::clamp(static_cast<double>(x) * s / m, -32768.0, 32767.0)));
    };
    for (Frame& f : frames) {
        f.left = scale(f.left);
        f.right = scale(f.right);
    }
}

std::string EndPointText(FrameIndex J, std::uint32_t rate) {
    const FrameIndex fs = TimeBase(rate).Rate();
    const FrameIndex h = J / (3600 * fs);
    const FrameIndex m = (J / fs) % 3600 / 60;
    const FrameIndex s = (J / fs) % 3600 % 60;
    const FrameIndex ms = (J % fs) * 1000 / fs;
    return std::to_string(h) + "H " + std::to_string(m) + "M " + std::to_string(s) + "S " + std::to_string(ms) + "ms";
}

void SynchroniseFiles(SyncRun& run) {
    SyncJob& job = run.job;
    const JobRequest& request = run.request;
    KWavefile& master = run.master;
    KWavefile& slave = run.slave;
    SyncProgress& progress = run.progress;
    const int options = progress.JobOptions();
    const StoredPoints masterPoints(master.ChangeExtension(""));
    const StoredPoints slavePoints(slave.ChangeExtension(""), run.slaveFileRate, slave.SampleRate);
    if (!master.Usable()) throw SyncError(Msg::MasterNotUsable, master.FileName, master.Problem());
    if (!slave.Usable()) throw SyncError(Msg::SlaveNotUsable, slave.FileName, slave.Problem());
    if (slave.SampleRate != master.SampleRate) throw SyncError(Msg::DifferentRates, master.SampleRate, slave.SampleRate);
    requireData(master, Msg::MasterCannotLoad);
    requireData(slave, Msg::SlaveCannotLoad);

    // Every length and position the search defines is a time, taken at the master's rate.
    // Lead-ins and the stop point come in 44.1 kHz frames (tenths x 4410); a resumed
    // job's lead-ins are the stored pair itself, in the files' own frames.
    const TimeBase time(master.SampleRate);
    const FrameIndex masterSkip = request.resume ? request.resumeMasterFrame : time.Frames(request.masterSkipFrames);
    const FrameIndex slaveSkip = request.resume ? RescaleFrames(request.resumeSlaveFrame, run.slaveFileRate, slave.SampleRate)
                                                : time.Frames(request.slaveSkipFrames);
    const FrameIndex dpLimit = time.Frames(request.stopPointFrames);
    const int startRangeS = static_cast<int>(time.Frames(kStartRange));
    // The start point search's half-width at the master's rate: the search's own working
    // value, widened and narrowed below, never written back into the job.
    int searchRangeS = static_cast<int>(time.Frames(request.rangeS));

    CoarseTrack track;
    if (request.coarseTrack) {
        progress.SetMessageLine(MessageText(Msg::Tracking), 0);
        track = BuildCoarseTrack(master, slave, TrackRequest{masterSkip, slaveSkip});
        job.TrackFound = track.found;
        if (track.found) {
            int jumps = 0;
            for (const TrackWindow& w : track.windows) jumps += w.jump && w.evidence > 0.0 ? 1 : 0;
            job.TrackJumps = jumps;
            AddLog("◎粗い追跡：窓 " + std::to_string(track.windows.size()) + "、不確かさ " + Fixed(track.uncertainty) + " フレーム、飛び " +
                   std::to_string(jumps));
        } else {
            AddLog("◎粗い追跡：見つからず (" + track.why + ")");
        }
    }

    // A. Division of the master. Points before the end of the master lead-in survive.
    const int storedMaster = masterPoints.count();
    const int storedSlave = slavePoints.count();
    int valid = storedMaster;
    while (valid > 0 && masterPoints.at(valid - 1) >= masterSkip) --valid;
    const int F0 = std::min(valid, storedSlave);
    AddLog("有効データ数：" + std::to_string(F0));
    // A resumed job goes on from stored pair F0 as it stands: the division and the
    // search continue exactly as the interrupted job would have.
    const bool resume = request.resume && F0 > 0 && F0 < storedMaster && F0 < storedSlave;

    FrameIndex D = resume ? masterPoints.at(F0) : FindSoundOnset(master, masterSkip, 100);
    RobustStart robust;
    if (track.found && !resume) {
        D = trackStart(track, D);
    } else if (request.robustStart && F0 == 0) {
        const bool leadIn = masterSkip > 0 || slaveSkip > 0;
        const int startRange = leadIn ? std::max(searchRangeS, startRangeS) : searchRangeS;
        robust = FindRobustStart(master, slave, D, FindSoundOnset(slave, slaveSkip, 100), startRange);
        D = robust.masterStart;
        job.StartUndecided = robust.undecided;
    }
    masterPoints.set(F0, D);
    masterPoints.setCount(F0 + 1);
    int number = F0 + 1;
    const FrameIndex step = time.Tenths(request.baseStep);
    const FrameIndex tenth = time.Tenths(1);
    AddLog("基準データを" + std::to_string(step) + "個間隔に設定");
    const FrameIndex end = master.FrameCount - master.BackNull;
    while (D < end) {
        FrameIndex onset;
        if (number == 1) {
            onset = FindSoundOnset(master, D + tenth, 100);
            D += time.Tenths(2);  // the first step after the start is 0.2 s
        } else {
            onset = FindSoundOnset(master, D + 1, 100);
            D += step;
        }
        if (D > end) break;
        if (onset > D) D = onset + tenth;  // after a silence longer than the step
        masterPoints.set(number, D);
        masterPoints.setCount(number + 1);
        ++number;
    }
    AddLog("分割数：" + std::to_string(number) + " 処理開始番号：" + std::to_string(F0));

    // B. Start of the search.
    int phase = 0;
    if (searchRangeS < startRangeS && (F0 > 0 || masterSkip > 0 || slaveSkip > 0)) searchRangeS = startRangeS;
    // On the track the start is known to its uncertainty, wherever the lead-ins put it.
    if (track.found && !resume)
        searchRangeS = static_cast<int>(std::ceil(track.UncertaintyAt(static_cast<double>(masterPoints.at(F0))))) + 8;
    float rate = 100.0f;
    FrameIndex J = masterPoints.at(F0);
    FrameIndex K = masterPoints.at(F0 + 1);
    FrameIndex N = 0;
    if (resume) {
        N = slavePoints.at(F0);
        const FrameIndex masterLength = J - masterPoints.at(F0 - 1);
        if (masterLength > 0)
            rate = static_cast<float>(static_cast<double>(N - slavePoints.at(F0 - 1)) * 100.0 /
                                      static_cast<double>(masterLength));
        searchRangeS = 0;
        AddLog("再開点=" + std::to_string(J) + " と " + std::to_string(N));
    } else if (F0 > 0) {
        // A master lead-in past stored points: the slave's own lead-in knows nothing of
        // where the stored chain left it; the stored points do.
        const StoredPlacement placed = placeAfterStoredPoints(masterPoints, slavePoints, F0, J, master.SampleRate);
        const FrameIndex lastSlave = std::max<FrameIndex>(slave.FrameCount - 1, 0);
        N = std::clamp<FrameIndex>(placed.slave, 0, lastSlave);
        rate = placed.rate;
        AddLog("開始点=" + std::to_string(J) + " と " + std::to_string(N) + "(保存済みの分割点から)");
        // A narrower start search than the lead-in's: the chain is known, a near copy a
        // beat away is not taken for it. Over a long gap the wobble of the clocks may
        // have moved it further: the envelopes find it within the physics' reach (at
        // most 8 s, as the start check looks), and the search then only refines it.
        int range = std::min(searchRangeS, placed.range);
        if (placed.range > range) {
            MatchRequest around;
            around.masterStart = J;
            around.slaveCentre = N;
            around.reach = std::min<FrameIndex>(placed.range, time.Frames(8 * kSampleRate));
            around.rate = placed.rate / 100.0;
            around.rateSpread = 0.002;
            const MatchResult found = MatchAround(master, slave, around);
            if (found.clear && !found.checked.empty()) {
                N = std::clamp<FrameIndex>(found.checked.front().slaveStart, 0, lastSlave);
                range = std::min(range, static_cast<int>(time.Tenths(1) / 10));
                AddLog("開始点=" + std::to_string(J) + " と " + std::to_string(N) + "(包絡線の照合)");
            }
        }
        searchRangeS = range;
    } else {
        N = SearchSimilarPattern(slave, slaveSkip);
        if (robust.overridden) N = robust.slaveStart;
        if (track.found) N = std::llround(track.SlaveAt(static_cast<double>(J)));
        const FrameIndex reference = FindSoundOnset(slave, slaveSkip, 100);
        AddLog("開始点=" + std::to_string(J) + " と " + std::to_string(N) + "(参考：" + std::to_string(reference) + ")");
    }
    AddLog("予想RATE：" + Fixed(rate));

    const int RE = std::max(static_cast<int>(time.Frames(request.rangeE)), 1);  // a zero range would never end the first pass
    StageBarState& startBar = progress.StageBar(0, false);
    startBar.Max.store((2 * RE + 1) * (2 * searchRangeS + 1));
    progress.StageBar(1).Max.store(std::max(0, number - F0 - 1) * (2 * RE + 1));
    progress.StageBar(0, true).Marker.store(resume ? kStageFinished : kStageRunning);
    progress.SetResultRange(-RE, RE);
    progress.SetResultValue(0);

    const std::string reportBase = ProgramFolder() + BaseName(slave.FileName);
    CsvFile resultCsv;
    if (options & kOptResultCsv) resultCsv = CreateReport(reportBase + ".Result.csv");
    AddLog(std::to_string(F0) + "-" + std::to_string(number) + " : " + std::to_string(job.StopRequest.load()));

    if (!run.masterEqCopy.empty()) {
        master.SetDataSource(run.masterEqCopy);
        requireData(master, Msg::MasterCannotLoad);
    }
    if (!run.slaveEqImage.empty()) {
        slave.SetDataImage(run.slaveEqCopy, std::move(run.slaveEqImage));
        requireData(slave, Msg::SlaveCannotLoad);
    } else if (!run.slaveEqCopy.empty()) {
        slave.SetDataSource(run.slaveEqCopy);
        requireData(slave, Msg::SlaveCannotLoad);
    }

    // The first segment searched is F0 + 1; F is the one that starts with the start
    // point search, which a resumed job does not run.
    const int F = resume ? F0 : F0 + 1;
    const int initialLookAhead = std::max(request.mode % 10, 1);
    const int largestLookAhead = std::max(request.mode / 10, initialLookAhead);
    int U = initialLookAhead;

    std::unique_ptr<LockGuard> guard;
    if (request.lockGuard && !track.found) {
        guard = std::make_unique<LockGuard>(master, slave);
        if (resume) seedGuard(*guard, master, slave, masterPoints, slavePoints, F0);
    }
    int heldFrom = -1;  // first point carried since the lock was lost
    FineTrust trustTrack;
    std::vector<std::string> marks;  // the result CSV's ninth field of each point searched

    // C. Segment loop.
    int A = F0 + 1;
    while (A < number && job.StopRequest.load() == 0) {
        const int stage = A == F ? 0 : 1;
        StageBarState& bar = progress.StageBar(stage);
        const int savedPosition = bar.Position.load();
        const int savedMax = bar.Max.load();

        if (guard && guard->Lost()) {
            const Reacquisition found = guard->Reacquire(J, N);
            if (found.found) {
                reacquired(slavePoints, masterPoints, A - 1, heldFrom, found, time);
                N = found.slaveStart;
                rate = static_cast<float>(guard->RecentRate() * 100.0);
                heldFrom = -1;
            } else {
                K = masterPoints.at(A);
                if (heldFrom < 0) heldFrom = A;
                const FrameIndex held = guard->Carry(J, K, N);
                AddLog("◆ロック保持 DP" + std::to_string(A) + " : " + std::to_string(held) + " (" + seconds(K, time) + " 秒)");
                writeHeldRow(resultCsv, A, K, slavePoints.ToFile(held), rate, time);
                slavePoints.set(A, held);
                slavePoints.setCount(A + 1);
                J = K;
                N = held;
                stopAtPoint(job, dpLimit, J);
                ++A;
                continue;
            }
        }

        SearchResult r;
        K = masterPoints.at(A);
        const bool lookAhead = U > 1 && A + U - 1 < number;
        if (lookAhead) K = masterPoints.at(A + U - 1);
        const FrameIndex len = K - J;
        FrameIndex P = N + predictedLength(len, rate);
        // The chain's prediction follows the track where the two part.
        if (track.found) {
            const double onTrack = track.SlaveAt(static_cast<double>(K));
            if (std::fabs(static_cast<double>(P) - onTrack) > track.UncertaintyAt(static_cast<double>(K))) P = std::llround(onTrack);
        }
        AddLog("区間 DP" + std::to_string(A - 1) + "-" + std::to_string(A) + " : " + std::to_string(J) + "～" +
               std::to_string(K));
        progress.SetMessageLine(MessageText(Msg::Segment, A - 1, A, seconds(J, time), seconds(K, time)), 0);

        WaveImage segment;
        SegmentSearch q;
        if (len > 0 && master.MakeWaveImage(J, K, segment) != 0) {
            if (master.Average == 0)
                throw SyncError(Msg::MasterSilent, master.FileName);
            MatchLevel(segment.frames, slave.Average, master.Average);
            q.rangeS = searchRangeS;
            q.rangeE = RE;
            q.extendWithin = static_cast<int>(time.Frames(5));
            q.J = J;
            q.K = K;
            q.N = N;
            q.P = P;
            q.A = A;
            q.F = F;
            q.stage = stage;
            q.options = options;
            q.reportBase = reportBase;
            SearchSegment(q, slave, segment.frames, progress, r);
        }

        if (lookAhead) {
            K = masterPoints.at(A);
            const FrameIndex len1 = K - J;
            P = N + predictedLength(len1, rate);
            AddLog("--比率 = " + std::to_string(len1) + " / " + std::to_string(len));
            AddLog("--best=" + Fixed(r.best) + " S=" + std::to_string(r.bestO) + " E=" + std::to_string(r.bestG));
            AddLog("--worst=" + Fixed(r.worst) + " S=" + std::to_string(r.worstO) + " E=" + std::to_string(r.worstG));
            r.best = static_cast<double>(len1) * r.best / static_cast<double>(len);
            r.worst = static_cast<double>(len1) * r.worst / static_cast<double>(len);
            r.bestG = static_cast<int>(len1 * r.bestG / len);
            r.worstG = static_cast<int>(len1 * r.worstG / len);
            AddLog("->best=" + Fixed(r.best) + " S=" + std::to_string(r.bestO) + " E=" + std::to_string(r.bestG));
            AddLog("->worst=" + Fixed(r.worst) + " S=" + std::to_string(r.worstO) + " E=" + std::to_string(r.worstG));
        }

        if (A > F) {
            const int far = static_cast<int>(time.Frames(20));
            const bool suspicious = (-r.worst > r.best && r.worstG < -far) || (-r.worst < r.best && r.bestG > far);
            if (suspicious) {
                if (U < largestLookAhead) {
                    ++U;
                    bar.Position.store(savedPosition);
                    bar.Max.store(savedMax);
                    progress.SetMessageLine(MessageText(Msg::Retry, U, seconds(J, time)), 2);
                    continue;
                }
                U = initialLookAhead;
            }
        }

        std::string row;
        if (resultCsv)
            row = "\n" + std::to_string(A) + "," + std::to_string(K) + "," + seconds(K, time) + "," +
                  std::to_string(slavePoints.ToFile(P)) + ",";
        // The row counts in each file's own frames.
        const auto slaveFrames = [&](int v) { return std::to_string(slavePoints.ToFile(v)); };
        if (-r.worst > r.best) {
            AddLog(" worst=" + Fixed(r.worst) + " -S=" + std::to_string(r.worstO) + " E=" + std::to_string(r.worstG));
            row += slaveFrames(r.worstO) + "," + slaveFrames(r.worstG) + "," + Fixed(r.worst) + ",";
            r.bestO = r.worstO;
            r.bestG = r.worstG;
            --phase;
        } else {
            AddLog(" best=" + Fixed(r.best) + " S=" + std::to_string(r.bestO) + " E=" + std::to_string(r.bestG));
            row += slaveFrames(r.bestO) + "," + slaveFrames(r.bestG) + "," + Fixed(r.best) + ",";
            ++phase;
        }
        progress.SetResultValue(r.bestG);
        N += r.bestO;
        P += r.bestO + r.bestG;
        EndAnchor anchor;
        if (request.anchorEnds) {
            // Long segments (over a quiet passage) are searched again; the others get a quick look.
            anchor = K - J > 2 * step ? AnchorSegmentEnd(master, slave, J, K, N, P)
                                      : CheckSegmentEnd(master, slave, J, K, N, P);
            if (anchor.shift != 0) {
                AddLog("◇再アンカー DP" + std::to_string(A) + " : " + std::to_string(P) + " → " +
                       std::to_string(P + anchor.shift) + " (r=" + Fixed(anchor.r) + ")");
                P += anchor.shift;
            }
        }
        std::string mark;
        if (anchor.shift != 0) mark = "ANCHOR" + signedText(slavePoints.ToFile(anchor.shift));
        if (track.found) {
            const bool off = std::fabs(static_cast<double>(P) - track.SlaveAt(static_cast<double>(K))) >
                             track.UncertaintyAt(static_cast<double>(K));
            FrameIndex onTrack = P;
            if (off) {
                // A look-ahead's image spans more than this segment: no length search again there.
                SegmentSearch atEnd = q;
                atEnd.K = K;
                onTrack = endFromTrack(track, master, slave, atEnd, P, lookAhead ? std::vector<Frame>{} : segment.frames, progress);
            } else if (trustTrack.Unsure()) {
                // Where the fine search keeps parting from the track (reverberation, a narrow
                // band), its ends inside the uncertainty are no surer than the others.
                double refined = 0.0;
                if (RefineOnWhitened(master, slave, K, track.SlaveAt(static_cast<double>(K)), track.RateAt(static_cast<double>(K)),
                                     static_cast<int>(std::ceil(track.UncertaintyAt(static_cast<double>(K)))) + 16, refined) &&
                    std::fabs(refined - static_cast<double>(P)) > 2.0)
                    onTrack = std::llround(refined);
            }
            trustTrack.Note(onTrack != P);
            if (onTrack != P) {
                AddLog("◆追跡補正 DP" + std::to_string(A) + " : " + std::to_string(P) + " → " + std::to_string(onTrack) + " (" +
                       seconds(K, time) + " 秒)");
                mark = "TRACK" + signedText(slavePoints.ToFile(onTrack - P));
                P = onTrack;
                ++job.TrackPoints;
            }
        }
        if (guard) {
            if (A == F) guard->Start(J, N);
            // A segment over a quiet passage has no neighbours to judge it by; its end was
            // re-anchored on the onset that ends it.
            const GuardJudgement judged = K - J > 2 * step ? GuardJudgement{GuardJudgement::Kind::Kept, P, -1.0}
                                                           : guard->Judge(J, K, N, P, anchor.shift != 0 ? -1.0 : anchor.endR);
            if (judged.kind == GuardJudgement::Kind::Corrected) {
                AddLog("◆ロック補正 DP" + std::to_string(A) + " : " + std::to_string(P) + " → " +
                       std::to_string(judged.slaveEnd) + " (r=" + Fixed(judged.r) + ", " + seconds(K, time) + " 秒)");
                mark = "GUARD" + signedText(slavePoints.ToFile(judged.slaveEnd - P));
            } else if (judged.kind == GuardJudgement::Kind::Held) {
                AddLog("◆ロック喪失 DP" + std::to_string(A) + " : " + std::to_string(P) + " → " +
                       std::to_string(judged.slaveEnd) + " (" + seconds(K, time) + " 秒、直近のRATEで継続)");
                mark = "HOLD";
                heldFrom = A;
            }
            P = judged.slaveEnd;
            if (judged.kind != GuardJudgement::Kind::Held) guard->Accept(K, P, judged.r);
        }
        rate = K > J ? static_cast<float>(static_cast<double>(P - N) * 100.0 / static_cast<double>(K - J)) : rate;
        if (resultCsv) {
            row += Fixed(rate) + ",";
            // A re-anchored or guarded row gets a ninth field; the eight before it keep their meaning.
            if (!mark.empty()) row += mark + ",";
            WriteReport(resultCsv, row);
        }
        AddLog("予想RATE：" + Fixed(rate));

        if (static_cast<int>(marks.size()) <= A) marks.resize(static_cast<std::size_t>(A) + 1);
        marks[static_cast<std::size_t>(A)] = mark;
        if (A == F) {
            progress.StageBar(0).Marker.store(kStageFinished);
            slavePoints.set(F - 1, N);
        }
        slavePoints.set(A, P);
        slavePoints.setCount(A + 1);
        J = K;
        N = P;
        searchRangeS = 0;
        stopAtPoint(job, dpLimit, J);
        ++A;
    }

    // D. After the loop.
    FinishReport(resultCsv, reportBase + ".Result.csv");
    job.TrackRows = trackRows(track, masterPoints, slavePoints, marks, time);
    if (guard) {
        job.Guard = guard->Counts();
        if (job.Guard.lost > 0 || job.Guard.corrected > 0)
            AddLog("◆ロック判定：補正 " + std::to_string(job.Guard.corrected) + "、喪失 " + std::to_string(job.Guard.lost) +
                   "、保持 " + std::to_string(job.Guard.held) + "、回復 " + std::to_string(job.Guard.reacquired));
    }
    slavePoints.setPhaseShift(phase < 0);
    AddLog("終了ポイント=" + EndPointText(J, master.SampleRate));
}

}  // namespace tandem
