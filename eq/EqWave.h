// Equalised copies: "<base>_EQ(<low>,<high>).wav" beside the source, the whole file
// band-limited, 16-bit stereo, written atomically (temporary file + rename). A private
// chunk after the data records the size and modification time (ns) of the source the
// copy was made from.
#pragma once

#include <string>

namespace tandem {

std::string EqWaveName(const std::string& source, int lowHz, int highHz);
// Makes the copy unless one made from the source as it is now exists (a copy of
// another version, or one without a record, is made again); returns its name either
// way. When the source's folder is not writable the copy goes to $XDG_CACHE_HOME/tandem/
// (default ~/.cache/tandem/) as "<base>_EQ(<low>,<high>)-<hash of the source path>.wav"
// and the log says so.
// Throws WaveFileError when the source cannot be opened or used, or the copy not made
// or not written: a name is returned only for a copy that exists.
std::string MakeEqWave(const std::string& source, int lowHz, int highHz);

}  // namespace tandem
