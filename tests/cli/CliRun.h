// Runs tandem-cli through the shell and collects its exit status and output.
#pragma once

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "common/TestWave.h"

namespace tandem::test {

struct CliRun {
    int status = -1;
    std::string output;  // stdout and stderr
};

// Runs a shell command line; its stderr is collected with its stdout only where the
// command says so.
inline CliRun shell(const std::string& command) {
    CliRun r;
    std::FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe) return r;
    std::array<char, 4096> buffer{};
    std::size_t n;
    while ((n = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0) r.output.append(buffer.data(), n);
    const int raw = ::pclose(pipe);
    r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    return r;
}

// prefix: shell commands run before tandem-cli in the same shell (ulimit ...).
inline CliRun cli(const std::string& args, const std::string& prefix = "") {
    return shell(prefix + std::string(TANDEM_CLI_PATH) + " " + args + " 2>&1");
}

// Single quotes for the shell; a ' inside is closed, escaped and reopened.
inline std::string shellQuote(const std::string& s) {
    std::string out = "'";
    for (const char c : s) {
        if (c == '\'') {
            out += "'\\''";
        } else {
            out += c;
        }
    }
    return out + "'";
}

class Cli : public ::testing::Test {
protected:
    void SetUp() override {
        ::setenv("XDG_CONFIG_HOME", dir.path().c_str(), 1);
        // The tests read the English texts, whatever the locale they run under.
        ::setenv("LC_ALL", "C", 1);
    }
    std::string dirArg() const { return "--dir " + shellQuote(dir.path()); }
    TempDir dir;
};

}  // namespace tandem::test
