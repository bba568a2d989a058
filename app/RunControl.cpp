#include "app/RunControl.h"

#include "core/Error.h"
#include "sync/OutputWriter.h"

namespace tandem {

RunControl::RunControl(QObject* parent) : QObject(parent) {}

RunControl::~RunControl() {
    if (!thread_) return;
    // The stop request is cleared when the worker is made, never after: one store is
    // enough. A JobDone posted meanwhile is dropped with this object.
    job_.StopRequest.store(1);
    thread_->Join();
}

void RunControl::Start(const JobRequest& request) {
    if (thread_) throw EngineError(Msg::JobRunning);
    last_ = request;
    thread_ = std::make_unique<KSyncThread>(job_, progress_, request);
    launch(request.lowPriority);
}

void RunControl::StartOutputOnly(const std::string& master, const std::string& slave, const MixSettings& mix,
                                 bool lowPriority, bool slaveOut) {
    if (thread_) throw EngineError(Msg::JobRunning);
    job_.SlaveOut = slaveOut;
    job_.BandLimited = BandLimitedByDefault();
    last_ = JobRequest{};
    last_.master = master;
    last_.slave = slave;
    last_.lowPriority = lowPriority;
    thread_ = std::make_unique<KSyncThread>(job_, progress_, master, slave, mix);
    launch(lowPriority);
}

void RunControl::launch(bool lowPriority) {
    try {
        thread_->Start(lowPriority, [this](const JobOutcome& outcome) {
            // On the worker: hand the outcome to the main thread. The owner joins before
            // it is destroyed, so this object is alive here.
            QMetaObject::invokeMethod(this, [this, outcome] { workerEnded(outcome); }, Qt::QueuedConnection);
        });
    } catch (...) {
        thread_.reset();
        throw;
    }
}

void RunControl::RequestStop() { job_.StopRequest.store(1); }

void RunControl::workerEnded(const JobOutcome& outcome) {
    if (thread_) thread_->Join();
    thread_.reset();
    emit JobDone(outcome);
}

}  // namespace tandem
