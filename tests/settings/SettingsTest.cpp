#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "common/TestWave.h"
#include "core/Alert.h"
#include "core/Log.h"
#include "settings/IniFile.h"
#include "settings/Settings.h"

namespace tandem {
namespace {

std::string readText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

void writeText(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
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

TEST_F(SettingsTest, sections_outside_the_ini_file_go_to_the_per_user_file) {
    SettingsOpen(ini);
    SettingsWriteInt("net/share/a.wav", "Count", 2);
    SettingsWriteInt("/src/a.wav", "Count", 3);
    ASSERT_TRUE(SettingsFlush());
    EXPECT_EQ(onDisk(registry, "net/share/a.wav", "Count"), "2") << readText(registry);
    EXPECT_EQ(onDisk(ini, "/src/a.wav", "Count"), "3");
    EXPECT_EQ(onDisk(ini, "net/share/a.wav", "Count"), "<missing>");
}

}  // namespace
}  // namespace tandem
