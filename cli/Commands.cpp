#include "cli/Commands.h"
#include "cli/Messages.h"

#include <cstdio>
#include <filesystem>

#include "cli/Console.h"
#include "core/Log.h"
#include "core/Text.h"
#include "eq/EqWave.h"
#include "joblist/JobRegistry.h"
#include "joblist/JobResults.h"
#include "settings/Settings.h"
#include "sync/OutputCheck.h"
#include "sync/OutputWriter.h"
#include "wave/KWavefile.h"

namespace tandem::cli {
namespace {

namespace fs = std::filesystem;

// Settings sections are full paths: make the user's names absolute.
bool resolveInput(const std::string& name, const char* role, std::string& path) {
    std::error_code ec;
    if (!fs::is_regular_file(name, ec)) {
        std::fprintf(stderr, _("tandem-cli: the %s file %s does not exist or is not a file\n"), role, name.c_str());
        return false;
    }
    path = fs::absolute(name, ec).lexically_normal().string();
    return true;
}

std::string secondsText(FrameIndex frames, std::uint32_t rate) {
    return Fixed(static_cast<double>(frames) / rate) + " s";
}

// A band with both edges set must have room between them: a reversed or empty one
// would make a copy of nothing and a job that can only end out of step.
bool bandAccepted(const std::vector<int>& band) {
    if (band.size() != 2 || band[0] <= 0 || band[1] <= 0 || band[0] < band[1]) return true;
    std::fprintf(stderr, _("tandem-cli: --band %d,%d is reversed or empty: LOW must be below HIGH\n"), band[0], band[1]);
    return false;
}

int report(const JobOutcome& outcome, const std::string& what) {
    if (!outcome.error.empty()) {
        std::fprintf(stderr, _("tandem-cli: %s failed: %s\n"), what.c_str(), outcome.error.c_str());
        if (outcome.outputWritten) std::fprintf(stderr, _("tandem-cli: %s was written all the same\n"), outcome.outputFile.c_str());
        return kExitFailed;
    }
    if (outcome.stoppedByUser && !outcome.outputWritten) {
        // Stopped before two points were found: nothing to write, and no failure.
        std::printf("%s\n", _("stopped before the search found any points; no synchronised file was written"));
        return kExitStopped;
    }
    std::printf("%s%s\n", outcome.stopped ? _("stopped early; ") : "", outcome.outputFile.c_str());
    if (!outcome.slaveOutFile.empty()) std::printf("%s\n", outcome.slaveOutFile.c_str());
    std::printf(_("division points: %d, %s\n"), outcome.pointCount, KSyncThread::ProcessingTimeText(outcome.elapsedMs).c_str());
    if (!outcome.notes.empty()) std::printf("%s\n", outcome.notes.c_str());
    if (!outcome.checkSummary.empty()) std::printf("%s\n%s\n", outcome.checkSummary.c_str(), outcome.checkDetails.c_str());
    if (!outcome.outputWritten) return kExitFailed;
    if (outcome.stoppedByUser) return kExitStopped;
    // A file whose check could not be made is not vouched for either.
    if (!outcome.checkSummary.empty() && !outcome.inStep) return kExitNotInStep;
    return kExitOk;
}

}  // namespace

int RunInfo(const InfoArgs& args) {
    std::string path;
    if (!resolveInput(args.file, _("WAVE"), path)) return 2;
    OpenSettings();
    KWavefile wave(path, kPlaceBoth, true);
    std::printf(_("file            %s\n"), path.c_str());
    std::printf(_("size            %lld bytes\n"), static_cast<long long>(wave.FileSize));
    if (!wave.Usable()) {
        std::fprintf(stderr, _("tandem-cli: %s is not usable: %s\n"), path.c_str(), wave.Problem().c_str());
        return 1;
    }
    if (!wave.LoadProblem().empty()) {
        // Not measured (out of memory): no analysis of zeros is shown or stored.
        std::fprintf(stderr, "tandem-cli: %s\n", wave.LoadProblem().c_str());
        return 1;
    }
    const bool extensible = wave.FormatTag == 0xFFFE;
    const char* coding = wave.Kind == SampleKind::Float ? (extensible ? _("extensible, IEEE float") : _("IEEE float"))
                                                        : (extensible ? _("extensible, PCM") : _("PCM"));
    std::printf(_("format          %u (%s), %u bit, %u channel(s), %u Hz\n"), wave.FormatTag, coding, wave.BitsPerSample,
                wave.Channels, wave.SampleRate);
    if (wave.ValidBits != wave.BitsPerSample) std::printf(_("valid bits      %u\n"), wave.ValidBits);
    if (wave.Rf64) std::printf("%s\n", _("container       RF64 (sizes in the ds64 chunk)"));
    if (wave.Channels > 2) std::printf("%s\n", _("channels used   the first two"));
    std::printf(_("data            offset %lld, %lld frames (%s)\n"), static_cast<long long>(wave.DataOffset),
                static_cast<long long>(wave.FrameCount), secondsText(wave.FrameCount, wave.SampleRate).c_str());
    if (!wave.Problem().empty()) std::printf(_("note            %s\n"), wave.Problem().c_str());
    std::printf(_("peak            %d (left %d at frame %d, right %d at frame %d)\n"), wave.Peak, wave.PeakL, wave.PointL,
                wave.PeakR, wave.PointR);
    std::printf(_("peak mono       %d\n"), wave.PeakMono);
    std::printf(_("max distance    %d\n"), wave.MaxDistance);
    std::printf(_("lead-in silence %d frames (%s)\n"), wave.FrontNull, secondsText(wave.FrontNull, wave.SampleRate).c_str());
    std::printf(_("tail silence    %d frames (%s)\n"), wave.BackNull, secondsText(wave.BackNull, wave.SampleRate).c_str());
    std::printf(_("average level   %d\n"), wave.Average);
    return 0;
}

int RunCheck(const CheckArgs& a) {
    std::string path;
    if (!resolveInput(a.file, _("WAVE"), path)) return kExitBadArguments;
    const AlignmentCheck check = CheckSynchronisedFile(path);
    std::printf("%s\n%s\n", CheckSummary(check).c_str(), CheckDetails(check).c_str());
    if (!check.error.empty()) return kExitFailed;
    if (!a.csv.empty()) WriteCheckCsv(check, a.csv);  // a failure ends in main, as kExitFailed
    return check.inStep ? kExitOk : kExitNotInStep;
}

int RunSync(const SyncArgs& a) {
    std::string master, slave;
    if (!resolveInput(a.master, _("master"), master) || !resolveInput(a.slave, _("slave"), slave)) return 2;
    const int level = ParseLevel(a.level);
    if (level < 0) {
        std::fprintf(stderr, _("tandem-cli: unknown level '%s' (use 0..3 or 少 普 多 BT)\n"), a.level.c_str());
        return 2;
    }
    OpenSettings();
    // As the Start button: the job enters the history and both files the used-file
    // list, so that the desktop program can run it again or remix it.
    try {
        RegisterJob(master, slave, level, a.masterSkip, a.slaveSkip);
        StoreJobStart(master, slave, a.masterSkip);
    } catch (const EngineError& e) {
        std::fprintf(stderr, "tandem-cli: %s\n", e.what());
        return 2;
    }
    if (!bandAccepted(a.band)) return kExitBadArguments;
    const int bandLow = a.band.size() == 2 ? a.band[0] : 0;
    const int bandHigh = a.band.size() == 2 ? a.band[1] : 0;
    JobRequest request;
    ApplyLevel(request, ParametersForLevel(level, a.debug, a.expert, bandLow, bandHigh));
    request.master = master;
    request.slave = slave;
    request.masterSkipFrames = a.masterSkip * kTenthFrames;
    request.slaveSkipFrames = a.slaveSkip * kTenthFrames;
    request.stopPointFrames = a.stopPoint * kTenthFrames;
    request.options = (a.debug ? kOptDebug : 0) | (a.resultCsv ? kOptResultCsv : 0) | (a.startCsv ? kOptStartCsv : 0) |
                      (a.segmentCsv ? kOptSegmentCsv : 0) | (a.keepEq ? kOptKeepEq : 0);
    request.robustStart = !a.noRobustStart;
    request.anchorEnds = !a.noAnchorEnds;
    request.lockGuard = !a.noLockGuard;
    request.bandLimited = a.interpolation.empty() ? BandLimitedByDefault() : a.interpolation == "sinc";
    request.slaveOut = a.slaveOut;
    request.coarseTrack = !a.noCoarseTrack;
    request.lowPriority = a.background;
    request.level = level;
    if (a.resume) std::fprintf(stderr, "tandem-cli: %s\n", ResumeAtLastStoredPair(request).c_str());

    SyncJob job;
    SyncProgress progress;
    if (a.debug) {
        SetLogOpener([](const std::string& path) { std::fprintf(stderr, _("tandem-cli: log written to %s\n"), path.c_str()); });
        StartLog();
    }
    KSyncThread thread(job, progress, request);
    InstallStopHandler(job);
    const JobOutcome outcome = RunWithProgress(thread, progress, a.quiet, request.lowPriority);
    RemoveStopHandler();
    StoreJobResult(master, slave, a.masterSkip, VerdictOf(outcome));
    if (a.debug) {
        if (std::string why; !SaveLogAndOpen(slave + ".log", &why)) std::fprintf(stderr, "tandem-cli: %s\n", why.c_str());
    }
    const int status = report(outcome, _("synchronisation"));
    if (!a.plot.empty() && outcome.outputWritten &&
        !WritePlot(outcome.trackCsv, outcome.checkCsv, master, slave, a.plot))
        return status == kExitOk ? kExitFailed : status;
    return status;
}

#ifndef TANDEM_PLOT
bool WritePlot(const std::string&, const std::string&, const std::string&, const std::string&, const std::string&) {
    std::fprintf(stderr, _("tandem-cli: --plot needs a build with Qt; no picture was written\n"));
    return false;
}
#endif

int RunHistory() {
    OpenSettings();
    const std::vector<std::string> lines = HistoryLines();
    for (std::size_t i = 0; i < lines.size(); ++i) std::printf("%2zu  %s\n", i, lines[i].c_str());
    if (lines.empty()) std::printf(_("(the job history is empty)\n"));
    return 0;
}

int RunRemix(const RemixArgs& a) {
    std::string master, slave;
    if (!resolveInput(a.master, _("master"), master) || !resolveInput(a.slave, _("slave"), slave)) return 2;
    if (a.mix.size() != 8) {
        std::fprintf(stderr, _("tandem-cli: --mix takes 8 numbers\n"));
        return 2;
    }
    MixSettings mix{};
    for (std::size_t i = 0; i < 8; ++i) {
        const int v = a.mix[i];
        const bool volume = i % 2 == 0;
        if (volume ? (v < 0 || v > 200) : (v < -90 || v > 90)) {
            std::fprintf(stderr, _("tandem-cli: --mix value %d out of range (volumes 0..200, pans -90..90)\n"), v);
            return 2;
        }
        mix[i] = v;
    }
    OpenSettings();
    SyncJob job;
    job.SlaveOut = a.slaveOut;
    job.BandLimited = BandLimitedByDefault();
    SyncProgress progress;
    KSyncThread thread(job, progress, master, slave, mix);
    return report(RunWithProgress(thread, progress, a.quiet), _("remix"));
}

int RunEq(const EqArgs& a) {
    std::string path;
    if (!resolveInput(a.file, _("WAVE"), path)) return 2;
    if (a.band.size() != 2 || a.band[0] < 0 || a.band[1] < 0 || a.band[0] > 22050 || a.band[1] > 22050) {
        std::fprintf(stderr, _("tandem-cli: --band takes LOW,HIGH in Hz (0 = no edge, at most 22050)\n"));
        return 2;
    }
    if (!bandAccepted(a.band)) return kExitBadArguments;
    OpenSettings();
    KWavefile probe(path, kPlaceBoth, false);
    if (!probe.Usable()) {
        std::fprintf(stderr, _("tandem-cli: %s is not usable: %s\n"), path.c_str(), probe.Problem().c_str());
        return 1;
    }
    const std::string copy = MakeEqWave(path, a.band[0], a.band[1]);
    std::error_code ec;
    if (!fs::exists(copy, ec)) {
        std::fprintf(stderr, _("tandem-cli: the equalised copy %s was not made\n"), copy.c_str());
        return 1;
    }
    std::printf("%s\n", copy.c_str());
    return 0;
}

}  // namespace tandem::cli
