#include "sync/JobRequest.h"

#include <algorithm>

#include "core/Log.h"
#include "core/Message.h"
#include "core/Text.h"
#include "core/TimeBase.h"
#include "sync/StoredPoints.h"
#include "wave/KWavefile.h"

namespace tandem {
namespace {

// A point in seconds of its own file (the master and the slave may run at different rates).
std::string secondsText(FrameIndex frames, const std::string& file) {
    return Fixed(static_cast<double>(frames) / HeaderSampleRate(file)) + " s";
}

}  // namespace

void ApplyLevel(JobRequest& request, const JobParameters& level) {
    request.baseStep = level.expert.baseStep;
    request.rangeS = level.expert.rangeS;
    request.rangeE = level.expert.rangeE;
    request.eqLow = level.eqLow;
    request.eqHigh = level.eqHigh;
    request.channelFlag = level.channelFlag;
    request.mode = level.mode;
}

std::string ResumeAtLastStoredPair(JobRequest& request) {
    request.resume = false;
    const StoredPoints masterPoints(request.master), slavePoints(request.slave);
    const std::string foreign = ForeignPoints(
        masterPoints, slavePoints,
        PairRecord{request.master, request.slave, request.baseStep, request.mode, request.level, -1});
    if (!foreign.empty()) {
        AddLog(foreign);
        return MessageText(Msg::PointsNotUsed, foreign);
    }
    // A job keeps the stored points before its master lead-in and goes on from the first
    // one at or after it; with the lead-ins at the last stored pair, that pair is it.
    const LastPair last = LastStoredPair(masterPoints, slavePoints);
    const int stored = last.stored;
    if (stored < 2) return MessageText(Msg::NothingToResume);
    const FrameIndex m = last.master;
    const FrameIndex s = last.slave;
    // The lead-in counts 44.1 kHz frames, the stored points the master's own.
    if (m <= TimeBase(HeaderSampleRate(request.master)).Frames(request.masterSkipFrames))
        return MessageText(Msg::PointsBeforeLeadIn);
    request.resumeMasterFrame = m;
    request.resumeSlaveFrame = std::max<FrameIndex>(s, 0);
    request.resume = true;
    return MessageText(Msg::Resuming, stored - 1, secondsText(request.resumeMasterFrame, request.master),
                       secondsText(request.resumeSlaveFrame, request.slave));
}

void SetJobRecord(SyncJob& job, const JobRequest& request) {
    job.MasterFile = request.master;
    job.SlaveFile = request.slave;
    job.BaseStep = request.baseStep;
    job.MasterSkip = request.resume ? request.resumeMasterFrame : request.masterSkipFrames;
    job.SlaveSkip = request.resume ? request.resumeSlaveFrame : request.slaveSkipFrames;
    job.RangeS = request.rangeS;
    job.RangeE = request.rangeE;
    job.DpLimit = request.stopPointFrames;
    job.EqLow = request.eqLow;
    job.EqHigh = request.eqHigh;
}

bool ContinuesPart(const JobRequest& previous, const JobRequest& next) {
    return previous.stopPointFrames > 0 && previous.stopPointFrames == next.masterSkipFrames &&
           previous.master == next.master && previous.slave == next.slave;
}

}  // namespace tandem
