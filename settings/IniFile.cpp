#include "settings/IniFile.h"

namespace tandem {
namespace {

constexpr std::string_view kBom = "\xEF\xBB\xBF";

bool isBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view trim(std::string_view s) {
    while (!s.empty() && isBlank(s.front())) s.remove_prefix(1);
    while (!s.empty() && isBlank(s.back())) s.remove_suffix(1);
    return s;
}

}  // namespace

bool IniFile::IsStorableKey(std::string_view key) {
    if (key.empty() || isBlank(key.front()) || isBlank(key.back())) return false;
    if (key.front() == ';' || key.front() == '#' || key.front() == '[') return false;
    return key.find_first_of(std::string_view("=\r\n\0", 4)) == std::string_view::npos;
}

IniFile IniFile::Parse(std::string_view bytes) {
    IniFile ini;
    // Editors on some systems put a byte order mark before the first section; keep it.
    if (bytes.substr(0, kBom.size()) == kBom) {
        ini.bom_ = true;
        bytes.remove_prefix(kBom.size());
    }
    Section* section = nullptr;
    while (!bytes.empty()) {
        const std::size_t eol = bytes.find('\n');
        std::string_view raw = bytes.substr(0, eol);
        bytes.remove_prefix(eol == std::string_view::npos ? bytes.size() : eol + 1);
        // Every CR at the end goes: the line is written back with LF alone, and a CR kept
        // here would end the line a second time when read again.
        while (!raw.empty() && raw.back() == '\r') raw.remove_suffix(1);

        Line line{std::string(raw), {}, false};
        const std::string_view t = trim(raw);
        if (!t.empty() && t.front() == '[') {
            Block block;
            const std::size_t close = t.rfind(']');
            if (close == std::string_view::npos) {
                block.readable = false;
                section = nullptr;
            } else {
                const std::string name(t.substr(1, close - 1));
                auto [it, added] = ini.sections_.try_emplace(name, Section{ini.blocks_.size(), {}});
                (void)added;
                section = &it->second;
            }
            block.lines.push_back(std::move(line));
            block.keyEnd = 1;
            ini.blocks_.push_back(std::move(block));
            continue;
        }
        Block& block = ini.blocks_.back();
        const std::size_t eq = t.find('=');
        const bool comment = !t.empty() && (t.front() == ';' || t.front() == '#');
        if (section && !comment && eq != std::string_view::npos) {
            const std::string_view key = trim(t.substr(0, eq));
            if (!key.empty()) {
                line.isKey = true;
                line.value = std::string(trim(t.substr(eq + 1)));
                const KeyRef ref{ini.blocks_.size() - 1, block.lines.size()};
                if (section->keys.try_emplace(std::string(key), ref).second) ++ini.keyCount_;
            }
        }
        block.lines.push_back(std::move(line));
        if (block.lines.back().isKey) block.keyEnd = block.lines.size();
    }
    return ini;
}

const std::string* IniFile::Find(std::string_view section, std::string_view key) const {
    // Heterogeneous lookup needs C++20 transparent hashing, which GCC 12's library lacks.
    const auto s = sections_.find(std::string(section));
    if (s == sections_.end()) return nullptr;
    const auto k = s->second.keys.find(std::string(key));
    if (k == s->second.keys.end()) return nullptr;
    return &blocks_[k->second.block].lines[k->second.line].value;
}

std::size_t IniFile::KeyCount(std::string_view section) const {
    const auto s = sections_.find(std::string(section));
    return s == sections_.end() ? 0 : s->second.keys.size();
}

void IniFile::Set(const std::string& section, const std::string& key, const std::string& value) {
    auto s = sections_.find(section);
    if (s == sections_.end()) {
        Block block;
        block.lines.push_back(Line{"[" + section + "]", {}, false});
        block.keyEnd = 1;
        blocks_.push_back(std::move(block));
        s = sections_.emplace(section, Section{blocks_.size() - 1, {}}).first;
    }
    Section& sec = s->second;
    const auto k = sec.keys.find(key);
    if (k != sec.keys.end()) {
        Line& line = blocks_[k->second.block].lines[k->second.line];
        line.text = key + "=" + value;
        line.value = value;
        return;
    }
    // Only non-key lines follow keyEnd, and no index points at them, so the insert
    // invalidates nothing.
    Block& block = blocks_[sec.firstBlock];
    const std::size_t at = block.keyEnd;
    block.lines.insert(block.lines.begin() + static_cast<std::ptrdiff_t>(at), Line{key + "=" + value, value, true});
    block.keyEnd = at + 1;
    sec.keys.emplace(key, KeyRef{sec.firstBlock, at});
    ++keyCount_;
}

std::string IniFile::Serialize() const {
    std::size_t size = bom_ ? kBom.size() : 0;
    for (const Block& block : blocks_) {
        for (const Line& line : block.lines) size += line.text.size() + 1;
    }
    std::string out;
    out.reserve(size);
    if (bom_) out += kBom;
    for (const Block& block : blocks_) {
        for (const Line& line : block.lines) {
            out += line.text;
            out += '\n';
        }
    }
    return out;
}

}  // namespace tandem
