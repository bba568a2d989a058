#include <gtest/gtest.h>

#include <thread>

#include "common/TestWave.h"
#include "core/Log.h"
#include "core/Text.h"

using namespace tandem;

TEST(Log, records_only_while_shown) {
    HideLog();
    AddLog("abc");
    StartLog();
    EXPECT_TRUE(LogLines().empty()) << "StartLog clears what an earlier run left";
    AddLog("abc");
    ASSERT_EQ(LogLines().size(), 1u);
    EXPECT_EQ(LogLines()[0], "abc");
    AddLog("");
    EXPECT_TRUE(LogLines().empty());
    AddLog("x");
    HideLog();
    AddLog("");
    AddLog("y");
    EXPECT_EQ(LogLines(), std::vector<std::string>{"x"}) << "a hidden log neither clears nor records";
}

TEST(Log, saves_lines_with_crlf_and_hands_the_file_to_the_opener) {
    test::TempDir dir;
    std::string opened;
    SetLogOpener([&](const std::string& p) { opened = p; });
    StartLog();
    AddLog("a");
    AddLog("b");
    AddLog("z");
    const std::string path = dir.file("x.wav.log");
    EXPECT_TRUE(SaveLogAndOpen(path));
    EXPECT_EQ(test::ReadFileBytes(path), (std::vector<std::uint8_t>{'a', '\r', '\n', 'b', '\r', '\n', 'z', '\r', '\n'}));
    EXPECT_EQ(opened, path);
    EXPECT_FALSE(LogIsShown());

    opened.clear();
    const std::string second = dir.file("again.log");
    EXPECT_TRUE(SaveLogAndOpen(second));
    EXPECT_FALSE(std::filesystem::exists(second)) << "a hidden log writes nothing";
    EXPECT_TRUE(opened.empty());
    SetLogOpener(nullptr);
}

TEST(Log, unwritable_log_file_is_reported_and_still_hides) {
    StartLog();
    AddLog("line");
    std::string why;
    EXPECT_FALSE(SaveLogAndOpen("/nonexistent-folder/x.log", &why));
    EXPECT_NE(why.find("/nonexistent-folder/x.log"), std::string::npos);
    EXPECT_FALSE(LogIsShown());
}

TEST(Log, lines_from_two_threads_stay_whole_and_in_order) {
    StartLog();
    auto writer = [](char tag) {
        for (int i = 0; i < 2000; ++i) AddLog(std::string(1, tag) + std::to_string(i));
    };
    std::thread a(writer, 'a');
    std::thread b(writer, 'b');
    a.join();
    b.join();
    std::vector<std::string> lines = LogLines();
    HideLog();
    ASSERT_EQ(lines.size(), 4000u);
    int nextA = 0, nextB = 0;
    for (const std::string& line : lines) {
        int& next = line[0] == 'a' ? nextA : nextB;
        ASSERT_EQ(line.substr(1), std::to_string(next)) << "out of order or torn: " << line;
        ++next;
    }
}

TEST(Text, fixed_and_names) {
    EXPECT_EQ(Fixed(1.0), "1.000");
    EXPECT_EQ(Fixed(-1.0), "-1.000");
    EXPECT_EQ(Fixed(12.3), "12.300");
    EXPECT_EQ(Fixed(0.0004), "0.000");
    EXPECT_EQ(BaseName("/rec/take.1.wav"), "take.1");
    EXPECT_EQ(BaseName("take"), "take");
    EXPECT_EQ(FolderOf("/rec/take.wav"), "/rec/");
    EXPECT_EQ(FolderOf("take.wav"), "");
}
