#include <cstdio>
#include <string>
#include <vector>

#include "joblist/HistoryFixture.h"
#include "joblist/JobHistory.h"

namespace tandem {
namespace {

class JobHistoryTest : public test::HistoryFixture {
protected:
    static std::string stored(const std::string& key) { return SettingsReadText("TandemEnv", key, "<none>"); }
    static int storedItems() { return SettingsReadInt("TandemEnv", "Items", -1); }

    // Masters m000.wav .. m<n-1>.wav, each with slave s.wav.
    static void fill(JobHistory& h, int n) {
        for (int i = 0; i < n; ++i) {
            char name[32];
            std::snprintf(name, sizeof name, "/r/m%03d.wav", i);
            ASSERT_GE(h.AddJob(name, "/r/s.wav", 1, 0, 0), 0);
        }
    }
    static std::vector<std::string> masters(const JobHistory& h) {
        std::vector<std::string> out;
        for (int k = 0; k < h.UsedCount(); ++k) out.push_back(h.Entry(k).MasterFile);
        return out;
    }
};

TEST_F(JobHistoryTest, entries_sort_by_master_then_slave_then_master_lead_in_byte_by_byte) {
    JobHistory h;
    h.AddJob("/r/b.wav", "/r/x.wav", 1, 0, 0);
    h.AddJob("/r/a.wav", "/r/y.wav", 1, 0, 0);
    h.AddJob("/r/B.wav", "/r/x.wav", 1, 0, 0);
    h.AddJob("/r/a.wav", "/r/x.wav", 1, 30, 1);
    h.AddJob("/r/a.wav", "/r/x.wav", 1, 10, 2);
    h.AddJob("/r/a.wav.bak", "/r/x.wav", 1, 0, 0);
    h.AddJob("/r/é.wav", "/r/x.wav", 1, 0, 0);

    EXPECT_EQ(masters(h), (std::vector<std::string>{"/r/B.wav", "/r/a.wav", "/r/a.wav", "/r/a.wav", "/r/a.wav.bak",
                                                   "/r/b.wav", "/r/é.wav"}));
    EXPECT_EQ(h.Entry(1).SlaveFile, "/r/x.wav");
    EXPECT_EQ(h.Entry(1).MasterSkipCount, 10);
    EXPECT_EQ(h.Entry(2).MasterSkipCount, 30);
    EXPECT_EQ(h.Entry(3).SlaveFile, "/r/y.wav");
    EXPECT_FALSE(h.Entry(7).Used());
}

TEST_F(JobHistoryTest, same_pair_with_one_equal_lead_in_replaces_and_both_different_adds) {
    struct Case {
        int masterSkip, slaveSkip;
        int expectedCount;
    };
    for (const Case c : {Case{0, 5, 1}, Case{10, 0, 1}, Case{10, 5, 2}}) {
        SCOPED_TRACE(std::to_string(c.masterSkip) + "/" + std::to_string(c.slaveSkip));
        JobHistory h;
        h.AddJob("/r/A.wav", "/r/B.wav", 1, 0, 0);
        const int at = h.AddJob("/r/A.wav", "/r/B.wav", 3, c.masterSkip, c.slaveSkip);
        EXPECT_EQ(h.UsedCount(), c.expectedCount);
        EXPECT_EQ(at, c.expectedCount - 1) << "a new entry goes after the one with the smaller lead-in";
        EXPECT_EQ(h.Entry(at).MasterSkipCount, c.masterSkip);
        EXPECT_EQ(h.Entry(at).SlaveSkipCount, c.slaveSkip);
        EXPECT_EQ(h.Entry(at).DiffLevel, 3);
        EXPECT_EQ(storedItems(), c.expectedCount);
    }
}

TEST_F(JobHistoryTest, replaced_entry_keeps_its_position_when_its_lead_in_breaks_the_order) {
    JobHistory h;
    h.AddJob("/r/A.wav", "/r/B.wav", 1, 10, 1);
    h.AddJob("/r/A.wav", "/r/B.wav", 1, 20, 2);
    h.AddJob("/r/A.wav", "/r/B.wav", 1, 99, 1);  // same slave lead-in as position 0
    ASSERT_EQ(h.UsedCount(), 2);
    EXPECT_EQ(h.Entry(0).MasterSkipCount, 99);
    EXPECT_EQ(h.Entry(1).MasterSkipCount, 20);
}

TEST_F(JobHistoryTest, full_table_drops_the_first_entry_for_a_job_that_sorts_last) {
    JobHistory h;
    fill(h, 100);
    ASSERT_EQ(h.UsedCount(), 100);
    const int at = h.AddJob("/r/z.wav", "/r/s.wav", 1, 0, 0);
    EXPECT_EQ(at, 99);
    EXPECT_EQ(h.UsedCount(), 100);
    EXPECT_EQ(h.Entry(0).MasterFile, "/r/m001.wav");
    EXPECT_EQ(h.Entry(98).MasterFile, "/r/m099.wav");
    EXPECT_EQ(h.Entry(99).MasterFile, "/r/z.wav");
    EXPECT_EQ(stored("MASTER0"), "/r/m001.wav");
    EXPECT_EQ(stored("MASTER99"), "/r/z.wav");
    EXPECT_EQ(storedItems(), 100);
}

TEST_F(JobHistoryTest, full_table_drops_the_last_entry_for_a_job_that_sorts_between) {
    JobHistory h;
    fill(h, 100);
    const int at = h.AddJob("/r/m050a.wav", "/r/s.wav", 1, 0, 0);
    EXPECT_EQ(at, 51);
    EXPECT_EQ(h.UsedCount(), 100);
    EXPECT_EQ(h.Entry(0).MasterFile, "/r/m000.wav");
    EXPECT_EQ(h.Entry(50).MasterFile, "/r/m050.wav");
    EXPECT_EQ(h.Entry(52).MasterFile, "/r/m051.wav");
    EXPECT_EQ(h.Entry(99).MasterFile, "/r/m098.wav") << "m099 fell off the end";
    EXPECT_EQ(h.FindJobByMaster("/r/m099.wav"), -1);
}

TEST_F(JobHistoryTest, job_sorting_before_the_last_of_a_full_table_overwrites_position_99) {
    JobHistory h;
    fill(h, 100);
    const int at = h.AddJob("/r/m098z.wav", "/r/s.wav", 1, 0, 0);
    EXPECT_EQ(at, 99);
    EXPECT_EQ(h.Entry(98).MasterFile, "/r/m098.wav");
    EXPECT_EQ(h.Entry(99).MasterFile, "/r/m098z.wav");
}

TEST_F(JobHistoryTest, names_that_cannot_be_stored_are_refused_and_change_nothing) {
    JobHistory h;
    h.AddJob("/r/a.wav", "/r/b.wav", 1, 0, 0);
    for (const auto& [master, slave] : std::vector<std::pair<std::string, std::string>>{
             {"", "/r/b.wav"}, {"/r/a\n.wav", "/r/b.wav"}, {"/r/a.wav", "/r/b\r.wav"},
             {std::string("/r/\0.wav", 8), "/r/b.wav"}}) {
        EXPECT_THROW(h.AddJob(master, slave, 1, 5, 5), EngineError);
        EXPECT_EQ(h.UsedCount(), 1);
        EXPECT_EQ(h.Entry(0).MasterFile, "/r/a.wav");
        EXPECT_EQ(storedItems(), 1);
    }
}

TEST_F(JobHistoryTest, save_writes_every_used_position_and_items) {
    JobHistory h;
    h.AddJob("/r/b.wav", "/r/y.wav", 2, 12, 3);
    h.AddJob("/r/a.wav", "/r/x.wav", 0, 4, 0);
    EXPECT_EQ(storedItems(), 2);
    EXPECT_EQ(stored("MASTER0"), "/r/a.wav");
    EXPECT_EQ(stored("SLAVE0"), "/r/x.wav");
    EXPECT_EQ(stored("MODE0"), "0");
    EXPECT_EQ(stored("SKIPMASTER0"), "4");
    EXPECT_EQ(stored("MASTER1"), "/r/b.wav");
    EXPECT_EQ(stored("MODE1"), "2");
    EXPECT_EQ(stored("SKIPMASTER1"), "12");
    EXPECT_EQ(stored("SKIPSLAVE1"), "3");

    ASSERT_TRUE(SettingsFlush());
    SettingsReset();
    SettingsOpen(dir.file("qzv.ini"));
    JobHistory loaded;
    loaded.LoadJobs();
    EXPECT_EQ(loaded.ListLines(), h.ListLines());
}

TEST_F(JobHistoryTest, load_sorts_merges_and_keeps_odd_levels) {
    const std::vector<std::vector<std::string>> rows{
        {"/r/c.wav", "/r/s.wav", "7", "0", "0"},  // level outside 0..3 stays
        {"/r/a.wav", "/r/s.wav", "1", "0", "0"},
        {"/r/a.wav", "/r/s.wav", "2", "0", "9"},  // same pair and master lead-in: merged
        {"", "/r/s.wav", "1", "5", "5"},          // no master: dropped
    };
    for (std::size_t k = 0; k < rows.size(); ++k) {
        const std::string i = std::to_string(k);
        SettingsWriteText("TandemEnv", "MASTER" + i, rows[k][0]);
        SettingsWriteText("TandemEnv", "SLAVE" + i, rows[k][1]);
        SettingsWriteText("TandemEnv", "MODE" + i, rows[k][2]);
        SettingsWriteText("TandemEnv", "SKIPMASTER" + i, rows[k][3]);
        SettingsWriteText("TandemEnv", "SKIPSLAVE" + i, rows[k][4]);
    }
    SettingsWriteInt("TandemEnv", "Items", 4);
    JobHistory h;
    h.LoadJobs();
    ASSERT_EQ(h.UsedCount(), 2);
    EXPECT_EQ(h.Entry(0).MasterFile, "/r/a.wav");
    EXPECT_EQ(h.Entry(0).DiffLevel, 2);
    EXPECT_EQ(h.Entry(0).SlaveSkipCount, 9);
    EXPECT_EQ(h.Entry(1).DiffLevel, 7);
    EXPECT_EQ(JobListLine(h.Entry(1)), "0-0 BT c.wav s.wav");
    EXPECT_EQ(storedItems(), 2) << "loading rewrites the stored form";
    EXPECT_EQ(stored("MASTER1"), "/r/c.wav");
}

TEST_F(JobHistoryTest, load_of_more_than_100_stored_entries_keeps_the_last_100_in_order) {
    for (int k = 0; k < 103; ++k) {
        char name[32];
        std::snprintf(name, sizeof name, "/r/m%03d.wav", k);
        SettingsWriteText("TandemEnv", "MASTER" + std::to_string(k), name);
        SettingsWriteText("TandemEnv", "SLAVE" + std::to_string(k), "/r/s.wav");
    }
    SettingsWriteInt("TandemEnv", "Items", 103);
    JobHistory h;
    h.LoadJobs();
    EXPECT_EQ(h.UsedCount(), 100);
    EXPECT_EQ(h.Entry(0).MasterFile, "/r/m003.wav");
    EXPECT_EQ(h.Entry(0).DiffLevel, 1) << "a missing MODE reads as 普";
    EXPECT_EQ(h.Entry(99).MasterFile, "/r/m102.wav");
    EXPECT_EQ(storedItems(), 100);
}

TEST_F(JobHistoryTest, absurd_stored_item_count_loads_what_is_there) {
    SettingsWriteText("TandemEnv", "MASTER0", "/r/a.wav");
    SettingsWriteText("TandemEnv", "SLAVE0", "/r/b.wav");
    SettingsWriteInt("TandemEnv", "Items", 2000000000);
    JobHistory h;
    h.LoadJobs();
    EXPECT_EQ(h.UsedCount(), 1);
    EXPECT_EQ(storedItems(), 1);
}

TEST_F(JobHistoryTest, remove_moves_later_entries_down_and_stores_the_shorter_list) {
    JobHistory h;
    fill(h, 4);
    h.RemoveJobAt(1);
    EXPECT_EQ(masters(h), (std::vector<std::string>{"/r/m000.wav", "/r/m002.wav", "/r/m003.wav"}));
    EXPECT_EQ(storedItems(), 3);
    EXPECT_EQ(stored("MASTER1"), "/r/m002.wav");
    h.RemoveJobAt(-1);
    h.RemoveJobAt(100);
    EXPECT_EQ(h.UsedCount(), 3);

    JobHistory full;
    fill(full, 100);
    full.RemoveJobAt(0);
    EXPECT_EQ(full.UsedCount(), 99);
    EXPECT_FALSE(full.Entry(99).Used());
}

TEST_F(JobHistoryTest, delete_removes_the_selected_entries_and_resets_count_of_their_files) {
    JobHistory h;
    for (int i = 0; i < 7; ++i) {
        const std::string n = std::to_string(i);
        h.AddJob("/r/m" + n + ".wav", "/r/s" + n + ".wav", 1, 0, 0);
        SettingsWriteInt("/r/m" + n + ".wav", "Count", 40 + i);
        SettingsWriteInt("/r/s" + n + ".wav", "Count", 50 + i);
    }
    h.DeleteJobs({5, 2});
    EXPECT_EQ(masters(h), (std::vector<std::string>{"/r/m0.wav", "/r/m1.wav", "/r/m3.wav", "/r/m4.wav", "/r/m6.wav"}));
    for (const int i : {2, 5}) {
        const std::string n = std::to_string(i);
        EXPECT_EQ(SettingsReadInt("/r/m" + n + ".wav", "Count", -1), 0);
        EXPECT_EQ(SettingsReadInt("/r/s" + n + ".wav", "Count", -1), 0);
    }
    EXPECT_EQ(SettingsReadInt("/r/m3.wav", "Count", -1), 43) << "other files keep their points";
    EXPECT_EQ(SettingsReadInt("/r/s6.wav", "Count", -1), 56);
    EXPECT_EQ(storedItems(), 5);
    EXPECT_EQ(stored("MASTER4"), "/r/m6.wav");
}

TEST_F(JobHistoryTest, write_back_keeps_entries_another_history_stored_and_delete_spares_files_still_used) {
    JobHistory window, other;
    window.LoadJobs();
    window.AddJob("/r/a.wav", "/r/s1.wav", 1, 0, 0);
    other.LoadJobs();  // another process: it sees the window's entry and adds its own
    other.AddJob("/r/a.wav", "/r/s2.wav", 0, 0, 0);
    window.AddJob("/r/b.wav", "/r/s3.wav", 1, 0, 0);
    EXPECT_EQ(storedItems(), 3) << "the window's write-back kept the other's entry";
    EXPECT_EQ(masters(window), (std::vector<std::string>{"/r/a.wav", "/r/a.wav", "/r/b.wav"}));

    for (const char* file : {"/r/a.wav", "/r/s1.wav", "/r/s2.wav"}) SettingsWriteInt(file, "Count", 9);
    window.DeleteJobs({0});  // a.wav / s1.wav; a.wav is still used by the other entry
    EXPECT_EQ(SettingsReadInt("/r/a.wav", "Count", -1), 9);
    EXPECT_EQ(SettingsReadInt("/r/s1.wav", "Count", -1), 0);
    other.RemoveJobAt(1);  // its own a.wav / s2.wav; b.wav, which it never saw, stays
    EXPECT_EQ(storedItems(), 1);
    EXPECT_EQ(stored("SLAVE0"), "/r/s3.wav");
}

TEST_F(JobHistoryTest, stop_point_is_the_lead_in_of_the_next_part_of_the_same_recording) {
    JobHistory h;
    h.AddJob("/r/long.wav", "/r/long2.wav", 1, 6000, 1);
    h.AddJob("/r/long.wav", "/r/long2.wav", 1, 0, 2);
    h.AddJob("/r/long.wav", "/r/long2.wav", 1, 3000, 3);
    h.AddJob("/r/long.wav", "/r/other.wav", 1, 9000, 0);
    EXPECT_EQ(h.FindStopPoint("/r/long.wav", "/r/long2.wav", 0), 3000);
    EXPECT_EQ(h.FindStopPoint("/r/long.wav", "/r/long2.wav", 3000), 6000);
    EXPECT_EQ(h.FindStopPoint("/r/long.wav", "/r/long2.wav", 6000), 0) << "the next entry has another slave";
    EXPECT_EQ(h.FindStopPoint("/r/long.wav", "/r/long2.wav", 100), 0) << "no entry with that lead-in";
    EXPECT_EQ(h.FindStopPoint("/r/long.wav", "/r/other.wav", 9000), 0);
}

TEST_F(JobHistoryTest, find_job_by_master_is_exact) {
    JobHistory h;
    h.AddJob("/r/Take.wav", "/r/b.wav", 2, 7, 8);
    h.AddJob("/r/take.wav", "/r/c.wav", 1, 0, 0);
    EXPECT_EQ(h.FindJobByMaster("/r/take.wav"), 1);
    EXPECT_EQ(h.FindJobByMaster("/r/Take.wav"), 0);
    EXPECT_EQ(h.FindJobByMaster("/r/take"), -1);
    EXPECT_EQ(h.FindJobByMaster(""), -1) << "empty positions are not a match";
}

TEST_F(JobHistoryTest, list_line_shows_lead_ins_level_and_file_names) {
    JobEntry e;
    e.MasterFile = "/home/u/rec/take1.wav";
    e.SlaveFile = "/home/u/other/take1b.wav";
    e.MasterSkipCount = 12;
    e.SlaveSkipCount = 0;
    e.DiffLevel = 1;
    EXPECT_EQ(JobListLine(e), "12-0 普 take1.wav take1b.wav");
    e.DiffLevel = 0;
    e.MasterSkipCount = 0;
    e.SlaveSkipCount = 3000;
    EXPECT_EQ(JobListLine(e), "0-3000 少 take1.wav take1b.wav");
    e.DiffLevel = 2;
    e.SlaveFile = "plain.wav";
    EXPECT_EQ(JobListLine(e), "0-3000 多 take1.wav plain.wav");
    e.DiffLevel = -1;
    EXPECT_EQ(JobListLine(e), "0-3000 BT take1.wav plain.wav");
}

TEST_F(JobHistoryTest, closing_buttons_mark_exactly_the_selection_and_return_their_result) {
    JobHistory h;
    fill(h, 6);
    EXPECT_EQ(h.TakeSelection({}, kTagSelect), kJobListCancel);
    EXPECT_EQ(h.NextMarkedJob(0), -1);

    EXPECT_EQ(h.TakeSelection({4, 1, 2}, kTagRetry), 3);
    std::vector<int> marked;
    for (int k = 0; k < kJobCapacity; ++k) {
        if (h.Entry(k).Marked) marked.push_back(k);
    }
    EXPECT_EQ(marked, (std::vector<int>{1, 2, 4}));

    EXPECT_EQ(h.TakeSelection({3, 5}, kTagSelect), kJobListSelect);
    EXPECT_EQ(h.NextMarkedJob(0), 3);
    EXPECT_EQ(h.NextMarkedJob(4), 5);
    EXPECT_FALSE(h.Entry(1).Marked) << "the earlier marks are gone";

    EXPECT_EQ(h.TakeSelection({0}, kTagRemix), kJobListRemix);
    EXPECT_EQ(h.TakeSelection({6, 50}, kTagRetry), kJobListCancel) << "positions not shown cannot be selected";
}

TEST_F(JobHistoryTest, marks_stay_with_positions_and_position_99_is_found) {
    JobHistory h;
    fill(h, 100);
    EXPECT_EQ(h.TakeSelection({99}, kTagRetry), 1);
    EXPECT_EQ(h.NextMarkedJob(0), 99);
    EXPECT_EQ(h.NextMarkedJob(99), 99);
    EXPECT_EQ(h.NextMarkedJob(100), -1);

    h.AddJob("/r/m000a.wav", "/r/s.wav", 1, 0, 0);  // moves entries up, not the mark
    EXPECT_TRUE(h.Entry(99).Marked);
    EXPECT_EQ(h.Entry(99).MasterFile, "/r/m098.wav");
}

}  // namespace
}  // namespace tandem
