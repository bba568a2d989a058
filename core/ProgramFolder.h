// The program folder: where qzv.ini, the synchronised file and the CSV reports go.
//
// By default the folder of the running executable; when that folder is not writable,
// $XDG_DATA_HOME/tandem/ (default ~/.local/share/tandem/), and FolderNotice() then holds
// a sentence for the front end to show once. Front ends and tests may set another
// folder before anything is opened. Paths returned end with '/'.
//
// Thread safety: set it before a job starts; reading is safe from any thread.
#pragma once

#include <string>

namespace tandem {

std::string ExecutableFolder();
std::string ProgramFolder();
void SetProgramFolder(const std::string& folder);
// Empty unless the executable's folder was unwritable and another one is used.
std::string FolderNotice();

}  // namespace tandem
