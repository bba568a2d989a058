// A time map segment's cubic at a run of whole master frames, the positions of every
// band-limited read: the chord plus the tangents' departures from it.
//
// Every variant gives the plain loop's very values; the vector ones divide by the
// segment's whole length without a division (core/ExactQuotient.h).
//
// Thread safety: pure functions.
#pragma once

#include "dsp/SincResampler.h"

namespace tandem {

struct CubicSegment {
    double x0, y0;    // its first point
    double h, rise;   // master frames to the next point (whole), slave frames
    double d0, d1;    // the tangents at either end
    bool chordOnly;   // a break: read along the chord
};

// out[k] = the cubic at master frame m0 + k, k < n.
void CubicRun(const CubicSegment& s, double m0, int n, double* out);
void CubicRunWith(SincKernel kernel, const CubicSegment& s, double m0, int n, double* out);

}  // namespace tandem
