#include "sync/SyntheticPair.h"

#include <algorithm>
#include <cmath>
#include <random>
#include <stdexcept>

#include "core/AtomicFile.h"
#include "wave/WaveImage.h"

namespace tandem {
namespace {

struct Note {
    double start;   // seconds of material time
    double life;    // seconds
    double freq;    // Hz
    double amp;
    double decay;   // seconds
};

std::vector<Note> makeNotes(double seconds, unsigned seed, double quietOpening = 0.0, double loop = 0.0,
                            double leadGain = 0.0) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> uni(0.0, 1.0);
    std::vector<Note> notes;
    double t = 0.05;
    for (; t < std::min(quietOpening, seconds); t += 0.8 + 0.6 * uni(rng))
        notes.push_back({t, 2.5, 110.0 * std::pow(2.0, std::floor(uni(rng) * 24.0) / 12.0), 0.03 + 0.02 * uni(rng), 1.5});
    const double end = loop > 0.0 ? std::min(seconds, quietOpening + loop) : seconds;
    while (t < end) {
        const int voices = 1 + static_cast<int>(uni(rng) * 2.5);
        for (int v = 0; v < voices; ++v) {
            Note n;
            n.start = t + 0.01 * v;
            n.decay = 0.08 + 0.5 * uni(rng);
            n.life = std::min(5.0 * n.decay, 2.5);
            n.freq = 110.0 * std::pow(2.0, std::floor(uni(rng) * 40.0) / 12.0);
            n.amp = 0.15 + 0.25 * uni(rng);
            notes.push_back(n);
        }
        t += 0.09 + 0.35 * uni(rng);
    }
    if (loop > 0.0) {
        // Loop-based music: the pattern after the opening repeats to the end, under a
        // sparse lead line that does not (none with a negative layer gain).
        const std::size_t first = static_cast<std::size_t>(std::count_if(notes.begin(), notes.end(), [&](const Note& n) {
            return n.start < quietOpening;
        }));
        const std::vector<Note> pattern(notes.begin() + static_cast<std::ptrdiff_t>(first), notes.end());
        for (int k = 1; quietOpening + k * loop < seconds; ++k)
            for (Note n : pattern)
                if ((n.start += k * loop) < seconds) notes.push_back(n);
        if (leadGain > 0.0)
            for (double at = quietOpening + 0.3; at < seconds; at += 0.7 + 1.3 * uni(rng))
                notes.push_back({at, 1.5, 220.0 * std::pow(2.0, std::floor(uni(rng) * 24.0) / 12.0), leadGain * (0.2 + 0.2 * uni(rng)), 0.4});
        std::stable_sort(notes.begin(), notes.end(), [](const Note& a, const Note& b) { return a.start < b.start; });
    }
    return notes;
}

// Evaluates the material at increasing times; keeps the window of sounding notes.
class Material {
public:
    Material(std::vector<Note> notes, std::vector<std::pair<double, double>> silences)
        : notes_(std::move(notes)), silences_(std::move(silences)) {}

    // t must not decrease between calls.
    double at(double t) {
        if (t < 0.0) return 0.0;
        for (const auto& [from, to] : silences_)
            if (t >= from && t < to) return 0.0;
        while (first_ < notes_.size() && notes_[first_].start + 2.5 < t) ++first_;
        double sum = 0.0;
        for (std::size_t i = first_; i < notes_.size() && notes_[i].start <= t; ++i) {
            const Note& n = notes_[i];
            const double age = t - n.start;
            if (age >= n.life) continue;
            const double env = n.amp * std::min(1.0, age / 0.004) * std::exp(-age / n.decay);
            const double ph = 2.0 * M_PI * n.freq * age;
            sum += env * (std::sin(ph) + 0.5 * std::sin(2.0 * ph) + 0.3 * std::sin(3.0 * ph));
        }
        return 0.35 * std::tanh(sum);
    }

private:
    std::vector<Note> notes_;
    std::vector<std::pair<double, double>> silences_;
    std::size_t first_ = 0;
};

std::int16_t toSample(double v) {
    return static_cast<std::int16_t>(std::lround(std::clamp(v, -1.0, 1.0) * 32767.0));
}

}  // namespace

// Slave clock position (seconds after the slave's material start) of material time u.
static double warp(const SyntheticPairSpec& s, double u) {
    const double c = 1.0 + s.ppm * 1e-6;
    const double a = s.wobblePpm * 1e-6;
    const double w = 2.0 * M_PI / s.wobblePeriodSeconds;
    return c * u + a / w * (1.0 - std::cos(w * u));
}

// Slave clock seconds after its material start of material time u, the gaps included.
static double recorded(const SyntheticPairSpec& s, double u) {
    const double base = warp(s, -s.slaveExtraSeconds);
    const double clock = warp(s, u) - base;
    double offset = 0.0;
    for (const auto& [at, seconds] : s.gaps) {
        if (u < at) break;
        const double jump = warp(s, at) - base;
        if (seconds < 0.0 && clock < jump - seconds) return jump + offset;  // lost: the loss point
        offset += seconds;
    }
    return clock + offset;
}

double SyntheticPair::SlavePositionOf(double masterFrame) const {
    const double u = masterFrame / spec.masterRate - spec.masterPadSeconds;  // material time
    return (spec.slavePadSeconds + recorded(spec, u)) * spec.slaveRate;
}

bool SyntheticPair::NearGap(double masterFrame, double seconds) const {
    const double u = masterFrame / spec.masterRate - spec.masterPadSeconds;
    for (const auto& [at, length] : spec.gaps)
        if (u > at - seconds && u < at + std::max(-length, 0.0) + seconds) return true;
    return false;
}

SyntheticPair MakeSyntheticPair(const SyntheticPairSpec& spec) {
    SyntheticPair pair;
    pair.spec = spec;
    const std::vector<Note> notes = makeNotes(spec.seconds + std::max(0.0, spec.slaveExtraSeconds) + 1.0, spec.seed,
                                              spec.quietOpeningSeconds, spec.loopSeconds, spec.loopLeadGain);
    // Material time 0 of the master is material time slaveExtra of the notes, so that
    // the slave can hold material before the master's start.
    const double shift = std::max(0.0, spec.slaveExtraSeconds);

    const FrameIndex masterFrames = static_cast<FrameIndex>((spec.masterPadSeconds + spec.seconds) * spec.masterRate);
    pair.master.resize(static_cast<std::size_t>(masterFrames));
    {
        Material m(notes, spec.silences);
        for (FrameIndex i = 0; i < masterFrames; ++i) {
            const double u = static_cast<double>(i) / spec.masterRate - spec.masterPadSeconds;
            const double v = u < 0.0 ? 0.0 : m.at(u + shift);
            const std::int16_t x = toSample(v);
            pair.master[static_cast<std::size_t>(i)] = Frame{x, toSample(0.9 * v)};
        }
    }

    // Slave: frame s holds material time u (from -extra on) with warp(u) - warp(-extra) = s/rate - pad.
    const double slaveEnd = spec.slavePadSeconds + recorded(spec, spec.seconds);
    const FrameIndex slaveFrames = static_cast<FrameIndex>(slaveEnd * spec.slaveRate);
    pair.slave.resize(static_cast<std::size_t>(slaveFrames));
    std::mt19937 rng(spec.seed * 7919u + 1u);
    std::normal_distribution<double> noise(0.0, spec.slaveNoiseDb <= -200.0 ? 0.0 : std::pow(10.0, spec.slaveNoiseDb / 20.0));
    Material m(notes, spec.silences);
    const double base = warp(spec, -spec.slaveExtraSeconds);
    double u = -spec.slaveExtraSeconds;  // material time relative to the master's start
    for (FrameIndex i = 0; i < slaveFrames; ++i) {
        const double clock = static_cast<double>(i) / spec.slaveRate - spec.slavePadSeconds;  // slave clock seconds
        bool paused = false;
        double offset = 0.0;
        for (const auto& [at, seconds] : spec.gaps) {
            const double jump = warp(spec, at) - base + offset;
            if (clock < jump) break;
            if (seconds > 0.0 && clock < jump + seconds) paused = true;
            offset += seconds;
        }
        const double target = clock - offset;
        double v = 0.0;
        if (target >= 0.0 && !paused) {
            for (int k = 0; k < 3; ++k) {  // Newton on warp(u) - base = target
                const double c = 1.0 + spec.ppm * 1e-6;
                const double w = 2.0 * M_PI / spec.wobblePeriodSeconds;
                const double rate = c + spec.wobblePpm * 1e-6 * std::sin(w * u);
                u -= (warp(spec, u) - base - target) / rate;
            }
            v = m.at(u + shift) * spec.slaveGain;
        }
        const double n = spec.slaveNoiseDb <= -200.0 ? 0.0 : noise(rng);
        pair.slave[static_cast<std::size_t>(i)] = Frame{toSample(v + n), toSample(0.9 * v + n)};
    }
    return pair;
}

void WriteStereoWave(const std::string& path, const std::vector<Frame>& frames, std::uint32_t rate) {
    const std::uint64_t dataBytes = frames.size() * 4ull;
    if (dataBytes + 36 > 0xFFFFFFFFull) throw std::runtime_error(path + ": too long for a WAVE file");
    const std::vector<std::uint8_t> h = StereoPcmHeader(rate, frames.size());
    AtomicFile out(path);
    out.Write(h.data(), h.size());
    out.Write(frames.data(), static_cast<std::size_t>(dataBytes));
    if (!out.Commit()) throw out.Failure();
}

}  // namespace tandem
