// A private scratch folder for one fuzzing process: the per-user settings file and the
// files the targets write live there, never in the user's home.
#pragma once

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "core/Alert.h"

namespace tandem::fuzz {

inline std::string& createdFolder() {
    static std::string folder;
    return folder;
}

// Made on first use, removed at exit. Registered before the settings store exists, so
// the store's own exit-time write-back runs first.
inline const std::string& ScratchFolder() {
    static const std::string folder = [] {
        const char* base = std::getenv("TMPDIR");
        std::string pattern = std::string(base && base[0] == '/' ? base : "/tmp") + "/tandem-fuzz-XXXXXX";
        if (!::mkdtemp(pattern.data())) std::abort();
        createdFolder() = pattern;
        std::atexit([] {
            std::error_code ec;
            std::filesystem::remove_all(createdFolder(), ec);
        });
        ::setenv("XDG_CONFIG_HOME", pattern.c_str(), 1);
        // Alerts are expected for broken input; printing each would drown the fuzzer's output.
        SetAlertHandler([](const std::string&) {});
        return pattern + "/";
    }();
    return folder;
}

}  // namespace tandem::fuzz
