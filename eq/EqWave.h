// Equalised copies: "<base>_EQ(<low>,<high>).wav" beside the source, the whole file
// band-limited, 16-bit stereo, written atomically (temporary file + rename).
#pragma once

#include <string>

namespace tandem {

std::string EqWaveName(const std::string& source, int lowHz, int highHz);
// Makes the copy unless a file of that name exists; returns its name either way.
// Throws WaveFileError when the source cannot be opened or the copy not written.
std::string MakeEqWave(const std::string& source, int lowHz, int highHz);

}  // namespace tandem
