// tandem-cli demo: a generated pair with a known drift, synchronised in a temporary
// folder, and how far the found slave positions lie from the true ones.
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>

#include "cli/Commands.h"
#include "cli/Messages.h"
#include "cli/Console.h"
#include "core/ProgramFolder.h"
#include "settings/Settings.h"
#include "sync/StoredPoints.h"
#include "sync/SyntheticPair.h"

namespace tandem::cli {

int RunMakePair(const std::string& folder, double seconds) {
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    SyntheticPairSpec spec;
    spec.seconds = seconds;
    const SyntheticPair pair = MakeSyntheticPair(spec);
    const std::string base = folder.empty() || folder.back() == '/' ? folder : folder + "/";
    WriteStereoWave(base + "master.wav", pair.master);
    WriteStereoWave(base + "slave.wav", pair.slave);
    std::printf("%smaster.wav\n%sslave.wav\n", base.c_str(), base.c_str());
    return 0;
}

int RunDemo(const DemoArgs& a) {
    const int level = ParseLevel(a.level);
    if (level < 0) {
        std::fprintf(stderr, _("tandem-cli: unknown level '%s'\n"), a.level.c_str());
        return 2;
    }
    std::string pattern = (std::filesystem::temp_directory_path() / "tandem-demo-XXXXXX").string();
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (!::mkdtemp(buffer.data())) {
        std::perror(_("tandem-cli: cannot make a temporary folder"));
        return 1;
    }
    const std::string folder = std::string(buffer.data()) + "/";
    SetProgramFolder(folder);

    SyntheticPairSpec spec;
    spec.seconds = a.seconds;
    std::printf(_("Generating %.0f s of music-like material: slave clock %+.0f ppm with a +-%.0f ppm wobble (%.0f s period),\n"
                  "lead-in %.1f s (master) / %.1f s (slave), noise %.0f dB ...\n"),
                spec.seconds, spec.ppm, spec.wobblePpm, spec.wobblePeriodSeconds, spec.masterPadSeconds,
                spec.slavePadSeconds, spec.slaveNoiseDb);
    const SyntheticPair pair = MakeSyntheticPair(spec);
    const std::string master = folder + "demo_master.wav";
    const std::string slave = folder + "demo_slave.wav";
    WriteStereoWave(master, pair.master);
    WriteStereoWave(slave, pair.slave);

    SyncArgs sync;
    sync.master = master;
    sync.slave = slave;
    sync.level = a.level;
    const int status = RunSync(sync);

    const StoredPoints masterPoints(master), slavePoints(slave);
    const int count = LastStoredPair(masterPoints, slavePoints).stored;
    std::vector<double> errors;
    for (int n = 0; n < count; ++n) {
        const double m = static_cast<double>(masterPoints.at(n));
        const double s = static_cast<double>(slavePoints.at(n));
        if (m >= pair.master.size()) continue;
        errors.push_back(std::fabs(s - pair.SlavePositionOf(m)));
    }
    if (!errors.empty()) {
        std::vector<double> sorted = errors;
        std::sort(sorted.begin(), sorted.end());
        const double median = sorted[sorted.size() / 2];
        const long within2 = std::count_if(sorted.begin(), sorted.end(), [](double e) { return e <= 2.0; });
        std::printf(_("Found %zu division points. Error of the slave positions against the truth: median %.2f frames, "
                      "worst %.2f frames, %.1f %% within 2 frames.\n"),
                    errors.size(), median, sorted.back(), 100.0 * within2 / errors.size());
    } else {
        std::printf(_("No division points were found.\n"));
    }
    SettingsFlush();
    if (a.keep) {
        std::printf(_("Files kept in %s\n"), folder.c_str());
    } else {
        SettingsReset();
        std::error_code ec;
        std::filesystem::remove_all(folder, ec);
    }
    return status;
}

}  // namespace tandem::cli
