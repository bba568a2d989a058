// libFuzzer target: the INI reader/writer and the settings store over arbitrary files.
//
// The input is a file's content followed by operations (writes of texts and integers,
// reads) on arbitrary sections, keys and values. Checked:
//  - a rewrite is stable: serialising what was parsed, then parsing and serialising
//    again gives the same bytes and the same values;
//  - every accepted write reads back as written, before and after the file is written
//    out and read again; keys nobody wrote keep their values;
//  - the store refuses what it cannot keep (line breaks, NUL, keys that would read
//    back as something else) and then stores nothing.
#include <fuzzer/FuzzedDataProvider.h>

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "FuzzScratch.h"
#include "settings/IniFile.h"
#include "settings/Settings.h"

using namespace tandem;

namespace {

void check(bool ok, const char* what) {
    if (!ok) {
        std::fprintf(stderr, "fuzz_ini: %s\n", what);
        std::abort();
    }
}

struct Op {
    int kind;  // 0 write text, 1 write integer, 2 read
    std::string section, key, value;
    int number;
};

bool holdsBreak(const std::string& s) { return s.find_first_of(std::string_view("\r\n\0", 3)) != std::string::npos; }
bool blankAtEnds(const std::string& s) {
    return !s.empty() && (s.front() == ' ' || s.front() == '\t' || s.back() == ' ' || s.back() == '\t');
}

std::optional<std::string> find(const IniFile& ini, const std::string& section, const std::string& key) {
    const std::string* v = ini.Find(section, key);
    return v ? std::optional<std::string>(*v) : std::nullopt;
}

void fuzzDocument(const std::string& text, const std::vector<Op>& ops) {
    const IniFile original = IniFile::Parse(text);
    IniFile doc = original;
    const std::string once = doc.Serialize();
    const IniFile reread = IniFile::Parse(once);
    check(reread.Serialize() == once, "a rewrite of an untouched file is not stable");
    check(reread.KeyCount() == doc.KeyCount(), "a rewrite changed the number of keys");

    std::map<std::pair<std::string, std::string>, std::string> written;
    std::vector<std::pair<std::pair<std::string, std::string>, std::optional<std::string>>> before;
    for (const Op& op : ops) {
        const auto id = std::make_pair(op.section, op.key);
        check(find(original, op.section, op.key) == find(reread, op.section, op.key), "a rewrite changed a value");
        if (op.kind == 2 || holdsBreak(op.section) || !IniFile::IsStorableKey(op.key) || holdsBreak(op.value) ||
            blankAtEnds(op.value)) {
            before.emplace_back(id, find(doc, op.section, op.key));
            continue;
        }
        doc.Set(op.section, op.key, op.value);
        written[id] = op.value;
        check(find(doc, op.section, op.key) == op.value, "a value set does not read back");
    }
    const IniFile after = IniFile::Parse(doc.Serialize());
    for (const auto& [id, value] : written)
        check(find(after, id.first, id.second) == value, "a value set does not read back from the written file");
    for (const auto& [id, value] : before)
        if (!written.count(id)) check(find(after, id.first, id.second) == value, "a key nobody set changed");
}

// The section as the store keeps it. A per-user one as it is; an INI one as the store
// maps it (its brackets escaped), or, where the file held only the section an older
// version wrote for it without brackets (and no file sits at that name), that one.
std::string storedSection(const std::string& section, const IniFile& initial) {
    if (!UsesIniFile(section)) return "u:" + section;
    std::string escaped = section, key, value;
    MapSettingPaths(escaped, key, value);
    std::string legacy;
    for (std::size_t i = 0; i < escaped.size(); ++i) {
        const std::string_view code(escaped.data() + i, std::min<std::size_t>(3, escaped.size() - i));
        if (code == "%5B" || code == "%5D") {
            i += 2;
        } else if (code == "%25") {
            legacy += '%', i += 2;
        } else {
            legacy += escaped[i];
        }
    }
    std::string unbracketed = section;
    std::erase(unbracketed, '[');
    std::erase(unbracketed, ']');
    struct stat st {};
    const bool fileThere = section.find_first_of("[]") != std::string::npos && ::stat(unbracketed.c_str(), &st) == 0;
    const bool old = legacy != escaped && !initial.HasSection(escaped) && initial.HasSection(legacy) && !fileThere;
    return "i:" + (old ? legacy : escaped);
}

void fuzzStore(const std::string& folder, const std::string& text, const std::vector<Op>& ops) {
    const std::string path = folder + "qzv.ini";
    SettingsReset();
    std::remove(path.c_str());
    std::remove((folder + "tandem/registry.ini").c_str());
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out << text;
    }
    SettingsOpen(path);
    const std::string missing = "\x01missing";
    const IniFile initial = IniFile::Parse(text);
    // (stored section, key) -> the value and the section as one caller named it
    std::map<std::pair<std::string, std::string>, std::pair<std::string, std::string>> model;
    for (const Op& op : ops) {
        const auto id = std::make_pair(storedSection(op.section, initial), op.key);
        if (op.kind == 2) {
            (void)SettingsReadInt(op.section, op.key, 7);
            continue;
        }
        const std::string value = op.kind == 1 ? std::to_string(op.number) : op.value;
        const auto known = model.find(id);
        try {
            if (op.kind == 1) {
                SettingsWriteInt(op.section, op.key, op.number);
            } else {
                SettingsWriteText(op.section, op.key, op.value);
            }
            model[id] = {value, op.section};
        } catch (const SettingsError&) {
            if (known != model.end())
                check(SettingsReadText(op.section, op.key, missing) == known->second.first,
                      "a refused write changed the stored value");
            continue;
        }
        check(SettingsReadText(op.section, op.key, missing) == value, "a written value does not read back");
        if (op.kind == 1) check(SettingsReadInt(op.section, op.key, 7) == op.number, "a written integer does not read back");
    }
    std::string why;
    check(SettingsFlush(&why), "the settings could not be written");
    SettingsReset();
    SettingsOpen(path);
    for (const auto& [id, entry] : model)
        check(SettingsReadText(entry.second, id.second, missing) == entry.first,
              "a written value does not read back from the file");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string& folder = fuzz::ScratchFolder();
    FuzzedDataProvider in(data, size);
    const bool throughStore = in.ConsumeBool();
    const std::string text = in.ConsumeRandomLengthString(8192);
    std::vector<Op> ops;
    while (in.remaining_bytes() > 0 && ops.size() < 64) {
        Op op;
        op.kind = in.ConsumeIntegralInRange<int>(0, 2);
        op.section = in.ConsumeRandomLengthString(32);
        op.key = in.ConsumeRandomLengthString(16);
        op.value = in.ConsumeRandomLengthString(32);
        op.number = in.ConsumeIntegral<int>();
        ops.push_back(std::move(op));
    }
    fuzzDocument(text, ops);
    if (throughStore) fuzzStore(folder, text, ops);
    return 0;
}
