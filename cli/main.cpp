// tandem-cli: the command-line front end. Runs the same jobs as the desktop program's
// Start button, on the same qzv.ini and with the same outputs.
#include <CLI/CLI.hpp>

#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <filesystem>

#include "cli/Commands.h"
#include "cli/Messages.h"
#include "core/Alert.h"
#include "core/Message.h"
#include "core/ProgramFolder.h"
#include "settings/Settings.h"

int main(int argc, char** argv) {
    using namespace tandem::cli;
    InitMessages();
    CLI::App app{_("Tandem: puts two recordings of the same material in step.")};
    // CLI11's own words in the help, in the same language (subcommands inherit them).
    for (const char* label : {N_("Usage"), N_("OPTIONS"), N_("SUBCOMMAND"), N_("SUBCOMMANDS"), N_("REQUIRED"),
                              N_("Positionals"), N_("TEXT"), N_("INT"), N_("FLOAT"), N_("UINT")})
        app.get_formatter()->label(label, _(label));
    app.option_defaults()->group(_("Options"));
    app.set_help_flag("-h,--help", _("Print this help message and exit"));
    app.require_subcommand(1);
    std::string folder;
    app.add_option("--dir", folder,
                   _("Program folder for qzv.ini, the synchronised file and reports (default: the executable's folder)"));

    InfoArgs info;
    CLI::App* infoCmd = app.add_subcommand("info", _("Show a WAVE file's format and level analysis"));
    infoCmd->add_option("file", info.file, _("WAVE file"))->required();

    CheckArgs check;
    CLI::App* checkCmd = app.add_subcommand("check", _("Check how well a synchronised file's right channel lines up with its left"));
    checkCmd->add_option("file", check.file, _("Synchronised WAVE file (master left, slave right)"))->required();
    checkCmd->add_option("--csv", check.csv, _("Write the lag of every window to this CSV file"));

    SyncArgs sync;
    CLI::App* syncCmd = app.add_subcommand("sync", _("Synchronise SLAVE to MASTER and write the synchronised file"));
    syncCmd->add_option("master", sync.master, _("Master (reference) WAVE file"))->required();
    syncCmd->add_option("slave", sync.slave, _("Slave WAVE file (the one put in step)"))->required();
    syncCmd->add_option("--level", sync.level, _("相異点: 0..3 or 少 普 多 BT (default 普)"));
    syncCmd->add_option("--master-skip", sync.masterSkip, _("Master lead-in not searched, in 0.1 s steps"))->check(CLI::Range(0, 10000));
    syncCmd->add_option("--slave-skip", sync.slaveSkip, _("Slave lead-in not searched, in 0.1 s steps"))->check(CLI::Range(0, 10000));
    syncCmd->add_option("--band", sync.band, _("EQ band LOW,HIGH in Hz (below 100 / above 12000 count as none)"))->delimiter(',')->expected(2);
    syncCmd->add_option("--stop-point", sync.stopPoint, _("Stop the search after this master position, 0.1 s steps (0 = none)"))->check(CLI::Range(0, 10000));
    syncCmd->add_flag("--result-csv", sync.resultCsv, _("Write <slave>.Result.csv"));
    syncCmd->add_flag("--start-csv", sync.startCsv, _("Write the start point CSV files"));
    syncCmd->add_flag("--segment-csv", sync.segmentCsv, _("Write a CSV file per segment"));
    syncCmd->add_flag("--keep-eq", sync.keepEq, _("Keep the equalised copies"));
    syncCmd->add_flag("--debug", sync.debug, _("Debug mode: use the expert values as given, log to <slave>.log"));
    syncCmd->add_option("--base-step", sync.expert.baseStep, _("Division interval in 0.1 s (needs --debug)"))->check(CLI::Range(1, 50));
    syncCmd->add_option("--range-s", sync.expert.rangeS, _("Start point search range in frames (needs --debug)"))->check(CLI::Range(0, 10000));
    syncCmd->add_option("--range-e", sync.expert.rangeE, _("Division point search range in frames (needs --debug)"))->check(CLI::Range(0, 44100));
    syncCmd->add_flag("--background", sync.background, _("Run the job at the lowest priority (nice 19, all its threads)"));
    syncCmd->add_flag("--quiet", sync.quiet, _("No progress display"));
    syncCmd->add_flag("--no-robust-start", sync.noRobustStart,
                      _("Start point from the onsets alone, no correlation check (also TandemEnv ROBUST_START=0)"));
    syncCmd->add_flag("--no-anchor-ends", sync.noAnchorEnds,
                      _("Keep segment ends as the search found them, no re-anchoring (also TandemEnv ANCHOR_ENDS=0)"));
    syncCmd->add_flag("--no-lock-guard", sync.noLockGuard,
                      _("Accept every segment end as the search found it, no lock guard (also TandemEnv LOCK_GUARD=0)"));
    syncCmd->add_flag("--no-coarse-track", sync.noCoarseTrack,
                      _("Search segment by segment only, without the whole-file track (also TandemEnv COARSE_TRACK=0)"));
    syncCmd->add_flag("--resume", sync.resume,
                      _("Go on after the points that a stopped or killed job on this pair stored (sets the lead-ins)"));
    syncCmd->add_option("--plot", sync.plot, _("Write a picture of the track (rate, lag, stretches off, events) as PNG"));

    syncCmd->add_option("--interpolation", sync.interpolation,
                        _("How the output's slave is read: sinc (band-limited, sub-frame points, the default) or "
                          "linear (whole frames, as before; also TandemEnv INTERPOLATION=linear)"))
        ->check(CLI::IsMember({"sinc", "linear"}));
    syncCmd->add_flag("--slave-out", sync.slaveOut, _("Also write the slave alone on the master's timeline, <slave>【<master>】.wav"));

    RemixArgs remix;
    CLI::App* remixCmd = app.add_subcommand("remix", _("Rebuild the synchronised file from the stored points with a new mix"));
    remixCmd->add_option("master", remix.master, _("Master WAVE file"))->required();
    remixCmd->add_option("slave", remix.slave, _("Slave WAVE file"))->required();
    remixCmd->add_option("--mix", remix.mix, _("Volume,pan of Master-L, Master-R, Slave-L, Slave-R (8 numbers)"))
        ->delimiter(',')->expected(8);
    remixCmd->add_flag("--quiet", remix.quiet, _("No progress display"));
    remixCmd->add_flag("--slave-out", remix.slaveOut, _("Also write the slave alone on the master's timeline, <slave>【<master>】.wav"));

    EqArgs eq;
    CLI::App* eqCmd = app.add_subcommand("eq", _("Make the equalised copy FILE_EQ(LOW,HIGH).wav"));
    eqCmd->add_option("file", eq.file, _("WAVE file"))->required();
    eqCmd->add_option("--band", eq.band, _("LOW,HIGH in Hz (0 = no edge)"))->delimiter(',')->expected(2)->required();

    CLI::App* historyCmd = app.add_subcommand("history", _("List the job history as the desktop program's job list shows it"));

    DemoArgs demo;
    CLI::App* demoCmd = app.add_subcommand("demo", _("Synchronise a generated pair with a known drift and show the error"));
    demoCmd->add_option("--seconds", demo.seconds, _("Length of the generated material"))->check(CLI::Range(10.0, 3600.0));
    demoCmd->add_option("--level", demo.level, _("相異点: 0..3 or 少 普 多 BT (default 普)"));
    demoCmd->add_flag("--keep", demo.keep, _("Keep the temporary folder"));

    std::string pairFolder;
    double pairSeconds = 30.0;
    CLI::App* pairCmd = app.add_subcommand("make-pair", _("Write a generated pair as DIR/master.wav and DIR/slave.wav"));
    pairCmd->group("");  // for tests and scripts; not in the help
    pairCmd->add_option("dir", pairFolder, _("Folder"))->required();
    pairCmd->add_option("--seconds", pairSeconds, _("Length of the material"))->check(CLI::Range(1.0, 10800.0));

    app.get_help_ptr()->group(_("Options"));
    for (CLI::App* command : app.get_subcommands({})) {
        if (!command->get_group().empty()) command->group(_("Subcommands"));
        command->get_help_ptr()->group(_("Options"));
    }
    app.footer(
        "Exit status:\n"
        "  0    done; a synchronised file was written and its check found it in step\n"
        "  1    the job failed (the reason is printed)\n"
        "  2    bad arguments or input files\n"
        "  3    the synchronised file was written, but its check found it out of step: less than 90 % of\n"
        "       the measurable windows within +-1 ms, or too little measurable where both files hold sound\n"
        "  4    stopped by Ctrl-C or SIGTERM; the synchronised file was written from the points found\n"
        "  130  a second Ctrl-C or SIGTERM ended the program at once");

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        // --help and --version end here with 0; every argument error is status 2.
        return app.exit(e) == 0 ? 0 : 2;
    }
    // Outside debug mode the level's presets decide these: refused, not silently dropped.
    if (!sync.debug) {
        for (const char* name : {"--base-step", "--range-s", "--range-e"}) {
            if (syncCmd->count(name) > 0) {
                std::fprintf(stderr, _("tandem-cli: %s needs --debug (outside debug mode --level sets it)\n"), name);
                return 2;
            }
        }
    }
    // A file-size limit (ulimit -f) then fails the write with a message instead of
    // killing the program half-way through a file.
    std::signal(SIGXFSZ, SIG_IGN);

    try {
        if (!folder.empty()) {
            // Checked first: a job would otherwise search to the end and only then fail
            // to store its points and its file.
            std::error_code ec;
            if (!std::filesystem::exists(folder, ec) && !ec) {
                // Only a job has something to put there; the other commands read it.
                if (*syncCmd && std::filesystem::create_directories(folder, ec))
                    std::fprintf(stderr, "tandem-cli: created the program folder %s\n", folder.c_str());
                else if (!ec)
                    ec = std::make_error_code(std::errc::no_such_file_or_directory);
            }
            if (!ec && !std::filesystem::is_directory(folder, ec) && !ec) ec = std::make_error_code(std::errc::not_a_directory);
            if (!ec && ::access(folder.c_str(), W_OK) != 0) ec = std::error_code(errno, std::generic_category());
            if (ec) {
                std::fprintf(stderr, _("tandem-cli: the program folder %s cannot be used: %s\n"), folder.c_str(),
                             tandem::SystemErrorText(ec.value()).c_str());
                return 2;
            }
            tandem::SetProgramFolder(std::filesystem::absolute(folder).string());
        }
        int status = 2;
        if (*infoCmd) status = RunInfo(info);
        if (*checkCmd) status = RunCheck(check);
        if (*syncCmd) status = RunSync(sync);
        if (*remixCmd) status = RunRemix(remix);
        if (*eqCmd) status = RunEq(eq);
        if (*demoCmd) status = RunDemo(demo);
        if (*historyCmd) status = RunHistory();
        if (*pairCmd) status = RunMakePair(pairFolder, pairSeconds);
        std::string why;
        if (!tandem::SettingsFlush(&why)) {
            std::fprintf(stderr, "tandem-cli: %s\n", why.c_str());
            if (status == 0) status = 1;
        }
        return status;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "tandem-cli: %s\n", e.what());
        return 1;
    }
}
