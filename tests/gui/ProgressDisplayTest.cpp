#include <gtest/gtest.h>

#include "app/ProgressDisplay.h"
#include "sync/Progress.h"

namespace tandem {
namespace {

TEST(ProgressDisplay, finished_stage_shows_the_time_it_took) {
    const StageTick tick = TickStage({100, 37, kStageFinished}, 1000, 1000 + 125000);
    EXPECT_TRUE(tick.finish);
    ASSERT_TRUE(tick.caption);
    EXPECT_EQ(*tick.caption, "2分5秒");
}

TEST(ProgressDisplay, running_stage_shows_the_time_left) {
    StageTick tick = TickStage({200, 100, kStageRunning}, 0, 60000);
    EXPECT_FALSE(tick.finish);
    ASSERT_TRUE(tick.caption);
    EXPECT_EQ(*tick.caption, "あと1分0秒");
    // A quarter done after 30 s: 90 s left.
    tick = TickStage({400, 100, kStageRunning}, 5000, 35999);
    ASSERT_TRUE(tick.caption);
    EXPECT_EQ(*tick.caption, "あと1分30秒");
}

TEST(ProgressDisplay, caption_keeps_its_text_when_nothing_can_be_estimated) {
    EXPECT_FALSE(TickStage({100, 0, kStageRunning}, 0, 50000).caption);     // not begun
    EXPECT_FALSE(TickStage({100, 100, kStageRunning}, 0, 50000).caption);   // nothing left
    EXPECT_FALSE(TickStage({100, 99, kStageRunning}, 0, 900).caption);      // under a second
}

TEST(ProgressDisplay, current_stage_is_the_first_not_yet_shown) {
    EXPECT_EQ(CurrentStage(kStageRunning, kStageRunning), 0);
    EXPECT_EQ(CurrentStage(kStageFinished, kStageRunning), 0);
    EXPECT_EQ(CurrentStage(kStageShown, kStageRunning), 1);
    EXPECT_EQ(CurrentStage(kStageShown, kStageFinished), 1);
    EXPECT_EQ(CurrentStage(kStageShown, kStageShown), 2);
}

TEST(ProgressDisplay, end_of_job_line_tells_a_stop_and_a_missing_file) {
    struct Case {
        const char* what;
        bool stopped, byUser, written;
        const char* verdict;
        const char* line;  // nullptr: the worker's last text (the verdict) stays
    };
    const Case cases[] = {
        {"finished", false, false, true, "同期確認: 99.0 %", nullptr},
        {"stop point reached", true, false, true, "同期確認: 99.0 %", nullptr},
        {"stopped", true, true, true, "同期確認: 99.0 %", "停止しました（分割点 7 個）。同期確認: 99.0 %"},
        {"stopped, no verdict", true, true, true, "", "停止しました（分割点 7 個）。/p/【m】-【s】.wav を作成しました"},
        {"stopped before two points", true, true, false, "", "停止しました（分割点 7 個）。同期ファイルは作成されていません"},
        {"failed", false, false, false, "", "同期ファイルは作成されていません"},
    };
    for (const Case& c : cases) {
        JobOutcome outcome;
        outcome.stopped = c.stopped;
        outcome.stoppedByUser = c.byUser;
        outcome.outputWritten = c.written;
        outcome.outputFile = c.written ? "/p/【m】-【s】.wav" : "";
        outcome.checkSummary = c.verdict;
        outcome.pointCount = 7;
        const std::optional<QString> line = EndOfJobLine(outcome);
        if (c.line) {
            ASSERT_TRUE(line) << c.what;
            EXPECT_EQ(line->toStdString(), c.line) << c.what;
        } else {
            EXPECT_FALSE(line) << c.what;
        }
    }
}

TEST(ProgressDisplay, gauge_is_green_inside_100_yellow_inside_200_red_beyond) {
    const QColor green(0, 128, 0), yellow(255, 255, 0), red(255, 0, 0);
    EXPECT_EQ(GaugeColour(0), green);
    EXPECT_EQ(GaugeColour(99), green);
    EXPECT_EQ(GaugeColour(-99), green);
    EXPECT_EQ(GaugeColour(100), yellow);
    EXPECT_EQ(GaugeColour(-100), yellow);
    EXPECT_EQ(GaugeColour(199), yellow);
    EXPECT_EQ(GaugeColour(200), red);
    EXPECT_EQ(GaugeColour(-200), red);
}

}  // namespace
}  // namespace tandem
