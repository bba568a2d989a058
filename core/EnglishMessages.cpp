#include "core/EnglishMessages.h"

#include <string_view>
#include <unordered_map>

namespace tandem {
namespace {

struct Row {
    const char* japanese;
    const char* english;
};

constexpr Row kRows[] = {
#include "EngineEnglish.inc"
    {nullptr, nullptr},
};

const std::unordered_map<std::string_view, std::string_view>& table() {
    static const std::unordered_map<std::string_view, std::string_view> map = [] {
        std::unordered_map<std::string_view, std::string_view> m;
        for (const Row& row : kRows)
            if (row.japanese) m.emplace(row.japanese, row.english);
        return m;
    }();
    return map;
}

}  // namespace

std::string EnglishMessageText(const char* japanese) {
    const auto it = table().find(japanese);
    return std::string(it != table().end() ? it->second : std::string_view(japanese));
}

bool HasEnglishMessageText(const char* japanese) { return table().count(japanese) > 0; }

}  // namespace tandem
