#include "cli/Console.h"
#include "cli/Messages.h"

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstring>
#include <cstdio>
#include <future>
#include <stdexcept>

#include "cli/Commands.h"
#include "core/ExitCleanup.h"
#include "core/ProgramFolder.h"
#include "settings/Settings.h"

namespace tandem::cli {
namespace {

std::atomic<SyncJob*> g_job{nullptr};
std::atomic<int> g_interrupts{0};
std::atomic<const char*> g_interruptText{""};

extern "C" void onInterrupt(int) {
    if (g_interrupts.fetch_add(1) >= 1) {
        // Ends at once, but the temporaries and the pair lock do not stay behind.
        RemoveExitPaths();
        _exit(kExitInterrupted);
    }
    SyncJob* job = g_job.load();
    if (job) job->StopRequest.store(kStopByUser);
    // Translated before the handler was installed: gettext is not safe in a signal handler.
    const char* text = g_interruptText.load();
    ssize_t ignored = ::write(STDERR_FILENO, text, std::strlen(text));
    (void)ignored;
}

// Translated where they are printed (the translation is chosen after static start-up).
const char* const kStageNames[3] = {N_("start point search"), N_("sync positions"), N_("output file")};

class ProgressDisplay {
public:
    ProgressDisplay(SyncProgress& progress, bool quiet)
        : progress_(progress), quiet_(quiet), tty_(::isatty(STDERR_FILENO) != 0) {
        for (std::string& c : captions_) c.clear();
    }

    void tick() {
        const std::int64_t now = TickCountMs();
        int stage = 0;
        while (stage < 2 && progress_.StageBar(stage).Marker.load() > kStageFinished) ++stage;
        StageBarState& bar = progress_.StageBar(stage);
        if (bar.Marker.load() == kStageFinished) {
            const std::int64_t s = (now - progress_.StageClock()) / 1000;
            progress_.SetStageClock(now);
            captions_[stage] = ElapsedCaption(s);
            bar.Position.store(bar.Max.load());
            bar.Marker.store(kStageShown);
            if (!quiet_) std::fprintf(stderr, "%s%s: %s\n", tty_ ? "\r\033[K" : "", _(kStageNames[stage]), captions_[stage].c_str());
            return;
        }
        const int p = bar.Position.load();
        const int max = bar.Max.load();
        if (p != 0) {
            const std::int64_t r = RemainingSeconds(max, p, (now - progress_.StageClock()) / 1000);
            if (r > 0) captions_[stage] = RemainingCaption(r);
        }
        if (quiet_) return;
        const std::string line0 = progress_.MessageLine(0);
        const int percent = max > 0 ? static_cast<int>(std::min<std::int64_t>(100, 100LL * p / max)) : 0;
        if (tty_) {
            std::string barText(20, '.');
            for (int i = 0; i < percent / 5; ++i) barText[static_cast<std::size_t>(i)] = '#';
            std::fprintf(stderr, "\r\033[K%s [%s] %3d%% %s  %s", _(kStageNames[stage]), barText.c_str(), percent,
                         captions_[stage].c_str(), line0.c_str());
        } else if (line0 != lastLine_ && now - lastPrint_ >= 5000) {
            std::fprintf(stderr, "%s %3d%% %s  %s\n", _(kStageNames[stage]), percent, captions_[stage].c_str(), line0.c_str());
            lastPrint_ = now;
            lastLine_ = line0;
        }
        const std::string line2 = progress_.MessageLine(2);
        if (!line2.empty() && line2 != lastRetry_) {
            std::fprintf(stderr, "%s%s\n", tty_ ? "\r\033[K" : "", line2.c_str());
            lastRetry_ = line2;
        }
    }

    void finish() {
        if (!quiet_ && tty_) std::fprintf(stderr, "\r\033[K");
    }

private:
    SyncProgress& progress_;
    bool quiet_;
    bool tty_;
    std::string captions_[3];
    std::string lastLine_, lastRetry_;
    std::int64_t lastPrint_ = 0;
};

}  // namespace

void InstallStopHandler(SyncJob& job) {
    g_interruptText.store(_("\ntandem-cli: stopping after the current segment (Ctrl-C again to quit at once)\n"));
    g_job.store(&job);
    g_interrupts.store(0);
    struct sigaction sa {};
    sa.sa_handler = onInterrupt;
    sigemptyset(&sa.sa_mask);
    ::sigaction(SIGINT, &sa, nullptr);
    ::sigaction(SIGTERM, &sa, nullptr);
}

void RemoveStopHandler() {
    std::signal(SIGINT, SIG_DFL);
    std::signal(SIGTERM, SIG_DFL);
    g_job.store(nullptr);
}

JobOutcome RunWithProgress(KSyncThread& thread, SyncProgress& progress, bool quiet, bool lowPriority) {
    std::promise<JobOutcome> done;
    std::future<JobOutcome> result = done.get_future();
    progress.SetStageClock(TickCountMs());
    try {
        thread.Start(lowPriority, [&done](const JobOutcome& outcome) { done.set_value(outcome); });
    } catch (const EngineError& e) {
        JobOutcome failed;
        failed.error = e.what();
        return failed;
    }
    ProgressDisplay display(progress, quiet);
    while (result.wait_for(std::chrono::seconds(1)) != std::future_status::ready) display.tick();
    thread.Join();
    display.finish();
    return result.get();
}

void OpenSettings() {
    const std::string folder = ProgramFolder();
    if (!FolderNotice().empty()) std::fprintf(stderr, "tandem-cli: %s\n", FolderNotice().c_str());
    SettingsOpen(folder + "qzv.ini");
    if (std::string why; !SettingsReadable(&why)) throw std::runtime_error(why);
    // The desktop program stores per-file sections relative to its folder list's
    // directory; use the same one so both front ends share their points.
    std::string src = SettingsReadText("TandemEnv", "SRCDIR", ExecutableFolder());
    if (src.empty() || src.back() != '/') src += '/';
    SetSettingsSrcDir(src);
}

}  // namespace tandem::cli
