// Broken and hostile inputs through the command line: each gets a clear message and
// loses nothing that was stored before.
#include <fcntl.h>
#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "cli/CliRun.h"
#include "core/ProgramFolder.h"
#include "core/Text.h"
#include "settings/IniFile.h"
#include "sync/PairLock.h"
#include "sync/SyntheticPair.h"

namespace tandem::test {
namespace {

namespace fs = std::filesystem;

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

std::string readText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

int storedCount(const std::string& ini, const std::string& section) {
    const IniFile doc = IniFile::Parse(readText(ini));
    const std::string* v = doc.Find(section, "Count");
    return v ? std::stoi(*v) : 0;
}

// "DP0,DP1,..." of a file's stored points.
std::string storedPoints(const std::string& ini, const std::string& section) {
    const IniFile doc = IniFile::Parse(readText(ini));
    std::string out;
    for (int i = 0; i < storedCount(ini, section); ++i) {
        const std::string* v = doc.Find(section, "DP" + std::to_string(i));
        out += (v ? *v : "?") + ",";
    }
    return out;
}

class HostileInput : public Cli {
protected:
    void SetUp() override {
        Cli::SetUp();
        SyntheticPairSpec spec;
        spec.seconds = 5.0;
        pair = MakeSyntheticPair(spec);
    }
    void writePair(const std::string& masterName, const std::string& slaveName) {
        master = dir.file(masterName);
        slave = dir.file(slaveName);
        WriteStereoWave(master, pair.master);
        WriteStereoWave(slave, pair.slave);
    }
    CliRun sync(const std::string& extra = "", const std::string& prefix = "") {
        return cli(dirArg() + " sync " + shellQuote(master) + " " + shellQuote(slave) + " --quiet " + extra, prefix);
    }
    std::string output() const { return dir.file("【" + fs::path(master).stem().string() + "】-【" + fs::path(slave).stem().string() + "】.wav"); }

    SyntheticPair pair;
    std::string master, slave;
};

TEST_F(HostileInput, names_with_spaces_quotes_and_non_ascii_work_and_a_line_break_is_refused) {
    writePair("take \"one\" [a] 'b' ÄÖ 日本.wav", "slave (2) ü.wav");
    const CliRun ok = sync();
    EXPECT_EQ(ok.status, 0) << ok.output;
    EXPECT_TRUE(fs::exists(output())) << ok.output;
    EXPECT_GE(storedCount(dir.file("qzv.ini"), slave), 2) << "points stored under the exact name";

    writePair("line\nbreak.wav", "slave.wav");
    const std::string before = readText(dir.file("qzv.ini"));
    const CliRun refused = sync();
    EXPECT_EQ(refused.status, 2) << refused.output;
    EXPECT_TRUE(contains(refused.output, "line break")) << refused.output;
    EXPECT_EQ(readText(dir.file("qzv.ini")), before) << "nothing was stored";
    for (const std::string command : {" info ", " eq --band 500,2000 "}) {
        const CliRun reads = cli(dirArg() + command + shellQuote(master));
        EXPECT_EQ(reads.status, 0) << command << "only reads the file: " << reads.output;
    }
}

TEST_F(HostileInput, points_of_another_pair_are_not_remixed_resumed_or_reused) {
    writePair("master.wav", "slave.wav");
    const std::string other = dir.file("other.wav");
    std::vector<Frame> late(3 * 44100, Frame{});  // the same take, starting 3 s late
    late.insert(late.end(), pair.slave.begin(), pair.slave.end());
    WriteStereoWave(other, late);
    const std::string ini = dir.file("qzv.ini");
    ASSERT_EQ(sync().status, 0);
    const std::string alone = storedPoints(ini, master) + "|" + storedPoints(ini, slave);
    const CliRun second = cli(dirArg() + " sync " + shellQuote(master) + " " + shellQuote(other) + " --quiet --level 少");
    ASSERT_EQ(second.status, 0) << second.output;

    const CliRun remix = cli(dirArg() + " remix " + shellQuote(master) + " " + shellQuote(slave) + " --quiet");
    EXPECT_EQ(remix.status, 1);
    EXPECT_TRUE(contains(remix.output, "belong to the pair " + master + " / " + other)) << remix.output;

    const CliRun resumed = sync("--resume");
    EXPECT_EQ(resumed.status, 0) << resumed.output;
    EXPECT_TRUE(contains(resumed.output, "the job starts from the beginning")) << resumed.output;
    EXPECT_EQ(storedPoints(ini, master) + "|" + storedPoints(ini, slave), alone) << "the points of the job run alone";
}

TEST_F(HostileInput, argument_faults_are_refused_before_any_work) {
    writePair("master.wav", std::string(251, 's') + ".wav");  // a 255-byte name
    const std::string files = shellQuote(master) + " " + shellQuote(slave);
    struct Case {
        std::string args;
        int status;
        std::string says;
    };
    const Case cases[] = {
        {dirArg() + " sync " + files + " --quiet", 1, "File name too long"},
        {dirArg() + " sync " + files + " --range-e 50", 2, "--range-e needs --debug"},
        {dirArg() + " sync " + shellQuote(master), 2, "slave"},
        {"--dir " + shellQuote(dir.file("none")) + " history", 2, "cannot be used: No such file or directory"},
    };
    for (const Case& c : cases) {
        const CliRun run = cli(c.args);
        EXPECT_EQ(run.status, c.status) << c.args << "\n" << run.output;
        EXPECT_TRUE(contains(run.output, c.says)) << c.args << "\n" << run.output;
    }
    EXPECT_EQ(storedCount(dir.file("qzv.ini"), master), 0) << "the master was not even divided";
    EXPECT_FALSE(fs::exists(dir.file("none"))) << "a folder is made for a job only";
}

TEST_F(HostileInput, slave_that_is_the_master_is_refused_before_any_point_is_stored) {
    writePair("master.wav", "slave.wav");
    slave = master;
    CliRun same = sync();
    EXPECT_EQ(same.status, 1);
    EXPECT_TRUE(contains(same.output, "is the master file itself")) << same.output;

    fs::create_symlink(master, dir.file("link.wav"));
    slave = dir.file("link.wav");
    same = sync();
    EXPECT_EQ(same.status, 1);
    EXPECT_TRUE(contains(same.output, "is the master file itself")) << same.output;

    // Brackets are kept (escaped) in section names: take[1].wav and take1.wav are two
    // files with two sections, not one.
    writePair("take[1].wav", "take1.wav");
    const CliRun shared = sync();
    EXPECT_EQ(shared.status, 0) << shared.output;
    const std::string escaped = dir.file("take%5B1%5D.wav");
    EXPECT_GT(storedCount(dir.file("qzv.ini"), escaped), 2);
    EXPECT_EQ(storedCount(dir.file("qzv.ini"), escaped), storedCount(dir.file("qzv.ini"), dir.file("take1.wav")));
    EXPECT_NE(storedPoints(dir.file("qzv.ini"), escaped), storedPoints(dir.file("qzv.ini"), dir.file("take1.wav")));
}

TEST_F(HostileInput, garbage_in_qzv_ini_is_kept_and_read_around) {
    writePair("master.wav", "slave.wav");
    std::string ini = "\xEF\xBB\xBF; hand-edited\n[TandemEnv]\nMASTER=\xff\xfe\x81\x40 not UTF-8\n";
    ini += std::string("\x01\x02 binary\0junk\n", 16);
    ini += "[" + master + "]\nCount=lots\nDP0=99999999999999\n[unclosed\nx=y\n";
    ini += "[a section of 100000 lines]\n";
    for (int i = 0; i < 100000; ++i) ini += "k" + std::to_string(i) + "=" + std::to_string(i) + "\n";
    WriteFile(dir.file("qzv.ini"), std::vector<std::uint8_t>(ini.begin(), ini.end()));

    const CliRun ok = sync();
    EXPECT_EQ(ok.status, 0) << ok.output;
    const std::string after = readText(dir.file("qzv.ini"));
    EXPECT_TRUE(contains(after, "MASTER=\xff\xfe\x81\x40 not UTF-8"));
    EXPECT_TRUE(contains(after, std::string("\x01\x02 binary\0junk\n", 16)));
    EXPECT_TRUE(contains(after, "[unclosed\nx=y\n"));
    EXPECT_TRUE(contains(after, "k99999=99999\n"));
    EXPECT_GE(storedCount(dir.file("qzv.ini"), master), 2) << "the unreadable Count was replaced by the job's";
}

TEST_F(HostileInput, unreadable_qzv_ini_is_reported_and_not_overwritten) {
    writePair("master.wav", "slave.wav");
    // Root reads a file whatever its mode; a folder in its place cannot be read by anyone.
    fs::create_directory(dir.file("qzv.ini"));
    const CliRun run = sync();
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(contains(run.output, "cannot read " + dir.file("qzv.ini") + ": Is a directory (not overwritten)"))
        << run.output;
    EXPECT_TRUE(fs::is_directory(dir.file("qzv.ini")));
    EXPECT_FALSE(fs::exists(output())) << "refused before the job";
    const CliRun history = cli(dirArg() + " history");
    EXPECT_EQ(history.status, 1);
    EXPECT_TRUE(contains(history.output, "Is a directory")) << history.output;
}

TEST_F(HostileInput, unusable_program_folder_is_refused_before_the_job) {
    writePair("master.wav", "slave.wav");
    WriteFile(dir.file("plain"), {1, 2, 3});
    const CliRun run = cli("--dir " + shellQuote(dir.file("plain/sub")) + " sync " + shellQuote(master) + " " + shellQuote(slave));
    EXPECT_EQ(run.status, 2);
    EXPECT_TRUE(contains(run.output, "the program folder " + dir.file("plain/sub") + " cannot be used")) << run.output;
}

TEST_F(HostileInput, full_disk_keeps_the_previous_synchronised_file_and_says_which_file) {
    writePair("master.wav", "slave.wav");
    ASSERT_EQ(sync().status, 0);
    const std::vector<std::uint8_t> previous = ReadFileBytes(output());
    ASSERT_GT(previous.size(), 100000u);

    // 64 KiB: qzv.ini fits, the synchronised file does not.
    const CliRun full = sync("", "ulimit -f 64; ");
    EXPECT_EQ(full.status, 1);
    EXPECT_TRUE(contains(full.output, "cannot write " + output() + ": File too large")) << full.output;
    EXPECT_EQ(ReadFileBytes(output()), previous) << "the previous result is untouched";
    for (const auto& entry : fs::directory_iterator(dir.path()))
        EXPECT_EQ(entry.path().string().rfind(output() + ".tmp", 0), std::string::npos) << "left: " << entry.path();

    const CliRun report = sync("--segment-csv", "ulimit -f 1; ");
    EXPECT_EQ(report.status, 1);
    EXPECT_TRUE(contains(report.output, "cannot write the report file " + dir.file("slave-")) &&
                contains(report.output, "File too large"))
        << report.output;
}

#if defined(__SANITIZE_ADDRESS__)
#define TANDEM_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TANDEM_ASAN 1
#endif
#endif

TEST_F(HostileInput, wave_larger_than_memory_fails_with_the_memory_message) {
#ifdef TANDEM_ASAN
    GTEST_SKIP() << "AddressSanitizer cannot run under an address-space limit";
#else
    writePair("master.wav", "slave.wav");
    // A sparse file whose data chunk claims 3 GB: it takes no disk space, and under a
    // 1 GB address-space limit it cannot be loaded.
    const std::uint32_t dataBytes = 3000000000u;
    WaveSpec spec;
    std::vector<std::uint8_t> header = MakeWaveBytes(spec, {});
    for (int i = 0; i < 4; ++i) {
        header[header.size() - 4 + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(dataBytes >> (8 * i));
        header[4 + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>((dataBytes + 36) >> (8 * i));
    }
    master = dir.file("huge.wav");
    WriteFile(master, header);
    fs::resize_file(master, header.size() + dataBytes);

    const CliRun run = sync("", "ulimit -v 1000000; ");
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(contains(run.output, "the master file " + master + " cannot be loaded: Could not allocate working memory (3000000044 bytes)."))
        << run.output;
    EXPECT_FALSE(fs::exists(output()));
    EXPECT_EQ(storedCount(dir.file("qzv.ini"), slave), 0) << "no point made up from silence";
#endif
}

TEST_F(HostileInput, an_analysis_out_of_memory_fails_and_stores_nothing) {
#ifdef TANDEM_ASAN
    GTEST_SKIP() << "AddressSanitizer cannot run under an address-space limit";
#else
    const std::uint32_t dataBytes = 1500000000u;
    std::vector<std::uint8_t> header = MakeWaveBytes(WaveSpec{}, {});
    for (int i = 0; i < 4; ++i) {
        header[header.size() - 4 + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(dataBytes >> (8 * i));
        header[4 + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>((dataBytes + 36) >> (8 * i));
    }
    const std::string file = dir.file("long.wav");
    WriteFile(file, header);
    fs::resize_file(file, header.size() + dataBytes);
    const CliRun run = cli(dirArg() + " info " + shellQuote(file), "ulimit -v 1000000; ");
    EXPECT_EQ(run.status, 1) << run.output;
    EXPECT_TRUE(contains(run.output, "Could not allocate working memory")) << run.output;
    const IniFile doc = IniFile::Parse(readText(dir.file("qzv.ini")));
    EXPECT_EQ(doc.Find(file, "Peak"), nullptr) << "no analysis of zeros is cached";
#endif
}

TEST_F(HostileInput, links_at_the_names_a_job_writes_leave_what_they_point_to_untouched) {
    writePair("master.wav", "slave.wav");
    fs::create_directories(dir.file("elsewhere"));
    struct Case {
        std::string extra, name;  // name: where the link is planted
    };
    const Case cases[] = {{"", output() + ".part"},  // the output's temporary name of older versions
                          {"--result-csv", dir.file("slave.Result.csv")},
                          {"--debug", slave + ".log"}};
    for (const Case& c : cases) {
        const std::string victim = dir.file("elsewhere/" + fs::path(c.name).filename().string());
        WriteFile(victim, {'k', 'e', 'e', 'p'});
        fs::create_symlink(victim, c.name);
        const CliRun run = sync(c.extra);
        EXPECT_EQ(run.status, 0) << run.output;
        EXPECT_EQ(readText(victim), "keep") << c.name;
    }
    EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(dir.file("slave.Result.csv")))) << "the link itself replaced";
    EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(slave + ".log")));
}

TEST_F(HostileInput, a_job_on_a_pair_another_job_is_running_refuses_with_status_1) {
    writePair("master.wav", "slave.wav");
    ASSERT_EQ(sync().status, 0);
    const std::vector<std::uint8_t> before = ReadFileBytes(output());
    const IniFile stored = IniFile::Parse(readText(dir.file("qzv.ini")));
    SetProgramFolder(dir.path());
    const PairLock running(slave, master);  // the pair in either order
    for (const std::string command : {"sync", "remix"}) {
        const CliRun run = cli(dirArg() + " " + command + " " + shellQuote(master) + " " + shellQuote(slave) + " --quiet");
        EXPECT_EQ(run.status, 1) << command;
        EXPECT_TRUE(contains(run.output, "another job on " + master + " and " + slave + " is running")) << run.output;
    }
    EXPECT_EQ(ReadFileBytes(output()), before);
    const IniFile after = IniFile::Parse(readText(dir.file("qzv.ini")));
    const auto value = [&](const IniFile& doc, const char* key) {
        const std::string* v = doc.Find(slave, key);
        return v ? *v : std::string("<missing>");
    };
    for (const char* key : {"Count", "DP0", "DP1"}) EXPECT_EQ(value(after, key), value(stored, key)) << key;
}

TEST_F(HostileInput, equalised_copy_of_a_file_in_a_read_only_folder_goes_to_the_cache_folder) {
    // Run as another user when root, for whom no folder is read-only.
    const std::string as = ::geteuid() == 0 ? "setpriv --reuid=65534 --regid=65534 --clear-groups " : "";
    fs::permissions(dir.path(), fs::perms::all);
    fs::create_directories(dir.file("takes"));
    fs::create_directories(dir.file("cache"));
    fs::permissions(dir.file("cache"), fs::perms::all);
    const std::string take = dir.file("takes/take.wav");
    WriteStereoWave(take, pair.master);
    fs::permissions(dir.file("takes"), fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                           fs::perms::others_read | fs::perms::others_exec);
    const CliRun run = cli(dirArg() + " eq " + shellQuote(take) + " --band 100,2000",
                           "XDG_CACHE_HOME=" + shellQuote(dir.file("cache")) + " " + as);
    EXPECT_EQ(run.status, 0) << run.output;
    const std::string copy = run.output.substr(0, run.output.find('\n'));
    EXPECT_EQ(FolderOf(copy), dir.file("cache/tandem/")) << run.output;
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.file("takes")), fs::directory_iterator()), 1);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.file("cache/tandem")), fs::directory_iterator()), 1);
}

// Sets one key of qzv.ini as a user's editor would.
void editIni(const std::string& ini, const std::string& section, const std::string& key, const std::string& value) {
    IniFile doc = IniFile::Parse(readText(ini));
    doc.Set(section, key, value);
    std::ofstream(ini, std::ios::binary | std::ios::trunc) << doc.Serialize();
}

// Every stated size is bounded by the file: a 4 KB RF64 file stating 2^40 bytes and a
// 1.7 MB file stating 0x7FFFFFFF are read, measured and copied as what they hold.
TEST_F(HostileInput, sizes_a_header_states_past_the_file_cost_only_what_the_file_holds) {
    WaveSpec rf64;
    rf64.rf64 = true;
    std::vector<std::uint8_t> small = MakeWaveBytes(rf64, std::vector<std::uint8_t>(4000, 7));
    for (int i = 0; i < 8; ++i) small[28 + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>((std::uint64_t{1} << 40) >> (8 * i));
    WriteFile(dir.file("rf64.wav"), small);
    std::vector<std::uint8_t> big = StereoWave(pair.master);
    big.resize(1700000, 3);
    for (int i = 0; i < 4; ++i) big[40 + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(0x7FFFFFFFu >> (8 * i));
    WriteFile(dir.file("big.wav"), big);
    for (const char* name : {"rf64.wav", "big.wav"}) {
        const std::string file = shellQuote(dir.file(name));
        const auto started = std::chrono::steady_clock::now();
        const CliRun info = cli(dirArg() + " info " + file, "timeout -s KILL 60 ");
        EXPECT_EQ(info.status, 0) << info.output;
        EXPECT_TRUE(contains(info.output, "only the frames the file holds are read")) << info.output;
        const CliRun eq = cli(dirArg() + " eq " + file + " --band 500,2000", "timeout -s KILL 60 ");
        EXPECT_EQ(eq.status, 0) << eq.output;
        EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(30)) << name;
        const std::string copy = eq.output.substr(0, eq.output.find('\n'));
        EXPECT_LE(fs::file_size(copy), 2 * fs::file_size(dir.file(name))) << "sized from the frames the file holds";
    }
}

TEST_F(HostileInput, stored_counts_and_points_that_cannot_be_are_searched_again_never_followed) {
    writePair("master.wav", "slave.wav");
    ASSERT_EQ(sync().status, 0);
    const std::string ini = dir.file("qzv.ini");
    const std::string clean = storedPoints(ini, slave);
    const auto cleanSize = fs::file_size(output());
    const std::string saved = readText(ini);
    const int n = storedCount(ini, slave);
    ASSERT_GT(n, 10);
    struct Case {
        const char* what;
        bool slaveSide;
        std::string key, value;
        const char* extra;
    } cases[] = {
        {"a count of two billion", false, "Count", "2000000000", ""},
        {"a count of two billion, resumed", true, "Count", "2000000000", "--resume"},
        {"a negative count", true, "Count", "-5", ""},
        {"a master point before the file", false, "DP5", "-1000000", ""},
        {"a master point far past the file", false, "DP3", "99999999", "--resume"},
        {"every slave point the same", true, "*", "5000", "--resume"},
    };
    for (const Case& c : cases) {
        std::ofstream(ini, std::ios::binary | std::ios::trunc) << saved;
        const std::string& section = c.slaveSide ? slave : master;
        if (c.key == "*") {
            for (int i = 0; i < n; ++i) editIni(ini, section, "DP" + std::to_string(i), c.value);
            editIni(ini, master, "Count", std::to_string(n / 2));
            editIni(ini, slave, "Count", std::to_string(n / 2));
        } else {
            editIni(ini, section, c.key, c.value);
        }
        const CliRun run = sync(c.extra, "timeout -s KILL 60 ");
        EXPECT_EQ(run.status, 0) << c.what << "\n" << run.output;
        EXPECT_EQ(storedPoints(ini, slave), clean) << c.what << ": the points of a fresh job";
        EXPECT_EQ(fs::file_size(output()), cleanSize) << c.what;
    }
    // remix has nothing to search with: it refuses and says which point is wrong.
    std::ofstream(ini, std::ios::binary | std::ios::trunc) << saved;
    editIni(ini, master, "DP3", "99999999");
    const CliRun remix = cli(dirArg() + " remix " + shellQuote(master) + " " + shellQuote(slave) +
                             " --mix 100,-90,100,-90,100,90,100,90 --quiet");
    EXPECT_EQ(remix.status, 1);
    EXPECT_TRUE(contains(remix.output, "point DP3 stored for " + master + " cannot be used")) << remix.output;
    EXPECT_EQ(fs::file_size(output()), cleanSize);
}

TEST_F(HostileInput, a_replaced_file_never_lends_its_points_to_the_new_one) {
    writePair("master.wav", "slave.wav");
    ASSERT_EQ(sync().status, 0);
    const std::string ini = dir.file("qzv.ini");
    // Another take of the same length, with the old one's modification time (cp -p).
    SyntheticPairSpec other;
    other.seconds = 5.0;
    other.seed = 99;
    other.ppm = -3000.0;
    struct stat before {};
    ASSERT_EQ(::stat(slave.c_str(), &before), 0);
    WriteStereoWave(slave, MakeSyntheticPair(other).slave);
    const timespec times[2] = {before.st_atim, before.st_mtim};
    ASSERT_EQ(::utimensat(AT_FDCWD, slave.c_str(), times, 0), 0);
    const std::string old = storedPoints(ini, slave);

    const CliRun remix = cli(dirArg() + " remix " + shellQuote(master) + " " + shellQuote(slave) +
                             " --mix 100,-90,100,-90,100,90,100,90 --quiet");
    EXPECT_EQ(remix.status, 1);
    EXPECT_TRUE(contains(remix.output, "were found on the file it replaced")) << remix.output;
    const CliRun resumed = sync("--resume");
    EXPECT_TRUE(contains(resumed.output, "were found on the file it replaced")) << resumed.output;
    EXPECT_FALSE(contains(resumed.output, "resuming after")) << resumed.output;
    EXPECT_NE(storedPoints(ini, slave), old);
    EXPECT_TRUE(contains(readText(ini), "FileHash=")) << "the analysis is tied to the content too";
}

TEST_F(HostileInput, a_settings_file_that_is_a_fifo_or_a_device_is_refused_at_once) {
    const std::string ini = dir.file("qzv.ini");
    ASSERT_EQ(::mkfifo(ini.c_str(), 0600), 0);
    CliRun run = cli(dirArg() + " history", "timeout -s KILL 20 ");
    EXPECT_EQ(run.status, 1) << run.output;
    EXPECT_TRUE(contains(run.output, "not a regular file")) << run.output;
    fs::remove(ini);
    fs::create_symlink("/dev/zero", ini);
    run = cli(dirArg() + " history", "ulimit -t 20; ");
    EXPECT_EQ(run.status, 1) << run.output;
    EXPECT_TRUE(contains(run.output, "not a regular file")) << run.output;
}

TEST_F(HostileInput, a_stop_point_is_judged_on_what_was_searched_and_says_the_rest_is_extrapolated) {
    SyntheticPairSpec wobbly;
    wobbly.seconds = 20.0;
    wobbly.wobblePpm = 4000.0;
    wobbly.wobblePeriodSeconds = 12.0;
    pair = MakeSyntheticPair(wobbly);
    writePair("master.wav", "slave.wav");
    const CliRun run = sync("--stop-point 50");
    EXPECT_EQ(run.status, 0) << run.output;
    EXPECT_TRUE(contains(run.output, "not searched: extrapolated")) << run.output;
}

TEST_F(HostileInput, reversed_or_empty_bands_are_bad_arguments) {
    writePair("master.wav", "slave.wav");
    CliRun run = sync("--band 2000,500");
    EXPECT_EQ(run.status, 2);
    EXPECT_TRUE(contains(run.output, "reversed or empty")) << run.output;
    run = cli(dirArg() + " eq " + shellQuote(master) + " --band 500,500");
    EXPECT_EQ(run.status, 2);
    EXPECT_FALSE(fs::exists(dir.file("master_EQ(500,500).wav")));
}

TEST_F(HostileInput, every_line_of_a_run_is_in_one_language_when_settings_cannot_be_saved) {
    writePair("master.wav", "slave.wav");
    WriteFile(dir.file("qzv.ini"), {});
    fs::permissions(dir.file("qzv.ini"), fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    const CliRun run = cli(dirArg() + " info " + shellQuote(master), "LANG=C.UTF-8 ");
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(contains(run.output, "read-only")) << run.output;
    EXPECT_FALSE(contains(run.output, "設定")) << run.output;
}

TEST_F(HostileInput, a_second_ctrl_c_leaves_no_temporary_and_no_pair_lock) {
    SyntheticPairSpec longer;
    longer.seconds = 60.0;
    pair = MakeSyntheticPair(longer);
    writePair("master.wav", "slave.wav");
    // Interrupted twice once the job holds its lock.
    const std::string script = std::string(TANDEM_CLI_PATH) + " " + dirArg() + " sync " + shellQuote(master) + " " +
                               shellQuote(slave) + " --quiet & pid=$!; for i in $(seq 500); do ls " +
                               shellQuote(dir.path()) + "/.tandem-pair-*.lock >/dev/null 2>&1 && break; sleep 0.01; done; "
                               "kill -INT $pid; sleep 0.05; kill -INT $pid; wait $pid; echo status=$?";
    const CliRun run = shell(script + " 2>&1");
    EXPECT_TRUE(contains(run.output, "status=130")) << run.output;
    for (const auto& entry : fs::directory_iterator(dir.path())) {
        const std::string name = entry.path().filename().string();
        EXPECT_FALSE(contains(name, ".tmp-") || contains(name, ".lock")) << name;
    }
}

}  // namespace
}  // namespace tandem::test
