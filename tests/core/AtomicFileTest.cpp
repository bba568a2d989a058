#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <ctime>
#include <filesystem>

#include "common/TestWave.h"
#include "core/AtomicFile.h"
#include "core/ExitCleanup.h"

using namespace tandem;
namespace fs = std::filesystem;

namespace {

std::string readAll(const std::string& path) {
    const std::vector<std::uint8_t> bytes = test::ReadFileBytes(path);
    return std::string(bytes.begin(), bytes.end());
}

}  // namespace

TEST(AtomicFile, replaces_a_link_at_the_target_and_never_writes_through_it) {
    test::TempDir dir;
    const std::string victim = dir.file("victim.txt"), target = dir.file("out.csv");
    test::WriteFile(victim, {'k', 'e', 'e', 'p'});
    fs::create_symlink(victim, target);
    AtomicFile file(target);
    file.Write("new");
    ASSERT_TRUE(file.Commit()) << file.Problem();
    EXPECT_EQ(readAll(victim), "keep");
    EXPECT_FALSE(fs::is_symlink(target));
    EXPECT_EQ(readAll(target), "new");

    {
        AtomicFile abandoned(target);
        abandoned.Write("half");
    }
    EXPECT_EQ(readAll(target), "new");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 2) << "no temporary left";
}

TEST(AtomicFile, leftover_temporaries_go_only_when_a_day_old_and_held_by_no_writer) {
    test::TempDir dir;
    struct Case {
        const char* name;
        bool old, held, removed;
    };
    const Case cases[] = {
        {"out.wav.tmp-17-0-0badf00d", true, false, true},
        {"out.wav.tmp4242-3", true, false, true},  // the name older versions gave
        {"out.wav.tmp-18-0-0badf00d", true, true, false},
        {"out.wav.tmp-19-0-0badf00d", false, false, false},
        {"other.wav.tmp-17-0-0badf00d", true, false, false},
        {"out.wav.tmpfile", true, false, false},
    };
    std::vector<Fd> holders;
    for (const Case& c : cases) {
        const std::string path = dir.file(c.name);
        test::WriteFile(path, {1});
        if (c.old) {
            const timespec twoDays[2] = {{std::time(nullptr) - 2 * 86400, 0}, {std::time(nullptr) - 2 * 86400, 0}};
            ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), twoDays, 0), 0);
        }
        if (c.held) {
            holders.emplace_back(::open(path.c_str(), O_RDONLY));
            ASSERT_EQ(::flock(holders.back().get(), LOCK_EX | LOCK_NB), 0);
        }
    }
    AtomicFile file(dir.file("out.wav"));
    ASSERT_TRUE(file.Commit()) << file.Problem();
    for (const Case& c : cases) EXPECT_EQ(fs::exists(dir.file(c.name)), !c.removed) << c.name;
}

namespace tandem {

// A second Ctrl-C ends the program with _exit: the temporaries of writes in progress
// must go all the same, and a finished file must not.
TEST(AtomicFile, an_abrupt_end_removes_the_temporaries_of_unfinished_writes_only) {
    test::TempDir dir;
    AtomicFile done(dir.file("done.txt"));
    done.Write("kept");
    ASSERT_TRUE(done.Commit());
    AtomicFile open(dir.file("open.txt"));
    open.Write("half");
    const std::string temporary = open.TemporaryPath();
    ASSERT_TRUE(std::filesystem::exists(temporary));
    RemoveExitPaths();
    EXPECT_FALSE(std::filesystem::exists(temporary));
    EXPECT_TRUE(std::filesystem::exists(dir.file("done.txt")));
    const int slot = RegisterExitPath(dir.file("other.txt"));
    UnregisterExitPath(slot);
    test::WriteFile(dir.file("other.txt"), std::vector<std::uint8_t>{1});
    RemoveExitPaths();
    EXPECT_TRUE(std::filesystem::exists(dir.file("other.txt"))) << "an unregistered path stays";
}

}  // namespace tandem
