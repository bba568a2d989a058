// Files to remove when the program must end at once (a second Ctrl-C or SIGTERM):
// the temporaries of writes in progress and the job's pair lock. A normal end removes
// them itself; _exit skips every destructor.
//
// Thread safety: Register and Unregister from any thread; RemoveExitPaths is
// async-signal-safe (it only reads fixed slots and calls unlink).
#pragma once

#include <string>

namespace tandem {

// Returns the slot to pass to UnregisterExitPath, or -1 when every slot is taken (the
// file is then not removed at an abrupt end) or the path does not fit a slot.
int RegisterExitPath(const std::string& path);
void UnregisterExitPath(int slot);

// Unlinks every registered path.
void RemoveExitPaths();

}  // namespace tandem
