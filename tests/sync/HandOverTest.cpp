// A job on its worker thread while the front end reads progress, message lines and log
// lines, moves the source folder, reads the settings the worker writes and requests a
// stop: the hand-over that scripts/tsan.sh runs under ThreadSanitizer.
#include <condition_variable>
#include <mutex>

#include "core/Log.h"
#include "sync/SyncFixture.h"

namespace tandem::test {
namespace {

// Holds the worker at its gate-th segment result until the front end lets it go, so the
// stop request lands in the middle of the search on every machine.
class GatedProgress : public SyncProgress {
public:
    explicit GatedProgress(int gate) : gate_(gate) {}
    void SetResultValue(int value) override {
        SyncProgress::SetResultValue(value);
        std::unique_lock lock(mutex_);
        if (++results_ != gate_) return;
        reached_ = true;
        changed_.notify_all();
        changed_.wait(lock, [&] { return released_; });
    }
    bool WaitForGate(std::chrono::milliseconds timeout) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, timeout, [&] { return reached_; });
    }
    void Release() {
        std::lock_guard lock(mutex_);
        released_ = true;
        changed_.notify_all();
    }

private:
    const int gate_;
    int results_ = 0;
    bool reached_ = false;
    bool released_ = false;
    std::mutex mutex_;
    std::condition_variable changed_;
};

class HandOver : public SyncFixture {};

TEST_F(HandOver, front_end_reads_and_stops_a_running_job) {
    SyntheticPairSpec spec;
    spec.seconds = 15.0;
    spec.ppm = -500.0;
    spec.seed = 5;
    writePair(MakeSyntheticPair(spec));
    constexpr int kGate = 4;
    GatedProgress gated(kGate);
    StartLog();
    KSyncThread thread(job, gated, JobRequest{.master = master, .slave = slave, .rangeE = 200, .options = gated.JobOptions()});
    std::mutex doneMutex;
    JobOutcome outcome;
    bool done = false;
    ASSERT_NO_THROW(thread.Start(false, [&](const JobOutcome& o) {
        std::lock_guard lock(doneMutex);
        outcome = o;
        done = true;
    }));

    // What the front end's timer does, as fast as it can, until the worker reaches the gate.
    int polls = 0, lastPosition = 0, lastLines = 0;
    bool backwards = false;
    do {
        for (int line = 0; line < 3; ++line) (void)gated.MessageLine(line);
        const int position = gated.StageBar(1).Position.load() + gated.StageBar(0).Position.load();
        backwards |= position < lastPosition;
        lastPosition = position;
        const int lines = static_cast<int>(LogLines().size());
        backwards |= lines < lastLines;
        lastLines = lines;
        (void)gated.ResultValue();
        (void)SettingsReadInt(slave, "Count", 0);
        // Folders that hold neither file: the worker's sections stay where they are.
        SetSettingsSrcDir(++polls % 2 ? "/elsewhere/" : "/music/");
    } while (!gated.WaitForGate(std::chrono::milliseconds(1)) && polls < 600000);
    ASSERT_TRUE(gated.WaitForGate(std::chrono::seconds(0))) << "the worker never reached its fourth segment";
    EXPECT_EQ(gated.MessageLine(0).rfind("区間 ", 0), 0u) << gated.MessageLine(0);
    job.StopRequest.store(1);
    gated.Release();
    thread.Join();
    HideLog();

    std::lock_guard lock(doneMutex);
    ASSERT_TRUE(done) << "the completion callback ran before Join returned";
    EXPECT_FALSE(backwards) << "a bar or the log went backwards while the front end read it";
    EXPECT_TRUE(outcome.stopped);
    EXPECT_TRUE(outcome.error.empty()) << outcome.error;
    EXPECT_GE(count(slave), kGate);
    EXPECT_LE(count(slave), kGate + 2) << "the stop request is read once per segment";
    EXPECT_LT(count(slave), 40) << "a full run stores about 75 points";
}

}  // namespace
}  // namespace tandem::test
