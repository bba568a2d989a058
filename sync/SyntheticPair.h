// A synthetic master/slave pair with a known, time-varying drift, for the demo, the
// end-to-end tests and the benchmarks. The material is a sum of decaying harmonic
// notes evaluated at exact (fractional) times, so the slave is the same music read
// through a different clock, not an interpolated copy.
//
// Slave clock: slave frames per material frame = 1 + ppm + wobble * sin(2 pi t / period).
#pragma once

#include <string>
#include <vector>

#include "core/Types.h"

namespace tandem {

struct SyntheticPairSpec {
    double seconds = 75.0;          // material length
    double masterPadSeconds = 0.5;  // digital silence before the master's material
    double slavePadSeconds = 1.3;   // digital silence before the slave's material
    double slaveExtraSeconds = 0.0; // slave material starts this much earlier (negative: later)
    double ppm = 1000.0;            // constant rate difference, parts per million
    double wobblePpm = 1000.0;      // amplitude of the sine rate wobble
    double wobblePeriodSeconds = 40.0;
    double slaveNoiseDb = -50.0;    // white noise on the slave against full scale (<= -200: none)
    double slaveGain = 1.0;         // negative inverts the slave
    std::vector<std::pair<double, double>> silences;  // material [from, to) in seconds made silent
    // The slave recorder paused at material time first for second seconds of its clock
    // (digital silence), or, where second is negative, lost that much of its recording.
    std::vector<std::pair<double, double>> gaps;
    double loopSeconds = 0.0;          // > 0: the material repeats with this period
    double loopLeadGain = 0.5;         // a lead line over the loop that does not repeat (0: none)
    double quietOpeningSeconds = 0.0;  // a slow, quiet opening: few long, soft notes
    unsigned seed = 7;
    double masterRate = kSampleRate;  // frames per second of each file
    double slaveRate = kSampleRate;
};

struct SyntheticPair {
    SyntheticPairSpec spec;
    std::vector<Frame> master;
    std::vector<Frame> slave;
    // The slave frame (fractional, at the slave's rate) that holds the material of a master frame; material
    // the slave lost maps to where the loss is.
    double SlavePositionOf(double masterFrame) const;
    // Whether the master frame lies within seconds of a gap in the slave's recording (of
    // the material the slave lost, or of the point where it paused).
    bool NearGap(double masterFrame, double seconds) const;
};

SyntheticPair MakeSyntheticPair(const SyntheticPairSpec& spec);

// Writes 16-bit stereo frames as a plain WAVE file; throws std::runtime_error.
void WriteStereoWave(const std::string& path, const std::vector<Frame>& frames, std::uint32_t rate = kSampleRate);

}  // namespace tandem
