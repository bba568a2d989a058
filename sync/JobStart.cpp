#include "sync/JobStart.h"

#include <algorithm>
#include <cmath>

#include "core/Error.h"
#include "core/Log.h"
#include "core/Text.h"
#include "sync/PatternSearch.h"
#include "wave/KWavefile.h"

namespace tandem {
namespace {

constexpr int kStartRange = 8820;  // offset half-width when the start is searched with a lead-in

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

// A master lead-in past stored points: the slave's own lead-in knows nothing of where
// the stored chain left it; the stored points do.
SearchStart startAfterStoredPoints(SyncRun& run, const StoredPoints& masterPoints, const StoredPoints& slavePoints,
                                   int F0, FrameIndex J, int rangeS, const TimeBase& time) {
    const StoredPlacement placed = placeAfterStoredPoints(masterPoints, slavePoints, F0, J, run.master.SampleRate);
    const FrameIndex lastSlave = std::max<FrameIndex>(run.slave.FrameCount - 1, 0);
    SearchStart s{std::clamp<FrameIndex>(placed.slave, 0, lastSlave), placed.rate, 0};
    AddLog("開始点=" + std::to_string(J) + " と " + std::to_string(s.N) + "(保存済みの分割点から)");
    // A narrower start search than the lead-in's: the chain is known, a near copy a
    // beat away is not taken for it. Over a long gap the wobble of the clocks may
    // have moved it further: the envelopes find it within the physics' reach (at
    // most 8 s, as the start check looks), and the search then only refines it.
    int range = std::min(rangeS, placed.range);
    if (placed.range > range) {
        MatchRequest around;
        around.masterStart = J;
        around.slaveCentre = s.N;
        around.reach = std::min<FrameIndex>(placed.range, time.Frames(8 * kSampleRate));
        around.rate = placed.rate / 100.0;
        around.rateSpread = 0.002;
        const MatchResult found = MatchAround(run.master, run.slave, around);
        if (found.clear && !found.checked.empty()) {
            s.N = std::clamp<FrameIndex>(found.checked.front().slaveStart, 0, lastSlave);
            range = std::min(range, static_cast<int>(time.Tenths(1) / 10));
            AddLog("開始点=" + std::to_string(J) + " と " + std::to_string(s.N) + "(包絡線の照合)");
        }
    }
    s.rangeS = range;
    return s;
}

}  // namespace

// Fetches from a file that could not be loaded come back silent, and a search on them
// would store points made up from the predicted rate alone.
void RequireData(KWavefile& file, Msg cannotLoad) {
    if (!file.LoadData()) throw SyncError(cannotLoad, file.FileName, file.LoadProblem());
}

LeadIns LeadInsOf(const SyncRun& run, const TimeBase& time) {
    const JobRequest& request = run.request;
    LeadIns l;
    l.masterSkip = request.resume ? request.resumeMasterFrame : time.Frames(request.masterSkipFrames);
    l.slaveSkip = request.resume ? RescaleFrames(request.resumeSlaveFrame, run.slaveFileRate, run.slave.SampleRate)
                                 : time.Frames(request.slaveSkipFrames);
    l.dpLimit = time.Frames(request.stopPointFrames);
    l.startRangeS = static_cast<int>(time.Frames(kStartRange));
    return l;
}

void RequireUsable(SyncRun& run) {
    KWavefile& master = run.master;
    KWavefile& slave = run.slave;
    if (!master.Usable()) throw SyncError(Msg::MasterNotUsable, master.FileName, master.Problem());
    if (!slave.Usable()) throw SyncError(Msg::SlaveNotUsable, slave.FileName, slave.Problem());
    if (slave.SampleRate != master.SampleRate) throw SyncError(Msg::DifferentRates, master.SampleRate, slave.SampleRate);
    RequireData(master, Msg::MasterCannotLoad);
    RequireData(slave, Msg::SlaveCannotLoad);
}

CoarseTrack BuildJobTrack(SyncRun& run, const LeadIns& lead) {
    CoarseTrack track;
    SyncJob& job = run.job;
    if (!run.request.coarseTrack) return track;
    run.progress.SetMessageLine(MessageText(Msg::Tracking), 0);
    track = BuildCoarseTrack(run.master, run.slave, TrackRequest{lead.masterSkip, lead.slaveSkip});
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
    return track;
}

// The master's division points: the stored ones before the end of the master lead-in
// survive (F0 of them), then one every step from the start, a step after each silence.

Division DivideMaster(SyncRun& run, const StoredPoints& masterPoints, const StoredPoints& slavePoints,
                      const CoarseTrack& track, const LeadIns& lead, int rangeS, const TimeBase& time) {
    SyncJob& job = run.job;
    const JobRequest& request = run.request;
    KWavefile& master = run.master;
    Division d;
    const int storedMaster = masterPoints.count();
    const int storedSlave = slavePoints.count();
    int valid = storedMaster;
    while (valid > 0 && masterPoints.at(valid - 1) >= lead.masterSkip) --valid;
    d.F0 = std::min(valid, storedSlave);
    AddLog("有効データ数：" + std::to_string(d.F0));
    // A resumed job goes on from stored pair F0 as it stands: the division and the
    // search continue exactly as the interrupted job would have.
    d.resume = request.resume && d.F0 > 0 && d.F0 < storedMaster && d.F0 < storedSlave;

    FrameIndex D = d.resume ? masterPoints.at(d.F0) : FindSoundOnset(master, lead.masterSkip, 100);
    if (track.found && !d.resume) {
        D = trackStart(track, D);
    } else if (request.robustStart && d.F0 == 0) {
        const bool leadIn = lead.masterSkip > 0 || lead.slaveSkip > 0;
        const int startRange = leadIn ? std::max(rangeS, lead.startRangeS) : rangeS;
        d.robust = FindRobustStart(master, run.slave, D, FindSoundOnset(run.slave, lead.slaveSkip, 100), startRange);
        D = d.robust.masterStart;
        job.StartUndecided = d.robust.undecided;
    }
    masterPoints.set(d.F0, D);
    masterPoints.setCount(d.F0 + 1);
    d.number = d.F0 + 1;
    d.step = time.Tenths(request.baseStep);
    const FrameIndex tenth = time.Tenths(1);
    AddLog("基準データを" + std::to_string(d.step) + "個間隔に設定");
    const FrameIndex end = master.FrameCount - master.BackNull;
    while (D < end) {
        FrameIndex onset;
        if (d.number == 1) {
            onset = FindSoundOnset(master, D + tenth, 100);
            D += time.Tenths(2);  // the first step after the start is 0.2 s
        } else {
            onset = FindSoundOnset(master, D + 1, 100);
            D += d.step;
        }
        if (D > end) break;
        if (onset > D) D = onset + tenth;  // after a silence longer than the step
        masterPoints.set(d.number, D);
        masterPoints.setCount(d.number + 1);
        ++d.number;
    }
    AddLog("分割数：" + std::to_string(d.number) + " 処理開始番号：" + std::to_string(d.F0));
    return d;
}



SearchStart FindSearchStart(SyncRun& run, const StoredPoints& masterPoints, const StoredPoints& slavePoints,
                            const CoarseTrack& track, const Division& d, const LeadIns& lead, int rangeS,
                            const TimeBase& time) {
    const int F0 = d.F0;
    if (rangeS < lead.startRangeS && (F0 > 0 || lead.masterSkip > 0 || lead.slaveSkip > 0)) rangeS = lead.startRangeS;
    // On the track the start is known to its uncertainty, wherever the lead-ins put it.
    if (track.found && !d.resume)
        rangeS = static_cast<int>(std::ceil(track.UncertaintyAt(static_cast<double>(masterPoints.at(F0))))) + 8;
    const FrameIndex J = masterPoints.at(F0);
    SearchStart s;
    s.rangeS = rangeS;
    if (d.resume) {
        s.N = slavePoints.at(F0);
        const FrameIndex masterLength = J - masterPoints.at(F0 - 1);
        if (masterLength > 0)
            s.rate = static_cast<float>(static_cast<double>(s.N - slavePoints.at(F0 - 1)) * 100.0 /
                                        static_cast<double>(masterLength));
        s.rangeS = 0;
        AddLog("再開点=" + std::to_string(J) + " と " + std::to_string(s.N));
    } else if (F0 > 0) {
        s = startAfterStoredPoints(run, masterPoints, slavePoints, F0, J, rangeS, time);
    } else {
        s.N = SearchSimilarPattern(run.slave, lead.slaveSkip);
        if (d.robust.overridden) s.N = d.robust.slaveStart;
        if (track.found) s.N = std::llround(track.SlaveAt(static_cast<double>(J)));
        const FrameIndex reference = FindSoundOnset(run.slave, lead.slaveSkip, 100);
        AddLog("開始点=" + std::to_string(J) + " と " + std::to_string(s.N) + "(参考：" + std::to_string(reference) + ")");
    }
    AddLog("予想RATE：" + Fixed(s.rate));
    return s;
}

// From here on the search reads the equalised copies where the job made them.
void UseEqualisedSources(SyncRun& run) {
    if (!run.masterEqCopy.empty()) {
        run.master.SetDataSource(run.masterEqCopy);
        RequireData(run.master, Msg::MasterCannotLoad);
    }
    if (!run.slaveEqImage.empty()) {
        run.slave.SetDataImage(run.slaveEqCopy, std::move(run.slaveEqImage));
        RequireData(run.slave, Msg::SlaveCannotLoad);
    } else if (!run.slaveEqCopy.empty()) {
        run.slave.SetDataSource(run.slaveEqCopy);
        RequireData(run.slave, Msg::SlaveCannotLoad);
    }
}

}  // namespace tandem
