#include "sync/Synchronise.h"

#include <algorithm>
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
#include "sync/EndAnchor.h"
#include "sync/LockGuard.h"
#include "sync/RobustStart.h"
#include "sync/StoredPoints.h"
#include "sync/SubFrame.h"
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
    const FrameIndex masterSkip = job.Resume ? job.MasterSkip : time.Frames(job.MasterSkip);
    const FrameIndex slaveSkip = job.Resume ? RescaleFrames(job.SlaveSkip, run.slaveFileRate, slave.SampleRate)
                                            : time.Frames(job.SlaveSkip);
    const FrameIndex dpLimit = time.Frames(job.DpLimit);
    const int startRangeS = static_cast<int>(time.Frames(kStartRange));
    job.RangeS = static_cast<int>(time.Frames(job.RangeS));  // the job frame puts the job's own value back

    // A. Division of the master. Points before the end of the master lead-in survive.
    const int storedMaster = masterPoints.count();
    const int storedSlave = slavePoints.count();
    int valid = storedMaster;
    while (valid > 0 && masterPoints.at(valid - 1) >= masterSkip) --valid;
    const int F0 = std::min(valid, storedSlave);
    AddLog("有効データ数：" + std::to_string(F0));
    // A resumed job goes on from stored pair F0 as it stands: the division and the
    // search continue exactly as the interrupted job would have.
    const bool resume = job.Resume && F0 > 0 && F0 < storedMaster && F0 < storedSlave;

    FrameIndex D = resume ? masterPoints.at(F0) : FindSoundOnset(master, masterSkip, 100);
    RobustStart robust;
    if (job.RobustStart && F0 == 0) {
        const bool leadIn = masterSkip > 0 || slaveSkip > 0;
        const int startRange = leadIn ? std::max(job.RangeS, startRangeS) : job.RangeS;
        robust = FindRobustStart(master, slave, D, FindSoundOnset(slave, slaveSkip, 100), startRange);
        D = robust.masterStart;
        job.StartUndecided = robust.undecided;
    }
    masterPoints.set(F0, D);
    masterPoints.setCount(F0 + 1);
    int number = F0 + 1;
    const FrameIndex step = time.Tenths(job.BaseStep);
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
    if (job.RangeS < startRangeS && (F0 > 0 || masterSkip > 0 || slaveSkip > 0)) job.RangeS = startRangeS;
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
        job.RangeS = 0;
        AddLog("再開点=" + std::to_string(J) + " と " + std::to_string(N));
    } else {
        N = SearchSimilarPattern(slave, slaveSkip);
        if (robust.overridden) N = robust.slaveStart;
        const FrameIndex reference = FindSoundOnset(slave, slaveSkip, 100);
        AddLog("開始点=" + std::to_string(J) + " と " + std::to_string(N) + "(参考：" + std::to_string(reference) + ")");
    }
    AddLog("予想RATE：" + Fixed(rate));

    const int RE = std::max(static_cast<int>(time.Frames(job.RangeE)), 1);  // a zero range would never end the first pass
    StageBarState& startBar = progress.StageBar(0, false);
    startBar.Max.store((2 * RE + 1) * (2 * job.RangeS + 1));
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
    const int initialLookAhead = std::max(run.mode % 10, 1);
    const int largestLookAhead = std::max(run.mode / 10, initialLookAhead);
    int U = initialLookAhead;

    std::unique_ptr<LockGuard> guard;
    if (job.LockGuard) {
        guard = std::make_unique<LockGuard>(master, slave);
        if (resume) seedGuard(*guard, master, slave, masterPoints, slavePoints, F0);
    }
    int heldFrom = -1;  // first point carried since the lock was lost

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
        AddLog("区間 DP" + std::to_string(A - 1) + "-" + std::to_string(A) + " : " + std::to_string(J) + "～" +
               std::to_string(K));
        progress.SetMessageLine(MessageText(Msg::Segment, A - 1, A, seconds(J, time), seconds(K, time)), 0);

        WaveImage segment;
        if (len > 0 && master.MakeWaveImage(J, K, segment) != 0) {
            if (master.Average == 0)
                throw SyncError(Msg::MasterSilent, master.FileName);
            MatchLevel(segment.frames, slave.Average, master.Average);
            SegmentSearch q;
            q.rangeS = job.RangeS;
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
        if (job.AnchorEnds) {
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

        if (A == F) {
            progress.StageBar(0).Marker.store(kStageFinished);
            slavePoints.set(F - 1, N);
        }
        slavePoints.setSubFrame(A, P, SubFrameOffset(master, slave, J, K, N, P));
        slavePoints.set(A, P);
        slavePoints.setCount(A + 1);
        J = K;
        N = P;
        job.RangeS = 0;
        stopAtPoint(job, dpLimit, J);
        ++A;
    }

    // D. After the loop.
    FinishReport(resultCsv, reportBase + ".Result.csv");
    if (guard) {
        job.Guard = guard->Counts();
        if (job.Guard.lost > 0 || job.Guard.corrected > 0)
            AddLog("◆ロック判定：補正 " + std::to_string(job.Guard.corrected) + "、喪失 " + std::to_string(job.Guard.lost) +
                   "、保持 " + std::to_string(job.Guard.held) + "、回復 " + std::to_string(job.Guard.reacquired));
    }
    SettingsWriteInt(slavePoints.section(), "PhaseShift", phase < 0 ? 1 : 0);
    AddLog("終了ポイント=" + EndPointText(J, master.SampleRate));
}

}  // namespace tandem
