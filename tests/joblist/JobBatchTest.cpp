#include <string>

#include "joblist/HistoryFixture.h"
#include "joblist/JobBatch.h"

namespace tandem {
namespace {

class JobBatchTest : public test::HistoryFixture {
protected:
    void SetUp() override {
        HistoryFixture::SetUp();
        for (int i = 0; i < 6; ++i) history.AddJob("/r/m" + std::to_string(i) + ".wav", "/r/s.wav", 1, i, 0);
    }
    JobHistory history;
    JobBatch batch;
};

TEST_F(JobBatchTest, retry_runs_the_marked_entries_in_order_and_ends_with_cursor_0) {
    const int result = history.TakeSelection({1, 4}, kTagRetry);
    const HistoryStep step = batch.AfterJobList(history, result);
    EXPECT_TRUE(step.leaveDebugMode);
    EXPECT_TRUE(step.start);
    EXPECT_FALSE(step.remix);
    EXPECT_EQ(step.load, 1);
    EXPECT_EQ(batch.BatchCursor, 2);

    EXPECT_EQ(batch.Continue(history), 4);
    EXPECT_EQ(batch.BatchCursor, 5);
    EXPECT_EQ(batch.Continue(history), -1);
    EXPECT_EQ(batch.BatchCursor, 0);
    EXPECT_EQ(batch.Continue(history), -1) << "no batch, no continuation";
}

TEST_F(JobBatchTest, select_loads_only_the_first_selected_entry_and_starts_nothing) {
    const int result = history.TakeSelection({3, 5, 2}, kTagSelect);
    ASSERT_EQ(result, kJobListSelect);
    const HistoryStep step = batch.AfterJobList(history, result);
    EXPECT_EQ(step.load, 2);
    EXPECT_TRUE(step.leaveDebugMode);
    EXPECT_FALSE(step.start);
    EXPECT_EQ(batch.BatchCursor, 0);
}

TEST_F(JobBatchTest, cancel_does_nothing_and_remix_takes_the_first_marked_entry_without_a_batch) {
    const HistoryStep cancel = batch.AfterJobList(history, kJobListCancel);
    EXPECT_EQ(cancel.load, -1);
    EXPECT_FALSE(cancel.start || cancel.remix || cancel.leaveDebugMode);

    batch.BatchCursor = 3;  // a batch halted earlier
    const int result = history.TakeSelection({4, 2}, kTagRemix);
    const HistoryStep remix = batch.AfterJobList(history, result);
    EXPECT_TRUE(remix.remix);
    EXPECT_FALSE(remix.start);
    EXPECT_EQ(remix.load, -1);
    EXPECT_EQ(batch.RemixEntry(history), 2);
    EXPECT_EQ(batch.BatchCursor, 0);
}

TEST_F(JobBatchTest, batch_jobs_stop_at_the_next_part_and_hand_started_jobs_keep_their_stop_point) {
    history.AddJob("/r/long.wav", "/r/long2.wav", 1, 0, 0);
    history.AddJob("/r/long.wav", "/r/long2.wav", 1, 3000, 30);
    EXPECT_EQ(batch.StopPoint(history, "/r/long.wav", "/r/long2.wav", 0, 77), 77) << "outside a batch";
    batch.BatchCursor = 1;
    EXPECT_EQ(batch.StopPoint(history, "/r/long.wav", "/r/long2.wav", 0, 77), 3000);
    EXPECT_EQ(batch.StopPoint(history, "/r/long.wav", "/r/long2.wav", 3000, 77), 0);
}

}  // namespace
}  // namespace tandem
