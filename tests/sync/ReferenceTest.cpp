#include "common/ReferenceSearch.h"
#include "sync/SyncFixture.h"

namespace tandem::test {
namespace {

class AgainstReference : public SyncFixture {
protected:
    void compare(const SyntheticPair& pair, FrameIndex J, FrameIndex K, FrameIndex N, FrameIndex P, int rangeS,
                 int rangeE) {
        KWavefile slaveFile(dir.file("s.wav"), StereoWave(pair.slave), kPlaceBoth, false);
        const std::vector<Frame> segment(pair.master.begin() + J, pair.master.begin() + K);
        SegmentSearch q;
        q.rangeS = rangeS;
        q.rangeE = rangeE;
        q.J = J;
        q.K = K;
        q.N = N;
        q.P = P;
        q.A = rangeS > 0 ? 1 : 2;
        q.F = 1;
        SearchResult fast, plain;
        SearchSegment(q, slaveFile, segment, progress, fast);
        ReferenceSearchSegment(q, slaveFile, segment, plain);
        EXPECT_EQ(fast.bestO, plain.bestO);
        EXPECT_EQ(fast.bestG, plain.bestG);
        EXPECT_EQ(fast.worstO, plain.worstO);
        EXPECT_EQ(fast.worstG, plain.worstG);
        EXPECT_NEAR(fast.best, plain.best, 1e-9 * std::fabs(plain.best));
        EXPECT_NEAR(fast.worst, plain.worst, 1e-9 * std::fabs(plain.worst));
    }
};

TEST_F(AgainstReference, optimised_search_finds_what_the_plain_one_finds) {
    SyntheticPairSpec spec;
    spec.seconds = 6.0;
    spec.ppm = 3000.0;
    const SyntheticPair pair = MakeSyntheticPair(spec);
    const auto slaveAt = [&](FrameIndex m) { return static_cast<FrameIndex>(pair.SlavePositionOf(static_cast<double>(m))); };

    // Start point: offsets coarse to fine around an estimate 37 frames early.
    compare(pair, 44100, 44100 + 8820, slaveAt(44100) - 37, slaveAt(44100) - 37 + 8820, 800, 40);
    // A segment after the start: lengths only, the slave 0.3 % longer than predicted.
    compare(pair, 88200, 88200 + 8820, slaveAt(88200), slaveAt(88200) + 8820, 0, 200);
    // A small length range that the winner leaves: the range extension.
    compare(pair, 132300, 132300 + 13230, slaveAt(132300), slaveAt(132300) + 13230, 0, 12);
}

}  // namespace
}  // namespace tandem::test
