// The coarse track: where the slave holds each moment of the master, over the whole
// pair, before the exact segment search.
//
// Evidence: partially whitened cross-correlation (PHAT-beta, beta 0.75) of 1 s master
// windows every 0.5 s against the slave, on 150 Hz .. 3.5 kHz of a mono copy decimated
// to about 8 kHz. Whitening keeps the direct sound's peak sharp where a room's
// reflections and reverberation, summed, outweigh it, and where EQ or a codec colour one
// side; plain waveform correlation peaks hundreds of frames away there. Each window
// keeps its few best peaks (lag to a fraction of a frame, height, and how many noise
// deviations it stands above the rest), so that repeating material keeps its
// alternatives; where either side is near silence the window has no evidence.
//
// The offset first, anywhere: a few master windows from the start on, and a few further
// in, against the whole first minutes of the slave (at about 2 kHz), each over three
// rates; several windows must agree on one line of offset and rate.
//
// One path: a dynamic-programming choice through the windows' peaks that rewards
// evidence and charges for changes of the lag's slope beyond what machines do (a rate
// change of 1 % per second), with a fixed charge for a jump (a pause, a dropout, lost
// samples: up to 10 s either way). Windows without evidence carry the path on. Each
// jump's place between its two windows is found on the waveform, to a few milliseconds
// where the music is busy there.
//
// Thread safety: one track per job; it splits its windows over ParallelFor. The files
// belong to the calling thread.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "core/Types.h"

namespace tandem {

class KWavefile;

struct TrackPeak {
    double lag = 0.0;   // slave frame minus master frame, at the window's centre
    double height = 0.0;  // |whitened correlation|, 0..1
    double z = 0.0;       // height over the spread of the correlation elsewhere
};

struct TrackWindow {
    FrameIndex master = 0;         // the window's centre, master frames
    std::vector<TrackPeak> peaks;  // best first; empty: no evidence
    bool sounding = false;         // both sides hold sound here
    // The chosen path.
    double slave = 0.0;            // slave frame of the master frame `master`
    double evidence = 0.0;         // z of the chosen peak, 0 where the path is carried
    bool jump = false;             // the path jumps between the previous window and this one
    double jumpAt = 0.0;           // where (master frames): the first frame of the new lag
    double jumpSpread = 0.0;       // master frames either side that jumpAt can be off by
    double uncertainty = 0.0;      // master frames the path can be off by here
};

struct CoarseTrack {
    std::uint32_t rate = 0;        // the master's frames per second
    bool found = false;            // an offset was found and the path holds
    std::vector<TrackWindow> windows;
    // What the track can be off by anywhere, in master frames (the largest of the
    // windows' own figures).
    double uncertainty = 0.0;
    std::string why;               // when not found: why, for the log

    // Slave frame of master frame m on the path (cubic between windows, not across jumps);
    // extrapolated at the recent rate beyond the ends.
    double SlaveAt(double m) const;
    // Slave frames per master frame around m, on m's side of any jump.
    double RateAt(double m) const;
    // Whether the path jumps between master frames a < b.
    bool JumpBetween(double a, double b) const;
    // Whether master frame m lies so near a jump that its side of it is not sure.
    bool NearJump(double m) const;
    // The evidence of the window nearest m (0: none).
    double EvidenceAt(double m) const;
    // What the path can be off by around m: the spread of the path about its neighbours
    // within 10 s (tape wow, reverberation, noise), never less than 0.1 ms.
    double UncertaintyAt(double m) const;

    // Indexes the chosen path for the calls above (each then costs a binary search, not a
    // pass over the windows: the segment loop asks several times per segment); windows
    // lie in master order. BuildCoarseTrack does it, a track put together by hand must
    // call it.
    void Index();

private:
    struct PathPoint {
        double master, lag;
        int piece;      // increases at every jump
        double from;    // where the piece begins (the jump's place), master frames
        std::size_t first = 0, last = 0;  // the piece's first and last path points
    };
    // The piece of the path that SlaveAt(m) follows, and its first and last path points.
    int pieceAt(double m) const;
    std::pair<std::size_t, std::size_t> pieceSpan(double m) const;
    // The window whose centre lies nearest m (nullptr: none).
    const TrackWindow* nearestWindow(double m) const;
    std::vector<PathPoint> path_;
    std::vector<std::size_t> jumps_;  // the windows where the path jumps
};

struct TrackRequest {
    FrameIndex masterFrom = 0;  // master frames before this are not tracked (its lead-in)
    FrameIndex slaveFrom = 0;   // nor slave frames before this
};

// Builds the track of the pair; never throws for material that does not match (found
// stays false), only when a file cannot be read.
CoarseTrack BuildCoarseTrack(KWavefile& master, KWavefile& slave, const TrackRequest& request);

// Refines the slave position of master frame k near slaveGuess on the whitened
// correlation at full rate (1 s of master around k, the slave read at `rate` slave
// frames per master frame), within +-reach frames (at most 20 ms). Returns false when
// no clear peak lies there; position gets the slave frame of k otherwise. With
// alternative given, alternativeShare gets how high the correlation stands there, as a
// share of the peak's height (0 where it lies beyond 20 ms).
bool RefineOnWhitened(KWavefile& master, KWavefile& slave, FrameIndex k, double slaveGuess, double rate, int reach,
                      double& position, const double* alternative = nullptr, double* alternativeShare = nullptr);

}  // namespace tandem
