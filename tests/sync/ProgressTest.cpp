#include <gtest/gtest.h>

#include <set>
#include <thread>

#include "sync/JobPresets.h"
#include "sync/JobRequest.h"
#include "sync/Progress.h"
#include "sync/SyncJob.h"

namespace tandem {
namespace {

TEST(Progress, captions_and_remaining_time) {
    EXPECT_EQ(ElapsedCaption(125), "2分5秒");
    EXPECT_EQ(RemainingCaption(90), "あと1分30秒");
    EXPECT_EQ(RemainingSeconds(200, 100, 60), 60);
    EXPECT_EQ(RemainingSeconds(200, 0, 60), 0);
    EXPECT_EQ(RemainingSeconds(7000000, 1, 1000), 6999999000LL) << "no 32-bit overflow on big bars";
}

TEST(Progress, the_gauge_warns_more_as_the_correction_grows_in_either_direction) {
    // The colours as the user reads them: green in step, yellow, red.
    const auto severity = [](std::uint32_t rgb) { return rgb == 0x008000u ? 0 : rgb == 0xFFFF00u ? 1 : rgb == 0xFF0000u ? 2 : -1; };
    std::set<int> shown;
    int last = 0;
    for (int v = 0; v <= 4410; ++v) {  // up to the widest length range of a level
        const int s = severity(ResultColour(v));
        ASSERT_NE(s, -1) << "a colour the gauge has no meaning for, at " << v;
        ASSERT_EQ(ResultColour(-v), ResultColour(v)) << "a correction of " << v << " is judged alike either way";
        ASSERT_GE(s, last) << "greener again at " << v;
        last = s;
        shown.insert(s);
    }
    EXPECT_EQ(severity(ResultColour(0)), 0) << "no correction is in step";
    EXPECT_EQ(shown, (std::set<int>{0, 1, 2})) << "every warning is reached";
}

TEST(Progress, message_lines_are_replaced_whole_across_threads) {
    SyncProgress p;
    const std::string a(200, 'a'), b(300, 'b');
    std::thread writer([&] {
        for (int i = 0; i < 20000; ++i) p.SetMessageLine(i % 2 ? a : b, 1);
    });
    for (int i = 0; i < 20000; ++i) {
        const std::string seen = p.MessageLine(1);
        ASSERT_TRUE(seen.empty() || seen == a || seen == b);
    }
    writer.join();
}

// What the window says of the levels: 少 and 普 search one division at a time, 多 retries
// suspicious segments and listens to 500-2000 Hz, BT spans six divisions and listens to
// 100-1000 Hz; a band set on the strip (100-12000 Hz) is the job's at every level, and
// the expert mode keeps the values typed. Checked on the request a job is started with.
TEST(Presets, each_level_starts_the_job_the_window_describes) {
    const ExpertValues typed{5, 1000, 300};
    struct Case {
        int level;
        const char* name;
        int divisions;  // looked at per search
        bool retries;
        int low, high;  // its own band
    } cases[] = {{kLevelFew, "少", 1, false, 0, 0},
                 {kLevelNormal, "普", 1, false, 0, 0},
                 {kLevelMany, "多", 1, true, 500, 2000},
                 {kLevelBT, "BT", 6, false, 100, 1000}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(ParseLevel(c.name), c.level);
        EXPECT_EQ(ParseLevel(std::to_string(c.level)), c.level);
        JobRequest request;
        ApplyLevel(request, ParametersForLevel(c.level, false, typed, 80, 20000));  // the strip at its ends
        EXPECT_EQ(request.mode % 10, c.divisions);
        EXPECT_EQ(request.mode / 10 > request.mode % 10, c.retries);
        EXPECT_EQ(request.eqLow, c.low) << "an edge under 100 Hz is none";
        EXPECT_EQ(request.eqHigh, c.high) << "an edge over 12000 Hz is none";
        EXPECT_NE(request.baseStep, typed.baseStep) << "outside the expert mode the level decides";
        EXPECT_NE(request.rangeE, typed.rangeE);
        ApplyLevel(request, ParametersForLevel(c.level, false, typed, 100, 12000));
        EXPECT_EQ(request.eqLow, 100);
        EXPECT_EQ(request.eqHigh, 12000);
        ApplyLevel(request, ParametersForLevel(c.level, true, typed, 300, 3000));
        EXPECT_EQ(request.baseStep, typed.baseStep);
        EXPECT_EQ(request.rangeS, typed.rangeS);
        EXPECT_EQ(request.rangeE, typed.rangeE);
        EXPECT_EQ(request.eqLow, 300);
        EXPECT_EQ(request.eqHigh, 3000);
    }
    EXPECT_EQ(ParseLevel("x"), -1);
}

}  // namespace
}  // namespace tandem
