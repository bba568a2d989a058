#include "app/RunControl.h"

#include <chrono>
#include <thread>

namespace tandem {

RunControl::RunControl(QObject* parent) : QObject(parent) {
    stopRenewal_.setInterval(10);
    connect(&stopRenewal_, &QTimer::timeout, this, [this] {
        RenewStopRequest();
        if (!thread_ || !progress_.MessageLine(0).empty()) stopRenewal_.stop();
    });
}

RunControl::~RunControl() {
    if (!thread_) return;
    // Keep asking until the worker is past its start (which clears the flag) and done.
    while (!workerFinished_.load()) {
        job_.StopRequest.store(1);
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
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
    stopPending_ = false;
    workerFinished_.store(false);
    const bool started = thread_->Start(
        lowPriority,
        [this](const JobOutcome& outcome) {
            // On the worker: hand the outcome to the main thread. The owner joins before
            // it is destroyed, so this object is alive here.
            QMetaObject::invokeMethod(this, [this, outcome] { workerEnded(outcome); }, Qt::QueuedConnection);
            workerFinished_.store(true);
        },
        why);
    if (!started) thread_.reset();
    return started;
}

void RunControl::RequestStop() {
    stopPending_ = true;
    job_.StopRequest.store(1);
    if (thread_) stopRenewal_.start();
}

void RunControl::RenewStopRequest() {
    if (stopPending_ && thread_) job_.StopRequest.store(1);
}

void RunControl::workerEnded(const JobOutcome& outcome) {
    if (thread_) thread_->Join();
    thread_.reset();
    stopPending_ = false;
    stopRenewal_.stop();
    emit JobDone(outcome);
}

}  // namespace tandem
