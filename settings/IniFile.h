// One INI document held in memory: "[section]" and "key=value" lines, UTF-8 (bytes are
// bytes), read with LF or CRLF, written with LF.
//
// Every line of the source is kept with its place, so a rewrite changes only the lines
// of keys that were set: comments (';', '#'), blank lines, lines before the first
// section and lines that are neither a section nor a key survive unchanged.
//
// Reading rules: sections and keys are byte-exact and case-sensitive; spaces and tabs
// around a key and around a value are trimmed; a section line is '[' up to the last ']'
// (text after it is ignored); when a key occurs more than once in a section (or the
// section more than once in the file), the first occurrence wins, and Set changes that
// one. A '[' line without ']' starts an unreadable block, so that the keys below it are
// not taken for keys of the section before.
//
// Lookups and writes go through hash indexes: setting n keys costs O(n), not O(n * lines).
//
// Not thread-safe; the settings store guards it.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace tandem {

class IniFile {
public:
    IniFile() : blocks_(1) {}
    static IniFile Parse(std::string_view bytes);

    // The value as read (trimmed), or nullptr when the key is not there.
    const std::string* Find(std::string_view section, std::string_view key) const;
    // Changes the first occurrence of the key, or adds it after the last key of the
    // section's first block, or adds the section at the end. The caller makes sure that
    // nothing holds a line break and that the key reads back as itself (IsStorableKey).
    void Set(const std::string& section, const std::string& key, const std::string& value);

    std::string Serialize() const;
    std::size_t KeyCount() const { return keyCount_; }
    bool HasSection(std::string_view section) const { return sections_.count(std::string(section)) != 0; }
    // Distinct keys of the section (0 when it is not there).
    std::size_t KeyCount(std::string_view section) const;

    // A key written as "key=value" reads back as the same key: not empty, no '=', no
    // line break or NUL, no spaces or tabs at either end, not starting with ';', '#'
    // or '[' (a comment or a section line).
    static bool IsStorableKey(std::string_view key);

private:
    struct Line {
        std::string text;   // the line as it stands in the file, without its line break
        std::string value;  // trimmed value when isKey
        bool isKey = false;
    };
    struct Block {
        std::vector<Line> lines;  // lines[0] is the section line, except in block 0
        std::size_t keyEnd = 0;   // one past the last key line: new keys go here
        bool readable = true;
    };
    struct KeyRef {
        std::size_t block;
        std::size_t line;
    };
    struct Section {
        std::size_t firstBlock;
        std::unordered_map<std::string, KeyRef> keys;
    };

    std::vector<Block> blocks_;  // blocks_[0]: the lines before the first section
    std::unordered_map<std::string, Section> sections_;
    std::size_t keyCount_ = 0;
    bool bom_ = false;
};

}  // namespace tandem
