// KSyncThread: runs one job on its own thread.
//
// Kind 0, the synchronisation job: equalised copies when a band is set, analysis of
// both files, the segment search (division points stored in the settings store), then
// the synchronised file. Kind 1, the output-only job: the synchronised file from the
// stored points with the given mix.
//
// One job per pair: a job whose pair another job (of any process) is running ends at
// once with that as its error (PairLock).
//
// The job always runs to its end: failures are caught, shown on message line 2 and in
// the log, and returned in the outcome, so that a front end can tell success from
// failure. The owner joins the thread (the destructor does so too).
//
// Thread safety: construct, Start and Join on one thread (the front end's); the worker
// touches the front end only through SyncProgress, AddLog, ShowAlert and the
// completion callback, which runs on the worker — a GUI must post it to its own thread.
#pragma once

#include <functional>
#include <string>
#include <thread>

#include "sync/Progress.h"
#include "sync/SyncJob.h"

namespace tandem {

struct JobOutcome {
    bool outputWritten = false;  // the synchronised file exists and is complete
    std::string outputFile;      // its path ("" when none was made)
    std::string error;           // what went wrong, "" when nothing did
    bool stopped = false;        // the job ended early on a stop request or the stop point
    int pointCount = 0;          // division points stored for the slave
    std::int64_t elapsedMs = 0;
};

class KSyncThread {
public:
    // Synchronisation job. Skips and the stop point are in frames.
    KSyncThread(SyncJob& job, SyncProgress& progress, std::string masterFile, std::string slaveFile, int baseStep,
                FrameIndex masterSkip, FrameIndex slaveSkip, int rangeS, int rangeE, FrameIndex dpLimit, int eqLow,
                int eqHigh, int channelFlag, int mode);
    // Output-only job with the given mix.
    KSyncThread(SyncJob& job, SyncProgress& progress, std::string masterFile, std::string slaveFile,
                const MixSettings& mix);
    ~KSyncThread();
    KSyncThread(const KSyncThread&) = delete;
    KSyncThread& operator=(const KSyncThread&) = delete;

    // Starts the worker. lowPriority lowers its scheduling priority (nice 19). onDone
    // runs on the worker after the job. Returns false with *why set when no thread
    // could be started (onDone is then not called).
    bool Start(bool lowPriority, std::function<void(const JobOutcome&)> onDone, std::string* why = nullptr);
    // Switches the checks beyond the plain search off for this job (false = off). They
    // also stay off where qzv.ini says so: TandemEnv ROBUST_START=0, ANCHOR_ENDS=0.
    void SetSearchExtras(bool robustStart, bool anchorEnds) {
        robustStart_ = robustStart;
        anchorEnds_ = anchorEnds;
    }
    // Runs the job on the calling thread.
    JobOutcome Execute();
    void Join();
    bool Joinable() const { return thread_.joinable(); }

    static std::string ProcessingTimeText(std::int64_t ms);  // "処理時間=1H 2M 3S 456ms"

private:
    JobOutcome runSync();
    JobOutcome runOutputOnly();

    SyncJob& job_;
    SyncProgress& progress_;
    std::string masterFile_;
    std::string slaveFile_;
    int baseStep_ = 0;
    FrameIndex masterSkip_ = 0;
    FrameIndex slaveSkip_ = 0;
    int rangeS_ = 0;
    int rangeE_ = 0;
    FrameIndex dpLimit_ = 0;
    int eqLow_ = 0;
    int eqHigh_ = 0;
    int channelFlag_ = 0;
    int mode_ = kModeSingle;
    bool robustStart_ = true;
    bool anchorEnds_ = true;
    MixSettings mix_ = kDefaultMix;
    int kind_ = 0;
    std::thread thread_;
};

}  // namespace tandem
