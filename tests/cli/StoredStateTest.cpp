// Whole short jobs on a 2 s pair with random qzv.ini contents: whatever the stored state
// says, every run ends within its time and memory bound with status 0, 1, 2 or 3.
//
// ctest runs a few seeds. TANDEM_STORED_STATE_SECONDS=N runs new seeds for N seconds
// (scripts/fuzz.sh); TANDEM_STORED_STATE_SEED=S starts there (to replay a failure).
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <random>

#include "cli/CliRun.h"
#include "settings/IniFile.h"
#include "sync/SyntheticPair.h"

namespace tandem::test {
namespace {

std::string readText(const std::string& path) {
    const std::vector<std::uint8_t> bytes = ReadFileBytes(path);
    return std::string(bytes.begin(), bytes.end());
}

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
const char* const kMemoryBound = "";  // sanitizers reserve more address space than any bound
#else
// A clean job on the pair peaks under 100 MB; a bloated one ends at 1 GB.
const char* const kMemoryBound = "ulimit -v 1000000; ";
#endif
// A clean job takes 0.2 s; 30 s leaves room for a loaded machine and the sanitizers.
constexpr int kTimeBoundSeconds = 30;

class StoredState : public Cli {
protected:
    void SetUp() override {
        Cli::SetUp();
        SyntheticPairSpec spec;
        spec.seconds = 2.0;
        const SyntheticPair pair = MakeSyntheticPair(spec);
        master = dir.file("m.wav");
        slave = dir.file("s.wav");
        WriteStereoWave(master, pair.master);
        WriteStereoWave(slave, pair.slave);
        ASSERT_EQ(job("sync").status, 0);
        clean = readText(dir.file("qzv.ini"));
    }

    CliRun job(const std::string& command) {
        std::string args = dirArg() + " ";
        if (command == "remix") {
            args += "remix " + shellQuote(master) + " " + shellQuote(slave) + " --mix 100,-90,100,-90,100,90,100,90";
        } else {
            args += "sync " + shellQuote(master) + " " + shellQuote(slave) + (command == "resume" ? " --resume" : "");
        }
        return cli(args + " --quiet", std::string(kMemoryBound) + "timeout -s KILL " + std::to_string(kTimeBoundSeconds) + " ");
    }

    // qzv.ini after a clean job, changed at random: counts, points, records, paths, garbage.
    std::string mutated(std::mt19937& rng) const {
        IniFile doc = IniFile::Parse(clean);
        const auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
        const std::string values[] = {"0", "1", "-1", "-5", "2", "25", "2000000000", "2147483647", "-2147483648",
                                      "99999999", "-1000000", "5000", "lots", "", "1e9", "0x10", "99999999999999"};
        const std::string keys[] = {"Count", "PairStart", "PairStep", "PairMode", "PairLevel", "PhaseShift",
                                    "PointsBytes", "PointsTimeNs", "PointsHash", "FileBytes", "Peak", "Average"};
        const int edits = 1 + pick(8);
        std::string tail;
        for (int e = 0; e < edits; ++e) {
            const std::string& section = pick(2) ? master : slave;
            switch (pick(6)) {
                case 0: doc.Set(section, keys[pick(std::size(keys))], values[pick(std::size(values))]); break;
                case 1: doc.Set(section, "DP" + std::to_string(pick(40)), values[pick(std::size(values))]); break;
                case 2: {  // every point the same, or in reverse order
                    const bool same = pick(2);
                    for (int i = 0; i < 30; ++i) doc.Set(section, "DP" + std::to_string(i), std::to_string(same ? 777 : 90000 - 3000 * i));
                    break;
                }
                case 3: doc.Set(section, pick(2) ? "PairMaster" : "PairSlave", pick(2) ? slave : dir.file("[x]m.wav")); break;
                case 4: doc.Set(section, "DP" + std::to_string(pick(40)), std::to_string(static_cast<int>(rng() % 200000) - 1000)); break;
                default: {
                    tail += "[" + section.substr(0, static_cast<std::size_t>(pick(static_cast<int>(section.size()) + 1))) + "\n";
                    for (int i = 0, n = pick(40); i < n; ++i) tail += static_cast<char>(1 + rng() % 255);
                    tail += "\nCount=" + values[pick(std::size(values))] + "\n";
                }
            }
        }
        return doc.Serialize() + tail;
    }

    // Runs one seed; false when a run broke its bound.
    bool runSeed(unsigned seed) {
        std::mt19937 rng(seed);
        std::ofstream(dir.file("qzv.ini"), std::ios::binary | std::ios::trunc) << mutated(rng);
        const char* commands[] = {"sync", "resume", "remix"};
        const std::string command = commands[rng() % 3];
        const auto started = std::chrono::steady_clock::now();
        const CliRun run = job(command);
        const auto took = std::chrono::steady_clock::now() - started;
        const bool ok = run.status >= 0 && run.status <= 3 && took < std::chrono::seconds(kTimeBoundSeconds);
        EXPECT_TRUE(ok) << "seed " << seed << ", " << command << ": status " << run.status << " after "
                        << std::chrono::duration<double>(took).count() << " s\n" << run.output << "\nqzv.ini:\n"
                        << readText(dir.file("qzv.ini"));
        return ok;
    }

    std::string master, slave, clean;
};

TEST_F(StoredState, random_stored_state_never_hangs_bloats_or_crashes_a_job) {
    const char* seconds = std::getenv("TANDEM_STORED_STATE_SECONDS");
    const char* first = std::getenv("TANDEM_STORED_STATE_SEED");
    unsigned seed = first ? static_cast<unsigned>(std::strtoul(first, nullptr, 10)) : 1;
    if (!seconds) {
        for (unsigned end = seed + 6; seed < end;) runSeed(seed++);
        return;
    }
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(std::atoi(seconds));
    int runs = 0, failed = 0;
    while (std::chrono::steady_clock::now() < until && failed < 5) {
        failed += !runSeed(seed++);
        ++runs;
    }
    std::printf("stored state: %d runs (seeds from %s), %d beyond their bounds\n", runs, first ? first : "1", failed);
}

// Many pairs at once, as the README describes: independent jobs on one program folder,
// two at a time, each with its own status; the shared history gets every job.
TEST_F(StoredState, four_jobs_through_xargs_two_at_a_time_each_end_in_step_and_all_enter_the_history) {
    std::string list;
    for (int i = 0; i < 4; ++i) {
        SyntheticPairSpec spec;
        spec.seconds = 2.0;
        spec.seed = 20 + static_cast<unsigned>(i);
        const SyntheticPair pair = MakeSyntheticPair(spec);
        const std::string m = dir.file("m" + std::to_string(i) + ".wav"), s = dir.file("s" + std::to_string(i) + ".wav");
        WriteStereoWave(m, pair.master);
        WriteStereoWave(s, pair.slave);
        list += m + " " + s + "\n";
    }
    std::ofstream(dir.file("pairs.txt")) << list;
    // The folder's name needs no quoting (a temporary folder): it sits inside sh -c '...'.
    const std::string run = "xargs -P 2 -L 1 sh -c '" + std::string(TANDEM_CLI_PATH) + " --dir " + dir.path() +
                            " sync \"$0\" \"$1\" --quiet >/dev/null 2>&1; echo \"status $? $1\"' < " +
                            shellQuote(dir.file("pairs.txt"));
    const CliRun batch = shell(run);
    for (int i = 0; i < 4; ++i)
        EXPECT_NE(batch.output.find("status 0 " + dir.file("s" + std::to_string(i) + ".wav")), std::string::npos) << batch.output;
    const CliRun history = cli(dirArg() + " history");
    for (int i = 0; i < 4; ++i)
        EXPECT_NE(history.output.find("s" + std::to_string(i) + ".wav"), std::string::npos) << history.output;
}

}  // namespace
}  // namespace tandem::test
