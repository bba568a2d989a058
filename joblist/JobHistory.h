// The job history: up to 100 stored jobs (master, slave, 相異点 level, lead-ins),
// kept sorted by (master, slave, master lead-in) and stored in section TandemEnv of the
// settings store as Items and MASTERk / SLAVEk / MODEk / SKIPMASTERk / SKIPSLAVEk.
//
// The table always holds exactly kJobCapacity positions; the used ones come first
// without gaps, an empty position has MasterFile "". Texts compare byte by byte.
// Marks (the list selection taken over when the job list closes) belong to positions,
// not to entries: moving entries leaves the marks where they are.
//
// Several processes share the stored history (the desktop program, tandem-cli jobs).
// A write-back re-reads it and applies only the additions and removals this object
// made, in one step under the settings folder lock, so entries another process stored
// meanwhile survive; the table then holds the merged history.
//
// Failures: a master or slave that cannot be stored (empty master, a line break or NUL
// in either name) is refused by AddJob with a reason and changes nothing.
//
// Thread safety: none; the history belongs to the front end's main thread.
#pragma once

#include <array>
#include <string>
#include <vector>

namespace tandem {

constexpr int kJobCapacity = 100;

struct JobEntry {
    std::string MasterFile;  // "" marks an empty position
    std::string SlaveFile;
    int DiffLevel = 0;        // 0 少, 1 普, 2 多, 3 BT (other values are kept and shown as BT)
    int MasterSkipCount = 0;  // lead-ins in 0.1 s steps
    int SlaveSkipCount = 0;
    bool Marked = false;

    bool Used() const { return !MasterFile.empty(); }
};

// What the job list window's buttons close it with.
constexpr int kJobListCancel = -1;
constexpr int kJobListSelect = -2;
constexpr int kJobListRemix = -3;
// Button tags: 0 選択, 1 retry (batch), 2 Remix.
constexpr int kTagSelect = 0;
constexpr int kTagRetry = 1;
constexpr int kTagRemix = 2;

class JobHistory {
public:
    JobHistory() = default;

    // Reads the stored history and adds every entry through AddJob (which sorts and
    // merges them), then stores the result once (unless told not to: a reader only).
    void LoadJobs(bool storeResult = true);
    // Reads the stored history again (no write). Returns true when the lines changed.
    bool Reload();
    // Sorted insert or replacement of an equal job, then SaveJobs. Returns the job's
    // position. Throws EngineError (table unchanged) when the names cannot be stored.
    int AddJob(const std::string& master, const std::string& slave, int level, int masterSkip, int slaveSkip);
    // Moves positions k + 1 .. 99 down by one, then SaveJobs. Out-of-range k: nothing.
    void RemoveJobAt(int k);
    // The merging write-back: the used positions and Items.
    void SaveJobs();

    // First position whose MasterFile equals path, or -1 (also for "").
    int FindJobByMaster(const std::string& path) const;
    // First marked position p with from <= p <= 99, or -1.
    int NextMarkedJob(int from) const;
    // The master lead-in of the next registered part of the same recording: the entry
    // right after the one with this master, slave and masterSkip, when it has the same
    // pair and a larger master lead-in. 0 when there is none.
    int FindStopPoint(const std::string& master, const std::string& slave, int masterSkip) const;

    // Closing with an action button: marks exactly the selected positions among the
    // used ones and returns the window's result for the button tag (-1 when nothing is
    // selected, -3 Remix, the number selected for retry, -2 選択).
    int TakeSelection(const std::vector<int>& selectedPositions, int tag);
    // The context menu's Delete: removes the entries at the given positions and resets
    // Count of each of their files that no remaining entry uses.
    void DeleteJobs(std::vector<int> positions);

    const JobEntry& Entry(int k) const { return entries_.at(static_cast<std::size_t>(k)); }
    int UsedCount() const;
    // The list's lines, one per used position.
    std::vector<std::string> ListLines() const;

private:
    struct Change {
        bool added;  // else removed
        JobEntry entry;
    };
    void readStored();
    void writeStored() const;
    void writeBack(const std::vector<std::string>& released);
    void add(const JobEntry& entry);
    int find(const JobEntry& entry) const;
    bool usesFile(const std::string& path) const;
    bool addOnce(const std::string& master, const std::string& slave, int level, int masterSkip, int slaveSkip,
                 int& written);
    void removeAt(int k);

    std::array<JobEntry, kJobCapacity> entries_{};
    std::vector<Change> changes_;  // since the last write-back
};

// "12-0 普 take1.wav take1b.wav": lead-ins, level text, the two file names. A window in
// another language passes its own name of the level (without the leading space).
std::string JobListLine(const JobEntry& entry);
std::string JobListLine(const JobEntry& entry, const std::string& levelName);
// " 少", " 普", " 多", " BT" (any other value).
std::string LevelText(int level);
// Last path component ("/a/b/take.wav" -> "take.wav").
std::string FileNameOf(const std::string& path);

}  // namespace tandem
