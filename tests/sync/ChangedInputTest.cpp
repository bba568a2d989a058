// An input file changed or removed while a job runs: the points found stay stored, and
// no synchronised file is made from a file that no longer matches them.
#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <filesystem>
#include <functional>

#include "core/Log.h"
#include "sync/OutputWriter.h"
#include "sync/SyncFixture.h"
#include "sync/Synchronise.h"
#include "wave/KWavefile.h"

namespace tandem::test {
namespace {

// Runs an action on the worker thread when a log line starts with a given text.
class LineTrigger : public LogListener {
public:
    LineTrigger(std::string prefix, std::function<void()> action) : prefix_(std::move(prefix)), action_(std::move(action)) {
        SetLogListener(this);
        StartLog();
    }
    ~LineTrigger() override {
        HideLog();
        SetLogListener(nullptr);
    }
    void LogLineAdded(const std::string& line) override {
        if (!fired_ && line.rfind(prefix_, 0) == 0) {
            fired_ = true;
            action_();
        }
    }
    void LogCleared() override {}
    void LogShown(bool) override {}
    bool fired() const { return fired_; }

private:
    std::string prefix_;
    std::function<void()> action_;
    bool fired_ = false;
};

class ChangedInput : public SyncFixture {
protected:
    void SetUp() override {
        SyncFixture::SetUp();
        SyntheticPairSpec spec;
        spec.seconds = 6.0;
        writePair(MakeSyntheticPair(spec));
    }
    std::string output() const { return SynchronisedFileName(job, false); }
};

TEST_F(ChangedInput, slave_truncated_during_the_search_gives_no_file_but_keeps_the_points) {
    LineTrigger trigger("区間 DP3-4", [&] { std::filesystem::resize_file(slave, 100000); });
    const JobOutcome outcome = runJob();
    ASSERT_TRUE(trigger.fired());
    EXPECT_FALSE(outcome.outputWritten);
    EXPECT_EQ(outcome.error, MessageText(Msg::SlaveChanged, slave));
    EXPECT_EQ(progress.MessageLine(2), outcome.error);
    EXPECT_GT(count(slave), 10) << "the search went on, the mapped pages past the new end read as silence";
    EXPECT_FALSE(std::filesystem::exists(output()));
}

// Another take copied over the slave keeping its size and times (cp -p, then a rename
// into place): only which file it is tells it apart.
TEST_F(ChangedInput, slave_replaced_by_a_file_of_the_same_size_and_time_gives_no_file) {
    LineTrigger trigger("区間 DP3-4", [&] {
        struct stat before {};
        ASSERT_EQ(::stat(slave.c_str(), &before), 0);
        std::vector<std::uint8_t> bytes = ReadFileBytes(slave);
        bytes.back() ^= 1;  // another file, all but one bit the same
        const std::string other = slave + ".other";
        WriteFile(other, bytes);
        const timespec times[2] = {before.st_atim, before.st_mtim};
        ASSERT_EQ(::utimensat(AT_FDCWD, other.c_str(), times, 0), 0);
        std::filesystem::rename(other, slave);
    });
    const JobOutcome outcome = runJob();
    ASSERT_TRUE(trigger.fired());
    EXPECT_FALSE(outcome.outputWritten);
    EXPECT_EQ(outcome.error, MessageText(Msg::SlaveChanged, slave));
    EXPECT_FALSE(std::filesystem::exists(output()));
}

TEST_F(ChangedInput, master_removed_during_the_search_keeps_an_earlier_result) {
    ASSERT_TRUE(runJob().outputWritten);
    const auto previous = std::filesystem::file_size(output());
    LineTrigger trigger("区間 DP2-3", [&] { std::filesystem::remove(master); });
    const JobOutcome outcome = runJob();
    ASSERT_TRUE(trigger.fired());
    EXPECT_FALSE(outcome.outputWritten);
    EXPECT_EQ(outcome.error, MessageText(Msg::MasterChanged, master));
    EXPECT_EQ(std::filesystem::file_size(output()), previous);
}

// The writer reads the inputs mapped: a file written or cut short under it is found
// before anything made from it replaces the earlier output.
TEST_F(ChangedInput, input_changed_while_the_output_is_written_keeps_the_earlier_output) {
    ASSERT_TRUE(runJob().outputWritten);
    const std::vector<std::uint8_t> previous = ReadFileBytes(output());
    for (const bool truncate : {false, true}) {
        LineTrigger trigger("maxvol=", [&] {
            if (truncate) {
                std::filesystem::resize_file(slave, 100000);
            } else {
                const timespec later[2] = {{0, UTIME_OMIT}, {1, 0}};
                ASSERT_EQ(::utimensat(AT_FDCWD, master.c_str(), later, 0), 0);
            }
        });
        const JobOutcome outcome = runJob();
        ASSERT_TRUE(trigger.fired());
        EXPECT_FALSE(outcome.outputWritten);
        EXPECT_EQ(outcome.error, truncate ? MessageText(Msg::SlaveChanged, slave) : MessageText(Msg::MasterChanged, master));
        EXPECT_EQ(ReadFileBytes(output()), previous);
    }
}

TEST_F(ChangedInput, file_gone_before_its_frames_are_loaded_is_not_read_as_silence) {
    KWavefile wave(master, kPlaceBoth, false);
    ASSERT_TRUE(wave.Usable());
    std::filesystem::remove(master);
    EXPECT_FALSE(wave.LoadData());
    EXPECT_EQ(wave.LoadProblem(), MessageText(Msg::CannotOpen, master, SystemErrorText(ENOENT)));

    // The job's own check: no point is made up from frames that are not there.
    KWavefile slaveWave(slave, kPlaceBoth, true);
    const JobRequest request{.master = master, .slave = slave};
    SyncRun run{job, request, wave, slaveWave, "", "", progress, 0, {}};
    EXPECT_THROW(
        {
            try {
                SynchroniseFiles(run);
            } catch (const SyncError& e) {
                EXPECT_EQ(e.id(), Msg::MasterCannotLoad);
                throw;
            }
        },
        SyncError);
    EXPECT_EQ(count(slave), 0);
}

}  // namespace
}  // namespace tandem::test
