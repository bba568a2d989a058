#include "sync/RobustStart.h"

#include <algorithm>
#include <cmath>
#include <complex>

#include "core/Log.h"
#include "core/Text.h"
#include "core/TimeBase.h"
#include "sync/PatternSearch.h"
#include "sync/SignalMatch.h"
#include "wave/KWavefile.h"

namespace tandem {
namespace {

constexpr int kMasterHops = 500;   // 5 s of master
constexpr int kStartReachHops = 800;  // slave within +-8 s of its onset
constexpr std::size_t kCandidates = 5;
constexpr int kMinPeakGap = 3;     // hops between two candidates

constexpr int kWindows = 6;  // six windows cover the 5 s matched
constexpr double kClearScore = 0.4;
constexpr double kClearRatio = 1.3;
constexpr double kClearMatchedScore = 0.6;
constexpr double kClearMismatchRatio = 3.0;

struct RateSweep {
    double low = 1.0, step = 0.0;
    int count = 1;
    double at(double k) const { return low + step * k; }
    double high() const { return at(count - 1); }
};

// Lengths given in frames at 44.1 kHz, taken at the master's rate (the slave's working
// image runs at it too).
struct StartFrames {
    int hop;                     // 441: 10 ms
    int fftSize;                 // 1024: the power of two nearest 23 ms
    int lowBin, highBin;         // 3 and 93 of 1024: ~130 Hz and ~4000 Hz
    FrameIndex windowFrames;     // 22050: 0.5 s
    FrameIndex windowSpacing;    // 39690: 0.9 s
    FrameIndex checkReach;       // 660: +-15 ms around the candidate, a multiple of the decimation
    FrameIndex samePlace;        // 441: estimates closer than this are one estimate
    FrameIndex tenth;            // 4410
    const BandDecimator& band;

    explicit StartFrames(std::uint32_t rate) : band(BandFor(rate)) {
        const TimeBase time(rate);
        hop = static_cast<int>(time.Frames(441));
        fftSize = 1 << static_cast<int>(std::lround(std::log2(time.Scale(1024.0))));
        // Bin k of 1024 at 44.1 kHz lies at k * 44100 / 1024 Hz.
        const double binScale = 44100.0 * fftSize / (1024.0 * time.Rate());
        lowBin = std::max(1, static_cast<int>(std::lround(3 * binScale)));
        highBin = std::min(fftSize / 2 - 1, static_cast<int>(std::lround(93 * binScale)));
        windowFrames = time.Frames(22050);
        windowSpacing = time.Frames(39690);
        const FrameIndex dec = band.Decimation();
        checkReach = (time.Frames(660) + dec / 2) / dec * dec;
        samePlace = time.Frames(441);
        tenth = time.Tenths(1);
    }
};

std::vector<double> onsetEnvelope(const std::vector<double>& mono, int hops, const StartFrames& scale) {
    std::vector<double> env(static_cast<std::size_t>(std::max(hops, 0)), 0.0);
    double energy = 0.0;
    for (double v : mono) energy += v * v;
    if (mono.empty() || energy <= 0.0) return env;
    const int fftSize = scale.fftSize, hop = scale.hop, lowBin = scale.lowBin, highBin = scale.highBin;
    thread_local std::vector<double> window;
    if (window.size() != static_cast<std::size_t>(fftSize)) {
        window.resize(static_cast<std::size_t>(fftSize));
        for (int i = 0; i < fftSize; ++i) window[static_cast<std::size_t>(i)] = 0.5 - 0.5 * std::cos(2.0 * M_PI * i / fftSize);
    }
    // Log compression relative to the mean bin magnitude of the region, so that the
    // envelope does not depend on the level.
    const double level = std::sqrt(energy / static_cast<double>(mono.size()) * fftSize * 0.375);
    // Log magnitudes of frames -1 .. hops - 1, two real frames per complex FFT.
    const int bins = highBin - lowBin + 1;
    const int frames = hops + 1;
    std::vector<double> logMag(static_cast<std::size_t>(frames) * bins);
    std::vector<std::complex<double>> buf(fftSize);
    auto sample = [&](int frame, std::size_t i) {
        const std::size_t at = static_cast<std::size_t>(frame) * hop + i;
        return at < mono.size() ? mono[at] * window[i] : 0.0;
    };
    for (int f = 0; f < frames; f += 2) {
        for (std::size_t i = 0; i < static_cast<std::size_t>(fftSize); ++i) buf[i] = {sample(f, i), f + 1 < frames ? sample(f + 1, i) : 0.0};
        Fft(buf);
        for (int k = lowBin; k <= highBin; ++k) {
            const std::complex<double> z = buf[static_cast<std::size_t>(k)];
            const std::complex<double> zc = std::conj(buf[static_cast<std::size_t>(fftSize - k)]);
            const double first = 0.5 * std::sqrt((z.real() + zc.real()) * (z.real() + zc.real()) + (z.imag() + zc.imag()) * (z.imag() + zc.imag()));
            const double second = 0.5 * std::sqrt((z.real() - zc.real()) * (z.real() - zc.real()) + (z.imag() - zc.imag()) * (z.imag() - zc.imag()));
            logMag[static_cast<std::size_t>(f * bins + k - lowBin)] = std::log1p(10.0 * first / level);
            if (f + 1 < frames) logMag[static_cast<std::size_t>((f + 1) * bins + k - lowBin)] = std::log1p(10.0 * second / level);
        }
    }
    for (int h = 0; h < hops; ++h) {
        const double* prev = logMag.data() + static_cast<std::size_t>(h) * bins;
        const double* cur = prev + bins;
        double flux = 0.0;
        for (int k = 0; k < bins; ++k) flux += std::max(0.0, cur[k] - prev[k]);
        env[static_cast<std::size_t>(h)] = flux;
    }
    // Onsets matter, not the loudness: take away the local mean (+-0.25 s).
    std::vector<double> out(env.size());
    for (std::size_t h = 0; h < env.size(); ++h) {
        const std::size_t lo = h >= 25 ? h - 25 : 0, hi = std::min(env.size(), h + 26);
        double sum = 0.0;
        for (std::size_t i = lo; i < hi; ++i) sum += env[i];
        out[h] = env[h] - sum / static_cast<double>(hi - lo);
    }
    return out;
}

// Envelope of the file around frames centre + h * hop for h = 0 .. hops - 1.
std::vector<double> envelopeAt(KWavefile& file, FrameIndex centre, int hops, const StartFrames& f) {
    const FrameIndex from = centre - f.fftSize / 2 - f.hop;
    const std::vector<double> mono = ReadMono(file, from, from + static_cast<FrameIndex>(hops + 1) * f.hop + f.fftSize);
    return onsetEnvelope(mono, hops, f);
}

struct Candidate {
    double position = 0.0;  // slave frame of the master start
    double rate = 1.0;
    double r = 0.0;         // envelope correlation
};

// Best envelope matches: master envelope m stretched by each rate of the sweep against
// the slave envelope s (which starts at slave frame sBase), Pearson r at every lag.
std::vector<Candidate> envelopeCandidates(const std::vector<double>& m, const std::vector<double>& s, FrameIndex sBase,
                                          const RateSweep& sweep, int hop) {
    const int rates = sweep.count;
    const int H = static_cast<int>(m.size());
    double mean = 0.0;
    for (double v : m) mean += v;
    mean /= H;
    std::vector<double> mz(m.size());
    double mm = 0.0;
    for (std::size_t h = 0; h < m.size(); ++h) {
        mz[h] = m[h] - mean;
        mm += mz[h] * mz[h];
    }
    const int lags = static_cast<int>(s.size()) - static_cast<int>(std::ceil((H - 1) * sweep.high())) - 1;
    if (mm <= 0.0 || lags < 3) return {};
    std::vector<double> corr(static_cast<std::size_t>(rates * lags), 0.0);
    std::vector<int> idx(m.size());
    std::vector<double> frac(m.size());
    for (int k = 0; k < rates; ++k) {
        const double rate = sweep.at(k);
        for (int h = 0; h < H; ++h) {
            const double pos = h * rate;
            idx[static_cast<std::size_t>(h)] = static_cast<int>(pos);
            frac[static_cast<std::size_t>(h)] = pos - idx[static_cast<std::size_t>(h)];
        }
        for (int l = 0; l < lags; ++l) {
            const double* sp = s.data() + l;
            // Two sets of sums, even and odd h, so that the additions overlap.
            double dot[2] = {0.0, 0.0}, sum[2] = {0.0, 0.0}, sq[2] = {0.0, 0.0};
            for (int h = 0; h < H; ++h) {
                const std::size_t hh = static_cast<std::size_t>(h);
                const double v = sp[idx[hh]] + frac[hh] * (sp[idx[hh] + 1] - sp[idx[hh]]);
                dot[h & 1] += mz[hh] * v;
                sum[h & 1] += v;
                sq[h & 1] += v * v;
            }
            const double total = sum[0] + sum[1];
            const double var = sq[0] + sq[1] - total * total / H;
            if (var > 0.0) corr[static_cast<std::size_t>(k * lags + l)] = (dot[0] + dot[1]) / std::sqrt(mm * var);
        }
    }
    std::vector<double> best(static_cast<std::size_t>(lags), -1.0);
    std::vector<int> bestRate(static_cast<std::size_t>(lags), 0);
    for (int l = 0; l < lags; ++l)
        for (int k = 0; k < rates; ++k)
            if (corr[static_cast<std::size_t>(k * lags + l)] > best[static_cast<std::size_t>(l)]) {
                best[static_cast<std::size_t>(l)] = corr[static_cast<std::size_t>(k * lags + l)];
                bestRate[static_cast<std::size_t>(l)] = k;
            }
    std::vector<int> peaks;
    for (int l = 1; l + 1 < lags; ++l) {
        const std::size_t i = static_cast<std::size_t>(l);
        if (best[i] > 0.0 && best[i] >= best[i - 1] && best[i] > best[i + 1]) peaks.push_back(l);
    }
    std::sort(peaks.begin(), peaks.end(),
              [&](int a, int b) { return best[static_cast<std::size_t>(a)] > best[static_cast<std::size_t>(b)]; });
    std::vector<int> chosen;
    for (int l : peaks) {
        if (chosen.size() == kCandidates) break;
        if (std::all_of(chosen.begin(), chosen.end(), [&](int c) { return std::abs(c - l) >= kMinPeakGap; }))
            chosen.push_back(l);
    }
    // Parabolic refinement: lag between hops, rate between the steps of the sweep.
    auto vertex = [](double y0, double y1, double y2) {
        const double d = y0 - 2.0 * y1 + y2;
        return d < 0.0 ? std::clamp(0.5 * (y0 - y2) / d, -0.5, 0.5) : 0.0;
    };
    std::vector<Candidate> out;
    for (int l : chosen) {
        const std::size_t i = static_cast<std::size_t>(l);
        const int k = bestRate[i];
        const double lag = l + vertex(best[i - 1], best[i], best[i + 1]);
        double rateStep = k;
        if (k > 0 && k + 1 < rates)
            rateStep += vertex(corr[static_cast<std::size_t>((k - 1) * lags + l)], corr[static_cast<std::size_t>(k * lags + l)],
                               corr[static_cast<std::size_t>((k + 1) * lags + l)]);
        out.push_back({static_cast<double>(sBase) + lag * hop, sweep.at(rateStep), best[i]});
    }
    return out;
}

// Checks a candidate on the waveform: 0.5 s master windows every 0.9 s from the master start
// (or, when the candidate puts the start before the slave's onset, from where the
// slave's sound begins), stretched by the rate and band-limited, correlated with the
// slave within +-15 ms of where the candidate puts them. Score: the mean |r|; the
// start and rate come from a line through the offsets of the windows that matched.
StartEstimate checkOnWaveform(KWavefile& master, KWavefile& slave, FrameIndex J, FrameIndex slaveOnset,
                              const Candidate& c, int windows, const StartFrames& f) {
    const FrameIndex bandMargin = f.band.Margin();
    const int decimation = f.band.Decimation();
    StartEstimate e;
    e.slaveStart = std::llround(c.position);
    e.rate = c.rate;
    const double from = c.position < static_cast<double>(slaveOnset) ? (static_cast<double>(slaveOnset) - c.position) / c.rate : 0.0;
    const double margin = bandMargin;
    struct Window {
        double masterOffset, offset, r;
    };
    std::vector<Window> matched;
    double sumR = 0.0;
    int used = 0;
    for (int w = 0; w < windows; ++w) {
        const double mOff = from + static_cast<double>(w * f.windowSpacing);
        const double mFrom = static_cast<double>(J) + mOff - margin / c.rate;
        const FrameIndex mRead = static_cast<FrameIndex>(std::floor(mFrom)) - 2;
        const FrameIndex mEnd = static_cast<FrameIndex>(std::ceil(mFrom + (f.windowFrames + 2 * margin) / c.rate)) + 2;
        const std::size_t length = static_cast<std::size_t>(f.windowFrames + 2 * bandMargin);
        const std::vector<double> pattern =
            f.band.Apply(Stretch(ReadMono(master, mRead, mEnd), mFrom - static_cast<double>(mRead), 1.0 / c.rate, length));
        double energy = 0.0;
        for (double v : pattern) energy += v * v;
        if (pattern.empty() || energy < static_cast<double>(pattern.size())) continue;  // silent master window

        const double p = c.position + mOff * c.rate;
        const FrameIndex base = static_cast<FrameIndex>(std::floor(p)) - f.checkReach;
        const std::vector<double> region =
            f.band.Apply(ReadMono(slave, base - bandMargin, base + f.windowFrames + 2 * f.checkReach + bandMargin));
        const int lags = static_cast<int>(2 * f.checkReach / decimation + 1);
        const LagPeak peak = BestCorrelation(pattern, region, lags);
        ++used;
        sumR += std::fabs(peak.r);
        matched.push_back({mOff, static_cast<double>(base) + peak.lag * decimation - p, std::fabs(peak.r)});
    }
    if (used < 3) return e;
    e.score = sumR / used;
    double top = 0.0;
    for (const Window& w : matched) top = std::max(top, w.r);
    std::vector<Window> good;
    for (const Window& w : matched)
        if (w.r >= 0.5 * top && w.r > 0.0) good.push_back(w);
    if (good.empty()) return e;
    double a = good.front().offset, b = 0.0;  // one window: its offset, at the rate given
    if (good.size() >= 2) {
        double sx = 0.0, sy = 0.0, sxx = 0.0, sxy = 0.0;
        for (const Window& w : good) {
            sx += w.masterOffset;
            sy += w.offset;
            sxx += w.masterOffset * w.masterOffset;
            sxy += w.masterOffset * w.offset;
        }
        const double n = static_cast<double>(good.size());
        const double d = n * sxx - sx * sx;
        if (d > 0.0) {
            b = (n * sxy - sx * sy) / d;
            a = (sy - b * sx) / n;
        } else {
            a = sy / n;
        }
    }
    // Only a small correction of the rate is believable from 5 s of windows.
    b = std::clamp(b, -0.002, 0.002);
    e.slaveStart = std::llround(c.position + a);
    e.rate = c.rate + b;
    return e;
}

std::string describe(const StartEstimate& e) {
    return std::to_string(e.slaveStart) + " score=" + Fixed(e.score) + " rate=" + Fixed(e.rate * 100.0);
}

}  // namespace

bool ClearWinner(double winner, double runnerUp) {
    if (winner < kClearScore) return false;
    if (winner >= kClearRatio * runnerUp) return true;
    // 1 - r is the share that does not match: a runner-up that leaves several times as
    // much unmatched (one loop period away, under a line that does not repeat) is no rival.
    return winner >= kClearMatchedScore && 1.0 - runnerUp >= kClearMismatchRatio * (1.0 - winner);
}

MatchResult MatchAround(KWavefile& master, KWavefile& slave, const MatchRequest& q) {
    MatchResult result;
    const StartFrames f(master.SampleRate);
    const int hops = static_cast<int>(std::min<FrameIndex>(kMasterHops, (master.FrameCount - q.masterStart) / f.hop));
    if (hops < kMasterHops / 5) return result;
    const RateSweep sweep = q.rateSpread > 0.0
                                ? RateSweep{q.rate - q.rateSpread, q.rateSpread / 4.0, 9}
                                : RateSweep{q.rate, 0.0, 1};
    // Each master window of the envelope is matched on its own; its candidates are
    // carried back to the master start at their own rate, so that windows further into
    // the music vote for the same start.
    const FrameIndex windowFrames = static_cast<FrameIndex>(hops) * f.hop;
    std::vector<Candidate> pooled;
    for (int w = 0; w < std::max(q.windows, 1); ++w) {
        const FrameIndex mStart = q.masterStart + w * windowFrames;
        if (mStart + windowFrames > master.FrameCount) break;
        const std::vector<double> m = envelopeAt(master, mStart, hops, f);
        const FrameIndex sFrom = q.slaveCentre - q.reach + static_cast<FrameIndex>(std::floor(static_cast<double>(w * windowFrames) * sweep.low));
        const FrameIndex sTo = q.slaveCentre + q.reach +
                               static_cast<FrameIndex>(std::ceil(static_cast<double>((w + 1) * windowFrames) * sweep.high())) + 2 * f.hop;
        const std::vector<double> s = envelopeAt(slave, sFrom, static_cast<int>((sTo - sFrom) / f.hop), f);
        for (Candidate c : envelopeCandidates(m, s, sFrom, sweep, f.hop)) {
            c.position -= static_cast<double>(w * windowFrames) * c.rate;
            if (std::fabs(c.position - static_cast<double>(q.slaveCentre)) > static_cast<double>(q.reach + f.samePlace)) continue;
            const bool known = std::any_of(pooled.begin(), pooled.end(), [&](const Candidate& p) {
                return std::fabs(p.position - c.position) <= static_cast<double>(f.samePlace);
            });
            if (!known) pooled.push_back(c);
        }
    }
    if (!pooled.empty()) result.firstRate = pooled.front().rate;
    std::stable_sort(pooled.begin(), pooled.end(), [](const Candidate& a, const Candidate& b) { return a.r > b.r; });
    if (pooled.size() > kCandidates) pooled.resize(kCandidates);
    for (const Candidate& c : pooled) {
        StartEstimate e = checkOnWaveform(master, slave, q.masterStart, q.slaveSoundFrom, c, q.checkWindows, f);
        if (e.score > 0.0) result.checked.push_back(e);
    }
    std::stable_sort(result.checked.begin(), result.checked.end(),
                     [](const StartEstimate& a, const StartEstimate& b) { return a.score > b.score; });
    if (result.checked.empty()) return result;
    const StartEstimate& winner = result.checked.front();
    for (const StartEstimate& e : result.checked)
        if (std::llabs(e.slaveStart - winner.slaveStart) > f.samePlace) {
            result.runnerUp = e.score;
            break;
        }
    result.clear = ClearWinner(winner.score, result.runnerUp);
    return result;
}

RobustStart FindRobustStart(KWavefile& master, KWavefile& slave, FrameIndex J, FrameIndex N0, int startRange) {
    RobustStart result;
    const StartFrames f(master.SampleRate);
    result.masterStart = J;
    result.slaveStart = N0;
    result.onset.slaveStart = N0;

    const int hops = static_cast<int>(std::min<FrameIndex>(kMasterHops, (master.FrameCount - J) / f.hop));
    if (hops < kMasterHops / 5) {
        AddLog("◎開始点推定：基準の残りが短すぎるため立上りのまま");
        return result;
    }
    MatchRequest q;
    q.masterStart = J;
    q.slaveCentre = N0;
    q.reach = static_cast<FrameIndex>(kStartReachHops) * f.hop;
    q.rate = 1.0;
    q.rateSpread = 0.02;
    q.slaveSoundFrom = N0;
    // Where the first seconds give no clear answer (a slow, quiet opening; a slave that
    // lacks the master's beginning; repeating material), further windows of the music
    // are matched and the waveform checks spread over them.
    const int stages[][2] = {{1, kWindows}, {3, 3 * kWindows}, {5, 5 * kWindows}};
    MatchResult match;
    std::vector<StartEstimate> all;
    for (const auto& stage : stages) {
        q.windows = stage[0];
        q.checkWindows = stage[1];
        match = MatchAround(master, slave, q);
        result.onset = checkOnWaveform(master, slave, J, N0, {static_cast<double>(N0), match.firstRate, 0.0}, q.checkWindows, f);
        result.onset.slaveStart = N0;
        // The onset competes too: a candidate must beat it as clearly as any other.
        all = match.checked;
        all.push_back(result.onset);
        std::stable_sort(all.begin(), all.end(), [](const StartEstimate& a, const StartEstimate& b) { return a.score > b.score; });
        result.runnerUp = 0.0;
        for (const StartEstimate& e : all)
            if (std::llabs(e.slaveStart - all.front().slaveStart) > f.samePlace) {
                result.runnerUp = e.score;
                break;
            }
        result.clear = ClearWinner(all.front().score, result.runnerUp);
        if (result.clear) break;
    }
    const StartEstimate& winner = all.front();
    if (!match.checked.empty()) result.correlation = match.checked.front();
    result.overridden = result.clear && !match.checked.empty() && winner.score > result.onset.score &&
                        std::llabs(winner.slaveStart - N0) > startRange / 2;
    result.undecided = !result.clear;

    AddLog("◎開始点推定 立上り=" + describe(result.onset) + " 相関=" +
           (match.checked.empty() ? std::string("なし") : describe(result.correlation)) + " 次点=" + Fixed(result.runnerUp));
    if (!result.overridden) {
        AddLog(std::string("◎開始点は立上りのまま") + (result.clear ? "" : "（相関の勝者が明確でない）"));
        return result;
    }
    result.slaveStart = winner.slaveStart;
    if (winner.slaveStart < N0) {
        // The slave lacks the master's beginning: start the master where the slave's sound begins.
        const double skip = static_cast<double>(N0 + f.tenth - winner.slaveStart) / winner.rate;
        result.masterStart = FindSoundOnset(master, J + static_cast<FrameIndex>(std::ceil(skip)), 100);
        result.slaveStart =
            winner.slaveStart + std::llround(static_cast<double>(result.masterStart - J) * winner.rate);
        AddLog("◎基準の開始点を " + std::to_string(J) + " から " + std::to_string(result.masterStart) +
               " へ（同期させるファイルに冒頭がない）");
    }
    AddLog("◎開始点を相関で置換：" + std::to_string(N0) + " → " + std::to_string(result.slaveStart));
    return result;
}

}  // namespace tandem
