// The subcommands of tandem-cli. Each returns the process exit status below.
#pragma once

#include <string>
#include <vector>

#include "sync/JobPresets.h"

namespace tandem::cli {

// Exit statuses (also in the help text and README.md).
constexpr int kExitOk = 0;           // done; a synchronised file was written and is in step
constexpr int kExitFailed = 1;       // the job failed (the reason is printed)
constexpr int kExitBadArguments = 2; // bad arguments or input files
constexpr int kExitNotInStep = 3;    // the file was written, but its check found it out of step
constexpr int kExitStopped = 4;      // stopped by Ctrl-C or SIGTERM; the file was written from what was found
// A second Ctrl-C or SIGTERM ends the program at once with 130.
constexpr int kExitInterrupted = 130;

struct InfoArgs {
    std::string file;
};

struct SyncArgs {
    std::string master, slave;
    std::string level = "1";
    int masterSkip = 0, slaveSkip = 0;  // 0.1 s
    std::vector<int> band;              // LOW,HIGH
    int stopPoint = 0;                  // 0.1 s
    bool resultCsv = false, startCsv = false, segmentCsv = false, keepEq = false;
    bool debug = false;
    ExpertValues expert;
    bool background = false;
    bool quiet = false;
    // All four: only the plain search.
    bool noRobustStart = false, noAnchorEnds = false, noLockGuard = false, noCoarseTrack = false;
    bool resume = false;  // lead-ins from the points a stopped or killed job left
    std::string interpolation;  // of the output's slave: sinc, linear (as before) or "" (TandemEnv INTERPOLATION)
    bool slaveOut = false;               // also the slave alone on the master's timeline
    std::string plot;     // the track's picture as PNG, "" = none
};

struct RemixArgs {
    std::string master, slave;
    std::vector<int> mix{100, -90, 100, -90, 100, 90, 100, 90};
    bool quiet = false;
    bool slaveOut = false;
};

struct EqArgs {
    std::string file;
    std::vector<int> band;
};

struct DemoArgs {
    double seconds = 75.0;
    std::string level = "1";
    bool keep = false;
};

struct CheckArgs {
    std::string file;
    std::string csv;  // window rows, "" = none
};

int RunInfo(const InfoArgs& args);
// The verdict on a synchronised file (left master, right slave) made earlier.
int RunCheck(const CheckArgs& args);
int RunSync(const SyncArgs& args);
int RunRemix(const RemixArgs& args);
int RunEq(const EqArgs& args);
int RunDemo(const DemoArgs& args);
// Writes a generated pair as DIR/master.wav and DIR/slave.wav (tests and scripts).
int RunMakePair(const std::string& folder, double seconds);
int RunHistory();

// Writes the picture of a job's track to path (cli/Plot.cpp, built with Qt); false after
// saying why on stderr.
bool WritePlot(const std::string& trackCsv, const std::string& checkCsv, const std::string& master,
               const std::string& slave, const std::string& path);

}  // namespace tandem::cli
