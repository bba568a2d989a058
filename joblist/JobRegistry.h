// Recording a job without the windows, for tandem-cli: what the Start button stores
// before a job runs (the history entry and both files in SpecialList), and the stored
// history as the job list shows it. The settings store must be open.
//
// A desktop program or another tandem-cli running at the same time keeps the entries
// added here: every write-back of the history merges (JobHistory).
//
// Thread safety: not reentrant (reads, then rewrites the stored history).
#pragma once

#include <string>
#include <vector>

namespace tandem {

// Adds the job to the stored history (sorted in, replacing an equal job) and both
// files to SpecialList. Throws EngineError when the names cannot be stored; nothing is
// stored then.
void RegisterJob(const std::string& master, const std::string& slave, int level, int masterSkip, int slaveSkip);
// Appends path to section SpecialList (Item<n>, Items) unless it is listed already.
void CheckSpecialList(const std::string& path);
// The stored history, one list line per entry ("12-0 普 take1.wav take1b.wav").
std::vector<std::string> HistoryLines();

}  // namespace tandem
