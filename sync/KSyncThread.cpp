#include "sync/KSyncThread.h"

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <memory>
#include <optional>
#include <system_error>
#include <thread>
#include <vector>

#include "core/FileStamp.h"
#include "core/Log.h"
#include "core/ProgramFolder.h"
#include "core/Text.h"
#include "eq/EqWave.h"
#include "settings/Settings.h"
#include "sync/OutputCheck.h"
#include "sync/OutputWriter.h"
#include "sync/PairLock.h"
#include "sync/StoredPoints.h"
#include "sync/Synchronise.h"
#include "sync/WorkingImage.h"
#include "wave/KWavefile.h"

namespace tandem {

KSyncThread::KSyncThread(SyncJob& job, SyncProgress& progress, JobRequest request)
    : job_(job), progress_(progress), request_(std::move(request)), kind_(0) {
    progress_.SetJobOptions(request_.options);
    // Cleared here, on the front end's thread, and not when the worker starts: a STOP
    // pressed in between must not be lost.
    job_.StopRequest.store(0);
}

KSyncThread::KSyncThread(SyncJob& job, SyncProgress& progress, std::string masterFile, std::string slaveFile,
                         const MixSettings& mix)
    : job_(job), progress_(progress), mix_(mix), kind_(1) {
    request_.master = std::move(masterFile);
    request_.slave = std::move(slaveFile);
}

KSyncThread::~KSyncThread() { Join(); }

void KSyncThread::Join() {
    if (thread_.joinable()) thread_.join();
}

void KSyncThread::Start(bool lowPriority, std::function<void(const JobOutcome&)> onDone) {
    try {
        thread_ = std::thread([this, lowPriority, onDone = std::move(onDone)] {
            if (lowPriority) {
                // Linux priorities are per thread: lower this one only.
                ::setpriority(PRIO_PROCESS, static_cast<id_t>(::syscall(SYS_gettid)), 19);
            }
            JobOutcome outcome = Execute();
            if (onDone) onDone(outcome);
        });
    } catch (const std::system_error& e) {
        throw SyncError(Msg::CannotStartWorker, SystemErrorText(e.code().value()));
    }
}

std::string KSyncThread::ProcessingTimeText(std::int64_t t) {
    return MessageText(Msg::ProcessingTime, t / 3600000, (t / 1000) % 3600 / 60, (t / 1000) % 3600 % 60, t % 1000);
}

namespace {

// The one place where the worker turns a failure into message line 2 and the log; the
// first failure is the job's error.
void noteError(JobOutcome& outcome, SyncProgress& progress, const std::string& text) {
    if (outcome.error.empty()) outcome.error = text;
    progress.SetMessageLine(text, 2);
    AddLog(text);
}

// Runs one step of the job frame. A failure is noted and ends the step, not the job:
// the frame goes on (and still writes the output from the points stored so far).
template <class Step>
bool attempt(JobOutcome& outcome, SyncProgress& progress, Step&& step) {
    try {
        step();
        return true;
    } catch (const std::exception& e) {
        noteError(outcome, progress, FailureText(e));
        return false;
    }
}

void finishOutcome(JobOutcome& outcome, const WriteResult& written, SyncProgress& progress) {
    outcome.outputWritten = written.written && written.error.empty();
    outcome.outputFile = written.file;
    outcome.pointCount = written.points;
    if (!written.error.empty()) {
        noteError(outcome, progress, written.error);
    } else if (!written.written && outcome.error.empty() && !outcome.stoppedByUser) {
        // A user who stopped before two points were found stopped the job; it did not fail.
        noteError(outcome, progress, MessageText(Msg::TooFewPoints, written.points));
    }
}

void finishSlaveOut(JobOutcome& outcome, const WriteResult& written, SyncProgress& progress) {
    if (!written.error.empty())
        noteError(outcome, progress, written.error);
    else if (written.written)
        outcome.slaveOutFile = written.file;
}

// Both files keep their points in settings sections named by their paths: one file as
// both (or two names that the store maps to one section) would overwrite its own points.
void checkPair(const std::string& master, const std::string& slave) {
    struct stat a {}, b {};
    if (master == slave || (::stat(master.c_str(), &a) == 0 && ::stat(slave.c_str(), &b) == 0 &&
                            a.st_dev == b.st_dev && a.st_ino == b.st_ino))
        throw SyncError(Msg::SlaveIsMaster, slave);
    std::string masterSection = master, slaveSection = slave, key, value;
    MapSettingPaths(masterSection, key, value);
    MapSettingPaths(slaveSection, key, value);
    if (masterSection == slaveSection) throw SyncError(Msg::SharedSection, master, slave, masterSection);
}

// Room for the suffix of the temporary name a file is first written under.
constexpr std::size_t kTemporarySuffix = 24;

// What both kinds of job do before any work: the pair is checked, then the names of
// what the job writes (a name too long for the file system would otherwise fail only
// when the file is written, after the whole search), then the pair's lock is taken, to
// be held by the caller until the job ends. false: the failure is noted.
bool prepareJob(JobOutcome& outcome, SyncProgress& progress, const JobRequest& request,
                const std::vector<std::string>& names, std::optional<PairLock>& lock) {
    return attempt(outcome, progress, [&] {
        checkPair(request.master, request.slave);
        for (const std::string& name : names) CheckNameLength(name, kTemporarySuffix);
        lock.emplace(request.master, request.slave);
    });
}

// Whether the mix puts the master alone on the left and the slave alone on the right,
// so that the two channels of the file can be compared.
bool mixKeepsSidesApart(const MixSettings& mix) {
    return mix[1] == -90 && mix[3] == -90 && mix[5] == 90 && mix[7] == 90 && mix[0] + mix[2] > 0 && mix[4] + mix[6] > 0;
}

// The check's rows of the track picture.
std::string checkRows(const AlignmentCheck& check) {
    std::string rows;
    const double oneMs = check.sampleRate / 1000.0;
    for (const CheckWindow& w : check.windows) {
        const bool measured = w.state == CheckState::Measured;
        const char* verdict = w.state == CheckState::Quiet          ? "quiet"
                              : w.state == CheckState::Extrapolated ? "extrapolated"
                              : !measured                           ? "unmatched"
                              : std::fabs(w.lagFrames) > oneMs ? "off"
                                                               : "in step";
        rows += "check," + Fixed(static_cast<double>(w.start) / check.sampleRate) + ",,," +
                (measured ? Fixed(w.lagFrames, 2) : std::string()) + "," + verdict + "\n";
    }
    return rows;
}

// searchedEnd: the output frames the points cover, when the job ended before the
// master's end (a stop point, STOP); the tail after them is extrapolated, not judged.
// early: the check made while the file was synced (see checkWhileSyncing), if any.
void checkOutput(JobOutcome& outcome, SyncProgress& progress, const std::string& slaveFile, const std::string& trackRows,
                 FrameIndex searchedEnd = -1, std::optional<AlignmentCheck> early = {}) {
    outcome.trackCsv = "kind,master_s,slave_s,rate_ppm,evidence,verdict\n" + trackRows;
    const auto writeTrack = [&] {
        if ((progress.JobOptions() & kOptResultCsv) == 0 || trackRows.empty()) return;
        const std::string path = ProgramFolder() + BaseName(slaveFile) + ".Track.csv";
        CsvFile file = CreateReport(path);
        WriteReport(file, outcome.trackCsv);
        FinishReport(file, path);
    };
    if (!outcome.outputWritten) {
        attempt(outcome, progress, writeTrack);
        return;
    }
    if (!early) progress.SetMessageLine(MessageText(Msg::Checking, outcome.outputFile), 0);
    const AlignmentCheck check = early ? std::move(*early) : CheckSynchronisedFile(outcome.outputFile, searchedEnd);
    outcome.checked = check.error.empty();
    outcome.inStep = check.inStep;
    outcome.checkSummary = CheckSummary(check);
    outcome.checkDetails = CheckDetails(check);
    if (outcome.checked) outcome.checkCsv = CheckCsvText(check);
    AddLog(outcome.checkSummary);
    AddLog(outcome.checkDetails);
    progress.SetMessageLine(outcome.checkSummary, 0);
    if ((progress.JobOptions() & kOptResultCsv) != 0 && outcome.checked)
        attempt(outcome, progress, [&] { WriteCheckCsv(check, ProgramFolder() + BaseName(slaveFile) + ".Check.csv"); });
    if (outcome.checked) outcome.trackCsv += checkRows(check);
    attempt(outcome, progress, writeTrack);
}

// The check of the synchronised file, made on its temporary while its data go to the
// disk; a failure to read it names the file as it will be.
WhileSyncing checkWhileSyncing(std::optional<AlignmentCheck>& check, SyncProgress& progress, const std::string& name,
                               bool searchedOnly) {
    return [&check, &progress, name, searchedOnly](const std::string& written, FrameIndex searchedFrames) {
        progress.SetMessageLine(MessageText(Msg::Checking, name), 0);
        check = CheckSynchronisedFile(written, searchedOnly ? searchedFrames : -1);
        for (std::size_t at = check->error.find(written); at != std::string::npos; at = check->error.find(written, at + name.size()))
            check->error.replace(at, written.size(), name);
    };
}

// What the start check and the lock guard did, for the summary; an undecided start is
// also said on message line 2, as it may have been wrong.
std::string searchNotes(const SyncJob& job, SyncProgress& progress) {
    std::string notes;
    if (job.StartUndecided) {
        notes = MessageText(Msg::StartUndecided);
        progress.SetMessageLine(notes, 2);
        AddLog(notes);
    }
    const GuardCounts& g = job.Guard;
    if (g.corrected > 0 || g.lost > 0) {
        const std::string line = MessageText(Msg::LockGuardNote, g.corrected, g.lost, g.held, g.reacquired);
        notes += (notes.empty() ? "" : "\n") + line;
    }
    return notes;
}

// The slave's working image at the master's rate, and the image of its equalised copy
// (when there is one) into eqImage. The slave file's own image is released. Throws
// SyncError with the reason when either cannot be made.
std::unique_ptr<KWavefile> convertSlave(KWavefile& slave, const std::string& eqCopy, std::uint32_t rate,
                                        ByteImage& eqImage) {
    std::unique_ptr<KWavefile> image = MakeWorkingImage(slave, rate);
    slave.SetDataSource("");
    if (!eqCopy.empty()) {
        KWavefile copy(eqCopy, slave.ChannelPlacement, false);
        if (!copy.Usable()) throw SyncError(Msg::NotUsable, eqCopy, copy.Problem());
        eqImage = std::move(MakeWorkingImage(copy, rate)->FileImage);
    }
    return image;
}

// qzv.ini TandemEnv ROBUST_START=0, ANCHOR_ENDS=0, LOCK_GUARD=0, COARSE_TRACK=0 and NARROW_SEARCH=0 switch
// the checks off as the request's own switches do; applied once, when the job starts.
void applySettingsSwitches(JobRequest& request) {
    request.robustStart = request.robustStart && SettingsReadInt("TandemEnv", "ROBUST_START", 1) != 0;
    request.anchorEnds = request.anchorEnds && SettingsReadInt("TandemEnv", "ANCHOR_ENDS", 1) != 0;
    request.lockGuard = request.lockGuard && SettingsReadInt("TandemEnv", "LOCK_GUARD", 1) != 0;
    request.coarseTrack = request.coarseTrack && SettingsReadInt("TandemEnv", "COARSE_TRACK", 1) != 0;
    request.narrowSearch = request.narrowSearch && SettingsReadInt("TandemEnv", "NARROW_SEARCH", 1) != 0;
}

// Every file a synchronisation job may write, for the name check before any work.
std::vector<std::string> namesWritten(const SyncJob& job, const JobRequest& request, int options) {
    const std::string reportBase = ProgramFolder() + BaseName(request.slave);
    std::vector<std::string> names{SynchronisedFileName(job, (options & kOptDebug) != 0)};
    if (options & kOptDebug) names.push_back(request.slave + ".log");
    if (options & kOptResultCsv) names.push_back(reportBase + ".Result.csv");
    if (options & (kOptStartCsv | kOptSegmentCsv)) names.push_back(reportBase + "-2147483647-E-44100.csv");
    if (request.eqLow > 0 || request.eqHigh > 0) {
        names.push_back(EqWaveName(request.master, request.eqLow, request.eqHigh));
        names.push_back(EqWaveName(request.slave, request.eqLow, request.eqHigh));
    }
    return names;
}

// The files of a synchronisation job as read, kept until the output is written, which
// takes over their images of the files.
struct ReadPair {
    std::unique_ptr<KWavefile> master, slave;
    std::unique_ptr<KWavefile> slaveImage;  // the slave at the master's rate, when it has another
    ByteImage slaveEqImage;                 // and its equalised copy at that rate
    KWavefile& searchedSlave() { return slaveImage ? *slaveImage : *slave; }
};

// Reads and analyses both files at once, the slave on a thread of its own, and converts
// a slave of another rate to the master's. Failures are noted; both files are set when
// the search can go on.
void readPair(JobOutcome& outcome, SyncProgress& progress, const JobRequest& request, const std::string& slaveCopy,
              ReadPair& files) {
    const int placement = request.channelFlag == 1 ? kPlaceLeft : kPlaceBoth;
    std::exception_ptr slaveFailure;
    const auto readSlave = [&] {
        try {
            files.slave = std::make_unique<KWavefile>(request.slave, placement, true);
        } catch (...) {
            slaveFailure = std::current_exception();  // reported on this thread
        }
    };
    std::thread slaveReader;
    try {
        slaveReader = std::thread(readSlave);
    } catch (const std::system_error&) {
        // No thread: the slave is read here, after the master.
    }
    const bool masterRead = attempt(outcome, progress, [&] {
        files.master = std::make_unique<KWavefile>(request.master, placement, true);
    });
    if (slaveReader.joinable()) {
        slaveReader.join();
    } else if (masterRead) {
        readSlave();
    }
    // A failed master is the one to report.
    if (slaveFailure && masterRead) attempt(outcome, progress, [&] { std::rethrow_exception(slaveFailure); });
    KWavefile* master = files.master.get();
    KWavefile* slave = files.slave.get();
    if (master && slave && master->Usable() && slave->Usable() && slave->SampleRate != master->SampleRate) {
        if (!attempt(outcome, progress, [&] { files.slaveImage = convertSlave(*slave, slaveCopy, master->SampleRate, files.slaveEqImage); }))
            files.slave.reset();
    }
}

// Claims the stored points for the pair and division, runs the search and records the
// start of the completed list; then back from the equalised copies to the files' images.
void searchPair(JobOutcome& outcome, SyncProgress& progress, SyncJob& job, const JobRequest& request,
                const std::string& masterCopy, const std::string& slaveCopy, ReadPair& files) {
    const StoredPoints masterPoints(request.master), slavePoints(request.slave);
    attempt(outcome, progress, [&] {
        const std::string dropped = ClaimPoints(
            masterPoints, slavePoints, PairRecord{request.master, request.slave, request.baseStep, request.mode, request.level, -1});
        if (!dropped.empty()) progress.SetMessageLine(dropped, 2);
        SyncRun run{job, request, *files.master, files.searchedSlave(), masterCopy, slaveCopy, progress, 0, {}};
        if (files.slaveImage) {
            run.slaveFileRate = files.slave->SampleRate;
            run.slaveEqImage = std::move(files.slaveEqImage);
        }
        SynchroniseFiles(run);
        if (masterPoints.count() > 0) {
            masterPoints.setRecordStart(masterPoints.at(0));
            slavePoints.setRecordStart(masterPoints.at(0));
        }
    });
    outcome.notes = searchNotes(job, progress);
    if (!masterCopy.empty()) files.master->SetDataSource("");
    if (!slaveCopy.empty()) files.searchedSlave().SetDataSource("");
}

}  // namespace

JobOutcome KSyncThread::Execute() {
    JobOutcome outcome;
    // Nothing escapes the worker: whatever got here is reported like any failure.
    attempt(outcome, progress_, [&] { outcome = kind_ == 0 ? runSync() : runOutputOnly(); });
    return outcome;
}

JobOutcome KSyncThread::runSync() {
    JobOutcome outcome;
    SetJobRecord(job_, request_);
    applySettingsSwitches(request_);
    job_.BandLimited = request_.bandLimited;
    job_.SlaveOut = request_.slaveOut;
    AddLog("START:");
    std::optional<PairLock> pairLock;
    if (!prepareJob(outcome, progress_, request_, namesWritten(job_, request_, progress_.JobOptions()), pairLock))
        return outcome;
    // Taken before the files are read: a change after this point is seen at the end.
    const FileStamp masterSeen = StampOf(request_.master), slaveSeen = StampOf(request_.slave);

    bool ready = true;
    std::string masterCopy, slaveCopy;
    if (request_.eqLow > 0 || request_.eqHigh > 0) {
        ready = attempt(outcome, progress_, [&] {
            progress_.SetMessageLine(MessageText(Msg::Equalising, request_.master), 0);
            masterCopy = MakeEqWave(request_.master, request_.eqLow, request_.eqHigh);
            progress_.SetMessageLine(MessageText(Msg::Equalising, request_.slave), 0);
            slaveCopy = MakeEqWave(request_.slave, request_.eqLow, request_.eqHigh);
        });
    }

    progress_.SetMessageLine(MessageText(Msg::Analysing), 0);
    const std::int64_t started = TickCountMs();
    ReadPair files;
    if (ready) {
        readPair(outcome, progress_, request_, slaveCopy, files);
        if (files.master && files.slave) searchPair(outcome, progress_, job_, request_, masterCopy, slaveCopy, files);
    }
    progress_.StageBar(1).Marker.store(kStageFinished);
    const int stopReason = job_.StopRequest.load();
    outcome.stopped = stopReason != 0;
    outcome.stoppedByUser = stopReason == kStopByUser;

    if ((progress_.JobOptions() & kOptKeepEq) == 0 && request_.stopPointFrames == 0) {
        for (const std::string& copy : {masterCopy, slaveCopy})
            if (!copy.empty()) std::remove(copy.c_str());
    }

    // The points were found on the files as they were; a file changed or removed since
    // would give an output that does not match them.
    const bool masterChanged = !(StampOf(request_.master) == masterSeen);
    if (masterChanged || !(StampOf(request_.slave) == slaveSeen)) {
        noteError(outcome, progress_,
                  masterChanged ? MessageText(Msg::MasterChanged, request_.master)
                                : MessageText(Msg::SlaveChanged, request_.slave));
        outcome.pointCount = StoredPoints(request_.slave).count();
    } else {
        const bool searchedOnly = outcome.stopped || request_.stopPointFrames > 0;
        std::optional<AlignmentCheck> early;
        const WriteResult written = WriteSynchronisedFile(
            job_, kDefaultMix, progress_, {files.master.get(), files.slave.get(), files.slaveImage.get()},
            checkWhileSyncing(early, progress_, SynchronisedFileName(job_, progress_.IsDebugMode()), searchedOnly));
        finishOutcome(outcome, written, progress_);
        files = ReadPair{};
        checkOutput(outcome, progress_, request_.slave, job_.TrackRows, searchedOnly ? written.searchedFrames : -1,
                    std::move(early));
        if (job_.SlaveOut && outcome.error.empty())
            finishSlaveOut(outcome, WriteSlaveOnMaster(job_, progress_, written), progress_);
    }
    std::string why;
    if (!SettingsFlush(&why)) noteError(outcome, progress_, why);

    outcome.elapsedMs = TickCountMs() - started;
    const std::string timeText = ProcessingTimeText(outcome.elapsedMs);
    AddLog(timeText);
    progress_.SetMessageLine(timeText, 1);
    return outcome;
}

JobOutcome KSyncThread::runOutputOnly() {
    JobOutcome outcome;
    const std::int64_t started = TickCountMs();
    job_.MasterFile = request_.master;
    job_.SlaveFile = request_.slave;
    std::optional<PairLock> pairLock;
    if (!prepareJob(outcome, progress_, request_, {SynchronisedFileName(job_, progress_.IsDebugMode())}, pairLock))
        return outcome;
    // Points another pair or division left in either file would mix unrelated audio.
    const std::string foreign =
        ForeignPoints(StoredPoints(request_.master), StoredPoints(request_.slave), PairRecord{request_.master, request_.slave});
    if (!foreign.empty()) {
        noteError(outcome, progress_, MessageText(Msg::SynchroniseAgain, foreign, request_.master, request_.slave));
        return outcome;
    }
    const WriteResult written = WriteSynchronisedFile(job_, mix_, progress_);
    finishOutcome(outcome, written, progress_);
    if (mixKeepsSidesApart(mix_)) checkOutput(outcome, progress_, request_.slave, {});
    if (job_.SlaveOut && outcome.error.empty())
        finishSlaveOut(outcome, WriteSlaveOnMaster(job_, progress_, written), progress_);
    outcome.elapsedMs = TickCountMs() - started;
    return outcome;
}

}  // namespace tandem
