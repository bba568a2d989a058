#include "common/ScratchSettings.h"
#include "sync/StoredPoints.h"

namespace tandem::test {
namespace {

class StoredPointsTest : public ScratchSettings {};

TEST_F(StoredPointsTest, points_serve_only_the_pair_and_division_they_were_found_for) {
    const StoredPoints m("/r/m.wav"), s("/r/s.wav");
    const PairRecord job{"/r/m.wav", "/r/s.wav", 2, 11, 1, -1};
    struct Case {
        const char* what;
        PairRecord masterRecord, slaveRecord;  // master "" = no record (written before records)
        bool foreign;
    };
    const Case cases[] = {
        {"sections without a record", {}, {}, false},
        {"this pair and division", job, job, false},
        {"an unknown level matches any", {"/r/m.wav", "/r/s.wav", 2, 11, -1, -1}, job, false},
        {"the master's points of another slave", {"/r/m.wav", "/r/s2.wav", 2, 11, 1, -1}, job, true},
        {"the slave's points as another master's", job, {"/r/m2.wav", "/r/s.wav", 2, 11, 1, -1}, true},
        {"roles swapped", {"/r/s.wav", "/r/m.wav", 2, 11, 1, -1}, {}, true},
        {"another BaseStep", {"/r/m.wav", "/r/s.wav", 1, 11, 1, -1}, {}, true},
        {"another level", job, {"/r/m.wav", "/r/s.wav", 2, 11, 0, -1}, true},
        {"a list whose point 0 moved", {"/r/m.wav", "/r/s.wav", 2, 11, 1, 999}, {}, true},
        {"point 0 as recorded", {"/r/m.wav", "/r/s.wav", 2, 11, 1, 4410}, {}, false},
    };
    for (const Case& c : cases) {
        SettingsReset();
        SettingsOpen(dir.file(std::string(c.what) + ".ini"));
        m.set(0, 4410);
        m.setCount(1);
        if (!c.masterRecord.master.empty()) m.setRecord(c.masterRecord);
        if (!c.slaveRecord.master.empty()) s.setRecord(c.slaveRecord);
        const std::string why = ForeignPoints(m, s, job);
        EXPECT_EQ(!why.empty(), c.foreign) << c.what << ": " << why;
    }
    // Two records of the pair from different divisions cannot be remixed together.
    m.setRecord({"/r/m.wav", "/r/s.wav", 2, 11, 1, -1});
    s.setRecord({"/r/m.wav", "/r/s.wav", 1, 11, 0, -1});
    EXPECT_FALSE(ForeignPoints(m, s, PairRecord{"/r/m.wav", "/r/s.wav"}).empty());
}

TEST_F(StoredPointsTest, a_claim_drops_foreign_points_and_records_the_new_pair) {
    const StoredPoints m("/r/m.wav"), s("/r/s.wav");
    for (int i = 0; i < 5; ++i) {
        m.set(i, i * 8820);
        s.set(i, i * 8820 + 7);
    }
    m.setCount(5);
    s.setCount(4);
    m.setRecord({"/r/m.wav", "/r/other.wav", 2, 11, 1, 0});
    const PairRecord job{"/r/m.wav", "/r/s.wav", 2, 11, 1, -1};
    // The user is told in plain words; which pair and division the points came from goes to the log.
    EXPECT_EQ(ClaimPoints(m, s, job), MessageText(Msg::PointsNotUsed));
    EXPECT_EQ(m.count(), 0);
    EXPECT_EQ(s.count(), 0);
    EXPECT_EQ(s.record().master, "/r/m.wav");
    EXPECT_EQ(m.record().slave, "/r/s.wav");

    m.setCount(5);
    s.setCount(4);
    EXPECT_EQ(ClaimPoints(m, s, job), "") << "the same pair again keeps its points";
    EXPECT_EQ(LastStoredPair(m, s).stored, 4);
    EXPECT_EQ(LastStoredPair(m, s).slave, 3 * 8820 + 7);
}

}  // namespace
}  // namespace tandem::test
