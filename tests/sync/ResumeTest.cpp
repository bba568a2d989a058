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
    ASSERT_EQ(request.masterSkip, point(master, 11));
    ASSERT_EQ(request.slaveSkip, point(slave, 11));
    const JobOutcome resumed = KSyncThread(job, progress, request).Execute();
    ASSERT_TRUE(resumed.outputWritten) << resumed.error;
    ASSERT_EQ(count(slave), full);
    ASSERT_EQ(count(master), full);
    for (int i = 0; i < full; ++i) {
        EXPECT_EQ(point(master, i), masterFirst[static_cast<std::size_t>(i)]) << i;
        EXPECT_EQ(point(slave, i), slaveFirst[static_cast<std::size_t>(i)]) << i;
    }
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
