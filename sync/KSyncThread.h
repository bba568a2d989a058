// KSyncThread: runs one job on its own thread, made from a JobRequest.
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
// failure. A written file is then checked (OutputCheck): the verdict goes to the log, to
// message line 0 (which named the file being written) and into the outcome. The owner
// joins the thread (the destructor does so too).
//
// Thread safety: construct, Start and Join on one thread (the front end's); the worker
// touches the front end only through SyncProgress, AddLog, ShowAlert and the
// completion callback, which runs on the worker — a GUI must post it to its own thread.
#pragma once

#include <functional>
#include <string>
#include <thread>

#include "core/Error.h"
#include "sync/JobRequest.h"
#include "sync/Progress.h"
#include "sync/SyncJob.h"

namespace tandem {

struct JobOutcome {
    bool outputWritten = false;  // the synchronised file exists and is complete
    std::string outputFile;      // its path ("" when none was made)
    std::string error;           // what went wrong, "" when nothing did
    bool stopped = false;        // the job ended early on a stop request or the stop point
    bool stoppedByUser = false;  // ... on a stop request (STOP, Ctrl-C, SIGTERM)
    int pointCount = 0;          // division points stored for the slave
    // The verdict on the written file (OutputCheck): made for every synchronised file
    // with the master left and the slave right.
    bool checked = false;
    bool inStep = false;
    std::string checkSummary;    // "同期確認: ..." (also message line 0 at the end)
    std::string checkDetails;    // the figures behind it
    std::string notes;           // what the checks beyond the plain search did, "" when nothing
    std::string slaveOutFile;    // the slave alone on the master's timeline, "" when none was made
    // The picture of the job as <slave>.Track.csv holds it (also when no file is asked
    // for): header kind,master_s,slave_s,rate_ppm,evidence,verdict, then rows of kind
    // `track` (a coarse window: evidence its z, empty where none; verdict `jump` where the
    // path jumps), `point` (a stored pair: verdict the result CSV's mark) and `check` (a
    // window of the verdict: evidence its lag in frames; verdict in step, off, unmatched
    // or quiet). "" when the job searched nothing.
    std::string trackCsv;
    std::string checkCsv;        // the check's windows as in <slave>.Check.csv (CheckCsvText), "" when unchecked
    std::int64_t elapsedMs = 0;
};

class KSyncThread {
public:
    // Synchronisation job. Publishes request.options through progress and clears the
    // stop request.
    KSyncThread(SyncJob& job, SyncProgress& progress, JobRequest request);
    // Output-only job with the given mix.
    KSyncThread(SyncJob& job, SyncProgress& progress, std::string masterFile, std::string slaveFile,
                const MixSettings& mix);
    ~KSyncThread();
    KSyncThread(const KSyncThread&) = delete;
    KSyncThread& operator=(const KSyncThread&) = delete;

    // Starts the worker. lowPriority lowers its scheduling priority (nice 19). onDone
    // runs on the worker after the job. Throws SyncError when no thread could be
    // started (onDone is then not called).
    void Start(bool lowPriority, std::function<void(const JobOutcome&)> onDone);
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
    JobRequest request_;
    MixSettings mix_ = kDefaultMix;
    int kind_ = 0;
    std::thread thread_;
};

}  // namespace tandem
