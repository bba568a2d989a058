// The verdict on a synchronised file: how well its right channel (the slave) lines up
// with its left (the master).
//
// Windows of 1 s, every 0.5 s. In each, the lag of the right channel behind the left is
// the lag of the best normalised cross-correlation, either polarity, refined between
// frames by a parabola. Lags near 0 are tried at full rate first; only where no clear
// peak lies there is the window searched up to +-0.25 s (decimated, then refined at full
// rate). A window where either channel is quiet (35 dB below the left's median window
// level), or where the correlation is weak at every lag, is not measurable; it is left
// out of the shares, not counted as a failure.
//
// The file is in step when at least 90 % of the measurable windows lie within +-1 ms and
// enough of the windows where both channels hold sound are measurable.
//
// Thread safety: plain functions; CheckAlignment splits its windows over ParallelFor.
#pragma once

#include <string>
#include <vector>

#include "core/Types.h"

namespace tandem {

enum class CheckState {
    Quiet,     // either channel near silence
    Unclear,   // both hold sound, but no lag correlates clearly
    Measured,
};

struct CheckWindow {
    FrameIndex start = 0;   // first frame of the window
    CheckState state = CheckState::Quiet;
    double lagFrames = 0;   // right behind left, frames (Measured only)
    double r = 0;           // signed normalised correlation at that lag (0 when quiet)
};

// A run of windows off by more than 2 frames (quiet or unclear windows between them, or
// a single window in step, do not end it), from the first window's start to the last
// one's end.
struct CheckStretch {
    double fromSeconds = 0, toSeconds = 0;
    int windows = 0;               // failing windows in it
    double largestLagFrames = 0;   // the lag of largest size in it, signed
};

struct AlignmentCheck {
    int sampleRate = 0;
    std::vector<CheckWindow> windows;
    int sounding = 0;                 // windows where both channels hold sound
    int measured = 0;                 // of those, windows with a clear lag
    double within2Frames = 0;         // share of the measured windows, 0..1
    double within1Ms = 0;             // likewise
    double medianAbsLagFrames = 0;    // median |lag| of the measured windows
    std::vector<CheckStretch> worst;  // up to three longest failing stretches, in time order
    int failingStretches = 0;         // all of them
    bool inStep = false;
    std::string error;                // the file could not be checked (then inStep is false)

    double MeasuredShare() const { return sounding > 0 ? static_cast<double>(measured) / sounding : 0.0; }
};

// Checks frames (left = master, right = synchronised slave) of a file at sampleRate.
AlignmentCheck CheckAlignment(const Frame* frames, FrameIndex count, int sampleRate);

// Checks a 16-bit stereo WAVE file (a synchronised file) in place; a file that cannot be
// read comes back with error set.
AlignmentCheck CheckSynchronisedFile(const std::string& path);

// One line for the window, the log and tandem-cli, e.g.
// "同期確認: 98.7 % が±2サンプル以内、ずれ: 61.0–62.5 秒".
std::string CheckSummary(const AlignmentCheck& check);
// The figures behind it, for the log and tandem-cli.
std::string CheckDetails(const AlignmentCheck& check);

// One row per window: start_s,state,lag_frames,corr (state measured, unclear or quiet;
// the lag only where measured), under that header.
std::string CheckCsvText(const AlignmentCheck& check);

// Writes CheckCsvText to path, as the other reports are written; throws
// SyncError when it cannot be written.
void WriteCheckCsv(const AlignmentCheck& check, const std::string& path);

}  // namespace tandem
