#include "sync/SyncFixture.h"

namespace tandem::test {
namespace {

class Resume : public SyncFixture {};

TEST_F(Resume, continues_from_the_last_stored_pair_to_the_points_of_an_uninterrupted_run) {
    SyntheticPairSpec spec;
    spec.seconds = 12.0;
    spec.ppm = -600.0;
    writePair(MakeSyntheticPair(spec));
    ASSERT_TRUE(runJob().outputWritten);
    const int full = count(slave);
    std::vector<FrameIndex> masterFirst, slaveFirst;
    for (int i = 0; i < full; ++i) {
        masterFirst.push_back(point(master, i));
        slaveFirst.push_back(point(slave, i));
    }

    // A job stopped after 12 points; the stale points beyond them are overwritten.
    SettingsWriteInt(slave, "Count", 12);
    for (int i = 12; i < full; ++i) SettingsWriteInt(slave, "DP" + std::to_string(i), 0);
    JobRequest request{.master = master, .slave = slave, .rangeE = 200};
    ResumeAtLastStoredPair(request);
    ASSERT_TRUE(request.resume);
    ASSERT_EQ(request.resumeMasterFrame, point(master, 11));
    ASSERT_EQ(request.resumeSlaveFrame, point(slave, 11));
    const JobOutcome resumed = KSyncThread(job, progress, request).Execute();
    ASSERT_TRUE(resumed.outputWritten) << resumed.error;
    ASSERT_EQ(count(slave), full);
    ASSERT_EQ(count(master), full);
    for (int i = 0; i < full; ++i) {
        EXPECT_EQ(point(master, i), masterFirst[static_cast<std::size_t>(i)]) << i;
        EXPECT_EQ(point(slave, i), slaveFirst[static_cast<std::size_t>(i)]) << i;
    }
}

TEST_F(Resume, a_master_lead_in_past_the_stored_points_searches_on_from_where_they_put_the_slave) {
    SyntheticPairSpec spec;
    spec.seconds = 20.0;
    spec.ppm = -600.0;
    spec.slavePadSeconds = 4.0;  // the slave's own onset is far from where the chain stopped
    const SyntheticPair pair = MakeSyntheticPair(spec);
    writePair(pair);
    ASSERT_TRUE(runJob().outputWritten);
    const FrameIndex leadIn = point(master, 40);
    SettingsWriteInt(slave, "Count", 12);
    SettingsWriteInt(master, "Count", 12);

    const JobOutcome later = runJob(0, 2, 800, 200, kModeSingle, leadIn);
    ASSERT_TRUE(later.outputWritten) << later.error;
    ASSERT_GT(count(slave), 60);
    EXPECT_GE(point(master, 12), leadIn);
    EXPECT_GE(shareWithin(pointErrors(pair), 2.0), 0.97);
    EXPECT_TRUE(later.inStep) << later.checkSummary;
}

TEST_F(Resume, without_a_stored_pair_before_the_lead_in_is_a_fresh_job) {
    SyntheticPairSpec spec;
    spec.seconds = 6.0;
    writePair(MakeSyntheticPair(spec));
    JobRequest request{.master = master, .slave = slave, .rangeE = 200};
    ResumeAtLastStoredPair(request);
    EXPECT_FALSE(request.resume);
    const JobOutcome fresh = KSyncThread(job, progress, request).Execute();
    ASSERT_TRUE(fresh.outputWritten) << fresh.error;
    EXPECT_GT(count(slave), 10);
}

}  // namespace
}  // namespace tandem::test
