#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

#include "core/Log.h"
#include "sync/SyncFixture.h"

namespace tandem::test {
namespace {

std::string readText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

SyntheticPairSpec shortPair(double seconds = 15.0) {
    SyntheticPairSpec spec;
    spec.seconds = seconds;
    spec.ppm = -800.0;
    spec.wobblePpm = 500.0;
    spec.wobblePeriodSeconds = 10.0;
    spec.seed = 11;
    return spec;
}

class Job : public SyncFixture {};

TEST_F(Job, stop_point_ends_the_search_after_the_segment_that_passes_it) {
    writePair(MakeSyntheticPair(shortPair()));
    const FrameIndex stopAt = 5 * 44100;
    const JobOutcome outcome = runJob(0, 2, 800, 200, kModeSingle, 0, 0, stopAt);
    EXPECT_TRUE(outcome.stopped);
    EXPECT_FALSE(outcome.stoppedByUser) << "the stop point is what the job was asked to do";
    ASSERT_TRUE(outcome.outputWritten) << outcome.error;
    const int n = count(slave);
    ASSERT_GE(n, 3);
    EXPECT_GT(point(master, n - 1), stopAt) << "the last accepted segment ends past the stop point";
    EXPECT_LE(point(master, n - 2), stopAt) << "and the one before it does not";
    EXPECT_GT(count(master), n) << "the master keeps all its division points";
}

TEST_F(Job, equalised_copies_are_deleted_unless_kept_by_the_box_or_a_stop_point) {
    writePair(MakeSyntheticPair(shortPair(6.0)));
    const struct {
        int options;
        FrameIndex dpLimit;
        bool kept;
    } cases[] = {{0, 0, false}, {kOptKeepEq, 0, true}, {0, 2 * 44100, true}};
    for (const auto& c : cases) {
        KSyncThread thread(job, progress,
                           JobRequest{.master = master, .slave = slave, .rangeE = 200, .stopPointFrames = c.dpLimit,
                                      .eqLow = 500, .eqHigh = 2000, .options = c.options});
        ASSERT_TRUE(thread.Execute().outputWritten);
        for (const char* copy : {"master_EQ(500,2000).wav", "slave_EQ(500,2000).wav"})
            EXPECT_EQ(std::filesystem::exists(dir.file(copy)), c.kept) << copy << " options " << c.options;
    }
}

TEST_F(Job, stop_requested_before_the_worker_runs_is_kept) {
    writePair(MakeSyntheticPair(shortPair(8.0)));
    KSyncThread thread(job, progress, JobRequest{.master = master, .slave = slave, .rangeE = 200});
    job.StopRequest.store(kStopByUser);
    const JobOutcome outcome = thread.Execute();
    EXPECT_TRUE(outcome.stopped);
    EXPECT_TRUE(outcome.stoppedByUser);
    EXPECT_EQ(count(slave), 0) << "not a single segment was searched";
    EXPECT_FALSE(outcome.outputWritten);
    EXPECT_EQ(outcome.error, "") << "a stop before any point is a stop (status 4), not a failure";
}

TEST_F(Job, resumes_after_the_points_before_the_master_lead_in) {
    const SyntheticPair pair = MakeSyntheticPair(shortPair());
    writePair(pair);
    ASSERT_TRUE(runJob().outputWritten);
    const int full = count(slave);
    std::vector<FrameIndex> first;
    for (int i = 0; i < full; ++i) first.push_back(point(slave, i));

    // A ResetSlave-style cut to 10 points, then a job whose lead-ins start where the
    // tenth pair of points lies: it keeps points 0..9 and searches on from there.
    SettingsWriteInt(slave, "Count", 10);
    const FrameIndex masterLead = point(master, 10);
    const FrameIndex slaveLead = point(slave, 9);
    const JobOutcome again = runJob(0, 2, 800, 200, kModeSingle, masterLead, slaveLead);
    ASSERT_TRUE(again.outputWritten) << again.error;
    for (int i = 0; i < 10; ++i) EXPECT_EQ(point(slave, i), first[static_cast<std::size_t>(i)]) << i;
    EXPECT_GE(point(master, 10), masterLead) << "the division starts again at the master lead-in";
    EXPECT_GE(count(slave), full - 2);
    EXPECT_GE(shareWithin(pointErrors(pair), 2.0), 0.95);
}

TEST_F(Job, suspicious_segment_is_searched_again_over_two_divisions_in_retry_mode) {
    SyntheticPair pair = MakeSyntheticPair(shortPair(12.0));
    // 40 extra frames in the slave at about 6 s: one segment looks 40 frames longer.
    const std::size_t at = 6 * 44100 + 1000;
    std::vector<Frame> extra(pair.slave.begin() + at, pair.slave.begin() + at + 40);
    pair.slave.insert(pair.slave.begin() + at, extra.begin(), extra.end());
    writePair(pair);

    const JobOutcome single = runJob(0, 2, 800, 200, kModeSingle);
    ASSERT_TRUE(single.outputWritten) << single.error;
    EXPECT_EQ(progress.MessageLine(2), "");

    SettingsWriteInt(master, "Count", 0);
    SettingsWriteInt(slave, "Count", 0);
    const JobOutcome retried = runJob(0, 2, 800, 200, kModeRetry);
    ASSERT_TRUE(retried.outputWritten) << retried.error;
    EXPECT_TRUE(std::regex_match(progress.MessageLine(2), std::regex("Retry 2 at [0-9]+\\.[0-9]{3}")))
        << progress.MessageLine(2);
}

TEST_F(Job, reports_have_their_names_and_row_formats) {
    writePair(MakeSyntheticPair(shortPair(6.0)));
    const JobOutcome outcome = runJob(kOptResultCsv | kOptStartCsv | kOptSegmentCsv, 2, 800, 20);
    ASSERT_TRUE(outcome.outputWritten) << outcome.error;
    const int accepted = count(slave) - 1;  // point 0 is the start, every later one a segment

    const std::string result = readText(dir.file("slave.Result.csv"));
    ASSERT_FALSE(result.empty());
    EXPECT_EQ(result.front(), '\n');
    EXPECT_NE(result.back(), '\n');
    const std::regex row("([0-9]+),([0-9]+),([0-9]+\\.[0-9]{3}),(-?[0-9]+),(-?[0-9]+),(-?[0-9]+),(-?[0-9]+\\.[0-9]{3}),([0-9]+\\.[0-9]{3}),");
    std::istringstream rows(result.substr(1));
    int n = 0;
    for (std::string line; std::getline(rows, line); ++n) {
        std::smatch m;
        ASSERT_TRUE(std::regex_match(line, m, row)) << line;
        EXPECT_EQ(std::stoi(m[1]), n + 1) << "segment index";
        EXPECT_EQ(std::stoll(m[2]), point(master, n + 1)) << "master end";
    }
    EXPECT_EQ(n, accepted);

    const std::string profile = readText(dir.file("slave-1.csv"));
    EXPECT_EQ(std::count(profile.begin(), profile.end(), '\n'), 41) << "2 x RangeE + 1 rows";
    EXPECT_EQ(profile.substr(0, 10), "-20,-1.000");
    for (int a = 2; a <= accepted; ++a) EXPECT_TRUE(std::filesystem::exists(dir.file("slave-" + std::to_string(a) + ".csv"))) << a;
    EXPECT_FALSE(std::filesystem::exists(dir.file("slave-" + std::to_string(accepted + 1) + ".csv")));
}

TEST_F(Job, unwritable_report_folder_fails_the_job_visibly) {
    writePair(MakeSyntheticPair(shortPair(4.0)));
    SetProgramFolder("/proc/no-such-folder/");
    const JobOutcome outcome = runJob(kOptResultCsv);
    EXPECT_FALSE(outcome.outputWritten);
    // The job's lock is the first file it makes there; the message names the folder.
    EXPECT_NE(outcome.error.find("/proc/no-such-folder/"), std::string::npos) << outcome.error;
    EXPECT_EQ(progress.MessageLine(2), outcome.error.substr(0, progress.MessageLine(2).size()));
    EXPECT_FALSE(progress.MessageLine(2).empty());
}

TEST_F(Job, silent_master_is_an_error_not_a_result) {
    SyntheticPair pair = MakeSyntheticPair(shortPair(4.0));
    std::fill(pair.master.begin(), pair.master.end(), Frame{});
    writePair(pair);
    const JobOutcome outcome = runJob();
    EXPECT_FALSE(outcome.outputWritten);
    EXPECT_EQ(outcome.error, MessageText(Msg::MasterSilent, master));
}

TEST_F(Job, unusable_slave_is_named_with_its_reason) {
    writePair(MakeSyntheticPair(shortPair(4.0)));
    std::vector<std::uint8_t> bytes = ReadFileBytes(slave);
    bytes[24] = 0xA0;  // 4000 Hz
    bytes[25] = 0x0F;
    WriteFile(slave, bytes);
    JobOutcome outcome = runJob();
    EXPECT_FALSE(outcome.outputWritten);
    EXPECT_NE(outcome.error.find(slave), std::string::npos) << outcome.error;
    EXPECT_NE(outcome.error.find("4000 Hz"), std::string::npos) << outcome.error;

    bytes[24] = 0x80;  // 48000 Hz: readable, and searched at the master's rate
    bytes[25] = 0xBB;
    WriteFile(slave, bytes);
    outcome = runJob();
    EXPECT_EQ(outcome.error.find("Hz"), std::string::npos) << outcome.error;
    EXPECT_GT(count(slave), 1);
}

TEST_F(Job, debug_log_traces_the_job_and_the_processing_time) {
    writePair(MakeSyntheticPair(shortPair(4.0)));
    StartLog();
    const JobOutcome outcome = runJob(kOptDebug);
    const std::vector<std::string> log = LogLines();
    HideLog();
    ASSERT_TRUE(outcome.outputWritten) << outcome.error;
    EXPECT_EQ(outcome.outputFile, dir.file("【master】-【slave】_2_0_800_200_0_0_0.wav"));
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.front(), "START:");
    EXPECT_TRUE(std::regex_match(log.back(), std::regex("処理時間=0H 0M [0-9]+S [0-9]+ms"))) << log.back();
    EXPECT_NE(std::find(log.begin(), log.end(), "予想RATE：100.000"), log.end());
    EXPECT_EQ(progress.MessageLine(1), log.back());
}

TEST(ProcessingTime, formats_hours_to_milliseconds) {
    EXPECT_EQ(KSyncThread::ProcessingTimeText(3723456), "処理時間=1H 2M 3S 456ms");
    EXPECT_EQ(KSyncThread::ProcessingTimeText(999), "処理時間=0H 0M 0S 999ms");
}

}  // namespace
}  // namespace tandem::test
