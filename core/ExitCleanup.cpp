#include "core/ExitCleanup.h"

#include <limits.h>
#include <unistd.h>

#include <atomic>
#include <cstring>

namespace tandem {
namespace {

// A job holds its pair lock, the output's temporary and one settings write-back at a
// time, and the worker's reports a few more: 32 slots leave room for all of them.
constexpr int kSlots = 32;

enum : int { kFree, kFilling, kReady };

struct Slot {
    std::atomic<int> state{kFree};
    char path[PATH_MAX] = {};
};

Slot g_slots[kSlots];

}  // namespace

int RegisterExitPath(const std::string& path) {
    if (path.empty() || path.size() >= PATH_MAX) return -1;
    for (int i = 0; i < kSlots; ++i) {
        int expected = kFree;
        if (!g_slots[i].state.compare_exchange_strong(expected, kFilling)) continue;
        std::memcpy(g_slots[i].path, path.c_str(), path.size() + 1);
        g_slots[i].state.store(kReady);
        return i;
    }
    return -1;
}

void UnregisterExitPath(int slot) {
    if (slot >= 0 && slot < kSlots) g_slots[slot].state.store(kFree);
}

void RemoveExitPaths() {
    for (Slot& slot : g_slots)
        if (slot.state.load() == kReady) ::unlink(slot.path);
}

}  // namespace tandem
