#include <gtest/gtest.h>

#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <filesystem>

#include "common/TestWave.h"
#include "sync/SyntheticPair.h"

namespace tandem::test {
namespace {

struct CliRun {
    int status = -1;
    std::string output;  // stdout and stderr
};

CliRun cli(const std::string& args) {
    CliRun r;
    const std::string command = std::string(TANDEM_CLI_PATH) + " " + args + " 2>&1";
    std::FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe) return r;
    std::array<char, 4096> buffer{};
    std::size_t n;
    while ((n = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0) r.output.append(buffer.data(), n);
    const int raw = ::pclose(pipe);
    r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    return r;
}

std::string quoted(const std::string& s) { return "'" + s + "'"; }

class Cli : public ::testing::Test {
protected:
    void SetUp() override { ::setenv("XDG_CONFIG_HOME", dir.path().c_str(), 1); }
    std::string dirArg() const { return "--dir " + quoted(dir.path()); }
    TempDir dir;
};

TEST_F(Cli, info_prints_the_format_or_why_a_file_is_unusable) {
    WriteFile(dir.file("ok.wav"), StereoWave(std::vector<Frame>(44100, Frame{100, -100})));
    CliRun ok = cli(dirArg() + " info " + quoted(dir.file("ok.wav")));
    EXPECT_EQ(ok.status, 0) << ok.output;
    EXPECT_NE(ok.output.find("16 bit, 2 channel(s), 44100 Hz"), std::string::npos) << ok.output;
    EXPECT_NE(ok.output.find("44100 frames"), std::string::npos);
    EXPECT_TRUE(std::filesystem::exists(dir.file("qzv.ini"))) << "the analysis is cached in the program folder";

    WaveSpec spec;
    spec.rate = 48000;
    WriteFile(dir.file("hz.wav"), MakeWaveBytes(spec, std::vector<std::uint8_t>(400)));
    CliRun bad = cli(dirArg() + " info " + quoted(dir.file("hz.wav")));
    EXPECT_EQ(bad.status, 1);
    EXPECT_NE(bad.output.find("not a 44100 Hz file (48000 Hz)"), std::string::npos) << bad.output;

    CliRun missing = cli(dirArg() + " info " + quoted(dir.file("none.wav")));
    EXPECT_EQ(missing.status, 2);
    EXPECT_NE(missing.output.find("none.wav"), std::string::npos);
}

TEST_F(Cli, sync_succeeds_only_when_the_file_is_written) {
    SyntheticPairSpec spec;
    spec.seconds = 6.0;
    const SyntheticPair pair = MakeSyntheticPair(spec);
    const std::string master = dir.file("a [1] 'x'.wav"), slave = dir.file("b é.wav");
    WriteStereoWave(master, pair.master);
    WriteStereoWave(slave, pair.slave);
    const std::string escapedMaster = "\"" + master + "\"";
    CliRun ok = cli(dirArg() + " sync " + escapedMaster + " " + quoted(slave) + " --quiet --result-csv");
    EXPECT_EQ(ok.status, 0) << ok.output;
    EXPECT_TRUE(std::filesystem::exists(dir.file("【a [1] 'x'】-【b é】.wav"))) << ok.output;
    EXPECT_TRUE(std::filesystem::exists(dir.file("b é.Result.csv")));

    const std::string silentMaster = dir.file("silent.wav");
    WriteStereoWave(silentMaster, std::vector<Frame>(pair.master.size()));
    CliRun fail = cli(dirArg() + " sync " + quoted(silentMaster) + " " + quoted(slave) + " --quiet");
    EXPECT_EQ(fail.status, 1) << fail.output;
    EXPECT_NE(fail.output.find("failed"), std::string::npos) << fail.output;

    CliRun history = cli(dirArg() + " history");
    EXPECT_EQ(history.status, 0);
    EXPECT_NE(history.output.find("0-0 普 a [1] 'x'.wav b é.wav"), std::string::npos) << history.output;

    CliRun level = cli(dirArg() + " sync " + escapedMaster + " " + quoted(slave) + " --level 7");
    EXPECT_EQ(level.status, 2);
}

TEST_F(Cli, remix_and_eq_check_their_arguments) {
    WriteFile(dir.file("x.wav"), StereoWave(std::vector<Frame>(1000, Frame{100, -100})));
    CliRun mix = cli(dirArg() + " remix " + quoted(dir.file("x.wav")) + " " + quoted(dir.file("x.wav")) +
                  " --mix 100,-90,100,-90,100,90,100,200");
    EXPECT_EQ(mix.status, 2) << mix.output;
    CliRun nothing = cli(dirArg() + " remix " + quoted(dir.file("x.wav")) + " " + quoted(dir.file("x.wav")));
    EXPECT_EQ(nothing.status, 1) << "no stored points, no file: " << nothing.output;

    CliRun eq = cli(dirArg() + " eq " + quoted(dir.file("x.wav")) + " --band 500,2000");
    EXPECT_EQ(eq.status, 0) << eq.output;
    EXPECT_TRUE(std::filesystem::exists(dir.file("x_EQ(500,2000).wav")));
}

}  // namespace
}  // namespace tandem::test
