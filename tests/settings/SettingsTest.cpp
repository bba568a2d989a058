#include <sys/stat.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "common/TestWave.h"
#include "core/Alert.h"
#include "core/Log.h"
#include "settings/IniFile.h"
#include "settings/Settings.h"

namespace tandem {
namespace {

std::string readText(const std::string& path) {
    const std::vector<std::uint8_t> bytes = test::ReadFileBytes(path);
    return std::string(bytes.begin(), bytes.end());
}

void writeText(const std::string& path, const std::string& text) {
    test::WriteFile(path, std::vector<std::uint8_t>(text.begin(), text.end()));
}

class SettingsTest : public ::testing::Test {
protected:
    void SetUp() override {
        ::setenv("XDG_CONFIG_HOME", dir.path().c_str(), 1);
        SettingsReset();
        ini = dir.file("qzv.ini");
        registry = dir.file("tandem/registry.ini");
    }
    void TearDown() override {
        SettingsReset();
        SetAlertHandler({});
        HideLog();
    }
    // The file as the other program sharing it would read it.
    static std::string onDisk(const std::string& path, const std::string& section, const std::string& key) {
        const IniFile file = IniFile::Parse(readText(path));
        const std::string* value = file.Find(section, key);
        return value ? *value : "<missing>";
    }

    test::TempDir dir;
    std::string ini;
    std::string registry;
};

TEST_F(SettingsTest, open_with_an_absolute_name_uses_it_as_the_ini_file_and_leaves_the_folders_empty) {
    EXPECT_TRUE(SettingsOpen("/opt/tools/qzv.ini"));
    EXPECT_EQ(SettingsIniPath(), "/opt/tools/qzv.ini");
    EXPECT_EQ(SettingsWorkDir(), "");
    EXPECT_EQ(SettingsSrcDir(), "");
}

TEST_F(SettingsTest, open_with_a_registry_key_builds_the_ini_path_by_plain_concatenation) {
    struct Case {
        std::string iniDir, workDir, expected;
    };
    for (const Case& c : {Case{"/cfg/", "/work/", "/cfg/qzv.ini"}, Case{"", "/work/", "/work/qzv.ini"},
                          Case{"/cfg", "", "/cfgqzv.ini"}, Case{"", "", "qzv.ini"}}) {
        SettingsReset();
        std::string text = "[Tandem/common]\n";
        if (!c.iniDir.empty()) text += "IniDir=" + c.iniDir + "\n";
        if (!c.workDir.empty()) text += "WorkDir=" + c.workDir + "\n";
        text += "SrcDir=/src/\n";
        std::filesystem::create_directories(dir.file("tandem"));
        writeText(registry, text);
        EXPECT_TRUE(SettingsOpen("Tandem"));
        EXPECT_EQ(SettingsIniPath(), c.expected);
        EXPECT_EQ(SettingsWorkDir(), c.workDir);
        EXPECT_EQ(SettingsSrcDir(), "/src/");
    }
}

TEST_F(SettingsTest, values_round_trip_through_the_file) {
    SettingsOpen(ini);
    SettingsWriteInt("TandemEnv", "MODE", -3);
    SettingsWriteText("TandemEnv", "MASTER", "/m/基準.wav");
    EXPECT_EQ(SettingsReadInt("TandemEnv", "MODE", 1), -3);
    EXPECT_EQ(SettingsReadText("TandemEnv", "MASTER", ""), "/m/基準.wav");
    EXPECT_EQ(SettingsReadInt("TandemEnv", "Items", 7), 7);
    std::string why;
    ASSERT_TRUE(SettingsFlush(&why)) << why;
    EXPECT_EQ(readText(ini), "[TandemEnv]\nMODE=-3\nMASTER=/m/基準.wav\n");

    SettingsReset();
    SettingsOpen(ini);
    EXPECT_EQ(SettingsReadInt("TandemEnv", "MODE", 1), -3);
}

TEST_F(SettingsTest, line_breaks_and_nul_are_refused_and_nothing_is_stored) {
    SettingsOpen(ini);
    EXPECT_THROW(SettingsWriteText("TandemEnv", "MASTER", "/a.wav\n[TandemEnv]\nMODE=3"), SettingsError);
    EXPECT_THROW(SettingsWriteText("TandemEnv", "MASTER", "a\rb"), SettingsError);
    EXPECT_THROW(SettingsWriteText("TandemEnv", "MASTER", std::string("a\0b", 3)), SettingsError);
    EXPECT_THROW(SettingsWriteInt("/x\n.wav", "Count", 1), SettingsError);
    EXPECT_THROW(SettingsWriteInt("TandemEnv", "K\n", 1), SettingsError);
    EXPECT_THROW(SettingsWriteInt("other\r", "K", 1), SettingsError);
    EXPECT_THROW(SettingsWriteText("TandemEnv", "MODE=1", "x"), SettingsError);
    EXPECT_THROW(SettingsWriteText("TandemEnv", "MASTER", "a.wav "), SettingsError);
    EXPECT_EQ(SettingsReadText("TandemEnv", "MASTER", "none"), "none");
    std::string why;
    ASSERT_TRUE(SettingsFlush(&why)) << why;
    EXPECT_FALSE(std::filesystem::exists(ini));
    EXPECT_FALSE(std::filesystem::exists(registry));
}

TEST_F(SettingsTest, a_settings_file_that_is_not_a_regular_file_is_refused_at_once) {
    // A FIFO would block every read for ever, /dev/zero would be read without end.
    ASSERT_EQ(::mkfifo(ini.c_str(), 0600), 0);
    SettingsOpen(ini);
    std::string why;
    EXPECT_FALSE(SettingsReadable(&why));
    EXPECT_NE(why.find(MessageText(Msg::NotRegularFile)), std::string::npos) << why;
    SettingsWriteInt("TandemEnv", "MODE", 2);
    EXPECT_FALSE(SettingsFlush(&why)) << "never written over";
    SettingsReset();
    std::filesystem::remove(ini);
    std::filesystem::create_symlink("/dev/zero", ini);
    SettingsOpen(ini);
    EXPECT_FALSE(SettingsReadable(&why));
    EXPECT_EQ(SettingsReadInt("TandemEnv", "MODE", 7), 7);
    SettingsReset();
    std::filesystem::remove(ini);
    std::filesystem::create_directory(ini);
    SettingsOpen(ini);
    EXPECT_FALSE(SettingsReadable(&why));
    SettingsReset();
    std::filesystem::remove(ini);
}

TEST_F(SettingsTest, sections_outside_the_ini_file_go_to_the_per_user_file) {
    SettingsOpen(ini);
    SettingsWriteInt("net/share/a.wav", "Count", 2);
    SettingsWriteInt("/src/a.wav", "Count", 3);
    ASSERT_TRUE(SettingsFlush());
    EXPECT_EQ(onDisk(registry, "net/share/a.wav", "Count"), "2") << readText(registry);
    EXPECT_EQ(onDisk(ini, "/src/a.wav", "Count"), "3");
    EXPECT_EQ(onDisk(ini, "net/share/a.wav", "Count"), "<missing>");
}

// Polls until pred holds or a generous limit passes; the limit is no timing requirement.
template <class Pred>
bool eventually(Pred pred) {
    for (int i = 0; i < 500; ++i) {
        if (pred()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return pred();
}

class SettingsPathsTest : public SettingsTest {
protected:
    // WorkDir can only come from the per-user file, as the registry gives it.
    void openWithFolders(const std::string& workDir, const std::string& srcDir) {
        std::filesystem::create_directories(dir.file("tandem"));
        writeText(registry, "[T/common]\nWorkDir=" + workDir + "\nSrcDir=" + srcDir + "\nIniDir=" + dir.path() + "\n");
        SettingsOpen("T");
        ASSERT_EQ(SettingsIniPath(), ini);
    }
    struct Mapped {
        std::string section, key, value;
    };
    static Mapped map(std::string section, std::string key, std::string value) {
        MapSettingPaths(section, key, value);
        return {section, key, value};
    }
};

TEST_F(SettingsPathsTest, per_file_sections_under_the_source_folder_are_stored_relative) {
    openWithFolders("/work/", "/src/");
    EXPECT_EQ(map("/src/a.wav", "Count", "").section, "a.wav");
    EXPECT_EQ(map("/other/b.wav", "Count", "").section, "/other/b.wav");
    EXPECT_EQ(map("/SRC/c.wav", "Count", "").section, "/SRC/c.wav");
    EXPECT_EQ(map("/work/d.wav", "Count", "").section, "d.wav");
    // Brackets and '%' are escaped: "[a]m.wav" and "am.wav" keep sections of their own.
    EXPECT_EQ(map("/src/take[1].wav", "Count", "").section, "take%5B1%5D.wav");
    EXPECT_EQ(map("]a[b]]c[%", "k", "").section, "%5Da%5Bb%5D%5Dc%5B%25");

    SettingsWriteInt("/src/take[1].wav", "Count", 4);
    SettingsWriteInt("/src/take1.wav", "Count", 6);
    SettingsWriteInt("/other/b.wav", "Count", 5);
    ASSERT_TRUE(SettingsFlush());
    EXPECT_EQ(onDisk(ini, "take%5B1%5D.wav", "Count"), "4");
    EXPECT_EQ(onDisk(ini, "take1.wav", "Count"), "6");
    EXPECT_EQ(onDisk(ini, "/other/b.wav", "Count"), "5");
    EXPECT_EQ(SettingsReadInt("/src/take[1].wav", "Count", 0), 4);
    EXPECT_EQ(SettingsReadInt("/src/take1.wav", "Count", 0), 6);
    // A section written here for y1.wav is not y[1].wav's older one.
    SettingsWriteInt("/src/y1.wav", "Count", 1);
    SettingsWriteInt("/src/y[1].wav", "Count", 2);
    EXPECT_EQ(SettingsReadInt("/src/y1.wav", "Count", 0), 1);
    EXPECT_EQ(SettingsReadInt("/src/y[1].wav", "Count", 0), 2);
}

TEST_F(SettingsPathsTest, sections_written_without_brackets_still_serve_where_no_other_file_owns_them) {
    std::string src = dir.path();
    if (src.back() != '/') src += '/';
    writeText(ini, "[take1.wav]\nCount=4\nDP0=7\n[100%.wav]\nCount=2\n[x1.wav]\nCount=9\n");
    openWithFolders("/work/", src);
    // A write before any read finds the old section too.
    SettingsWriteInt(src + "take[1].wav", "DP1", 8);
    // Old versions stored take[1].wav and 100%.wav under these names.
    EXPECT_EQ(SettingsReadInt(src + "take[1].wav", "Count", 0), 4);
    EXPECT_EQ(SettingsReadInt(src + "100%.wav", "Count", 0), 2);
    ASSERT_TRUE(SettingsFlush());
    EXPECT_EQ(onDisk(ini, "take1.wav", "DP1"), "8") << "an old section is used on, not split";
    EXPECT_EQ(SettingsKeyCount(src + "take[1].wav"), 3);
    // Read together, keys give what each gives alone, in the old section too.
    EXPECT_EQ(SettingsReadInts(src + "take[1].wav", {"DP0", "DP1", "DP2", "Count"}, -1), (std::vector<int>{7, 8, -1, 4}));
    EXPECT_EQ(SettingsReadTexts(src + "take[1].wav", {"DP2", "DP1"}), (std::vector<std::string>{"", "8"}));
    // x1.wav exists: its section is its own, not that of x[1].wav.
    writeText(src + "x1.wav", "");
    EXPECT_EQ(SettingsReadInt(src + "x[1].wav", "Count", 0), 0);
    EXPECT_EQ(SettingsReadInt(src + "x1.wav", "Count", 0), 9);
}

TEST_F(SettingsPathsTest, item_values_toggle_against_their_folder_and_other_keys_stay) {
    openWithFolders("/work/", "/src/");
    EXPECT_EQ(map("SpecialList", "Item0", "/src/a.wav").value, "a.wav");
    EXPECT_EQ(map("SpecialList", "Item0", "a.wav").value, "/src/a.wav");
    EXPECT_EQ(map("SpecialList", "Item0", "/elsewhere/a.wav").value, "/elsewhere/a.wav");
    EXPECT_EQ(map("SpecialList", "Items", "/src/a.wav").value, "/src/a.wav");
    EXPECT_EQ(map("Special", "Item3", "/work/x").value, "x");
    EXPECT_EQ(map("Special", "Item3", "x").value, "/work/x");
    EXPECT_EQ(map("/src/a.wav", "LeftFile", "/src/l.wav").value, "l.wav");
    EXPECT_EQ(map("Scorlet", "RightFile", "r.wav").value, "/src/r.wav");
    EXPECT_EQ(map("TandemEnv", "MASTER", "/src/a.wav").value, "/src/a.wav");
    EXPECT_EQ(map("TandemEnv", "Item0", "/src/a.wav").value, "/src/a.wav");
}

TEST_F(SettingsPathsTest, an_empty_source_folder_matches_every_section_and_blocks_the_work_folder) {
    openWithFolders("/work/", "");
    EXPECT_EQ(map("/work/a.wav", "Count", "").section, "/work/a.wav");
    EXPECT_EQ(map("SpecialList", "Item0", "a.wav").value, "a.wav");
}

TEST_F(SettingsPathsTest, a_changed_source_folder_applies_to_the_next_call) {
    openWithFolders("", "/src/");
    SetSettingsSrcDir("/music/");
    EXPECT_EQ(SettingsSrcDir(), "/music/");
    EXPECT_EQ(map("/music/a.wav", "Count", "").section, "a.wav");
    EXPECT_EQ(map("/src/a.wav", "Count", "").section, "/src/a.wav");
}

TEST_F(SettingsPathsTest, used_file_list_round_trips_relative_and_missing_items_give_the_default) {
    openWithFolders("/work/", "/src/");
    SettingsWriteText("SpecialList", "Item0", "/src/a.wav");
    ASSERT_TRUE(SettingsFlush());
    EXPECT_EQ(onDisk(ini, "SpecialList", "Item0"), "a.wav");
    EXPECT_EQ(SettingsReadText("SpecialList", "Item0", ""), "/src/a.wav");
    EXPECT_EQ(SettingsReadText("SpecialList", "Item5", ""), "");
    EXPECT_EQ(SettingsReadText("SpecialList", "Item5", "/src/dflt.wav"), "/src/dflt.wav");
}

TEST_F(SettingsTest, integers_that_are_not_decimal_numbers_read_as_the_default_and_are_logged) {
    writeText(ini, "[TandemEnv]\nA= 42 \nB=+7\nC=-2147483648\nD=2147483648\nE=12abc\nF=0x10\nG=-\nH=\nI=1e3\n");
    SettingsOpen(ini);
    StartLog();
    EXPECT_EQ(SettingsReadInt("TandemEnv", "A", -1), 42);
    EXPECT_EQ(SettingsReadInt("TandemEnv", "B", -1), 7);
    EXPECT_EQ(SettingsReadInt("TandemEnv", "C", -1), -2147483647 - 1);
    EXPECT_EQ(SettingsReadInt("TandemEnv", "H", -1), -1);
    EXPECT_TRUE(LogLines().empty());
    for (const char* key : {"D", "E", "F", "G", "I"}) EXPECT_EQ(SettingsReadInt("TandemEnv", key, -1), -1) << key;
    const std::vector<std::string> lines = LogLines();
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_NE(lines[1].find("[TandemEnv] E=12abc"), std::string::npos) << lines[1];

    // The per-user side behaves the same.
    SettingsWriteText("mine", "N", "abc");
    EXPECT_EQ(SettingsReadInt("mine", "N", 9), 9);
    EXPECT_EQ(LogLines().size(), 6u);
}

TEST_F(SettingsTest, crlf_comments_garbage_and_foreign_bytes_survive_a_rewrite) {
    writeText(ini,
              "; shared with the other program\r\n\r\n[TandemEnv]\r\n# window\r\nMODE = 2\r\n"
              "this line means nothing\r\n\x01\xff\xfe binary \x80\r\n\r\n[Scorlet]\r\nLeftFile=x\r\n");
    SettingsOpen(ini);
    EXPECT_EQ(SettingsReadInt("TandemEnv", "MODE", 0), 2);
    SettingsWriteInt("TandemEnv", "MODE", 3);
    SettingsWriteInt("TandemEnv", "SKIPSLAVE", 5);
    ASSERT_TRUE(SettingsFlush());
    EXPECT_EQ(readText(ini),
              "; shared with the other program\n\n[TandemEnv]\n# window\nMODE=3\nSKIPSLAVE=5\n"
              "this line means nothing\n\x01\xff\xfe binary \x80\n\n[Scorlet]\nLeftFile=x\n");
}

TEST_F(SettingsTest, write_back_puts_only_this_process_keys_on_top_of_the_current_file) {
    writeText(ini, "[TandemEnv]\nMODE=1\n");
    SettingsOpen(ini);
    SettingsWriteInt("/a.wav", "Count", 1);
    ASSERT_TRUE(SettingsFlush());
    SettingsWriteInt("/a.wav", "DP0", 4410);
    // The other program rewrites the file meanwhile.
    writeText(ini, "[TandemEnv]\nMODE=3\nSLAVE=/other.wav\n[/a.wav]\nCount=1\n");
    EXPECT_EQ(SettingsReadInt("TandemEnv", "MODE", 0), 3);
    EXPECT_EQ(SettingsReadInt("/a.wav", "DP0", 0), 4410);
    ASSERT_TRUE(SettingsFlush());
    EXPECT_EQ(readText(ini), "[TandemEnv]\nMODE=3\nSLAVE=/other.wav\n[/a.wav]\nCount=1\nDP0=4410\n");

    // And a change to a key both wrote: the later write of this process wins.
    SettingsWriteInt("TandemEnv", "MODE", 0);
    writeText(ini, "[TandemEnv]\nMODE=2\nX=1\n");
    ASSERT_TRUE(SettingsFlush());
    EXPECT_EQ(readText(ini), "[TandemEnv]\nMODE=0\nX=1\n");
}

TEST_F(SettingsTest, temporaries_left_by_a_killed_write_back_are_removed_by_the_next) {
    writeText(ini, "[TandemEnv]\nMODE=1\n");
    writeText(ini + ".tmp-4242-0", "[TandemEnv]\nMODE=half");
    writeText(ini + ".tmp-17-3", "");
    writeText(dir.file("other.ini.tmp-4242-0"), "not ours");
    writeText(dir.file("qzv.ini.bak"), "not a temporary");
    SettingsOpen(ini);
    SettingsWriteInt("TandemEnv", "MODE", 2);
    ASSERT_TRUE(SettingsFlush());
    EXPECT_EQ(readText(ini), "[TandemEnv]\nMODE=2\n");
    EXPECT_FALSE(std::filesystem::exists(ini + ".tmp-4242-0"));
    EXPECT_FALSE(std::filesystem::exists(ini + ".tmp-17-3"));
    EXPECT_TRUE(std::filesystem::exists(dir.file("other.ini.tmp-4242-0")));
    EXPECT_TRUE(std::filesystem::exists(dir.file("qzv.ini.bak")));
}

TEST_F(SettingsTest, settings_files_that_are_links_stay_links_and_their_targets_are_replaced) {
    // Dotfile set-ups: both files live elsewhere, the link in a subfolder of its own.
    std::filesystem::create_directories(dir.file("dotfiles/ini"));
    std::filesystem::create_directories(dir.file("tandem"));
    writeText(dir.file("dotfiles/ini/real.ini"), "[TandemEnv]\nMODE=1\n");
    writeText(dir.file("dotfiles/registry.ini"), "");
    std::filesystem::create_symlink("dotfiles/ini/real.ini", ini);
    std::filesystem::create_symlink(dir.file("dotfiles/registry.ini"), registry);
    SettingsOpen(ini);
    SettingsWriteInt("TandemEnv", "MODE", 2);
    SettingsWriteText("mine", "k", "v");
    ASSERT_TRUE(SettingsFlush());
    EXPECT_TRUE(std::filesystem::is_symlink(ini));
    EXPECT_TRUE(std::filesystem::is_symlink(registry));
    EXPECT_EQ(onDisk(dir.file("dotfiles/ini/real.ini"), "TandemEnv", "MODE"), "2");
    EXPECT_EQ(onDisk(dir.file("dotfiles/registry.ini"), "mine", "k"), "v");
}

TEST_F(SettingsTest, changes_reach_the_disk_without_an_explicit_flush) {
    SettingsOpen(ini);
    SettingsWriteInt("TandemEnv", "MODE", 2);
    SettingsWriteText("mine", "k", "v");
    EXPECT_TRUE(eventually([&] { return onDisk(ini, "TandemEnv", "MODE") == "2"; }));
    EXPECT_TRUE(eventually([&] { return onDisk(registry, "mine", "k") == "v"; }));
}

TEST_F(SettingsTest, an_unwritable_file_is_reported_and_the_changes_stay_pending) {
    writeText(dir.file("blocker"), "a file where a folder should be");
    const std::string bad = dir.file("blocker/qzv.ini");
    SettingsOpen(bad);
    // Shared with the flusher thread, which may outlive this body until TearDown.
    struct Alerts {
        std::mutex mutex;
        int count = 0;
        std::string text;
    };
    auto alerts = std::make_shared<Alerts>();
    SetAlertHandler([alerts](const std::string& text) {
        std::lock_guard lock(alerts->mutex);
        ++alerts->count;
        alerts->text = text;
    });
    auto alertCount = [&] {
        std::lock_guard lock(alerts->mutex);
        return alerts->count;
    };
    SettingsWriteInt("TandemEnv", "MODE", 2);
    std::string why;
    EXPECT_FALSE(SettingsFlush(&why));
    EXPECT_NE(why.find(bad), std::string::npos) << why;
    EXPECT_EQ(SettingsReadInt("TandemEnv", "MODE", 0), 2);

    ASSERT_TRUE(eventually([&] { return alertCount() > 0; }));
    {
        std::lock_guard lock(alerts->mutex);
        EXPECT_NE(alerts->text.find(bad), std::string::npos) << alerts->text;
    }
    // Retries keep failing, but the user is told once.
    SettingsWriteInt("TandemEnv", "MODE", 3);
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    EXPECT_EQ(alertCount(), 1);

    std::filesystem::remove(dir.file("blocker"));
    std::filesystem::create_directory(dir.file("blocker"));
    ASSERT_TRUE(SettingsFlush(&why)) << why;
    EXPECT_EQ(onDisk(bad, "TandemEnv", "MODE"), "3");
}

TEST_F(SettingsTest, a_file_that_cannot_be_read_is_not_overwritten) {
    std::filesystem::create_directory(ini);  // exists, but no file to read
    SettingsOpen(ini);
    EXPECT_EQ(SettingsReadInt("TandemEnv", "MODE", 7), 7);
    SettingsWriteInt("TandemEnv", "MODE", 2);
    std::string why;
    EXPECT_FALSE(SettingsFlush(&why));
    EXPECT_EQ(why.rfind(MessageText(Msg::NotOverwritten, "")), why.size() - MessageText(Msg::NotOverwritten, "").size()) << why;
    EXPECT_TRUE(std::filesystem::is_directory(ini));
}

TEST_F(SettingsTest, a_read_only_file_is_left_alone) {
    writeText(ini, "[TandemEnv]\nMODE=1\n");
    std::filesystem::permissions(ini, std::filesystem::perms::owner_read);
    SettingsOpen(ini);
    SettingsWriteInt("TandemEnv", "MODE", 2);
    std::string why;
    EXPECT_FALSE(SettingsFlush(&why));
    EXPECT_NE(why.find(ini), std::string::npos) << why;
    EXPECT_EQ(readText(ini), "[TandemEnv]\nMODE=1\n");
    EXPECT_EQ(SettingsReadInt("TandemEnv", "MODE", 0), 2);
}

TEST_F(SettingsTest, two_threads_write_and_read_while_the_source_folder_changes) {
    SettingsOpen(ini);
    SetSettingsSrcDir("/src/");
    constexpr int kPoints = 2000;
    std::thread worker([] {
        for (int i = 0; i < kPoints; ++i) {
            SettingsWriteInt("/job/slave.wav", "DP" + std::to_string(i), i * 3);
            SettingsWriteInt("/job/slave.wav", "Count", i + 1);
        }
    });
    int mismatches = 0;
    for (int i = 0; i < kPoints; ++i) {
        const std::string folder = i % 2 ? "/src/" : "/music/";
        SetSettingsSrcDir(folder);
        SettingsWriteText("SpecialList", "Item0", folder + "f.wav");
        if (SettingsReadText("SpecialList", "Item0", "") != folder + "f.wav") ++mismatches;
        const std::string seen = SettingsSrcDir();
        if (seen != "/src/" && seen != "/music/") ++mismatches;
        if (i % 100 == 0) SettingsFlush();
    }
    worker.join();
    EXPECT_EQ(mismatches, 0);
    ASSERT_TRUE(SettingsFlush());
    const IniFile file = IniFile::Parse(readText(ini));
    ASSERT_NE(file.Find("/job/slave.wav", "Count"), nullptr);
    EXPECT_EQ(*file.Find("/job/slave.wav", "Count"), std::to_string(kPoints));
    int wrong = 0;
    for (int i = 0; i < kPoints; ++i) {
        const std::string* v = file.Find("/job/slave.wav", "DP" + std::to_string(i));
        if (!v || *v != std::to_string(i * 3)) ++wrong;
    }
    EXPECT_EQ(wrong, 0);
}

}  // namespace
}  // namespace tandem
