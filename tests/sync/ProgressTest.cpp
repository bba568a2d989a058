#include <gtest/gtest.h>

#include <thread>

#include "sync/JobPresets.h"
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

TEST(Progress, gauge_colours) {
    EXPECT_EQ(ResultColour(0), 0x008000u);
    EXPECT_EQ(ResultColour(-99), 0x008000u);
    EXPECT_EQ(ResultColour(100), 0xFFFF00u);
    EXPECT_EQ(ResultColour(-199), 0xFFFF00u);
    EXPECT_EQ(ResultColour(200), 0xFF0000u);
    EXPECT_EQ(ResultColour(-250), 0xFF0000u);
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

TEST(Presets, levels_set_ranges_band_and_mode) {
    const ExpertValues expert{5, 1000, 300};
    JobParameters few = ParametersForLevel(kLevelFew, false, expert, 80, 20000);
    EXPECT_EQ(few.expert.baseStep, 1);
    EXPECT_EQ(few.expert.rangeS, 1000);
    EXPECT_EQ(few.expert.rangeE, 100);
    EXPECT_EQ(few.eqLow, 0) << "below 100 Hz counts as no edge";
    EXPECT_EQ(few.eqHigh, 0) << "above 12000 Hz counts as no edge";
    EXPECT_EQ(few.mode, kModeSingle);

    JobParameters many = ParametersForLevel(kLevelMany, false, expert, 80, 20000);
    EXPECT_EQ(many.expert.baseStep, 3);
    EXPECT_EQ(many.expert.rangeS, 4410);
    EXPECT_EQ(many.expert.rangeE, 200);
    EXPECT_EQ(many.eqLow, 500);
    EXPECT_EQ(many.eqHigh, 2000);
    EXPECT_EQ(many.mode, kModeRetry);
    EXPECT_EQ(ParametersForLevel(kLevelMany, false, expert, 300, 3000).eqLow, 300);

    JobParameters bt = ParametersForLevel(kLevelBT, false, expert, 100, 12000);
    EXPECT_EQ(bt.expert.rangeE, 150);
    EXPECT_EQ(bt.eqLow, 100) << "exactly 100 Hz still counts";
    EXPECT_EQ(bt.eqHigh, 12000);
    EXPECT_EQ(bt.channelFlag, 1);
    EXPECT_EQ(bt.mode, kModeLookAhead);

    JobParameters debug = ParametersForLevel(kLevelNormal, true, expert, 0, 0);
    EXPECT_EQ(debug.expert.baseStep, 5) << "debug mode keeps the expert values";
    EXPECT_EQ(debug.expert.rangeE, 300);
    EXPECT_EQ(ParseLevel("普"), kLevelNormal);
    EXPECT_EQ(ParseLevel("BT"), kLevelBT);
    EXPECT_EQ(ParseLevel("x"), -1);
}

}  // namespace
}  // namespace tandem
