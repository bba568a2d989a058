// Small text helpers for log lines, messages, reports and file names.
#pragma once

#include <cstddef>
#include <string>

namespace tandem {

// Fixed notation with the given decimals, '.' as separator ("12.300", "-1.000").
std::string Fixed(double value, int decimals = 3);
// "/a/b/take.1.wav" -> "take.1" (no folder, no last extension).
std::string BaseName(const std::string& path);
// "/a/b/take.wav" -> "/a/b/" ("" when there is no folder).
std::string FolderOf(const std::string& path);
// 16 hex digits of a 64-bit FNV-1a hash: a short, stable name for a longer text
// (not a secret, not collision-proof against someone who tries).
std::string HashName(const std::string& text);
// Why no file can be created under this path on Linux: a name longer than NAME_MAX
// bytes, or a path of PATH_MAX bytes or more, counting extraBytes more on the last name
// (the suffix of a temporary file written first). Throws EngineError (PathTooLong,
// NameTooLong) then; returns when it fits.
void CheckNameLength(const std::string& path, std::size_t extraBytes = 0);

}  // namespace tandem
