// The robust start point and the re-anchored segment ends: generated pairs on which the
// onsets or the chain go wrong, run with no lead-in set.
#include <fstream>
#include <sstream>

#include "sync/SyncFixture.h"

namespace tandem::test {
namespace {

SyntheticPairSpec extrasPair() {
    SyntheticPairSpec spec;
    spec.seconds = 12.0;
    spec.ppm = 1500.0;
    spec.wobblePpm = 1500.0;
    spec.wobblePeriodSeconds = 12.0;
    spec.masterPadSeconds = 0.5;
    spec.slavePadSeconds = 1.0;
    spec.slaveNoiseDb = -60.0;
    spec.seed = 5;
    return spec;
}

class SearchExtras : public SyncFixture {
protected:
    std::vector<FrameIndex> slavePoints() const {
        std::vector<FrameIndex> points;
        for (int i = 0; i < count(slave); ++i) points.push_back(point(slave, i));
        return points;
    }

    // Runs a job with the switches of qzv.ini set as given, without the coarse track
    // (which takes the start check's place); returns the slave's points.
    std::vector<FrameIndex> runSwitched(bool robustStart, bool anchorEnds) {
        SettingsWriteInt("TandemEnv", "COARSE_TRACK", 0);
        SettingsWriteInt("TandemEnv", "ROBUST_START", robustStart ? 1 : 0);
        SettingsWriteInt("TandemEnv", "ANCHOR_ENDS", anchorEnds ? 1 : 0);
        const JobOutcome outcome = runJob(kOptResultCsv);
        EXPECT_TRUE(outcome.outputWritten) << outcome.error;
        return slavePoints();
    }

    // Runs a job on the pair and checks every stored point against the truth.
    void expectOnTruth(const SyntheticPairSpec& spec) {
        const SyntheticPair pair = MakeSyntheticPair(spec);
        writePair(pair);
        const JobOutcome outcome = runJob(kOptResultCsv);
        ASSERT_TRUE(outcome.outputWritten) << outcome.error;
        const std::vector<double> errors = pointErrors(pair);
        ASSERT_GT(errors.size(), 40u);
        EXPECT_LE(errors.front(), 2.0) << "start point";
        EXPECT_LE(*std::max_element(errors.begin(), errors.end()), 2.0);
    }

    std::string resultCsv() const {
        std::ifstream in(dir.file("slave.Result.csv"), std::ios::binary);
        std::ostringstream s;
        s << in.rdbuf();
        return s.str();
    }
};

TEST_F(SearchExtras, noise_that_lifts_the_slave_onset_does_not_move_the_start) {
    SyntheticPairSpec spec = extrasPair();
    spec.slaveNoiseDb = -24.0;  // the noise crosses the slave's mean level in its silent lead-in
    expectOnTruth(spec);
}

TEST_F(SearchExtras, extra_material_in_front_of_the_slave_is_skipped) {
    SyntheticPairSpec spec = extrasPair();
    spec.slavePadSeconds = 0.0;
    spec.slaveExtraSeconds = 2.0;
    expectOnTruth(spec);
}

TEST_F(SearchExtras, slave_lacking_the_master_beginning_moves_the_master_start) {
    SyntheticPairSpec spec = extrasPair();
    spec.slavePadSeconds = 0.0;
    spec.slaveExtraSeconds = -1.0;
    expectOnTruth(spec);
    EXPECT_GT(point(master, 0), static_cast<FrameIndex>((spec.masterPadSeconds + 1.0) * kSampleRate))
        << "the master starts where the slave's material does";
}

TEST_F(SearchExtras, end_of_a_long_quiet_passage_is_found_again_and_marked) {
    SyntheticPairSpec spec = extrasPair();
    spec.wobblePpm = 2000.0;
    spec.wobblePeriodSeconds = 20.0;
    spec.silences = {{6.0, 9.5}};
    expectOnTruth(spec);
    // The re-anchored row carries a ninth field; every row keeps its eight.
    std::istringstream rows(resultCsv());
    std::string row;
    int anchored = 0;
    while (std::getline(rows, row)) {
        if (row.empty()) continue;
        const auto fields = std::count(row.begin(), row.end(), ',');
        if (row.find(",ANCHOR") != std::string::npos) {
            ++anchored;
            EXPECT_EQ(fields, 9) << row;
        } else {
            EXPECT_EQ(fields, 8) << row;
        }
    }
    EXPECT_GE(anchored, 1);
}

TEST_F(SearchExtras, switched_off_the_plain_search_runs_whether_by_qzv_ini_or_by_the_job) {
    SyntheticPairSpec spec = extrasPair();
    spec.slaveNoiseDb = -24.0;
    spec.silences = {{6.0, 9.5}};
    writePair(MakeSyntheticPair(spec));
    const std::vector<FrameIndex> checked = runSwitched(true, true);
    const std::vector<FrameIndex> plain = runSwitched(false, false);
    ASSERT_EQ(plain.size(), checked.size());
    EXPECT_GT(std::llabs(plain.front() - checked.front()), 800) << "the plain start stays near the lifted onset";
    EXPECT_EQ(resultCsv().find("ANCHOR"), std::string::npos);

    SettingsWriteInt("TandemEnv", "ROBUST_START", 1);
    SettingsWriteInt("TandemEnv", "ANCHOR_ENDS", 1);
    KSyncThread thread(job, progress,
                       JobRequest{.master = master, .slave = slave, .rangeE = 200, .robustStart = false, .anchorEnds = false,
                                  .coarseTrack = false});
    ASSERT_TRUE(thread.Execute().outputWritten);
    EXPECT_EQ(slavePoints(), plain) << "the job's own switches turn the checks off as qzv.ini does";
}

TEST_F(SearchExtras, start_where_the_onsets_agree_is_left_to_the_plain_search) {
    SyntheticPairSpec spec = extrasPair();
    spec.slaveGain = -0.6;
    writePair(MakeSyntheticPair(spec));
    EXPECT_EQ(runSwitched(true, false), runSwitched(false, false));
}

}  // namespace
}  // namespace tandem::test
