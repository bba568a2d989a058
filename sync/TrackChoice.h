// One path through the coarse track's windows: a dynamic-programming choice through the
// windows' peaks that rewards evidence and charges for changes of the lag's slope beyond
// what machines do (a rate change of 1 % per second), with a fixed charge for a jump (a
// pause, a dropout, lost samples: up to 10 s either way); windows without evidence carry
// the path on. Then a weak window that its strong neighbours contradict leaves the path,
// and every window gets what the path can be off by there. Used by sync/CoarseTrack only.
//
// Thread safety: plain functions; the track belongs to the calling thread.
#pragma once

#include "sync/CoarseTrack.h"

namespace tandem::track {

// The bounds the windows' search and the path share.
constexpr double kHopS = 0.5;          // from one window's centre to the next
constexpr double kWindowS = 1.0;       // a 1 s window keeps 70 % of a 0.5 Hz wow's lag swing, 2 s only 40 %
constexpr double kEvidenceZ = 6.0;     // 3,500 lags of noise exceed 4 sigma about once; 6 is a match
constexpr double kMaxJumpS = 10.0;     // pauses, dropouts and lost samples up to 10 s

// Chooses the path through track's windows (master frames at fs a second); a path that
// begins with no predecessor starts at initialSlope (lag frames per master frame).
// Sets each window's slave, evidence, jump and uncertainty, and track.uncertainty.
void ChooseTrackPath(CoarseTrack& track, double fs, double initialSlope);

}  // namespace tandem::track
