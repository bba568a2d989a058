#include "settings/Settings.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <optional>
#include <thread>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "core/Alert.h"
#include "core/AtomicFile.h"
#include "core/FileStamp.h"
#include "core/Log.h"
#include "core/Text.h"
#include "settings/IniFile.h"
#include "settings/SettingsFile.h"

// In this file, in order: one file's store (FileStore: its parsed copy, the changes
// being written and those pending); section names (paths mapped to the program
// folders, escaping, the older bracketless sections); which file serves a section
// (route) and when its copy is read again (refresh); a write (what may be stored,
// store) and the write-back (flushFile, the flusher thread); then the public calls of
// Settings.h. The folder lock and the whole-file read and write are SettingsFile.h's.
namespace tandem {
namespace {

using settings::FolderLock;
using settings::ReadResult;
using settings::readWholeFile;
using settings::writeAtomically;
using Clock = std::chrono::steady_clock;

// Changes reach the disk within 250 ms; the flusher waits a little less than that so
// that one write-back collects the keys of a burst.
constexpr auto kWriteBackDelay = std::chrono::milliseconds(200);
// After a failed write-back the flusher tries again at this pace, not on every write.
constexpr auto kRetryDelay = std::chrono::seconds(1);

// Keys changed by this process and not yet on disk, in the order they were first set
// (new sections and keys are added to the file in that order).
class Changes {
public:
    void Put(const std::string& section, const std::string& key, const std::string& value) {
        std::string id = section;
        id += '\0';  // never part of a section: the pair is unambiguous
        id += key;
        const auto [it, added] = index_.try_emplace(std::move(id), list_.size());
        if (added) {
            list_.push_back({section, key, value});
        } else {
            list_[it->second].value = value;
        }
    }
    void ApplyTo(IniFile& ini) const {
        for (const Change& c : list_) ini.Set(c.section, c.key, c.value);
    }
    // Puts the older changes back in front of these (after a failed write-back).
    void Restore(Changes&& older) {
        Changes newer = std::move(*this);
        *this = std::move(older);
        for (const Change& c : newer.list_) Put(c.section, c.key, c.value);
    }
    bool Empty() const { return list_.empty(); }
    void Clear() {
        list_.clear();
        index_.clear();
    }

private:
    struct Change {
        std::string section, key, value;
    };
    std::vector<Change> list_;
    std::unordered_map<std::string, std::size_t> index_;
};

// One file: the parsed copy equals the file as last read, plus the changes being
// written (inFlight), plus the changes not yet handed to a write-back (pending).
struct FileStore {
    std::string path;
    bool createFolder = false;  // the per-user file's folder is ours to create
    IniFile doc;
    bool loaded = false;
    FileStamp stamp;
    bool readFailed = false;
    std::string readWhy;
    Changes pending;
    Changes inFlight;
    unsigned generation = 0;  // bumped when the store is pointed at another file
    bool alerted = false;     // the background write-back reported its failure
    bool tidied = false;      // leftover temporaries of the file looked for
    // Sections this process's writes created: never taken for another file's older section.
    std::unordered_set<std::string> made;
    std::mutex io;            // one write-back at a time; taken before the state mutex

    void Forget(const std::string& newPath) {
        path = newPath;
        doc = IniFile();
        loaded = false;
        stamp = FileStamp{};
        readFailed = false;
        readWhy.clear();
        pending.Clear();
        inFlight.Clear();
        alerted = false;
        tidied = false;
        made.clear();
        ++generation;
    }
};

struct Dirs {
    std::string workDir;
    std::string srcDir;
};

struct State {
    std::mutex mutex;
    std::string registryKey;
    std::string iniPath;
    std::string workDir;
    std::string srcDir;
    FileStore ini;
    FileStore user;
    bool userPathKnown = false;

    std::condition_variable wake;
    std::thread flusher;
    bool stopRequested = false;
    bool dirty = false;
    Clock::time_point dueAt;

    bool failureTold = false;  // the last failed write-back was reported to a caller or alerted

    State() {
        // The log and the message translation must outlive the store (its destructor
        // still reports): make sure their state is constructed first.
        AddLog(std::string_view{});
        (void)MessageText(Msg::SettingsNotSaved, std::string());
    }
    ~State();
};

State& state() {
    static State s;
    return s;
}

bool startsWith(const std::string& text, const std::string& prefix) {
    return text.size() >= prefix.size() && text.compare(0, prefix.size(), prefix) == 0;
}

bool isAbsolute(const std::string& path) { return !path.empty() && path.front() == '/'; }

void toggle(std::string& value, const std::string& dir) {
    if (isAbsolute(value)) {
        if (startsWith(value, dir)) value.erase(0, dir.size());
    } else {
        value = dir + value;
    }
}

void removePrefix(const Dirs& dirs, std::string& section) {
    // An empty SrcDir matches every section and removes nothing; WorkDir is then not tried.
    if (startsWith(section, dirs.srcDir)) {
        section.erase(0, dirs.srcDir.size());
    } else if (startsWith(section, dirs.workDir)) {
        section.erase(0, dirs.workDir.size());
    }
}

// Profile readers end a section name at its first ']': brackets are stored as %5B and
// %5D, and '%' as %25 so that every path keeps a name of its own.
std::string escapedSection(const std::string& section) {
    if (section.find_first_of("[]%") == std::string::npos) return section;
    std::string out;
    out.reserve(section.size() + 8);
    for (const char c : section) {
        if (c == '[') {
            out += "%5B";
        } else if (c == ']') {
            out += "%5D";
        } else if (c == '%') {
            out += "%25";
        } else {
            out += c;
        }
    }
    return out;
}

void mapPaths(const Dirs& dirs, std::string& section, std::string& key, std::string& value) {
    removePrefix(dirs, section);
    const bool itemKey = key != "Items" && key.compare(0, 4, "Item") == 0;
    if (section == "Special" && itemKey) {
        toggle(value, dirs.workDir);
    } else if ((section == "SpecialList" && itemKey) || key == "LeftFile" || key == "RightFile") {
        toggle(value, dirs.srcDir);
    }
    section = escapedSection(section);
}

// Sections written before names were escaped lost their brackets; "" when the name has
// nothing that was lost.
std::string legacySection(const Dirs& dirs, std::string section) {
    if (section.find_first_of("[]%") == std::string::npos) return {};
    removePrefix(dirs, section);
    std::erase(section, '[');
    std::erase(section, ']');
    return section;
}

// The section that serves a per-file name in doc: the escaped one, or the one an older
// version wrote for it without brackets, while the escaped one does not exist yet and
// no other file could own the old one (no file exists at the name without brackets, and
// this process did not make it for the file of that name).
// Reads and writes both go there, so an old section is used on and never split.
std::string servingSection(const Dirs& dirs, const FileStore& f, const std::string& callerSection,
                           const std::string& escaped) {
    if (f.doc.HasSection(escaped)) return escaped;
    const std::string legacy = legacySection(dirs, callerSection);
    if (legacy.empty() || legacy == escaped || !f.doc.HasSection(legacy) || f.made.count(legacy)) return escaped;
    if (callerSection.find_first_of("[]") != std::string::npos) {
        std::string unbracketed = callerSection;
        std::erase(unbracketed, '[');
        std::erase(unbracketed, ']');
        struct stat st {};
        if (::stat(unbracketed.c_str(), &st) == 0) return escaped;
    }
    return legacy;
}

bool usesIniFile(const State& s, const std::string& section) {
    if (s.iniPath.empty()) return false;
    if (isAbsolute(section)) return true;
    return section == "Special" || section == "SpecialList" || section == "Scorlet" || section == "TandemEnv";
}

std::string userFilePath() {
    const char* config = std::getenv("XDG_CONFIG_HOME");
    std::string base;
    if (config && config[0] == '/') {
        base = config;
    } else {
        const char* home = std::getenv("HOME");
        if (home && home[0] == '/') {
            base = home;
        } else if (const passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_dir) {
            base = pw->pw_dir;
        }
        if (base.empty()) return {};
        if (base.back() != '/') base += '/';
        base += ".config";
    }
    if (base.back() != '/') base += '/';
    return base + "tandem/registry.ini";
}

FileStore& userStore(State& s) {
    if (!s.userPathKnown) {
        s.userPathKnown = true;
        s.user.Forget(userFilePath());
        s.user.createFolder = true;
    }
    return s.user;
}

// Which file serves the section, and the section's name in it.
FileStore& route(State& s, const std::string& section, std::string& fileSection) {
    if (usesIniFile(s, section)) {
        fileSection = section;
        return s.ini;
    }
    fileSection = s.registryKey.empty() ? section : s.registryKey + "/" + section;
    return userStore(s);
}

// Re-reads the file when it changed on disk (or was never read). Caller holds s.mutex.
void refresh(FileStore& f) {
    if (f.path.empty()) {
        f.loaded = true;
        return;
    }
    // A failed read is tried again: a permission fixed by chmod leaves the stamp as it was.
    // While this process writes the file back (holding the folder lock), the change on
    // disk is its own, and the copy already holds it: read again, a growing file was
    // parsed anew at every write-back (a 2-hour job: 60 times, up to 2 MB each).
    if (f.loaded && !f.readFailed && (!f.inFlight.Empty() || StampOf(f.path) == f.stamp)) return;
    std::string bytes;
    std::string why;
    const ReadResult r = readWholeFile(f.path, bytes, f.stamp, why);
    f.readFailed = r == ReadResult::Failed;
    f.readWhy = f.readFailed ? why : std::string();
    f.doc = r == ReadResult::Ok ? IniFile::Parse(bytes) : IniFile();
    f.inFlight.ApplyTo(f.doc);
    f.pending.ApplyTo(f.doc);
    f.loaded = true;
}

std::string escaped(const std::string& text) {
    std::string out;
    for (const char c : text) {
        if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '\0') {
            out += "\\0";
        } else {
            out += c;
        }
    }
    return out;
}

bool holdsLineBreakOrNul(const std::string& text) {
    return text.find_first_of(std::string_view("\r\n\0", 3)) != std::string::npos;
}

void checkStorable(const std::string& section, const std::string& key, const std::string& value) {
    Msg problem = Msg::Count;
    if (holdsLineBreakOrNul(section)) {
        problem = Msg::SectionNotStorable;
    } else if (!IniFile::IsStorableKey(key)) {
        problem = Msg::KeyNotStorable;
    } else if (holdsLineBreakOrNul(value)) {
        problem = Msg::ValueNotStorable;
    } else if (!value.empty() && (value.front() == ' ' || value.front() == '\t' || value.back() == ' ' ||
                                  value.back() == '\t')) {
        // Spaces around a value are trimmed on reading: it would not come back as written.
        problem = Msg::ValueHasSpaces;
    }
    if (problem != Msg::Count)
        throw SettingsError(Msg::CannotStore, escaped(section), escaped(key), escaped(value), MessageText(problem));
}

// Decimal integer with optional sign and surrounding spaces; anything else is refused.
bool parseInt(std::string_view text, int& out) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
    bool negative = false;
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    if (text.empty() || text.front() < '0' || text.front() > '9') return false;
    unsigned long long magnitude = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), magnitude);
    if (ec != std::errc() || end != text.data() + text.size()) return false;
    const unsigned long long limit = negative ? 2147483648ULL : 2147483647ULL;
    if (magnitude > limit) return false;
    out = negative ? static_cast<int>(-static_cast<long long>(magnitude)) : static_cast<int>(magnitude);
    return true;
}

void ensureFlusher(State& s);

void store(const std::string& section, const std::string& key, const std::string& value, bool mapValue) {
    State& s = state();
    std::lock_guard lock(s.mutex);
    std::string name;
    FileStore& f = route(s, section, name);
    std::string k = key;
    std::string v = value;
    if (&f == &s.ini) {
        std::string unmapped;  // integers have no path to map
        const Dirs dirs{s.workDir, s.srcDir};
        mapPaths(dirs, name, k, mapValue ? v : unmapped);
        // The serving section is chosen on the file as it is now, as a read chooses it.
        // A section the copy already holds serves itself whatever the file holds besides
        // (servingSection), so only a write to another section looks at the file: a
        // job's points were thousands of looks at it (65,000 stat calls a 20-minute job).
        if (!f.loaded || !f.doc.HasSection(name)) refresh(f);
        name = servingSection(dirs, f, section, name);
    }
    checkStorable(name, k, v);
    if (!f.doc.HasSection(name)) f.made.insert(name);
    f.doc.Set(name, k, v);
    f.pending.Put(name, k, v);
    if (!s.dirty) {
        s.dirty = true;
        s.dueAt = Clock::now() + kWriteBackDelay;
        ensureFlusher(s);
    }
}

// Writes the pending changes of one file: re-reads the file if another process changed
// it, so that only this process's keys go on top of its current content. Caller holds
// f.io, and the folder lock when it passes it in.
bool flushFile(State& s, FileStore& f, std::string& why, const FolderLock* held = nullptr) {
    std::string path;
    std::string bytes;
    unsigned generation = 0;
    {
        std::lock_guard lock(s.mutex);
        if (f.pending.Empty()) return true;
        path = f.path;
    }
    // A settings file that is a link (a dotfile set-up) stays one: its target is replaced.
    std::optional<FolderLock> own;
    if (!held) held = &own.emplace(FolderOf(ResolveLinks(path)));
    const FolderLock& folder = *held;
    {
        std::lock_guard lock(s.mutex);
        if (f.pending.Empty()) return true;
        if (f.path.empty()) {
            why = MessageText(Msg::NoUserFolder);
            return false;
        }
        refresh(f);
        if (f.readFailed) {
            // Writing now would replace keys that could not be read.
            why = MessageText(Msg::NotOverwritten, f.readWhy);
            return false;
        }
        path = f.path;
        bytes = f.doc.Serialize();
        generation = f.generation;
        f.inFlight = std::move(f.pending);
        f.pending.Clear();
    }
    FileStamp stamp;
    const std::string target = ResolveLinks(path);
    const bool ok = writeAtomically(target, bytes, f.createFolder, stamp, why);
    if (ok && folder.held() && !f.tidied) {
        // Every write-back holds the folder lock while its temporary exists, so one
        // found now was left by a process that was killed, however young it is.
        f.tidied = true;
        RemoveLeftoverTemporaries(target, std::chrono::seconds(0));
    }
    std::lock_guard lock(s.mutex);
    if (f.generation != generation) return ok;
    if (ok) {
        f.inFlight.Clear();
        f.stamp = stamp;
        f.alerted = false;
    } else {
        f.pending.Restore(std::move(f.inFlight));
        f.inFlight.Clear();
    }
    return ok;
}

bool flushBoth(State& s, std::string* why, bool fromFlusher) {
    bool ok = true;
    std::string reasons;
    for (FileStore* f : {&s.ini, &s.user}) {
        std::string reason;
        std::unique_lock io(f->io);
        if (flushFile(s, *f, reason)) continue;
        io.unlock();
        ok = false;
        if (!reasons.empty()) reasons += "; ";
        reasons += reason;
        if (fromFlusher) {
            bool tell = false;
            {
                std::lock_guard lock(s.mutex);
                tell = !f->alerted;
                f->alerted = true;
            }
            if (tell) ShowAlert(MessageText(Msg::SettingsNotSaved, reason));
        }
    }
    {
        std::lock_guard lock(s.mutex);
        s.failureTold = !ok && (fromFlusher || why);
    }
    if (why) *why = reasons;
    return ok;
}

void flusherLoop(State& s) {
    std::unique_lock lock(s.mutex);
    for (;;) {
        s.wake.wait(lock, [&] { return s.stopRequested || s.dirty; });
        if (s.stopRequested) return;
        if (s.wake.wait_until(lock, s.dueAt, [&] { return s.stopRequested; })) return;
        s.dirty = false;
        lock.unlock();
        const bool ok = flushBoth(s, nullptr, true);
        lock.lock();
        if (!ok) {
            // The changes are pending again; try later.
            s.dirty = true;
            s.dueAt = Clock::now() + kRetryDelay;
        }
    }
}

// Wakes the flusher for a new batch of changes. Only the first change of a batch
// notifies: waking it on every write would cost a context switch per key.
void ensureFlusher(State& s) {
    if (!s.flusher.joinable()) {
        s.stopRequested = false;
        s.flusher = std::thread([&s] { flusherLoop(s); });
    } else {
        s.wake.notify_one();
    }
}

void stopFlusher(State& s) {
    std::thread t;
    {
        std::lock_guard lock(s.mutex);
        s.stopRequested = true;
        t = std::move(s.flusher);
    }
    s.wake.notify_all();
    if (t.joinable()) t.join();
    std::lock_guard lock(s.mutex);
    s.stopRequested = false;
}

// Points the INI side at another file, after writing what is pending for the old one.
void switchIniPath(State& s, const std::string& path) {
    std::lock_guard io(s.ini.io);
    std::string why;
    if (!flushFile(s, s.ini, why)) ShowAlert(MessageText(Msg::SettingsNotSaved, why));
    std::lock_guard lock(s.mutex);
    s.iniPath = path;
    if (s.ini.path != path) s.ini.Forget(path);
}

State::~State() {
    // Program exit: the last changes still go to disk; the alert and log facilities
    // may already be gone, so a failure goes to stderr.
    stopFlusher(*this);
    // A failure already reported (SettingsFlush's caller, the alert) is not said twice.
    const bool told = failureTold;
    std::string why;
    if (!flushBoth(*this, &why, false) && !told) {
        std::fprintf(stderr, "tandem: %s\n", MessageText(Msg::SettingsNotSaved, why).c_str());
    }
}

}  // namespace

bool SettingsOpen(const std::string& name) {
    State& s = state();
    if (isAbsolute(name)) {
        switchIniPath(s, name);
        return true;
    }
    {
        std::lock_guard lock(s.mutex);
        s.registryKey = name;
    }
    // "common" is never an INI section, so these reads go to the per-user file.
    const std::string workDir = SettingsReadText("common", "WorkDir", "");
    const std::string srcDir = SettingsReadText("common", "SrcDir", "");
    std::string iniPath = SettingsReadText("common", "IniDir", "");
    if (iniPath.empty()) iniPath = workDir;
    iniPath += "qzv.ini";
    {
        std::lock_guard lock(s.mutex);
        s.workDir = workDir;
        s.srcDir = srcDir;
    }
    switchIniPath(s, iniPath);
    return true;
}

namespace {

// One key's integer as SettingsReadInt gives it, from the file that serves the section,
// already refreshed; a text that is not one is returned in *bad (for the log, written
// without the lock). Caller holds s.mutex.
int readInt(State& s, FileStore& f, const std::string& section, std::string name, const std::string& key,
            int defaultValue, std::string* bad) {
    if (&f == &s.ini) {
        std::string k = key;
        std::string noValue;
        const Dirs dirs{s.workDir, s.srcDir};
        mapPaths(dirs, name, k, noValue);
        name = servingSection(dirs, f, section, name);
    }
    const std::string* value = f.doc.Find(name, key);
    if (!value || value->empty()) return defaultValue;
    int result = 0;
    if (parseInt(*value, result)) return result;
    *bad = "Settings: [" + name + "] " + key + "=" + *value + " is not a decimal integer; read as " +
           std::to_string(defaultValue);
    return defaultValue;
}

}  // namespace

int SettingsReadInt(const std::string& section, const std::string& key, int defaultValue) {
    State& s = state();
    std::string bad;
    int value = 0;
    {
        std::lock_guard lock(s.mutex);
        std::string name;
        FileStore& f = route(s, section, name);
        refresh(f);
        value = readInt(s, f, section, name, key, defaultValue, &bad);
    }
    if (!bad.empty()) AddLog(bad);
    return value;
}

std::vector<int> SettingsReadInts(const std::string& section, const std::vector<std::string>& keys, int defaultValue) {
    State& s = state();
    std::vector<int> values;
    std::vector<std::string> bad;
    {
        std::lock_guard lock(s.mutex);
        std::string name;
        FileStore& f = route(s, section, name);
        refresh(f);
        values.reserve(keys.size());
        std::string why;
        for (const std::string& key : keys) {
            values.push_back(readInt(s, f, section, name, key, defaultValue, &why));
            if (!why.empty()) bad.push_back(std::move(why)), why.clear();
        }
    }
    for (const std::string& line : bad) AddLog(line);
    return values;
}

namespace {

// One key's text as SettingsReadText gives it, from the file that serves the section,
// already refreshed. Caller holds s.mutex.
std::string readText(State& s, FileStore& f, const std::string& section, std::string name, const std::string& key,
                     const std::string& defaultValue) {
    if (&f != &s.ini) {
        const std::string* value = f.doc.Find(name, key);
        return value ? *value : defaultValue;
    }
    // The default is mapped before the read and the result after it, so a missing key
    // gives the caller's default back unchanged.
    const Dirs dirs{s.workDir, s.srcDir};
    std::string mappedKey = key;
    std::string result = defaultValue;
    mapPaths(dirs, name, mappedKey, result);
    const std::string serving = servingSection(dirs, f, section, name);
    if (const std::string* value = f.doc.Find(serving, mappedKey)) result = *value;
    mapPaths(dirs, name, mappedKey, result);
    return result;
}

}  // namespace

std::string SettingsReadText(const std::string& section, const std::string& key, const std::string& defaultValue) {
    State& s = state();
    std::lock_guard lock(s.mutex);
    std::string name;
    FileStore& f = route(s, section, name);
    refresh(f);
    return readText(s, f, section, name, key, defaultValue);
}

std::vector<std::string> SettingsReadTexts(const std::string& section, const std::vector<std::string>& keys) {
    State& s = state();
    std::lock_guard lock(s.mutex);
    std::string name;
    FileStore& f = route(s, section, name);
    refresh(f);
    std::vector<std::string> values;
    values.reserve(keys.size());
    for (const std::string& key : keys) values.push_back(readText(s, f, section, name, key, ""));
    return values;
}

int SettingsKeyCount(const std::string& section) {
    State& s = state();
    std::lock_guard lock(s.mutex);
    std::string name;
    FileStore& f = route(s, section, name);
    refresh(f);
    if (&f == &s.ini) {
        std::string key, value;
        const Dirs dirs{s.workDir, s.srcDir};
        mapPaths(dirs, name, key, value);
        name = servingSection(dirs, f, section, name);
    }
    return static_cast<int>(std::min<std::size_t>(f.doc.KeyCount(name), INT32_MAX));
}

void SettingsWriteInt(const std::string& section, const std::string& key, int value) {
    store(section, key, std::to_string(value), false);
}

void SettingsWriteText(const std::string& section, const std::string& key, const std::string& value) {
    store(section, key, value, true);
}

bool SettingsFlush(std::string* why) {
    std::string reason;
    const bool ok = flushBoth(state(), &reason, false);
    if (why) *why = reason;
    return ok;
}

bool SettingsReadable(std::string* why) {
    State& s = state();
    std::lock_guard lock(s.mutex);
    refresh(s.ini);
    if (!s.ini.readFailed) return true;
    if (why) *why = MessageText(Msg::NotOverwritten, s.ini.readWhy);
    return false;
}

bool SettingsUpdate(const std::string& section, const std::function<void()>& change, std::string* why) {
    State& s = state();
    FileStore* f = nullptr;
    std::string path;
    {
        std::lock_guard lock(s.mutex);
        std::string name;
        f = &route(s, section, name);
        path = f->path;
    }
    std::lock_guard io(f->io);
    // Held from the reads in change() to the rename: no other process's write-back
    // falls in between.
    const FolderLock folder(FolderOf(ResolveLinks(path)));
    change();
    std::string reason;
    const bool ok = flushFile(s, *f, reason, &folder);
    if (why) *why = reason;
    return ok;
}

bool UsesIniFile(const std::string& section) {
    State& s = state();
    std::lock_guard lock(s.mutex);
    return usesIniFile(s, section);
}

void MapSettingPaths(std::string& section, std::string& key, std::string& value) {
    State& s = state();
    Dirs dirs;
    {
        std::lock_guard lock(s.mutex);
        dirs = Dirs{s.workDir, s.srcDir};
    }
    mapPaths(dirs, section, key, value);
}

void SetSettingsSrcDir(const std::string& dir) {
    State& s = state();
    std::lock_guard lock(s.mutex);
    s.srcDir = dir;
}

std::string SettingsSrcDir() {
    State& s = state();
    std::lock_guard lock(s.mutex);
    return s.srcDir;
}

std::string SettingsWorkDir() {
    State& s = state();
    std::lock_guard lock(s.mutex);
    return s.workDir;
}

std::string SettingsIniPath() {
    State& s = state();
    std::lock_guard lock(s.mutex);
    return s.iniPath;
}

void SettingsReset() {
    State& s = state();
    stopFlusher(s);
    std::string why;
    if (!flushBoth(s, &why, false)) AddLog("Settings: not saved on reset: " + why);
    std::scoped_lock lock(s.ini.io, s.user.io, s.mutex);
    s.registryKey.clear();
    s.iniPath.clear();
    s.workDir.clear();
    s.srcDir.clear();
    s.ini.Forget("");
    s.user.Forget("");
    s.userPathKnown = false;
    s.dirty = false;
}

}  // namespace tandem
