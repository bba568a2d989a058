// Two processes (the desktop program and tandem-cli, say) writing the same qzv.ini at
// once: each write-back must keep the other's keys.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "common/TestWave.h"
#include "settings/IniFile.h"
#include "settings/Settings.h"

namespace tandem {
namespace {

constexpr int kKeys = 300;

// Writes kKeys keys into its own section, handing them to the file every few keys.
bool writeKeys(const std::string& section) {
    for (int i = 0; i < kKeys; ++i) {
        SettingsWriteInt(section, "DP" + std::to_string(i), i * 7);
        if (i % 3 == 2 && !SettingsFlush()) return false;
    }
    return SettingsFlush();
}

TEST(SettingsTwoProcesses, concurrent_write_backs_keep_each_others_keys) {
    test::TempDir dir;
    ::setenv("XDG_CONFIG_HOME", dir.path().c_str(), 1);
    SettingsReset();  // no flusher thread is running across the fork
    const std::string ini = dir.file("qzv.ini");
    test::WriteFile(ini, {'[', 'k', 'e', 'e', 'p', ']', '\n', 'x', '=', '1', '\n'});

    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        SettingsOpen(ini);
        const bool ok = writeKeys("/rec/child.wav");
        SettingsReset();
        ::_exit(ok ? 0 : 1);
    }
    SettingsOpen(ini);
    const bool ok = writeKeys("/rec/parent.wav");
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(ok);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    SettingsReset();

    const std::vector<std::uint8_t> bytes = test::ReadFileBytes(ini);
    const IniFile file = IniFile::Parse(std::string(bytes.begin(), bytes.end()));
    ASSERT_NE(file.Find("keep", "x"), nullptr) << "a key neither process wrote";
    int lost = 0;
    for (const char* section : {"/rec/child.wav", "/rec/parent.wav"}) {
        for (int i = 0; i < kKeys; ++i) {
            const std::string* v = file.Find(section, "DP" + std::to_string(i));
            if (!v || *v != std::to_string(i * 7)) ++lost;
        }
    }
    EXPECT_EQ(lost, 0) << "keys lost when the two processes' write-backs crossed";
}

}  // namespace
}  // namespace tandem
