// Where the main window meets the job history (joblist/JobHistory) and its window. The
// job list plugs in here by implementing JobHistoryLink; until then NoJobHistory finds
// nothing and registers nothing, so choosing a master fills nothing in and Start records
// no entry.
//
// Thread safety: main thread only.
#pragma once

#include <optional>
#include <string>

#include "joblist/JobResults.h"

namespace tandem {

struct HistoryEntry {
    std::string master;
    std::string slave;
    int level = 1;       // 相異点 index 0..3
    int masterSkip = 0;  // 0.1 s
    int slaveSkip = 0;   // 0.1 s
};

class JobHistoryLink {
public:
    virtual ~JobHistoryLink() = default;
    // The first entry whose master is exactly this path.
    virtual std::optional<HistoryEntry> FindJobByMaster(const std::string& master) = 0;
    // Records a started job (and refreshes the job list's lines). Throws EngineError
    // when the entry cannot be stored.
    virtual void AddJob(const HistoryEntry& entry) = 0;
    // Stop point (0.1 s) for a batch job: where a later part of the same recording
    // begins; 0 when there is none.
    virtual int FindStopPoint(const std::string& master, const std::string& slave, int masterSkip) = 0;
    // A synchronisation job of this entry starts / has ended with this verdict: the job
    // list's date and result columns.
    virtual void JobStarted(const HistoryEntry& entry) = 0;
    virtual void JobEnded(const HistoryEntry& entry, Verdict verdict) = 0;
};

class NoJobHistory : public JobHistoryLink {
public:
    std::optional<HistoryEntry> FindJobByMaster(const std::string&) override { return std::nullopt; }
    void AddJob(const HistoryEntry&) override {}
    int FindStopPoint(const std::string&, const std::string&, int) override { return 0; }
    void JobStarted(const HistoryEntry&) override {}
    void JobEnded(const HistoryEntry&, Verdict) override {}
};

}  // namespace tandem
