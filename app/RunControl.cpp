#include "app/RunControl.h"

namespace tandem {

RunControl::RunControl(QObject* parent) : QObject(parent) {}

RunControl::~RunControl() {
    if (!thread_) return;
    // The stop request is cleared when the worker is made, never after: one store is
    // enough. A JobDone posted meanwhile is dropped with this object.
    job_.StopRequest.store(1);
    thread_->Join();
}

bool RunControl::Start(const JobRequest& request, std::string* why) {
    if (thread_) {
        if (why) *why = "a job is running already";
        return false;
    }
    last_ = request;
    thread_ = std::make_unique<KSyncThread>(job_, progress_, request);
    return launch(request.lowPriority, why);
}

bool RunControl::StartOutputOnly(const std::string& master, const std::string& slave, const MixSettings& mix,
                                 bool lowPriority, std::string* why) {
    if (thread_) {
        if (why) *why = "a job is running already";
        return false;
    }
    last_ = JobRequest{};
    last_.master = master;
    last_.slave = slave;
    last_.lowPriority = lowPriority;
    thread_ = std::make_unique<KSyncThread>(job_, progress_, master, slave, mix);
    return launch(lowPriority, why);
}

bool RunControl::launch(bool lowPriority, std::string* why) {
    const bool started = thread_->Start(
        lowPriority,
        [this](const JobOutcome& outcome) {
            // On the worker: hand the outcome to the main thread. The owner joins before
            // it is destroyed, so this object is alive here.
            QMetaObject::invokeMethod(this, [this, outcome] { workerEnded(outcome); }, Qt::QueuedConnection);
        },
        why);
    if (!started) thread_.reset();
    return started;
}

void RunControl::RequestStop() { job_.StopRequest.store(1); }

void RunControl::workerEnded(const JobOutcome& outcome) {
    if (thread_) thread_->Join();
    thread_.reset();
    emit JobDone(outcome);
}

}  // namespace tandem
