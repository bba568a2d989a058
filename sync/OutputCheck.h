// The verdict on a synchronised file: how well its right channel (the slave) lines up
// with its left (the master).
//
// Windows of 1 s, every 0.5 s. In each, the lag of the right channel behind the left is
// the lag of the best normalised cross-correlation near 0, either polarity, refined
// between frames by a parabola. Where that peak is not clear, the window is measured on
// the whitened correlation (2 s about the window, the common band, up to +-0.25 s):
// where the best lag within +-3 frames is far weaker than the best anywhere, the window
// is off by that lag; where nothing stands out anywhere although both channels hold
// sound, the window is unmatched (the slave holds other material) and counts against
// the result. Only a window where either channel is near silence (35 dB below the left's
// median window level) is left out.
//
// The file is in step when at least 90 % of the windows with sound lie within +-1 ms,
// no stretch of them is off by more than 1 ms, and none is unmatched for more than 2 s.
//
// Thread safety: plain functions; CheckAlignment splits its windows over ParallelFor.
#pragma once

#include <string>
#include <vector>

#include "core/Types.h"

namespace tandem {

enum class CheckState {
    Quiet,      // either channel near silence
    Unmatched,  // both hold sound, but nothing matches within reach
    Measured,
    Extrapolated,  // after the searched range: no points of its own, not judged
};

struct CheckWindow {
    FrameIndex start = 0;   // first frame of the window
    CheckState state = CheckState::Quiet;
    double lagFrames = 0;   // right behind left, frames (Measured only)
    double r = 0;           // signed normalised correlation at that lag (0 when quiet)
};

// A run of windows off by more than 2 frames or unmatched (quiet windows between them,
// or a single window in step, do not end it), from the first window's start to the last
// one's end.
struct CheckStretch {
    double fromSeconds = 0, toSeconds = 0;
    int windows = 0;               // failing windows in it
    double largestLagFrames = 0;   // the lag of largest size in it, signed
    int unmatched = 0;             // of its windows, those that matched nowhere
    bool breaks = false;           // off by more than 1 ms, or unmatched for more than 2 s
};

struct AlignmentCheck {
    int sampleRate = 0;
    std::vector<CheckWindow> windows;
    int sounding = 0;                 // windows where both channels hold sound
    int measured = 0;                 // of those, windows with a lag (the rest matched nowhere)
    double within2Frames = 0;         // share of the sounding windows, 0..1
    double within1Ms = 0;             // likewise
    double medianAbsLagFrames = 0;    // median |lag| of the measured windows
    std::vector<CheckStretch> worst;  // up to three longest failing stretches, in time order
    int failingStretches = 0;         // all of them
    int breakingStretches = 0;        // of them, those that put the file out of step
    bool inStep = false;
    std::string error;                // the file could not be checked (then inStep is false)
    FrameIndex searchedEnd = -1;      // frames judged: those before it (-1: all)

    double MeasuredShare() const { return sounding > 0 ? static_cast<double>(measured) / sounding : 0.0; }
};

// Checks frames (left = master, right = synchronised slave) of a file at sampleRate.
// searchedEnd >= 0: only frames before it were searched (a stop point, STOP); windows
// that reach past it are Extrapolated and the verdict is on the rest.
AlignmentCheck CheckAlignment(const Frame* frames, FrameIndex count, int sampleRate, FrameIndex searchedEnd = -1);

// Checks a 16-bit stereo WAVE file (a synchronised file) in place; a file that cannot be
// read comes back with error set.
AlignmentCheck CheckSynchronisedFile(const std::string& path, FrameIndex searchedEnd = -1);

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
