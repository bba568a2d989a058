#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "joblist/HistoryFixture.h"
#include "core/Error.h"
#include "joblist/JobRegistry.h"

namespace tandem {
namespace {

using JobRegistryTest = test::HistoryFixture;

std::vector<std::string> specialList() {
    std::vector<std::string> items;
    const int n = SettingsReadInt("SpecialList", "Items", 0);
    for (int i = 0; i < n; ++i) items.push_back(SettingsReadText("SpecialList", "Item" + std::to_string(i), ""));
    return items;
}

TEST_F(JobRegistryTest, registering_stores_the_entry_and_lists_each_file_once) {
    const std::string m = dir.file("m.wav"), s = dir.file("s.wav"), s2 = dir.file("s2.wav");
    RegisterJob(m, s, 1, 12, 0);
    RegisterJob(m, s2, 3, 0, 4);
    RegisterJob(m, s, 1, 12, 7);  // same pair and master lead-in: replaces
    EXPECT_EQ(HistoryLines(), (std::vector<std::string>{"12-7 普 m.wav s.wav", "0-4 BT m.wav s2.wav"}));
    EXPECT_EQ(specialList(), (std::vector<std::string>{m, s, s2}));
}

TEST_F(JobRegistryTest, a_name_that_cannot_be_stored_stores_nothing) {
    EXPECT_THROW(RegisterJob(dir.file("m.wav"), dir.file("bad\nname.wav"), 1, 0, 0), EngineError);
    EXPECT_TRUE(HistoryLines().empty());
    EXPECT_TRUE(specialList().empty());
}

TEST_F(JobRegistryTest, special_list_with_a_broken_count_starts_over_at_item0) {
    SettingsWriteInt("SpecialList", "Items", -4);
    CheckSpecialList(dir.file("a.wav"));
    EXPECT_EQ(specialList(), (std::vector<std::string>{dir.file("a.wav")}));
}

TEST_F(JobRegistryTest, reading_the_history_lines_leaves_the_stored_form_alone) {
    SettingsWriteText("TandemEnv", "MASTER0", "/r/b.wav");
    SettingsWriteText("TandemEnv", "MASTER1", "/r/a.wav");
    SettingsWriteInt("TandemEnv", "Items", 2);
    EXPECT_EQ(HistoryLines(), (std::vector<std::string>{"0-0 普 a.wav ", "0-0 普 b.wav "}));
    EXPECT_EQ(SettingsReadText("TandemEnv", "MASTER0", ""), "/r/b.wav");
}

TEST_F(JobRegistryTest, jobs_registered_by_two_processes_at_once_are_all_kept) {
    constexpr int kEach = 12;
    const std::string ini = dir.file("qzv.ini");
    auto registerJobs = [&](const std::string& prefix) {
        for (int i = 0; i < kEach; ++i) {
            RegisterJob(dir.file(prefix + std::to_string(i) + ".wav"), dir.file("s.wav"), 1, 0, 0);
        }
        return SettingsFlush();
    };
    SettingsReset();  // no flusher thread across the fork
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        SettingsOpen(ini);
        const bool ok = registerJobs("child");
        SettingsReset();
        ::_exit(ok ? 0 : 1);
    }
    SettingsOpen(ini);
    EXPECT_TRUE(registerJobs("parent"));
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(HistoryLines().size(), static_cast<std::size_t>(2 * kEach));
}

}  // namespace
}  // namespace tandem
