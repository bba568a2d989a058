// The main window's side of a job: the one job record, the progress state the worker
// writes and the window's timer reads, and the worker thread itself.
//
// Thread safety: everything here is called on the main thread. The worker reaches the
// window only through Progress() (atomics and whole-text replacement) and the log; its
// end is delivered to the main thread as JobDone.
#pragma once

#include <QObject>

#include <memory>
#include <string>

#include "sync/JobRequest.h"
#include "sync/KSyncThread.h"
#include "sync/Progress.h"
#include "sync/SyncJob.h"

namespace tandem {

class RunControl : public QObject {
    Q_OBJECT
public:
    explicit RunControl(QObject* parent = nullptr);
    // A worker still running is stopped and waited for: no thread outlives its owner.
    ~RunControl() override;

    // Starts the worker on request (which also sets the option word). Throws EngineError
    // when a job is running already or no thread could be started; JobDone then never
    // comes.
    void Start(const JobRequest& request);
    // Starts an output-only job: the synchronised file of a stored pair rebuilt from its
    // stored points with mix (copied), with slaveOut also the slave alone on the master's
    // timeline. Throws as Start does.
    void StartOutputOnly(const std::string& master, const std::string& slave, const MixSettings& mix,
                         bool lowPriority, bool slaveOut = false);
    // Asks the worker to end after the current segment (it still writes its output). A
    // request made before the worker reaches its first segment holds: the flag is
    // cleared only when a job is made.
    void RequestStop();
    bool Busy() const { return thread_ != nullptr; }
    const JobRequest& LastRequest() const { return last_; }

    SyncJob& Job() { return job_; }
    SyncProgress& Progress() { return progress_; }
    const SyncProgress& Progress() const { return progress_; }

signals:
    void JobDone(const tandem::JobOutcome& outcome);

private:
    void launch(bool lowPriority);
    void workerEnded(const JobOutcome& outcome);

    SyncJob job_;
    SyncProgress progress_;
    JobRequest last_;
    std::unique_ptr<KSyncThread> thread_;
};

}  // namespace tandem
