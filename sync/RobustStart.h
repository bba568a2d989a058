// A second opinion on the start point of a fresh job. The onsets (first sample above
// each file's mean level) fail where noise lifts one file's onset or where one file
// holds material the other lacks. This matches onset envelopes (spectral flux,
// 100-4000 Hz, 10 ms hop) of 5 s of master against the slave within 8 s of its onset,
// over a sweep of rates, and checks the best few matches and the onset itself on the
// waveform (0.5 s master windows, stretched, band-limited, either polarity). A clear
// winner replaces the onset estimate only when it lies beyond half the start search's
// reach; when it lies before the slave's onset, the slave lacks the master's beginning
// and the master start moves later (an automatic master lead-in).
//
// Thread safety: the files belong to the calling thread.
#pragma once

#include <vector>

#include "core/Types.h"

namespace tandem {

class KWavefile;

struct StartEstimate {
    FrameIndex slaveStart = 0;  // slave frame that matches the master start
    double rate = 1.0;          // slave frames per master frame
    double score = 0.0;         // mean |r| of the waveform check, 0 when it could not be checked
};

struct RobustStart {
    StartEstimate onset;        // the onset estimate, checked on the waveform
    StartEstimate correlation;  // best envelope match (score 0 when there was none)
    double runnerUp = 0.0;      // best score at another place than the winner's
    bool clear = false;         // the winner is clear (ClearWinner)
    bool undecided = false;     // no clear winner even far into the music: the onset is kept unchecked
    bool overridden = false;    // the correlation replaces the onset estimate
    FrameIndex masterStart = 0; // master start to use (later than asked: automatic lead-in)
    FrameIndex slaveStart = 0;  // slave start estimate to use
};

// A winner is clear when its score is at least 0.4 and at least 1.3 times the best
// score at another place, or, for a good match (0.6), when the runner-up leaves at least
// three times as much unmatched (1 - score). On repeating material the runner-up one
// period away scores nearly as well, and then the evidence decides nothing.
bool ClearWinner(double winner, double runnerUp);

struct MatchRequest {
    FrameIndex masterStart = 0;     // master frame whose slave position is sought
    FrameIndex slaveCentre = 0;     // where it is expected in the slave
    FrameIndex reach = 0;           // frames either side of slaveCentre
    double rate = 1.0;              // expected slave frames per master frame
    double rateSpread = 0.0;        // the envelope sweep covers rate +- this
    FrameIndex slaveSoundFrom = 0;  // a candidate before this checks the master from where the slave's sound begins
    int windows = 1;                // 5 s master envelope windows matched, one after the other
    int checkWindows = 6;           // 0.5 s waveform windows, every 0.9 s
};

struct MatchResult {
    std::vector<StartEstimate> checked;  // waveform-checked candidates, best score first
    double runnerUp = 0.0;               // best score at another place than the winner's
    bool clear = false;
    double firstRate = 1.0;              // rate of the best envelope match of the first window
};

// Where the master's material from masterStart lies in the slave: onset envelopes over
// a rate sweep, then the best few candidates on the waveform.
MatchResult MatchAround(KWavefile& master, KWavefile& slave, const MatchRequest& request);

// masterStart: the master's onset after its lead-in; slaveOnset: the slave's after its
// lead-in; startRange: the offset half-width of the start search. Logs both estimates
// with their scores and the decision (◎ lines).
RobustStart FindRobustStart(KWavefile& master, KWavefile& slave, FrameIndex masterStart, FrameIndex slaveOnset,
                            int startRange);

}  // namespace tandem
