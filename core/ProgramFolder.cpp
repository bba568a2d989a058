#include "core/ProgramFolder.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <system_error>

#include "core/Message.h"

namespace tandem {
namespace {

std::mutex& folderMutex() {
    static std::mutex m;
    return m;
}
std::string& chosenFolder() {
    static std::string f;
    return f;
}
std::string& notice() {
    static std::string n;
    return n;
}

std::string withSlash(std::string dir) {
    if (dir.empty() || dir.back() != '/') dir += '/';
    return dir;
}

std::string fallbackFolder() {
    const char* xdg = std::getenv("XDG_DATA_HOME");
    std::string base;
    if (xdg && *xdg == '/') {
        base = xdg;
    } else {
        const char* home = std::getenv("HOME");
        base = std::string(home && *home ? home : "/tmp") + "/.local/share";
    }
    return withSlash(base) + "tandem/";
}

}  // namespace

std::string ExecutableFolder() {
    std::error_code ec;
    std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec) return withSlash(std::filesystem::current_path(ec).string());
    return withSlash(exe.parent_path().string());
}

std::string ProgramFolder() {
    std::lock_guard lock(folderMutex());
    if (chosenFolder().empty()) {
        std::string exeDir = ExecutableFolder();
        if (::access(exeDir.c_str(), W_OK) == 0) {
            chosenFolder() = exeDir;
        } else {
            std::string other = fallbackFolder();
            std::error_code ec;
            std::filesystem::create_directories(other, ec);
            chosenFolder() = other;
            notice() = MessageText(Msg::FolderNotWritable, exeDir, other);
        }
    }
    return chosenFolder();
}

void SetProgramFolder(const std::string& folder) {
    std::lock_guard lock(folderMutex());
    chosenFolder() = withSlash(folder);
    notice().clear();
}

std::string FolderNotice() {
    std::lock_guard lock(folderMutex());
    return notice();
}

}  // namespace tandem
