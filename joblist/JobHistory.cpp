#include "joblist/JobHistory.h"

#include <algorithm>

#include "core/Log.h"
#include "settings/Settings.h"
#include "sync/StoredPoints.h"

namespace tandem {
namespace {

const char* const kSection = "TandemEnv";

// A hand-edited Items far beyond what the table can hold must not keep the loader busy
// for hours; only the last 100 of them could survive anyway.
constexpr int kMaxStoredItems = 10000;

bool storable(const std::string& text) {
    return text.find_first_of(std::string("\r\n\0", 3)) == std::string::npos;
}

void copyJob(JobEntry& to, const JobEntry& from) {
    to.MasterFile = from.MasterFile;
    to.SlaveFile = from.SlaveFile;
    to.DiffLevel = from.DiffLevel;
    to.MasterSkipCount = from.MasterSkipCount;
    to.SlaveSkipCount = from.SlaveSkipCount;
}

}  // namespace

std::string LevelText(int level) {
    switch (level) {
        case 0: return " 少";
        case 1: return " 普";
        case 2: return " 多";
        default: return " BT";
    }
}

std::string FileNameOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string JobListLine(const JobEntry& entry) { return JobListLine(entry, LevelText(entry.DiffLevel).substr(1)); }

std::string JobListLine(const JobEntry& entry, const std::string& levelName) {
    return std::to_string(entry.MasterSkipCount) + "-" + std::to_string(entry.SlaveSkipCount) + " " + levelName + " " +
           FileNameOf(entry.MasterFile) + " " + FileNameOf(entry.SlaveFile);
}

void JobHistory::readStored() {
    for (JobEntry& e : entries_) copyJob(e, JobEntry{});  // marks stay with their positions
    int n = SettingsReadInt(kSection, "Items", 0);
    if (n > kMaxStoredItems) {
        AddLog("job history: Items=" + std::to_string(n) + " read as " + std::to_string(kMaxStoredItems));
        n = kMaxStoredItems;
    }
    for (int k = 0; k < n; ++k) {
        const std::string i = std::to_string(k);
        const std::string master = SettingsReadText(kSection, "MASTER" + i, "");
        const std::string slave = SettingsReadText(kSection, "SLAVE" + i, "");
        const int level = SettingsReadInt(kSection, "MODE" + i, 1);
        const int masterSkip = SettingsReadInt(kSection, "SKIPMASTER" + i, 0);
        const int slaveSkip = SettingsReadInt(kSection, "SKIPSLAVE" + i, 0);
        if (master.empty()) {
            AddLog("job history: entry " + i + " has no master file and is dropped");
            continue;
        }
        // The names were read from the store, so they are storable; storing is done
        // once at the end, which leaves the same keys as storing after every entry.
        add(JobEntry{master, slave, level, masterSkip, slaveSkip, false});
    }
}

void JobHistory::LoadJobs(bool storeResult) {
    readStored();
    if (storeResult) SaveJobs();
}

bool JobHistory::Reload() {
    const std::vector<std::string> before = ListLines();
    readStored();
    return ListLines() != before;
}

int JobHistory::AddJob(const std::string& master, const std::string& slave, int level, int masterSkip,
                       int slaveSkip) {
    if (master.empty()) throw EngineError(Msg::JobWithoutMaster);
    if (!storable(master) || !storable(slave)) throw EngineError(Msg::LineBreakInName);
    const JobEntry entry{master, slave, level, masterSkip, slaveSkip, false};
    add(entry);
    changes_.push_back({true, entry});
    SaveJobs();
    return find(entry);
}

void JobHistory::add(const JobEntry& e) {
    int written = -1;
    while (!addOnce(e.MasterFile, e.SlaveFile, e.DiffLevel, e.MasterSkipCount, e.SlaveSkipCount, written)) removeAt(0);
}

int JobHistory::find(const JobEntry& e) const {
    for (int k = 0; k < UsedCount(); ++k) {
        const JobEntry& x = entries_[static_cast<std::size_t>(k)];
        if (x.MasterFile == e.MasterFile && x.SlaveFile == e.SlaveFile && x.DiffLevel == e.DiffLevel &&
            x.MasterSkipCount == e.MasterSkipCount && x.SlaveSkipCount == e.SlaveSkipCount)
            return k;
    }
    return -1;
}

bool JobHistory::usesFile(const std::string& path) const {
    for (int k = 0; k < UsedCount(); ++k) {
        const JobEntry& e = entries_[static_cast<std::size_t>(k)];
        if (e.MasterFile == path || e.SlaveFile == path) return true;
    }
    return false;
}

// One scan of the table. Returns false when the job sorts after a full table (the
// caller drops the first entry and tries again).
bool JobHistory::addOnce(const std::string& master, const std::string& slave, int level, int masterSkip,
                         int slaveSkip, int& written) {
    int at = -1;
    for (int i = 0; i < kJobCapacity; ++i) {
        JobEntry& e = entries_[static_cast<std::size_t>(i)];
        if (!e.Used() || (e.MasterFile == master && e.SlaveFile == slave &&
                          (e.MasterSkipCount == masterSkip || e.SlaveSkipCount == slaveSkip))) {
            at = i;
            break;
        }
        // std::string compares bytes as unsigned char, a prefix first: the history's order.
        const int byMaster = e.MasterFile.compare(master);
        const int bySlave = e.SlaveFile.compare(slave);
        if (byMaster > 0 || (byMaster == 0 && bySlave > 0) ||
            (byMaster == 0 && bySlave == 0 && e.MasterSkipCount > masterSkip)) {
            for (int j = kJobCapacity - 2; j >= i; --j)
                copyJob(entries_[static_cast<std::size_t>(j + 1)], entries_[static_cast<std::size_t>(j)]);
            at = i;
            break;
        }
    }
    if (at < 0) return false;
    JobEntry& e = entries_[static_cast<std::size_t>(at)];
    e.MasterFile = master;
    e.SlaveFile = slave;
    e.DiffLevel = level;
    e.MasterSkipCount = masterSkip;
    e.SlaveSkipCount = slaveSkip;
    written = at;
    return true;
}

void JobHistory::removeAt(int k) {
    if (k < 0 || k >= kJobCapacity) return;
    for (int j = k; j < kJobCapacity - 1; ++j)
        copyJob(entries_[static_cast<std::size_t>(j)], entries_[static_cast<std::size_t>(j + 1)]);
    entries_[kJobCapacity - 1].MasterFile.clear();
}

void JobHistory::RemoveJobAt(int k) {
    if (k < 0 || k >= kJobCapacity) return;
    if (entries_[static_cast<std::size_t>(k)].Used()) changes_.push_back({false, entries_[static_cast<std::size_t>(k)]});
    removeAt(k);
    SaveJobs();
}

void JobHistory::SaveJobs() { writeBack({}); }

// The stored history as it is now (another process may have changed it), with this
// object's additions and removals applied again, becomes both the table and the
// stored form, in one step against other processes.
void JobHistory::writeBack(const std::vector<std::string>& released) {
    std::string why;
    const std::vector<Change> changes = std::move(changes_);
    changes_.clear();
    const bool ok = SettingsUpdate(
        kSection,
        [&] {
            readStored();
            for (const Change& c : changes) {
                if (c.added) {
                    add(c.entry);
                } else if (const int k = find(c.entry); k >= 0) {
                    removeAt(k);
                }
            }
            writeStored();
            for (const std::string& file : released) {
                if (!file.empty() && !usesFile(file)) StoredPoints(file).reset();
            }
        },
        &why);
    if (!ok) AddLog("job history: " + why);
}

void JobHistory::writeStored() const {
    int k = 0;
    for (; k < kJobCapacity && entries_[static_cast<std::size_t>(k)].Used(); ++k) {
        const JobEntry& e = entries_[static_cast<std::size_t>(k)];
        const std::string i = std::to_string(k);
        SettingsWriteText(kSection, "MASTER" + i, e.MasterFile);
        SettingsWriteText(kSection, "SLAVE" + i, e.SlaveFile);
        SettingsWriteInt(kSection, "MODE" + i, e.DiffLevel);
        SettingsWriteInt(kSection, "SKIPMASTER" + i, e.MasterSkipCount);
        SettingsWriteInt(kSection, "SKIPSLAVE" + i, e.SlaveSkipCount);
    }
    SettingsWriteInt(kSection, "Items", k);
}

int JobHistory::FindJobByMaster(const std::string& path) const {
    // "" is what an empty position holds, not a master anyone asked for.
    if (path.empty()) return -1;
    for (int k = 0; k < kJobCapacity; ++k) {
        if (entries_[static_cast<std::size_t>(k)].MasterFile == path) return k;
    }
    return -1;
}

int JobHistory::NextMarkedJob(int from) const {
    for (int p = std::max(from, 0); p < kJobCapacity; ++p) {
        if (entries_[static_cast<std::size_t>(p)].Marked) return p;
    }
    return -1;
}

int JobHistory::FindStopPoint(const std::string& master, const std::string& slave, int masterSkip) const {
    for (int k = 0; k + 1 < kJobCapacity; ++k) {
        const JobEntry& e = entries_[static_cast<std::size_t>(k)];
        const JobEntry& next = entries_[static_cast<std::size_t>(k + 1)];
        if (e.MasterFile == master && e.SlaveFile == slave && e.MasterSkipCount == masterSkip &&
            next.MasterFile == master && next.SlaveFile == slave && next.MasterSkipCount > masterSkip)
            return next.MasterSkipCount;
    }
    return 0;
}

int JobHistory::TakeSelection(const std::vector<int>& selectedPositions, int tag) {
    const int shown = UsedCount();
    for (int k = 0; k < kJobCapacity; ++k) entries_[static_cast<std::size_t>(k)].Marked = false;
    int selected = 0;
    for (const int p : selectedPositions) {
        if (p < 0 || p >= shown || entries_[static_cast<std::size_t>(p)].Marked) continue;
        entries_[static_cast<std::size_t>(p)].Marked = true;
        ++selected;
    }
    if (selected == 0) return kJobListCancel;
    switch (tag) {
        case kTagRemix: return kJobListRemix;
        case kTagRetry: return selected;
        default: return kJobListSelect;
    }
}

void JobHistory::DeleteJobs(std::vector<int> positions) {
    const int shown = UsedCount();
    std::sort(positions.begin(), positions.end());
    positions.erase(std::unique(positions.begin(), positions.end()), positions.end());
    std::vector<std::string> released;
    for (auto it = positions.rbegin(); it != positions.rend(); ++it) {
        const int p = *it;
        if (p < 0 || p >= shown) continue;
        const JobEntry& e = entries_[static_cast<std::size_t>(p)];
        changes_.push_back({false, e});
        released.push_back(e.MasterFile);
        released.push_back(e.SlaveFile);
        removeAt(p);
    }
    // The points of a file go only when no entry left uses the file.
    writeBack(released);
}

int JobHistory::UsedCount() const {
    int n = 0;
    while (n < kJobCapacity && entries_[static_cast<std::size_t>(n)].Used()) ++n;
    return n;
}

std::vector<std::string> JobHistory::ListLines() const {
    std::vector<std::string> lines;
    for (int k = 0; k < UsedCount(); ++k) lines.push_back(JobListLine(entries_[static_cast<std::size_t>(k)]));
    return lines;
}

}  // namespace tandem
