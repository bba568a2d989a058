#include "core/Text.h"

#include <climits>
#include <cstdint>
#include <cstdio>

#include "core/Error.h"
#include "core/Message.h"

namespace tandem {

std::string Fixed(double value, int decimals) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.*f", decimals, value);
    return buffer;
}

std::string BaseName(const std::string& path) {
    std::string::size_type slash = path.rfind('/');
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    std::string::size_type dot = name.rfind('.');
    if (dot != std::string::npos) name.erase(dot);
    return name;
}

std::string FolderOf(const std::string& path) {
    std::string::size_type slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string HashName(const std::string& text) {
    std::uint64_t h = 14695981039346656037ull;
    for (const char c : text) {
        h ^= static_cast<unsigned char>(c);
        h *= 1099511628211ull;
    }
    char buffer[17];
    std::snprintf(buffer, sizeof buffer, "%016llx", static_cast<unsigned long long>(h));
    return buffer;
}

void CheckNameLength(const std::string& path, std::size_t extraBytes) {
    if (path.size() + extraBytes >= PATH_MAX)
        throw EngineError(Msg::PathTooLong, path, path.size());
    for (std::size_t start = 0; start <= path.size();) {
        std::size_t end = path.find('/', start);
        if (end == std::string::npos) end = path.size();
        const std::size_t length = end - start + (end == path.size() ? extraBytes : 0);
        if (length > NAME_MAX)
            throw EngineError(Msg::NameTooLong, path, end - start, NAME_MAX - (end == path.size() ? extraBytes : 0));
        start = end + 1;
    }
}

}  // namespace tandem
