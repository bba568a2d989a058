#include <gtest/gtest.h>

#include "core/Error.h"
#include "sync/OutputCheck.h"
#include "sync/PatternSearch.h"
#include "sync/TrackData.h"

namespace tandem::test {
namespace {

const std::string kTrackHeader = "kind,master_s,slave_s,rate_ppm,evidence,verdict\n";

TEST(TrackData, track_rows_give_the_rate_the_jumps_the_marks_and_the_stretches_that_are_off) {
    const std::string track = kTrackHeader +
                              "track,0,1.0,-500,0.9,\n"
                              "track,10,11.0,-480,,\n"
                              "track,20,23.0,-470,0.8,jump\n"   // 2 s more slave than master: a pause
                              "track,30,32.0,-460,0.8,jump\n"   // 1 s less: material lost
                              "point,12.2,13.2,-490,,GUARD-2\n"
                              "point,12.4,13.4,-490,,HOLD\n"
                              "point,12.6,13.6,-490,,\n"
                              "check,5.0,,,0.1,in step\n"
                              "check,5.5,,,6.0,off\n"
                              "check,6.0,,,,quiet\n"
                              "check,6.5,,,0.2,in step\n"     // one window in step does not end it
                              "check,7.0,,,7.0,off\n"
                              "check,7.5,,,0.1,in step\n"
                              "check,8.0,,,0.1,in step\n"
                              "check,9.0,,,9.0,off\n"
                              "check,9.2,,,0.1,in step\n"
                              "check,9.4,,,0.1,in step\n"
                              "check,9.6,,,9.0,off\n";  // starts inside the last stretch: one stretch
    const TrackPicture p = MakeTrackPicture(track, "", {}, {}, 44100);
    ASSERT_EQ(p.ratePpm.size(), 4u);
    EXPECT_DOUBLE_EQ(p.ratePpm[1].value, -480);
    ASSERT_EQ(p.events.size(), 4u);
    EXPECT_EQ(p.events[0].kind, TrackEventKind::Pause);
    EXPECT_EQ(p.events[1].kind, TrackEventKind::Lost);
    EXPECT_EQ(p.events[2].kind, TrackEventKind::Correction);
    EXPECT_EQ(p.events[2].mark, "GUARD-2");
    EXPECT_EQ(p.events[3].kind, TrackEventKind::Held);
    ASSERT_EQ(p.off.size(), 2u);
    EXPECT_DOUBLE_EQ(p.off[0].fromS, 5.5);
    EXPECT_DOUBLE_EQ(p.off[0].toS, 8.0);
    EXPECT_DOUBLE_EQ(p.off[1].fromS, 9.0);
    EXPECT_DOUBLE_EQ(p.off[1].toS, 10.6);
    EXPECT_EQ(p.lagFrames.size(), 10u);
    EXPECT_DOUBLE_EQ(p.lengthS, 30.0);
}

TEST(TrackData, without_a_track_the_rate_comes_from_the_points_and_the_lag_from_the_check) {
    AlignmentCheck check;
    check.sampleRate = 1000;
    check.windows = {{0, CheckState::Measured, 0.5, 0.9},
                     {500, CheckState::Measured, -3.5, 0.9},
                     {1000, CheckState::Quiet, 0, 0},
                     {1500, CheckState::Unmatched, 0, 0.1}};
    // At 10 kHz, 0.2 s segments with the slave 1000 ppm long, then a 0.5 s pause of the slave.
    std::vector<FrameIndex> m, s;
    for (FrameIndex i = 0; i <= 12; ++i) {
        m.push_back(2000 * i);
        s.push_back(2002 * i);
    }
    m.push_back(26000);
    s.push_back(s.back() + 2002 + 5000);
    const TrackPicture p = MakeTrackPicture("", CheckCsvText(check), m, s, 10000);
    ASSERT_EQ(p.ratePpm.size(), 12u);
    for (const TrackPoint& r : p.ratePpm) EXPECT_NEAR(r.value, 1000.0, 1e-6);
    ASSERT_EQ(p.events.size(), 1u);
    EXPECT_EQ(p.events[0].kind, TrackEventKind::Pause);
    EXPECT_DOUBLE_EQ(p.events[0].masterS, 2.6);
    ASSERT_EQ(p.lagFrames.size(), 2u);
    EXPECT_DOUBLE_EQ(p.lagFrames[1].value, -3.5);
    ASSERT_EQ(p.off.size(), 1u);
    EXPECT_DOUBLE_EQ(p.off[0].fromS, 0.5);
    EXPECT_DOUBLE_EQ(p.off[0].toS, 1.5);
}

TEST(TrackData, a_text_that_is_not_the_format_is_refused_naming_the_line) {
    const char* bad[] = {
        "kind,master_s\ntrack,1\n",                            // wrong header
        "kind,master_s,slave_s,rate_ppm,evidence,verdict\ntrack,1,2,3,4\n",  // a field short
        "kind,master_s,slave_s,rate_ppm,evidence,verdict\ntrack,x,2,3,4,\n",  // not a number
        "kind,master_s,slave_s,rate_ppm,evidence,verdict\ntrack,nan,2,3,4,\n",
        "kind,master_s,slave_s,rate_ppm,evidence,verdict\nother,1,2,3,4,\n",
        "kind,master_s,slave_s,rate_ppm,evidence,verdict\ncheck,5,,,1,off\ncheck,1,,,1,off\n",  // back in time
    };
    for (const char* text : bad) {
        SCOPED_TRACE(text);
        EXPECT_THROW(ParseTrackCsv(text), SyncError);
    }
    EXPECT_THROW(ParseCheckCsv("start_s,state,lag_frames,corr\n5.0,measured,5,0.9\n0.5,measured,5,0.9\n"), SyncError);
    try {
        ParseCheckCsv("start_s,state,lag_frames,corr\n0.0,measured,0.1,0.9\n0.5,measured,,0.9\n");
        FAIL() << "a measured window without its lag";
    } catch (const SyncError& e) {
        EXPECT_NE(FailureText(e).find("3"), std::string::npos) << FailureText(e);
    }
}

}  // namespace
}  // namespace tandem::test
