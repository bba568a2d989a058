#include <clocale>
#include <cstdlib>
#include <filesystem>

#include "cli/CliRun.h"
#include "sync/SyntheticPair.h"

namespace tandem::test {
namespace {

TEST_F(Cli, info_prints_the_format_or_why_a_file_is_unusable) {
    WriteFile(dir.file("ok.wav"), StereoWave(std::vector<Frame>(44100, Frame{100, -100})));
    CliRun ok = cli(dirArg() + " info " + shellQuote(dir.file("ok.wav")));
    EXPECT_EQ(ok.status, 0) << ok.output;
    EXPECT_NE(ok.output.find("16 bit, 2 channel(s), 44100 Hz"), std::string::npos) << ok.output;
    EXPECT_NE(ok.output.find("44100 frames"), std::string::npos);
    EXPECT_TRUE(std::filesystem::exists(dir.file("qzv.ini"))) << "the analysis is cached in the program folder";

    WaveSpec spec;
    spec.formatTag = 6;
    WriteFile(dir.file("alaw.wav"), MakeWaveBytes(spec, std::vector<std::uint8_t>(400)));
    CliRun bad = cli(dirArg() + " info " + shellQuote(dir.file("alaw.wav")));
    EXPECT_EQ(bad.status, 1);
    EXPECT_NE(bad.output.find("A-law"), std::string::npos) << bad.output;

    WaveSpec deep;
    deep.channels = 6;
    deep.bits = 24;
    deep.rate = 96000;
    deep.extensible = true;
    deep.validBits = 20;
    deep.rf64 = true;
    WriteFile(dir.file("deep.wav"), MakeWaveBytes(deep, std::vector<std::uint8_t>(18 * 960)));
    CliRun wide = cli(dirArg() + " info " + shellQuote(dir.file("deep.wav")));
    EXPECT_EQ(wide.status, 0) << wide.output;
    for (const char* field : {"65534 (extensible, PCM), 24 bit, 6 channel(s), 96000 Hz", "valid bits      20", "RF64",
                              "the first two", "960 frames (0.010 s)"})
        EXPECT_NE(wide.output.find(field), std::string::npos) << field << "\n" << wide.output;

    CliRun missing = cli(dirArg() + " info " + shellQuote(dir.file("none.wav")));
    EXPECT_EQ(missing.status, 2);
    EXPECT_NE(missing.output.find("none.wav"), std::string::npos);
}

TEST_F(Cli, speaks_english_by_default_and_japanese_under_a_japanese_locale) {
    if (!std::setlocale(LC_MESSAGES, "ja_JP.UTF-8")) {
        // scripts/deps.sh makes the locale: under scripts/test.sh (and CI) it must be there.
        if (std::getenv("TANDEM_REQUIRE_JA_LOCALE")) FAIL() << "the ja_JP.UTF-8 locale is missing; run scripts/deps.sh";
        GTEST_SKIP() << "the ja_JP.UTF-8 locale is not installed";
    }
    std::setlocale(LC_MESSAGES, "C");
    const std::string missing = "info " + shellQuote(dir.file("missing.wav"));
    const CliRun english = cli(missing);
    EXPECT_NE(english.output.find("does not exist or is not a file"), std::string::npos) << english.output;
    const CliRun japanese = cli(missing, "LC_ALL=ja_JP.UTF-8 ");
    EXPECT_EQ(japanese.status, english.status);
    EXPECT_NE(japanese.output.find("がないか、ファイルではありません"), std::string::npos) << japanese.output;
    EXPECT_NE(cli("sync --help", "LC_ALL=ja_JP.UTF-8 ").output.find("同期ファイルを書き出す"), std::string::npos);
}

TEST_F(Cli, sync_succeeds_only_when_the_file_is_written) {
    SyntheticPairSpec spec;
    spec.seconds = 6.0;
    const SyntheticPair pair = MakeSyntheticPair(spec);
    const std::string master = dir.file("a [1] 'x'.wav"), slave = dir.file("b é.wav");
    WriteStereoWave(master, pair.master);
    WriteStereoWave(slave, pair.slave);
    const std::string escapedMaster = "\"" + master + "\"";
    CliRun ok = cli(dirArg() + " sync " + escapedMaster + " " + shellQuote(slave) + " --quiet --result-csv");
    EXPECT_EQ(ok.status, 0) << ok.output;
    EXPECT_TRUE(std::filesystem::exists(dir.file("【a [1] 'x'】-【b é】.wav"))) << ok.output;
    EXPECT_TRUE(std::filesystem::exists(dir.file("b é.Result.csv")));
    EXPECT_TRUE(std::filesystem::exists(dir.file("b é.Check.csv")));
    EXPECT_NE(ok.output.find("check: 100.0 % within ±2 samples"), std::string::npos) << ok.output;

    const std::string silentMaster = dir.file("silent.wav");
    WriteStereoWave(silentMaster, std::vector<Frame>(pair.master.size()));
    CliRun fail = cli(dirArg() + " sync " + shellQuote(silentMaster) + " " + shellQuote(slave) + " --quiet");
    EXPECT_EQ(fail.status, 1) << fail.output;
    EXPECT_NE(fail.output.find("failed"), std::string::npos) << fail.output;

    CliRun history = cli(dirArg() + " history");
    EXPECT_EQ(history.status, 0);
    EXPECT_NE(history.output.find("0-0 普 a [1] 'x'.wav b é.wav"), std::string::npos) << history.output;

    CliRun level = cli(dirArg() + " sync " + escapedMaster + " " + shellQuote(slave) + " --level 7");
    EXPECT_EQ(level.status, 2);
}

TEST_F(Cli, written_file_that_is_not_in_step_exits_with_3) {
    SyntheticPairSpec spec;
    spec.seconds = 8.0;
    const SyntheticPair pair = MakeSyntheticPair(spec);
    spec.seed = 99;
    const SyntheticPair other = MakeSyntheticPair(spec);
    WriteStereoWave(dir.file("m.wav"), pair.master);
    WriteStereoWave(dir.file("unrelated.wav"), other.slave);
    WriteStereoWave(dir.file("silent.wav"), std::vector<Frame>(pair.slave.size()));
    for (const char* slave : {"unrelated.wav", "silent.wav"}) {
        SCOPED_TRACE(slave);
        CliRun run = cli(dirArg() + " sync " + shellQuote(dir.file("m.wav")) + " " + shellQuote(dir.file(slave)) + " --quiet");
        EXPECT_EQ(run.status, 3) << run.output;
        EXPECT_NE(run.output.find("NOT in step"), std::string::npos) << run.output;
    }
    CliRun check = cli(dirArg() + " check " + shellQuote(dir.file("【m】-【silent】.wav")));
    EXPECT_EQ(check.status, 3) << check.output;
}

TEST_F(Cli, stopped_job_writes_its_file_and_exits_with_4) {
    SyntheticPairSpec spec;
    spec.seconds = 30.0;
    const SyntheticPair pair = MakeSyntheticPair(spec);
    WriteStereoWave(dir.file("m.wav"), pair.master);
    WriteStereoWave(dir.file("s.wav"), pair.slave);
    // Interrupted once the search has begun (its result report is being written by then,
    // under a temporary name until the search ends).
    const std::string job = std::string(TANDEM_CLI_PATH) + " " + dirArg() + " sync " + shellQuote(dir.file("m.wav")) +
                            " " + shellQuote(dir.file("s.wav")) + " --quiet --result-csv";
    CliRun run = shell(job + " 2>&1 & p=$!; while [ ! -e " + shellQuote(dir.file("s.Result.csv")) + " ] && ! ls " +
                       shellQuote(dir.file("s.Result.csv.tmp-")) + "* >/dev/null 2>&1; do sleep 0.01; done; kill -INT $p; wait $p");
    EXPECT_EQ(run.status, 4) << run.output;
    EXPECT_NE(run.output.find("stopped early"), std::string::npos) << run.output;
    EXPECT_TRUE(std::filesystem::exists(dir.file("【m】-【s】.wav")));
}

TEST_F(Cli, remix_and_eq_check_their_arguments) {
    WriteFile(dir.file("x.wav"), StereoWave(std::vector<Frame>(1000, Frame{100, -100})));
    CliRun mix = cli(dirArg() + " remix " + shellQuote(dir.file("x.wav")) + " " + shellQuote(dir.file("x.wav")) +
                  " --mix 100,-90,100,-90,100,90,100,200");
    EXPECT_EQ(mix.status, 2) << mix.output;
    CliRun nothing = cli(dirArg() + " remix " + shellQuote(dir.file("x.wav")) + " " + shellQuote(dir.file("x.wav")));
    EXPECT_EQ(nothing.status, 1) << "no stored points, no file: " << nothing.output;

    CliRun eq = cli(dirArg() + " eq " + shellQuote(dir.file("x.wav")) + " --band 500,2000");
    EXPECT_EQ(eq.status, 0) << eq.output;
    EXPECT_TRUE(std::filesystem::exists(dir.file("x_EQ(500,2000).wav")));
}

}  // namespace
}  // namespace tandem::test
