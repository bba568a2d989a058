#include "joblist/JobBatch.h"

namespace tandem {

HistoryStep JobBatch::AfterJobList(const JobHistory& history, int result) {
    HistoryStep step;
    if (result == kJobListRemix) {
        step.remix = true;
        return step;
    }
    if (result <= 0 && result != kJobListSelect) return step;
    step.leaveDebugMode = true;
    int a = history.NextMarkedJob(0);
    if (a >= 0) {
        step.load = a;
        a = a + 1;
    }
    if (result > 0) {
        // A retry always has a marked entry; without one there is nothing to batch.
        BatchCursor = a > 0 ? a : 0;
        step.start = true;
    }
    return step;
}

int JobBatch::RemixEntry(const JobHistory& history) {
    BatchCursor = 0;
    return history.NextMarkedJob(0);
}

int JobBatch::Continue(const JobHistory& history) {
    if (BatchCursor <= 0) return -1;
    const int next = history.NextMarkedJob(BatchCursor);
    if (next < 0) {
        BatchCursor = 0;
        return -1;
    }
    BatchCursor = next + 1;
    return next;
}

int JobBatch::StopPoint(const JobHistory& history, const std::string& master, const std::string& slave,
                        int masterSkip, int currentStopPoint) const {
    if (!Running()) return currentStopPoint;
    return history.FindStopPoint(master, slave, masterSkip);
}

}  // namespace tandem
