// The coarse track, found in four steps by TrackBuilder: the mono copies and their levels
// (constructor), the offset and rate (findOffset: onset envelopes, agreed lines, checked on
// the whitened waveform), the windows' peaks along it (follow: prediction, relock, the wide
// look), and one path through them (choosePath: the choice itself in sync/TrackChoice.cpp,
// then where each jump lies). The path's queries are in sync/TrackPath.cpp, the signal
// work in sync/TrackSignal.cpp.
#include "sync/CoarseTrack.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <mutex>
#include <tuple>

#include "core/Clones.h"
#include "core/Log.h"
#include "core/Parallel.h"
#include "core/Text.h"
#include "dsp/Fft.h"
#include "sync/PatternSearch.h"
#include "sync/SignalMatch.h"
#include "sync/TrackChoice.h"
#include "sync/TrackSignal.h"
#include "wave/KWavefile.h"

namespace tandem {
namespace {

using track::decimate;
using track::kEvidenceZ;
using track::kHopS;
using track::kWindowS;
using track::kMaxJumpS;
using track::decimatedMono;
using track::Levels;
using track::logOf;
using track::median;
using track::Pearson;
using track::Signal;

// Every constant below is a time or a physical bound; the measurement behind each is
// said beside it.
constexpr double kTrackRateHz = 8000.0;   // the decimated copy: 150 Hz .. 3.5 kHz is held by every recorder we met
constexpr double kBandLowHz = 150.0;      // below: hum, rumble and the room's modes
constexpr double kBandHighHz = 3500.0;    // a phone (200-6500), a tape (60-10k), a 4 kHz low-pass all hold it
constexpr double kReachS = 0.2;           // around the prediction: 1 %/s for 2 s of chunk is 20 ms
constexpr int kPeaks = 3;
constexpr double kFollowShare = 0.4;      // of the recent windows' median z
constexpr double kSlopeSpanS = 4.0;       // the recent rate: 1 %/s for 4 s is 4 % of rate... bounded by the relock
constexpr double kMainLobeS = 0.003;      // peaks closer than this are one peak
constexpr double kQuietDb = 40.0;         // below a file's median window level: near silence
constexpr double kMaxRateOffset = 0.05;   // 5 %: beyond any clock, and the rate sweep's reach
constexpr double kEnvelopeHopS = 0.01;
constexpr double kOffsetWindowS = 5.0;    // of onset envelope
constexpr double kOffsetReachS = 130.0;   // lead-ins differ by at least 120 s either way
constexpr double kOffsetRateStep = 0.0025; // nine rates cover +-1 %; 0.125 % left is 6 ms over 5 s, under a hop
constexpr int kOffsetRates = 4;
constexpr int kOffsetPeaks = 8;           // loops repeat every second or two: keep their alternatives
constexpr int kSpreadWindows = 16;        // the second look: windows over the whole master
constexpr double kOffsetMinR = 0.3;       // envelope correlation of a match; unrelated music stays below 0.2
// A jump's window still matches the old lag where most of it lies before the jump: the
// jump is sought from a little before it to a little after the new lag's window.
constexpr double kJumpMarginS = 0.25;
constexpr double kJumpBlockS = 0.02;      // products 20 ms apart are independent: a tone's lobe at 150 Hz is 7 ms
constexpr double kSideSpanS = 3.0;        // each side's rate from its lags over 3 s: 1 frame in 3 s is 7 ppm

struct Candidate {
    double t = 0.0;    // master seconds
    double lag = 0.0;  // seconds
    double z = 0.0;
};

struct Line {
    double t0 = 0.0, lag0 = 0.0, slope = 0.0;  // lag(t) = lag0 + slope (t - t0)
    double score = 0.0;
    int support = 0;
    std::vector<double> at;  // master seconds of the windows that agree
    double LagAt(double t) const { return lag0 + slope * (t - t0); }
};

class TrackBuilder {
public:
    TrackBuilder(KWavefile& master, KWavefile& slave, const TrackRequest& request)
        : master_(master), slave_(slave), request_(request), fs_(master.SampleRate) {}

    CoarseTrack Build() {
        CoarseTrack track;
        track.rate = master_.SampleRate;
        factor_ = std::max(1, static_cast<int>(fs_ / kTrackRateHz));
        fd_ = fs_ / factor_;
        // Both files at once: the decimation is most of the track's cost.
        Signal m, s;
        std::exception_ptr failure;
        ParallelFor(2, [&](std::size_t begin, std::size_t end) {
            for (std::size_t i = begin; i < end; ++i) {
                try {
                    (i == 0 ? m : s) = decimatedMono(i == 0 ? master_ : slave_, factor_, 0.5 * fd_);
                } catch (...) {
                    static std::mutex lock;
                    std::lock_guard<std::mutex> hold(lock);
                    if (!failure) failure = std::current_exception();
                }
            }
        });
        if (failure) std::rethrow_exception(failure);
        m_ = std::move(m);
        s_ = std::move(s);
        const FrameIndex from = request_.masterFrom / factor_, sFrom = request_.slaveFrom / factor_;
        for (FrameIndex i = 0; i < std::min<FrameIndex>(from, static_cast<FrameIndex>(m_.size())); ++i) m_[static_cast<std::size_t>(i)] = 0.0f;
        for (FrameIndex i = 0; i < std::min<FrameIndex>(sFrom, static_cast<FrameIndex>(s_.size())); ++i) s_[static_cast<std::size_t>(i)] = 0.0f;
        const Levels ml(m_), sl(s_);
        window_ = static_cast<int>(std::lround(kWindowS * fd_));
        reach_ = static_cast<int>(std::lround(kReachS * fd_));
        masterQuiet_ = ml.QuietBelow(window_, kQuietDb);
        slaveQuiet_ = sl.QuietBelow(window_, kQuietDb);
        masterLevel_ = masterQuiet_ * std::pow(10.0, kQuietDb / 20.0);
        slaveLevel_ = slaveQuiet_ * std::pow(10.0, kQuietDb / 20.0);

        Line line;
        if (!findOffset(ml, sl, line)) {
            track.why = why_;
            return track;
        }
        AddLog("◎粗い追跡：開始のずれ " + Fixed(line.LagAt(line.t0)) + " 秒、RATE " + Fixed(100.0 * (1.0 + line.slope)) +
               " (窓 " + std::to_string(line.support) + ")");
        follow(ml, sl, line, track);
        choosePath(track);
        track.Index();
        track.found = true;
        return track;
    }

private:
    double masterSeconds(FrameIndex i) const { return static_cast<double>(i) / fd_; }

    // x[from ..] into out (its size), silence outside x.
    static void copyPart(const Signal& x, FrameIndex from, std::vector<float>& out) {
        std::fill(out.begin(), out.end(), 0.0f);
        const FrameIndex n = static_cast<FrameIndex>(x.size()), count = static_cast<FrameIndex>(out.size());
        const FrameIndex a = std::max<FrameIndex>(from, 0), b = std::min(from + count, n);
        if (b > a) std::copy(x.begin() + a, x.begin() + b, out.begin() + (a - from));
    }

    // Stretch of x from position `from` at `step` samples per sample, `count` values.
    static void stretch(const Signal& x, double from, double step, std::size_t count, std::vector<float>& out) {
        out.assign(count, 0.0f);
        const double last = static_cast<double>(x.size()) - 1.0;
        for (std::size_t i = 0; i < count; ++i) {
            const double pos = from + static_cast<double>(i) * step;
            if (pos < 0.0 || pos >= last) continue;
            const std::size_t k = static_cast<std::size_t>(pos);
            const float f = static_cast<float>(pos - static_cast<double>(k));
            out[i] = x[k] + f * (x[k + 1] - x[k]);
        }
    }

    // Onset envelope of a decimated copy: spectral flux of log magnitudes over the band,
    // 30 ms frames every 10 ms, less its local mean (+-0.25 s). Coarse in time, it
    // survives a rate off by a percent over seconds, rooms and codecs. Made only over the
    // hops in `want` (the offset windows and their reach; zero elsewhere): most of a long
    // master is never looked at.
    std::vector<float> envelope(const Signal& x, double level, std::vector<std::pair<long, long>> want) const {
        const std::size_t frame = 256, hop = static_cast<std::size_t>(std::lround(kEnvelopeHopS * fd_));
        if (x.size() < frame + hop) return {};
        const std::size_t count = (x.size() - frame) / hop;
        const long half = std::lround(0.25 / kEnvelopeHopS);
        // The flux each wanted hop's mean needs, as merged spans.
        std::vector<std::pair<long, long>> spans;
        for (auto& [from, to] : want) {
            from = std::clamp<long>(from, 0, static_cast<long>(count));
            to = std::clamp<long>(to, from, static_cast<long>(count));
            if (to > from) spans.push_back({std::max(0L, from - half), std::min(static_cast<long>(count), to + half + 1)});
        }
        std::sort(spans.begin(), spans.end());
        std::vector<std::pair<long, long>> merged;
        for (const auto& sp : spans) {
            if (!merged.empty() && sp.first <= merged.back().second) merged.back().second = std::max(merged.back().second, sp.second);
            else merged.push_back(sp);
        }
        const RealFft fft(frame);
        const double binHz = fd_ / static_cast<double>(frame);
        const std::size_t lo = static_cast<std::size_t>(std::ceil(kBandLowHz / binHz));
        const std::size_t hi = std::min(fft.Bins() - 1, static_cast<std::size_t>(kBandHighHz / binHz));
        std::vector<float> window(frame);
        for (std::size_t i = 0; i < frame; ++i) window[i] = static_cast<float>(0.5 - 0.5 * std::cos(2.0 * M_PI * i / frame));
        std::vector<float> flux(count, 0.0f);
        for (const auto& span : merged) {
            // Not a structured binding: clang does not capture one in a lambda.
            const long a = span.first, b = span.second;
            ParallelFor(static_cast<std::size_t>(b - a), [&](std::size_t begin, std::size_t end) {
                FftReals in = AllocReals(frame);
                FftBins out = AllocBins(fft.Bins());
                std::vector<float> prev(hi + 1, 0.0f), cur(hi + 1, 0.0f);
                const float scale = static_cast<float>(10.0 / (std::max(level, 1.0) * 16.0));
                const std::size_t first = static_cast<std::size_t>(a) + begin, last = static_cast<std::size_t>(a) + end;
                for (std::size_t f = first == 0 ? 0 : first - 1; f < last; ++f) {
                    for (std::size_t i = 0; i < frame; ++i) in[i] = x[f * hop + i] * window[i];
                    fft.Forward(in.get(), out.get());
                    for (std::size_t k = lo; k <= hi; ++k) {
                        const float power = out[k].real() * out[k].real() + out[k].imag() * out[k].imag();
                        cur[k] = logOf(1.0f + std::sqrt(power) * scale);
                    }
                    if (f >= first && f > 0) {
                        float sum = 0.0f;
                        for (std::size_t k = lo; k <= hi; ++k) sum += std::max(0.0f, cur[k] - prev[k]);
                        flux[f] = sum;
                    }
                    std::swap(prev, cur);
                }
            });
        }
        std::vector<float> env(count, 0.0f);
        for (const auto& [a, b] : merged) {
            std::vector<double> sums(static_cast<std::size_t>(b - a) + 1, 0.0);
            for (long i = a; i < b; ++i) sums[static_cast<std::size_t>(i - a + 1)] = sums[static_cast<std::size_t>(i - a)] + flux[static_cast<std::size_t>(i)];
            for (long i = a; i < b; ++i) {
                const long from = std::max(a, i - half), to = std::min(b, i + half + 1);
                env[static_cast<std::size_t>(i)] = flux[static_cast<std::size_t>(i)] -
                    static_cast<float>((sums[static_cast<std::size_t>(to - a)] - sums[static_cast<std::size_t>(from - a)]) / static_cast<double>(to - from));
            }
        }
        return env;
    }

    // The offset from windows at the master's start and further in; where the slave
    // lacks most of the master (it started much later), from windows spread over all of it.
    bool findOffset(const Levels& ml, const Levels& sl, Line& line) {
        if (findOffsetAt(ml, sl, line, false)) return true;
        const std::string first = why_;
        if (findOffsetAt(ml, sl, line, true)) return true;
        why_ = first;
        return false;
    }

    bool findOffsetAt(const Levels& ml, const Levels& sl, Line& line, bool spread) {
        (void)sl;
        const std::vector<double> times = offsetTimes(ml, spread);
        makeEnvelopes(times);
        if (times.empty() || se_.empty()) {
            why_ = "master too short";
            return false;
        }
        const std::vector<std::vector<Candidate>> found = envelopeCandidates(ml, times);
        int windowsWithEvidence = 0;
        const std::vector<Line> lines = agreedLines(found, times, windowsWithEvidence);
        // Spread over a master whose start the slave lacks, most windows find nothing real.
        const int needed = spread ? 3 : std::max(3, (windowsWithEvidence + 1) / 2);
        if (lines.empty() || lines.front().support < needed) {
            why_ = "no offset agreed by several windows (" + std::to_string(lines.empty() ? 0 : lines.front().support) + " of " +
                   std::to_string(windowsWithEvidence) + ")";
            return false;
        }
        return verifiedLine(lines, needed, line);
    }

    // Where the offset windows lie: from where the master first holds sound, then
    // further in (or spread over all of it).
    std::vector<double> offsetTimes(const Levels& ml, bool spread) {
        const double total = static_cast<double>(m_.size()) / fd_;
        // Windows from where the master first holds sound, then further in.
        double first = request_.masterFrom / fs_;
        while (first + kOffsetWindowS < total &&
               ml.Rms(static_cast<FrameIndex>(first * fd_), static_cast<FrameIndex>((first + kOffsetWindowS) * fd_)) < masterQuiet_)
            first += 0.5;
        std::vector<double> times;
        if (spread) {
            const int n = std::clamp(static_cast<int>((total - first) / kOffsetWindowS), 1, kSpreadWindows);
            for (int i = 0; i < n; ++i) times.push_back(first + (total - first - kOffsetWindowS) * i / std::max(1, n - 1));
        } else {
            for (int i = 0; i < 4; ++i) times.push_back(first + kOffsetWindowS * i);
            for (double f : {0.35, 0.65}) times.push_back(first + f * (total - first));
        }
        std::sort(times.begin(), times.end());
        times.erase(std::remove_if(times.begin(), times.end(), [&](double t) { return t + kOffsetWindowS > total; }), times.end());
        times.erase(std::unique(times.begin(), times.end(), [](double a, double b) { return std::fabs(a - b) < kOffsetWindowS; }),
                    times.end());
        return times;
    }

    // The onset envelopes the offset windows at `times` read: the master's under each
    // window (read at rates up to 1 % off), the slave's within the offset reach.
    void makeEnvelopes(const std::vector<double>& times) {
        const int w = static_cast<int>(std::lround(kOffsetWindowS / kEnvelopeHopS));
        const int reach = static_cast<int>(std::lround(kOffsetReachS / kEnvelopeHopS));
        std::vector<std::pair<long, long>> mine, theirs;
        for (const double t : times) {
            const long mi = std::lround(t / kEnvelopeHopS);
            mine.push_back({mi - w / 50 - 2, mi + w + w / 50 + 2});
            theirs.push_back({mi - reach, mi + reach + w});
        }
        me_ = envelope(m_, masterLevel_, mine);
        se_ = envelope(s_, slaveLevel_, theirs);
    }

    // Per window, its best few (offset, correlation) candidates over nine rates, from the
    // onset envelopes against the slave's within the offset reach.
    std::vector<std::vector<Candidate>> envelopeCandidates(const Levels& ml, const std::vector<double>& times) const {
        const double hopS = kEnvelopeHopS;
        const std::vector<float>&me = me_, &se = se_;
        const int w = static_cast<int>(std::lround(kOffsetWindowS / hopS));
        const int reach = static_cast<int>(std::lround(kOffsetReachS / hopS));
        std::vector<std::vector<Candidate>> found(times.size());
        ParallelFor(times.size(), [&](std::size_t begin, std::size_t end) {
            std::vector<float> pattern(static_cast<std::size_t>(w));
            for (std::size_t i = begin; i < end; ++i) {
                const double t = times[i];
                const FrameIndex at = static_cast<FrameIndex>(std::lround(t * fd_));
                if (ml.Rms(at, at + static_cast<FrameIndex>(kOffsetWindowS * fd_)) < masterQuiet_) continue;
                const int mi = static_cast<int>(std::lround(t / hopS));
                const int s0 = std::max(0, mi - reach);
                const int s1 = std::min(static_cast<int>(se.size()), mi + reach + w);
                if (s1 - s0 <= w) continue;
                const int lags = s1 - s0 - w + 1;
                const Pearson pearson(se.data() + s0, static_cast<std::size_t>(w), lags);
                std::vector<float> cf;
                std::vector<std::pair<double, Candidate>> best;  // (r, candidate)
                for (int r = -kOffsetRates; r <= kOffsetRates; ++r) {
                    const double step = 1.0 + r * kOffsetRateStep;
                    const double centre = mi + 0.5 * w;
                    for (int k = 0; k < w; ++k) {
                        const double pos = centre + (k - 0.5 * w) / step;
                        const int p = static_cast<int>(std::floor(pos));
                        const float fr = static_cast<float>(pos - p);
                        const float a = p >= 0 && p < static_cast<int>(me.size()) ? me[static_cast<std::size_t>(p)] : 0.0f;
                        const float b = p + 1 >= 0 && p + 1 < static_cast<int>(me.size()) ? me[static_cast<std::size_t>(p + 1)] : 0.0f;
                        pattern[static_cast<std::size_t>(k)] = a + fr * (b - a);
                    }
                    pearson.Run(pattern, cf);
                    // The best few lags of this rate, a main lobe apart.
                    for (const CorrelationPeak& p : BestPeaks(cf, 3, kOffsetPeaks)) {
                        const double slaveMid = s0 + p.index + 0.5 * w;
                        best.push_back({p.height, {centre * hopS, (slaveMid - centre) * hopS, p.height}});
                    }
                }
                std::sort(best.begin(), best.end(), [](const auto& a, const auto& b) { return a.first > b.first; });
                for (std::size_t c = 0; c < best.size() && c < 2 * kOffsetPeaks; ++c)
                    if (best[c].first >= kOffsetMinR) found[i].push_back(best[c].second);
            }
        });
        return found;
    }

    // The lines of offset and rate that the most windows agree on, weighted by their correlation.
    std::vector<Line> agreedLines(const std::vector<std::vector<Candidate>>& found, const std::vector<double>& times,
                                  int& windowsWithEvidence) const {
        std::vector<Candidate> all;
        for (const auto& f : found) {
            if (!f.empty()) ++windowsWithEvidence;
            all.insert(all.end(), f.begin(), f.end());
        }
        std::vector<Line> lines;
        const auto consider = [&](const Candidate& a, double slope) {
            Line l{a.t, a.lag, slope, 0.0, 0, {}};
            for (std::size_t i = 0; i < found.size(); ++i) {
                double bestZ = 0.0;
                for (const Candidate& c : found[i]) {
                    const double tol = 0.02 + 0.002 * std::fabs(c.t - a.t);
                    if (std::fabs(c.lag - l.LagAt(c.t)) <= tol) bestZ = std::max(bestZ, c.z);
                }
                if (bestZ > 0.0) {
                    ++l.support;
                    l.score += bestZ;
                    l.at.push_back(times[i] + 0.5 * kOffsetWindowS);
                }
            }
            lines.push_back(l);
        };
        for (std::size_t i = 0; i < all.size(); ++i) {
            consider(all[i], 0.0);
            for (std::size_t j = 0; j < all.size(); ++j) {
                if (std::fabs(all[j].t - all[i].t) < kOffsetWindowS) continue;
                const double slope = (all[j].lag - all[i].lag) / (all[j].t - all[i].t);
                if (std::fabs(slope) <= kMaxRateOffset) consider(all[i], slope);
            }
        }
        std::sort(lines.begin(), lines.end(), [](const Line& a, const Line& b) {
            return a.support != b.support ? a.support > b.support : a.score > b.score;
        });
        return lines;
    }

    // The agreed lines checked on the whitened waveform; of those that hold, the one nearest
    // both files' own starts among the ties.
    bool verifiedLine(const std::vector<Line>& lines, int needed, Line& line) {
        // Repeating material agrees as well one pattern away; the whitened waveform
        // tells the place itself from its repeats (a lead line, a variation, the noise).
        std::vector<Line> distinct;
        for (const Line& l : lines) {
            if (l.support < needed || distinct.size() >= 12) break;
            bool same = false;
            for (const Line& d : distinct) same = same || std::fabs(d.LagAt(l.t0) - l.LagAt(l.t0)) < 0.05;
            if (!same) distinct.push_back(l);
        }
        std::vector<double> verified(distinct.size(), 0.0);
        ParallelFor(distinct.size(), [&](std::size_t begin, std::size_t end) {
            Scratch& x = threadScratch();
            for (std::size_t d = begin; d < end; ++d) {
                const Line& l = distinct[d];
                int held = 0;
                double z = 0.0;
                for (std::size_t i = 0; i < std::min<std::size_t>(l.at.size(), 4); ++i) {
                    const double t = l.at[i];
                    const FrameIndex mc = static_cast<FrameIndex>(std::lround(t * fd_));
                    double slope = l.slope;
                    std::vector<TrackPeak> peaks;
                    if (relock(x, mc, l.LagAt(t), slope, peaks, 2)) {
                        ++held;
                        z += peaks.front().z;
                    }
                }
                // One window that happens to match is no offset.
                verified[d] = held >= 2 ? z : 0.0;
            }
        });
        // Places whose evidence ties (within 10 %) cannot be told apart; the one nearest
        // both files' own starts is taken, as recorders are mostly started together.
        double bestZ = 0.0;
        for (double z : verified) bestZ = std::max(bestZ, z);
        if (bestZ <= 0.0) {
            why_ = "the envelope's offset did not hold on the waveform";
            return false;
        }
        bool chosen = false;
        int ties = 0;
        for (std::size_t d = 0; d < distinct.size(); ++d) {
            if (verified[d] < 0.9 * bestZ) continue;
            ++ties;
            if (!chosen || std::fabs(distinct[d].LagAt(distinct[d].t0)) < std::fabs(line.LagAt(line.t0))) line = distinct[d];
            chosen = true;
        }
        if (ties > 1) AddLog("◎粗い追跡：同等の開始候補 " + std::to_string(ties) + " 個、ずれの小さい方を採用");
        initialSlope_ = line.slope;
        return true;
    }

    // The whitened correlation of the master window centred on mc, read at 1 + slope
    // slave frames per master frame, against the slave around mc + lag (seconds).
    struct Scratch {
        explicit Scratch(const TrackBuilder& b)
            : corr(static_cast<std::size_t>(b.window_), 2 * b.reach_ + 1, b.fd_, kBandLowHz, kBandHighHz),
              region(static_cast<std::size_t>(b.window_ + 2 * b.reach_)) {}
        WhitenedCorrelation corr;
        std::vector<float> region, pattern;
    };
    // A thread's scratch for ranges of windows, made once per shape: building one (its
    // transform buffers and taper) for every range cost as much as a window's correlation.
    // Nothing carries from one use to the next.
    Scratch& threadScratch() const {
        thread_local std::unique_ptr<Scratch> cached;
        thread_local std::tuple<int, int, double> shape{-1, -1, 0.0};
        if (!cached || shape != std::make_tuple(window_, reach_, fd_)) {
            cached = std::make_unique<Scratch>(*this);
            shape = {window_, reach_, fd_};
        }
        return *cached;
    }
    std::vector<TrackPeak> correlateWindow(Scratch& x, FrameIndex mc, double lag, double slope) const {
        std::vector<TrackPeak> peaks;
        const FrameIndex sc = mc + static_cast<FrameIndex>(std::lround(lag * fd_));
        const FrameIndex s0 = sc - window_ / 2 - reach_;
        copyPart(s_, s0, x.region);
        // The master as the slave holds it at that rate: a window read 1 % off smears its
        // peak over 10 ms.
        const double step = 1.0 + slope;
        stretch(m_, static_cast<double>(mc) - 0.5 * window_ / step, 1.0 / step, static_cast<std::size_t>(window_), x.pattern);
        const std::vector<float>& cc = x.corr.Run(x.pattern.data(), x.region.data());
        for (const CorrelationPeak& p : BestPeaks(cc, static_cast<int>(kMainLobeS * fd_) + 2, kPeaks)) {
            if (p.z < kEvidenceZ) continue;
            // The pattern's middle is master frame mc.
            const double lagSamples = static_cast<double>(s0) + p.index + 0.5 * window_ - static_cast<double>(mc);
            peaks.push_back({lagSamples * factor_, p.height, p.z});
        }
        return peaks;
    }

    // The rate at a window, where the recent one is not known or no longer holds: the
    // window read at rates 1 % either side of slope, in steps of 0.1 % (0.05 % left is
    // 0.5 ms over the window); the clearest peak wins.
    bool relock(Scratch& x, FrameIndex mc, double lag, double& slope, std::vector<TrackPeak>& peaks, int steps = 10) const {
        double bestZ = 0.0, bestSlope = slope;
        std::vector<TrackPeak> best;
        for (int r = -steps; r <= steps; ++r) {
            const double trial = slope + 0.001 * r;
            std::vector<TrackPeak> p = correlateWindow(x, mc, lag, trial);
            if (!p.empty() && p.front().z > bestZ) {
                bestZ = p.front().z;
                bestSlope = trial;
                best = std::move(p);
            }
        }
        if (bestZ < kEvidenceZ + 1.0) return false;
        slope = bestSlope;
        peaks = std::move(best);
        return true;
    }

    // What the following goes by: the last lags it followed (seconds) and their slope.
    struct Prediction {
        double lagNow = 0.0, slopeNow = 0.0, tNow = 0.0;
        std::vector<std::pair<double, double>> recent;  // (t, lag)
        std::vector<double> strengths;                  // z of the windows followed lately

        double At(double t) const { return lagNow + slopeNow * (t - tNow); }

        void Accept(double t, double lag, double z, bool restart) {
            // A weak window stays a candidate for the path, but the prediction follows only
            // windows about as clear as the recent ones: a few weak ones in a row (a quiet
            // passage under wow) would walk it off the music.
            if (!restart && !strengths.empty()) {
                std::vector<double> sorted = strengths;
                std::sort(sorted.begin(), sorted.end());
                if (z < kFollowShare * sorted[sorted.size() / 2]) return;
            }
            strengths.push_back(z);
            if (strengths.size() > 20) strengths.erase(strengths.begin());
            if (restart) recent.clear();
            recent.emplace_back(t, lag);
            while (!recent.empty() && recent.front().first < t - kSlopeSpanS) recent.erase(recent.begin());
            lagNow = lag;
            tNow = t;
            if (recent.size() < 5 || recent.back().first - recent.front().first < 1.5) return;
            slopeNow = std::clamp(robustSlope(), -kMaxRateOffset, kMaxRateOffset);
        }

        // Siegel's repeated median: for each lag the median of its slopes to the others,
        // then the median of those. A room's reflection 10-25 ms off, the best peak of one
        // window in eight, tilts a least-squares line over 4 s by about 0.3 %, which smears
        // the direct sound's peak over 3 ms of every 1 s window read at that rate; the
        // repeated median stands while fewer than half the lags are such.
        double robustSlope() const {
            std::vector<double> perLag, slopes;
            for (std::size_t i = 0; i < recent.size(); ++i) {
                slopes.clear();
                for (std::size_t j = 0; j < recent.size(); ++j)
                    if (recent[j].first != recent[i].first)
                        slopes.push_back((recent[j].second - recent[i].second) / (recent[j].first - recent[i].first));
                if (!slopes.empty()) perLag.push_back(median(slopes));
            }
            return perLag.empty() ? slopeNow : median(perLag);
        }
    };

    // Follows the line's lag through the whole master, window by window, keeping each
    // window's best peaks; where the evidence is lost, finds the rate again, and after a
    // second of sound without evidence looks for it within the largest jump.
    void follow(const Levels& ml, const Levels& sl, const Line& line, CoarseTrack& track) {
        const int hop = static_cast<int>(std::lround(kHopS * fd_));
        const FrameIndex n = static_cast<FrameIndex>(m_.size());
        const FrameIndex first = request_.masterFrom / factor_;
        std::vector<FrameIndex> centres;
        for (FrameIndex c = first + window_ / 2; c + window_ / 2 <= n; c += hop) centres.push_back(c);
        track.windows.resize(centres.size());
        const int chunk = 8;
        Prediction pr;
        pr.lagNow = line.LagAt(line.t0);
        pr.slopeNow = line.slope;
        pr.tNow = line.t0;
        bool locked = false;  // the slope is measured, not guessed
        int lostWindows = 0;
        Scratch mine(*this);
        const auto accept = [&](std::size_t k, bool restart) {
            const TrackPeak& p = track.windows[k].peaks.front();
            pr.Accept(masterSeconds(centres[k]), p.lag / fs_, p.z, restart);
        };
        for (std::size_t c0 = 0, c1 = 0; c0 < centres.size(); c0 = c1) {
            // One window at a time until the rate is known.
            c1 = locked ? std::min(centres.size(), c0 + chunk) : c0 + 1;
            measureWindows(ml, sl, centres, c0, c1, pr, locked, track);
            for (std::size_t k = c0; k < c1; ++k) {
                TrackWindow& tw = track.windows[k];
                if (!tw.sounding) continue;
                if (tw.peaks.empty()) {
                    ++lostWindows;
                    if (foundAgain(mine, centres, k, pr, locked, lostWindows, track)) {
                        locked = true;
                        lostWindows = 0;
                        accept(k, true);
                    }
                    continue;
                }
                lostWindows = 0;
                accept(k, false);
            }
        }
    }

    // Windows c0 .. c1 - 1: whether both sides hold sound there, and once the rate is
    // known, their peaks about the prediction.
    void measureWindows(const Levels& ml, const Levels& sl, const std::vector<FrameIndex>& centres, std::size_t c0,
                        std::size_t c1, const Prediction& pr, bool locked, CoarseTrack& track) const {
        ParallelFor(c1 - c0, [&](std::size_t begin, std::size_t end) {
            Scratch& x = threadScratch();
            for (std::size_t k = c0 + begin; k < c0 + end; ++k) {
                TrackWindow& tw = track.windows[k];
                const FrameIndex mc = centres[k];
                tw.master = mc * factor_;
                const double t = masterSeconds(mc);
                const FrameIndex m0 = mc - window_ / 2;
                const FrameIndex sc = mc + static_cast<FrameIndex>(std::lround(pr.At(t) * fd_));
                tw.sounding = ml.Rms(m0, m0 + window_) >= masterQuiet_ && sl.Rms(sc - window_ / 2, sc + window_ / 2) >= slaveQuiet_;
                if (tw.sounding && locked) tw.peaks = correlateWindow(x, mc, pr.At(t), pr.slopeNow);
            }
        });
    }

    // A sounding window k without evidence: the rate found again near the prediction (at
    // once until the rate is known, then every second lost window), or after four lost
    // windows a wide look, whose place must hold on the full-rate copy; the windows lost
    // since then are looked at again there. True when k has its evidence back.
    bool foundAgain(Scratch& mine, const std::vector<FrameIndex>& centres, std::size_t k, Prediction& pr, bool locked,
                    int lostWindows, CoarseTrack& track) {
        TrackWindow& tw = track.windows[k];
        const double t = masterSeconds(centres[k]);
        double slope = pr.slopeNow;
        if ((!locked || lostWindows % 2 == 0) && relock(mine, centres[k], pr.At(t), slope, tw.peaks)) {
            pr.slopeNow = slope;
            return true;
        }
        if (lostWindows < 4 || lostWindows % 4 != 0 || !widen(tw, centres[k], pr.At(t))) return false;
        double lag = tw.peaks.front().lag / fs_;
        std::vector<TrackPeak> peaks;
        // A place found far off must hold on the full-rate copy too.
        if (!relock(mine, centres[k], lag, slope, peaks)) {
            tw.peaks.clear();
            return false;
        }
        tw.peaks = std::move(peaks);
        pr.slopeNow = slope;
        lag = tw.peaks.front().lag / fs_;
        // The windows since the last one followed hold the new lag too: looked at there,
        // they place the jump to within a window. A window that only held stray peaks
        // about the old lag (the pause's noise, a reflection) keeps them beside the new
        // ones, for the path to choose.
        const double lobe = kMainLobeS * fs_;
        for (std::size_t b = k; b-- > 0 && masterSeconds(centres[b]) > pr.tNow && t - masterSeconds(centres[b]) <= kMaxJumpS;) {
            TrackWindow& w = track.windows[b];
            if (!w.sounding) continue;
            const double back = lag + pr.slopeNow * (masterSeconds(centres[b]) - t);
            for (const TrackPeak& p : correlateWindow(mine, centres[b], back, pr.slopeNow))
                if (std::none_of(w.peaks.begin(), w.peaks.end(), [&](const TrackPeak& q) { return std::fabs(q.lag - p.lag) < lobe; }))
                    w.peaks.push_back(p);
            std::sort(w.peaks.begin(), w.peaks.end(), [](const TrackPeak& x, const TrackPeak& y) { return x.z > y.z; });
        }
        return true;
    }

    // A wide look for a lost window: +-kMaxJumpS around the prediction at the low rate.
    bool widen(TrackWindow& tw, FrameIndex centre, double predictedLag) {
        const int f2 = 4;
        const double fd2 = fd_ / f2;
        const std::size_t w = static_cast<std::size_t>(std::lround(kWindowS * fd2));
        const int reach = static_cast<int>(std::lround(kMaxJumpS * fd2));
        const FrameIndex mc = centre / f2;
        const FrameIndex m0 = mc - static_cast<FrameIndex>(w / 2);
        const FrameIndex s0 = m0 + static_cast<FrameIndex>(std::lround(predictedLag * fd2)) - reach;
        std::vector<float> pattern(w), region(w + 2 * static_cast<std::size_t>(reach));
        // Made on the first wide look: material without losses never needs them.
        if (m2_.empty())
            ParallelFor(2, [&](std::size_t begin, std::size_t end) {
                for (std::size_t i = begin; i < end; ++i) (i == 0 ? m2_ : s2_) = decimate(i == 0 ? m_ : s_, f2, 0.45 / f2);
            });
        copyPart(m2_, m0, pattern);
        copyPart(s2_, s0, region);
        WhitenedCorrelation corr(w, 2 * reach + 1, fd2);
        const std::vector<float>& c = corr.Run(pattern.data(), region.data());
        const std::vector<CorrelationPeak> peaks = BestPeaks(c, static_cast<int>(kMainLobeS * fd2) + 2, 1);
        if (peaks.empty() || peaks.front().z < kEvidenceZ + 2.0) return false;
        // Refine at the track's rate around what the wide look found.
        const double coarseLag = (static_cast<double>(s0 - m0) + peaks.front().index) * f2;  // track samples
        const int reachFine = static_cast<int>(std::lround(0.01 * fd_));
        const FrameIndex fm0 = centre - window_ / 2;
        const FrameIndex fs0 = fm0 + static_cast<FrameIndex>(std::lround(coarseLag)) - reachFine;
        std::vector<float> fine(static_cast<std::size_t>(window_ + 2 * reachFine));
        copyPart(s_, fs0, fine);
        WhitenedCorrelation corrFine(static_cast<std::size_t>(window_), 2 * reachFine + 1, fd_);
        const std::vector<float>& cf = corrFine.Run(m_.data() + fm0, fine.data());
        const std::vector<CorrelationPeak> pf = BestPeaks(cf, static_cast<int>(kMainLobeS * fd_) + 2, 1);
        if (pf.empty()) return false;
        tw.peaks.push_back({(static_cast<double>(fs0 - fm0) + pf.front().index) * factor_, pf.front().height,
                            std::max(pf.front().z, peaks.front().z)});
        return true;
    }

    // One path through the windows' peaks, then where each jump lies.
    void choosePath(CoarseTrack& track) {
        track::ChooseTrackPath(track, fs_, initialSlope_);
        placeJumps(track);
    }

    // The lag of path window i's piece at decimated master sample x, from the window and
    // its farthest neighbour of the same piece within kSideSpanS on the side `away`.
    double sideLag(const CoarseTrack& track, const std::vector<std::size_t>& on, std::size_t i, int away, double x) const {
        const TrackWindow& w = track.windows[on[i]];
        const double lag = w.slave - static_cast<double>(w.master);
        double slope = 0.0;
        for (std::size_t j = i;;) {
            if (away < 0 ? j == 0 || track.windows[on[j]].jump : j + 1 >= on.size() || track.windows[on[j + 1]].jump) break;
            j = away < 0 ? j - 1 : j + 1;
            const TrackWindow& v = track.windows[on[j]];
            if (std::fabs(static_cast<double>(v.master - w.master)) > kSideSpanS * fs_) break;
            slope = ((v.slave - static_cast<double>(v.master)) - lag) / static_cast<double>(v.master - w.master);
        }
        return (lag + slope * (x * factor_ - static_cast<double>(w.master))) / factor_;
    }

    // Where between its two windows each jump lies: the master frame from which the
    // slave's material follows the new lag. The master and the slave, both whitened by a
    // first difference, are multiplied at the old lag and at the new; the products'
    // difference, summed from the old window on, peaks where the jump lies. How far that
    // peak can be off: as far as a jump placed there would explain the sums as well, to
    // within three random-walk deviations.
    void placeJumps(CoarseTrack& track) const {
        std::vector<std::size_t> on;
        for (std::size_t k = 0; k < track.windows.size(); ++k)
            if (track.windows[k].evidence > 0.0) on.push_back(k);
        const double margin = kJumpMarginS * fd_;
        for (std::size_t i = 1; i < on.size(); ++i) {
            TrackWindow& b = track.windows[on[i]];
            if (!b.jump) continue;
            const TrackWindow& a = track.windows[on[i - 1]];
            const double ta = static_cast<double>(a.master) / factor_, tb = static_cast<double>(b.master) / factor_;
            b.jumpAt = 0.5 * static_cast<double>(a.master + b.master);
            b.jumpSpread = 0.5 * static_cast<double>(b.master - a.master);
            const FrameIndex x0 = std::max<FrameIndex>(1, static_cast<FrameIndex>(ta - margin));
            const FrameIndex x1 = std::min<FrameIndex>(static_cast<FrameIndex>(m_.size()), static_cast<FrameIndex>(tb + margin));
            if (x1 - x0 < 8) continue;
            const auto slaveDiff = [&](double pos) {
                const auto at = [&](double q) {
                    if (q < 0.0 || q + 1.0 >= static_cast<double>(s_.size())) return 0.0;
                    const std::size_t k = static_cast<std::size_t>(q);
                    const double f = q - static_cast<double>(k);
                    return static_cast<double>(s_[k]) + f * (static_cast<double>(s_[k + 1]) - s_[k]);
                };
                return at(pos) - at(pos - 1.0);
            };
            std::vector<double> d;
            double sumA = 0.0, sumB = 0.0;
            for (FrameIndex x = x0; x < x1; ++x) {
                const double xm = static_cast<double>(x);
                const double mx = static_cast<double>(m_[static_cast<std::size_t>(x)]) - m_[static_cast<std::size_t>(x - 1)];
                const double pa = mx * slaveDiff(xm + sideLag(track, on, i - 1, -1, xm));
                const double pb = mx * slaveDiff(xm + sideLag(track, on, i, +1, xm));
                sumA += pa;
                sumB += pb;
                d.push_back(pa - pb);
            }
            // An inverted slave turns both products over.
            const double sign = sumA + sumB < 0.0 ? -1.0 : 1.0;
            double c = 0.0, best = 0.0;
            std::size_t at = 0;
            std::vector<double> sums(d.size() + 1, 0.0);
            for (std::size_t k = 0; k < d.size(); ++k) {
                c += sign * d[k];
                sums[k + 1] = c;
                if (c > best) {
                    best = c;
                    at = k + 1;
                }
            }
            if (at == 0 || at == d.size()) continue;
            // Neighbouring products are not independent (tones, the band's edges): the
            // walk's deviation per sample is measured on sums over blocks of 20 ms.
            const std::size_t block = static_cast<std::size_t>(std::lround(kJumpBlockS * fd_));
            // Each side about its own drift.
            double blockSq = 0.0;
            std::size_t blocks = 0;
            for (const auto& [from, to] : {std::pair<std::size_t, std::size_t>{0, at}, {at, d.size()}}) {
                if (to - from < 2 * block) continue;
                const double mean = (sums[to] - sums[from]) / static_cast<double>(to - from) * static_cast<double>(block);
                for (std::size_t k = from + block; k <= to; k += block, ++blocks) {
                    const double v = sums[k] - sums[k - block] - mean;
                    blockSq += v * v;
                }
            }
            if (blocks == 0 || !(blockSq > 0.0)) continue;
            const double deviation = std::sqrt(blockSq / static_cast<double>(blocks) / static_cast<double>(block));
            // Were the jump at k, the samples between k and the peak would hold the other
            // side's drift: k stays a candidate while the sum between falls short of that
            // by less than three deviations.
            const double before = sums[at] / static_cast<double>(at);
            const double after = (sums[at] - sums[d.size()]) / static_cast<double>(d.size() - at);
            std::size_t lo = at, hi = at;
            for (std::size_t k = 0; k <= d.size(); ++k) {
                const double n = std::fabs(static_cast<double>(k) - static_cast<double>(at));
                const double other = std::max(0.0, k < at ? after : before) * n;
                if (best - sums[k] + other < 3.0 * deviation * std::sqrt(n)) {
                    lo = std::min(lo, k);
                    hi = std::max(hi, k);
                }
            }
            b.jumpAt = static_cast<double>(x0 + static_cast<FrameIndex>(at)) * factor_;
            b.jumpSpread = (static_cast<double>(std::max(at - lo, hi - at)) + 1.0) * factor_;
        }
    }


    KWavefile& master_;
    KWavefile& slave_;
    TrackRequest request_;
    double fs_;
    int factor_ = 1;
    double fd_ = 0.0;
    int window_ = 0;
    int reach_ = 0;
    double masterQuiet_ = 0.0, slaveQuiet_ = 0.0;
    double masterLevel_ = 1.0, slaveLevel_ = 1.0;  // median window levels
    Signal m_, s_;
    Signal m2_, s2_;  // the same at a quarter of the rate, for the wide looks
    std::vector<float> me_, se_;  // onset envelopes
    double initialSlope_ = 0.0;
    std::string why_;
};

}  // namespace

CoarseTrack BuildCoarseTrack(KWavefile& master, KWavefile& slave, const TrackRequest& request) {
    TrackBuilder builder(master, slave, request);
    return builder.Build();
}

bool RefineOnWhitened(KWavefile& master, KWavefile& slave, FrameIndex k, double slaveGuess, double rate, int peakReach,
                      double& position, const double* alternative, double* alternativeShare) {
    // The correlation runs 20 ms either way, so that the peak's height can be judged
    // against the lags away from its lobe; the peak itself is sought within peakReach.
    const int reach = static_cast<int>(std::lround(0.02 * master.SampleRate));
    peakReach = std::min(peakReach, reach - 2);
    const FrameIndex half = static_cast<FrameIndex>(std::lround(0.5 * kWindowS * master.SampleRate));
    const FrameIndex w = 2 * half;
    const std::vector<double> mono = ReadMono(master, k - half, k + half);
    // The slave read on the master's time base about k: rate slave frames per master frame.
    const double from = slaveGuess - rate * static_cast<double>(half + reach);
    const FrameIndex a = static_cast<FrameIndex>(std::floor(from)) - 2;
    const FrameIndex b = static_cast<FrameIndex>(std::ceil(slaveGuess + rate * static_cast<double>(half + reach))) + 3;
    const std::vector<double> s = ReadMono(slave, a, b);
    const std::vector<double> st = Stretch(s, from - static_cast<double>(a), rate, static_cast<std::size_t>(w + 2 * reach));
    std::vector<float> mf(mono.begin(), mono.end()), sf(st.begin(), st.end());
    thread_local std::unique_ptr<WhitenedCorrelation> corr;
    thread_local std::pair<FrameIndex, int> shape{-1, -1};
    if (!corr || shape != std::make_pair(w, reach)) {
        corr = std::make_unique<WhitenedCorrelation>(static_cast<std::size_t>(w), 2 * reach + 1, master.SampleRate);
        shape = {w, reach};
    }
    const std::vector<float>& c = corr->Run(mf.data(), sf.data());
    // The best peak within peakReach, judged against the spread of the rest.
    const int lobe = static_cast<int>(kMainLobeS * master.SampleRate) + 2;
    int best = -1;
    for (int l = reach - peakReach + 1; l < reach + peakReach; ++l)
        if (best < 0 || std::fabs(c[static_cast<std::size_t>(l)]) > std::fabs(c[static_cast<std::size_t>(best)])) best = l;
    if (best < 0) return false;
    double sq = 0.0;
    int m = 0;
    for (int l = 0; l < static_cast<int>(c.size()); ++l) {
        if (std::abs(l - best) < lobe) continue;
        sq += static_cast<double>(c[static_cast<std::size_t>(l)]) * c[static_cast<std::size_t>(l)];
        ++m;
    }
    const double y1 = std::fabs(c[static_cast<std::size_t>(best)]);
    if (m == 0 || y1 < kEvidenceZ * std::sqrt(sq / m)) return false;
    const double y0 = std::fabs(c[static_cast<std::size_t>(best - 1)]), y2 = std::fabs(c[static_cast<std::size_t>(best + 1)]);
    if (y0 > y1 || y2 > y1) return false;  // at the edge of peakReach, not a peak
    const double d = y0 - 2.0 * y1 + y2;
    const double index = best + (d < 0.0 ? std::clamp(0.5 * (y0 - y2) / d, -0.5, 0.5) : 0.0);
    position = slaveGuess + rate * (index - reach);
    if (alternative && alternativeShare) {
        const long at = std::lround((*alternative - slaveGuess) / rate) + reach;
        *alternativeShare = 0.0;
        // The best of the alternative's own lobe-top: within 2 frames of it.
        for (long l = at - 2; l <= at + 2; ++l)
            if (l >= 0 && l < static_cast<long>(c.size()))
                *alternativeShare = std::max(*alternativeShare, std::fabs(c[static_cast<std::size_t>(l)]) / y1);
    }
    return true;
}

}  // namespace tandem
