// Console side of a job: progress on stderr, Ctrl-C as STOP, alerts on stderr.
#pragma once

#include <string>

#include "sync/KSyncThread.h"

namespace tandem::cli {

// First Ctrl-C sets job.StopRequest; a second one ends the program at once.
void InstallStopHandler(SyncJob& job);
void RemoveStopHandler();

// Runs the thread's job while showing progress once a second (the main window's timer
// logic: remaining time while a stage runs, the time it took once finished).
// lowPriority runs the worker at nice 19.
JobOutcome RunWithProgress(KSyncThread& thread, SyncProgress& progress, bool quiet, bool lowPriority = false);

// Opens the settings store in the program folder with the GUI's source directory.
// Throws std::runtime_error when qzv.ini exists but cannot be read.
void OpenSettings();

}  // namespace tandem::cli
