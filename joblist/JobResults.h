// What each job came to when it last ran, for the job list's date and result columns.
// Kept beside the history (section JobResults of the settings store) rather than in it,
// so the history's stored form stays as other programs read it: per record MASTERi,
// SLAVEi, SKIPMASTERi (the job's identity, as in the history), WHENi (seconds since
// 1970, UTC) and RESULTi (a Verdict number; -1 while the job runs). Newest first, at most
// kJobCapacity records: a job the history forgot drops out with the oldest.
//
// A record still marked running when nothing runs any more is a job that never ended
// (the program was killed): the list calls it unfinished.
//
// Thread safety: not reentrant; each write is one step against other processes.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tandem {

struct JobOutcome;

// What a finished job comes to.
enum class Verdict {
    None,       // no job has ended (or the job list: it never ran)
    InStep,     // written and checked in step
    NotInStep,  // written, but the check found it out of step (unrelated or silent slave)
    Stopped,    // stopped by the user (STOP, closing the window, Ctrl-C)
    Failed,     // no file, or a failure the check cannot outweigh
    Written,    // written with a mix the check cannot judge (a remix)
};
Verdict VerdictOf(const JobOutcome& outcome);

struct JobResult {
    std::string master, slave;
    int masterSkip = 0;     // 0.1 s, as the history's entry
    std::int64_t when = 0;  // start (while running) or end, seconds since 1970 UTC
    bool running = false;   // started and not (yet) ended
    Verdict verdict = Verdict::None;
};

// A job starts / ends: its record becomes the newest.
void StoreJobStart(const std::string& master, const std::string& slave, int masterSkip);
void StoreJobResult(const std::string& master, const std::string& slave, int masterSkip, Verdict verdict);
// Every stored record, newest first.
std::vector<JobResult> LoadJobResults();
// The record of this job among them, if any.
const JobResult* FindJobResult(const std::vector<JobResult>& results, const std::string& master,
                               const std::string& slave, int masterSkip);

}  // namespace tandem
