#include "sync/OutputCheck.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <complex>
#include <cstring>

#include "core/Clones.h"
#include "core/Parallel.h"
#include "core/Text.h"
#include "core/TimeBase.h"
#include "sync/PatternSearch.h"
#include "sync/SignalMatch.h"
#include "wave/KWavefile.h"

namespace tandem {
namespace {

constexpr double kWindowSeconds = 1.0;
constexpr double kHopSeconds = 0.5;
// How far the wide search reaches: further than any segment's error that a listener
// would still take for one recording, and as far as the eval scorer looks.
constexpr double kWideSeconds = 0.25;
// Lags tried at full rate around a candidate, either side (3 frames at 44.1 kHz).
constexpr double kNearSeconds = 0.00007;
constexpr int kClimbs = 4;  // re-centrings on a peak found at the edge of those lags
constexpr double kQuietDb = 35.0;
// Below this |r| at its best lag a window tells nothing (the eval scorer's "weak").
constexpr double kWeak = 0.3;
// A peak near 0 this strong is taken without the whitened measure, which exists for
// windows that are off by more than a few frames, rooms and narrow bands; where the
// near peak is this clear, a far one that beats it would be one period of a tone away.
constexpr double kSure = 0.6;
constexpr double kInStepFrames = 2.0;  // frames at 44.1 kHz
// The verdict: at least this share of the windows with sound within +-1 ms.
constexpr double kInStepShare = 0.90;
// The whitened measure: 2 s about the window (a far microphone's window of 1 s can hold
// more reverberation than direct sound), a match stands this far above the spread of the
// correlation elsewhere (500 lags of noise exceed 4 sigma about once), and the lags
// within 3 frames of 0 must reach half the best to be the place.
constexpr double kWhitenedSeconds = 2.0;
constexpr double kMatchZ = 6.0;
constexpr double kNearShare = 0.5;
// A stretch puts the file out of step when two or more of its windows are off by more
// than 1 ms, or when it matches nowhere for more than 2 s (a single window off is a
// transient the whitened measure misread as often as a fault).
constexpr int kOffWindows = 2;
constexpr double kUnmatchedSeconds = 2.0;

// Correlation of a against b + l for l = 0 .. lags - 1: float products in two vectors of
// independent sums, gathered into doubles per block so that long windows keep their
// precision.
using Lanes = float __attribute__((vector_size(32)));

TANDEM_CLONES("avx512f", "avx2")
void dotProducts(const float* a, const float* b, std::size_t n, int lags, double* out) {
    // Blocks small enough to stay in the first-level cache while every lag passes over them.
    constexpr std::size_t kBlock = 2048;
    constexpr std::size_t kStep = 2 * sizeof(Lanes) / sizeof(float);
    std::fill(out, out + lags, 0.0);
    for (std::size_t i0 = 0; i0 < n; i0 += kBlock) {
        const std::size_t e = std::min(n, i0 + kBlock);
        for (int l = 0; l < lags; ++l) {
            const float* bl = b + l;
            Lanes s0 = {}, s1 = {};
            std::size_t i = i0;
            for (; i + kStep <= e; i += kStep) {
                Lanes a0, a1, b0, b1;
                std::memcpy(&a0, a + i, sizeof a0);
                std::memcpy(&a1, a + i + kStep / 2, sizeof a1);
                std::memcpy(&b0, bl + i, sizeof b0);
                std::memcpy(&b1, bl + i + kStep / 2, sizeof b1);
                s0 += a0 * b0;
                s1 += a1 * b1;
            }
            const Lanes sum = s0 + s1;
            double block = 0.0;
            for (std::size_t k = 0; k < kStep / 2; ++k) block += static_cast<double>(sum[k]);
            for (; i < e; ++i) block += static_cast<double>(a[i]) * bl[i];
            out[l] += block;
        }
    }
}

double energy(const float* x, std::size_t n) {
    double e = 0.0;
    dotProducts(x, x, n, 1, &e);
    return e;
}

struct Peak {
    double lag = 0.0;  // frames
    double r = 0.0;    // signed
    bool found = false;  // an interior maximum of |r|
};

// Parabola through three values of one sign; the offset of its vertex from the middle.
double vertexOffset(double y0, double y1, double y2) {
    const double d = y0 - 2.0 * y1 + y2;
    return d < 0.0 ? std::clamp(0.5 * (y0 - y2) / d, -0.5, 0.5) : 0.0;
}

// One window's worth of work; the buffers are reused from window to window.
class WindowMeter {
public:
    WindowMeter(const Frame* frames, FrameIndex count, FrameIndex window, FrameIndex wide, int near, const BandDecimator& band,
                int sampleRate)
        : frames_(frames), count_(count), W_(window), D_(wide), K_(near), band_(band), sampleRate_(sampleRate) {}

    // Left of the window at t into the buffer; returns its energy.
    double loadLeft(FrameIndex t) {
        load(t, W_, true, left_);
        leftEnergy_ = energy(left_.data(), left_.size());
        return leftEnergy_;
    }
    // Energy of the right channel at lag 0, as the last search around 0 found it.
    double rightEnergyAtZero() const { return rightEnergyAtZero_; }

    // The best |r| for lags centre - K .. centre + K, re-centred up to `climbs` times while
    // the best lies at an edge.
    Peak around(FrameIndex t, FrameIndex centre, int climbs) {
        Peak p;
        for (int c = 0; c <= climbs; ++c) {
            int edge = 0;
            p = lagsAround(t, centre, edge);
            if (edge == 0 || std::llabs(centre + edge * K_) > D_) break;
            centre += edge * K_;
        }
        return p;
    }

    // The whitened measure of the window at t: 2 s about its middle, band-limited and
    // decimated, against the right within +-D. Returns false where nothing stands out;
    // lag gets the right's lag behind the left otherwise, and near whether the lags
    // within +-near frames of 0 reach kNearShare of the best.
    bool whitened(FrameIndex t, double& lag, double& height, bool& nearZero) {
        const FrameIndex M = band_.Margin(), dec = band_.Decimation();
        const FrameIndex length = std::llround(kWhitenedSeconds / kWindowSeconds * static_cast<double>(W_));
        const FrameIndex from = t + W_ / 2 - length / 2;
        load(from - M, length + 2 * M, true, wideA_);
        load(from - D_ - M, length + 2 * D_ + 2 * M, false, wideB_);
        const std::vector<double> da = band_.Apply(wideA_), db = band_.Apply(wideB_);
        if (da.empty() || db.size() <= da.size()) return false;
        const int lags = static_cast<int>(db.size() - da.size()) + 1;
        const double rate = static_cast<double>(sampleRate_) / static_cast<double>(dec);
        if (!corr_ || corrShape_ != std::make_pair(da.size(), lags))
            corr_ = std::make_unique<WhitenedCorrelation>(da.size(), lags, rate, 150.0, 3500.0);
        corrShape_ = {da.size(), lags};
        pattern_.assign(da.begin(), da.end());
        stretch_.assign(db.begin(), db.end());
        const std::vector<float>& c = corr_->Run(pattern_.data(), stretch_.data());
        const int lobe = std::max(2, static_cast<int>(std::lround(0.003 * rate)));
        const std::vector<CorrelationPeak> peaks = BestPeaks(c, lobe, 1);
        if (peaks.empty() || peaks.front().z < kMatchZ) {
            height = peaks.empty() ? 0.0 : peaks.front().height;
            return false;
        }
        const int zero = static_cast<int>(D_ / dec);
        const int reach = std::max(1, static_cast<int>(std::ceil(static_cast<double>(K_) / static_cast<double>(dec))));
        float nearBest = 0.0f;
        int nearAt = zero;
        for (int l = std::max(1, zero - reach); l <= std::min(lags - 2, zero + reach); ++l)
            if (std::fabs(c[static_cast<std::size_t>(l)]) > nearBest) {
                nearBest = std::fabs(c[static_cast<std::size_t>(l)]);
                nearAt = l;
            }
        height = peaks.front().height;
        nearZero = nearBest >= kNearShare * peaks.front().height;
        double index = peaks.front().index;
        if (nearZero) {
            const double y0 = std::fabs(c[static_cast<std::size_t>(nearAt - 1)]), y2 = std::fabs(c[static_cast<std::size_t>(nearAt + 1)]);
            index = nearAt + vertexOffset(y0, nearBest, y2);
            height = nearBest;
        }
        lag = (index - zero) * static_cast<double>(dec);
        return true;
    }

private:
    // One channel of frames [from, from + n) into out; silence outside the file.
    template <class T>
    void load(FrameIndex from, FrameIndex n, bool left, std::vector<T>& out) const {
        out.resize(static_cast<std::size_t>(n));
        const FrameIndex b = std::clamp<FrameIndex>(-from, 0, n), e = std::clamp<FrameIndex>(count_ - from, 0, n);
        T* o = out.data();
        std::fill(o, o + b, T(0));
        std::fill(o + std::max(b, e), o + n, T(0));
        if (e <= b) return;
        const Frame* f = frames_ + (from + b);
        o += b;
        if (left) {
            for (FrameIndex i = 0; i < e - b; ++i) o[i] = static_cast<T>(f[i].left);
        } else {
            for (FrameIndex i = 0; i < e - b; ++i) o[i] = static_cast<T>(f[i].right);
        }
    }

    // r at lags centre - K .. centre + K; edge = -1 / +1 when the best is the first / last.
    Peak lagsAround(FrameIndex t, FrameIndex centre, int& edge) {
        const int lags = 2 * K_ + 1;
        const FrameIndex from = t + centre - K_;
        load(from, W_ + lags - 1, false, right_);
        dots_.resize(static_cast<std::size_t>(lags));
        dotProducts(left_.data(), right_.data(), static_cast<std::size_t>(W_), lags, dots_.data());
        double eb = energy(right_.data(), static_cast<std::size_t>(W_));
        r_.assign(static_cast<std::size_t>(lags), 0.0);
        std::size_t best = 0;
        for (int l = 0; l < lags; ++l) {
            const std::size_t k = static_cast<std::size_t>(l);
            if (l > 0) {
                const double out = right_[k - 1], in = right_[k + static_cast<std::size_t>(W_) - 1];
                eb = std::max(0.0, eb - out * out + in * in);
            }
            if (centre - K_ + l == 0) rightEnergyAtZero_ = eb;
            if (eb > 0.0 && leftEnergy_ > 0.0) r_[k] = dots_[k] / std::sqrt(eb * leftEnergy_);
            if (std::fabs(r_[k]) > std::fabs(r_[best])) best = k;
        }
        Peak p;
        p.r = r_[best];
        edge = best == 0 ? -1 : best + 1 == r_.size() ? 1 : 0;
        p.found = edge == 0 && p.r != 0.0;
        p.lag = static_cast<double>(centre - K_ + static_cast<FrameIndex>(best));
        if (p.found) {
            const double s = p.r < 0.0 ? -1.0 : 1.0;
            p.lag += vertexOffset(s * r_[best - 1], s * r_[best], s * r_[best + 1]);
        }
        return p;
    }

    const Frame* frames_;
    FrameIndex count_;
    FrameIndex W_, D_;
    int K_;
    const BandDecimator& band_;
    int sampleRate_;
    std::unique_ptr<WhitenedCorrelation> corr_;
    std::pair<std::size_t, int> corrShape_{0, 0};
    std::vector<float> pattern_, stretch_;
    double leftEnergy_ = 0.0;
    double rightEnergyAtZero_ = 0.0;
    std::vector<float> left_, right_;
    std::vector<double> dots_, r_, wideA_, wideB_;
};

double median(std::vector<double> v) {
    if (v.empty()) return 0.0;
    const std::size_t mid = v.size() / 2;
    std::nth_element(v.begin(), v.begin() + static_cast<std::ptrdiff_t>(mid), v.end());
    const double upper = v[mid];
    if (v.size() % 2 == 1) return upper;
    return 0.5 * (*std::max_element(v.begin(), v.begin() + static_cast<std::ptrdiff_t>(mid)) + upper);
}

void summarise(AlignmentCheck& check) {
    std::vector<double> lags;
    int within2 = 0, within1Ms = 0;
    const double oneMs = check.sampleRate / 1000.0;
    const double inStepFrames = TimeBase(static_cast<std::uint32_t>(check.sampleRate)).Scale(kInStepFrames);
    for (const CheckWindow& w : check.windows) {
        if (w.state != CheckState::Quiet && w.state != CheckState::Extrapolated) ++check.sounding;
        if (w.state != CheckState::Measured) continue;
        const double a = std::fabs(w.lagFrames);
        lags.push_back(a);
        within2 += a <= inStepFrames;
        within1Ms += a <= oneMs;
    }
    check.measured = static_cast<int>(lags.size());
    if (check.sounding > 0) {
        check.within2Frames = static_cast<double>(within2) / check.sounding;
        check.within1Ms = static_cast<double>(within1Ms) / check.sounding;
    }
    if (check.measured > 0) check.medianAbsLagFrames = median(lags);

    const double rate = check.sampleRate, window = kWindowSeconds;
    std::vector<CheckStretch> stretches;
    std::vector<int> offBy1Ms;
    bool open = false;
    for (const CheckWindow& w : check.windows) {
        if (w.state == CheckState::Quiet || w.state == CheckState::Extrapolated) continue;
        const bool unmatched = w.state == CheckState::Unmatched;
        const bool failing = unmatched || std::fabs(w.lagFrames) > inStepFrames;
        if (!failing) {
            open = false;
            continue;
        }
        const double from = static_cast<double>(w.start) / rate;
        // A single window in step between two failing ones is chance, not lock regained.
        if (!open && !(stretches.size() > 0 && from - stretches.back().toSeconds <= kHopSeconds)) {
            stretches.push_back({from, from + window, 0, 0.0, 0, false});
            offBy1Ms.push_back(0);
        }
        open = true;
        CheckStretch& s = stretches.back();
        s.toSeconds = from + window;
        ++s.windows;
        if (unmatched) {
            ++s.unmatched;
        } else {
            if (std::fabs(w.lagFrames) > oneMs) ++offBy1Ms.back();
            if (std::fabs(w.lagFrames) > std::fabs(s.largestLagFrames)) s.largestLagFrames = w.lagFrames;
        }
    }
    for (std::size_t i = 0; i < stretches.size(); ++i) {
        CheckStretch& s = stretches[i];
        // Unmatched windows 0.5 s apart: n of them in a row span 1 + (n - 1) / 2 seconds.
        const double unmatchedSpan = s.unmatched > 0 ? window + (s.unmatched - 1) * kHopSeconds : 0.0;
        s.breaks = offBy1Ms[i] >= kOffWindows || unmatchedSpan > kUnmatchedSeconds;
        check.breakingStretches += s.breaks ? 1 : 0;
    }
    check.inStep = check.sounding > 0 && check.within1Ms >= kInStepShare && check.breakingStretches == 0;
    check.failingStretches = static_cast<int>(stretches.size());
    // The ones that break the verdict are named first, then the longest.
    std::stable_sort(stretches.begin(), stretches.end(), [](const CheckStretch& a, const CheckStretch& b) {
        return a.breaks != b.breaks ? a.breaks : a.windows > b.windows;
    });
    if (stretches.size() > 3) stretches.resize(3);
    std::sort(stretches.begin(), stretches.end(),
              [](const CheckStretch& a, const CheckStretch& b) { return a.fromSeconds < b.fromSeconds; });
    check.worst = std::move(stretches);
}

std::string percent(double share) { return Fixed(100.0 * share, 1) + " %"; }

}  // namespace

AlignmentCheck CheckAlignment(const Frame* frames, FrameIndex count, int sampleRate, FrameIndex searchedEnd) {
    AlignmentCheck check;
    check.sampleRate = sampleRate;
    if (sampleRate <= 0) {
        check.error = MessageText(Msg::NoSampleRate);
        return check;
    }
    const FrameIndex W = std::llround(kWindowSeconds * sampleRate), H = std::llround(kHopSeconds * sampleRate);
    const FrameIndex D = std::llround(kWideSeconds * sampleRate);
    const int K = std::max(2, static_cast<int>(std::lround(kNearSeconds * sampleRate)));
    const BandDecimator band(static_cast<std::uint32_t>(sampleRate));
    for (FrameIndex t = D; t + W + D <= count; t += H)
        check.windows.push_back({t, searchedEnd >= 0 && t + W > searchedEnd ? CheckState::Extrapolated : CheckState::Quiet, 0.0, 0.0});
    check.searchedEnd = searchedEnd;
    const std::size_t n = check.windows.size();

    // The search around 0 for every window, with the levels; the quiet floor is relative to
    // the left's median level, so the decisions wait until all are known.
    std::vector<double> leftRms(n), rightRms(n);
    std::vector<Peak> nearZero(n);
    ParallelFor(n, [&](std::size_t b, std::size_t e) {
        WindowMeter meter(frames, count, W, D, K, band, sampleRate);
        for (std::size_t i = b; i < e; ++i) {
            if (check.windows[i].state == CheckState::Extrapolated) continue;
            const FrameIndex t = check.windows[i].start;
            leftRms[i] = std::sqrt(meter.loadLeft(t) / static_cast<double>(W));
            nearZero[i] = meter.around(t, 0, kClimbs);
            rightRms[i] = std::sqrt(meter.rightEnergyAtZero() / static_cast<double>(W));
        }
    });
    std::vector<double> heard;
    for (double v : leftRms)
        if (v > 0.0) heard.push_back(v);
    const double floor = heard.empty() ? 1.0 : median(heard) * std::pow(10.0, -kQuietDb / 20.0);

    ParallelFor(n, [&](std::size_t b, std::size_t e) {
        WindowMeter meter(frames, count, W, D, K, band, sampleRate);
        for (std::size_t i = b; i < e; ++i) {
            CheckWindow& w = check.windows[i];
            if (w.state == CheckState::Extrapolated || leftRms[i] < floor || rightRms[i] < floor) continue;
            const Peak& near = nearZero[i];
            w.state = CheckState::Measured;
            w.lagFrames = near.lag;
            w.r = near.r;
            if (near.found && std::fabs(near.r) >= kSure) continue;
            // No clear peak near 0 on the waveform: a room, a narrow band, a window that is
            // off, or other material. The whitened correlation tells them apart.
            double lag = 0.0, height = 0.0;
            bool atZero = false;
            if (!meter.whitened(w.start, lag, height, atZero)) {
                w.state = CheckState::Unmatched;
                w.lagFrames = 0.0;
                w.r = height;
                continue;
            }
            // Where the waveform has a peak at the place too, its lag is the finer one.
            if (atZero && near.found && std::fabs(near.r) >= kWeak) continue;
            w.lagFrames = lag;
            w.r = height;
            if (!atZero) {
                meter.loadLeft(w.start);
                const Peak far = meter.around(w.start, std::llround(lag), 2);
                if (far.found && std::fabs(far.r) >= kWeak && std::fabs(far.lag - lag) <= 2.0 * band.Decimation()) w.lagFrames = far.lag;
            }
        }
    });
    summarise(check);
    return check;
}

AlignmentCheck CheckSynchronisedFile(const std::string& path, FrameIndex searchedEnd) {
    AlignmentCheck failed;
    try {
        KWavefile wave(path, kPlaceBoth, false);
        if (!wave.Usable() || wave.Channels != 2) {
            failed.error = MessageText(Msg::NotStereo, path);
            if (!wave.Problem().empty()) failed.error = MessageText(Msg::Labelled, failed.error, wave.Problem());
            return failed;
        }
        if (wave.BitsPerSample != 16 || wave.Kind != SampleKind::Integer || wave.DataOffset % 2 != 0) {
            // A file in a deeper format (the master's) is looked at as 16-bit frames.
            std::vector<Frame> frames(static_cast<std::size_t>(wave.FrameCount));
            if (!wave.LoadData() || (wave.FrameCount > 0 && wave.ReadFrames(frames.data(), 0, wave.FrameCount) == 0)) {
                failed.error = "cannot read " + path + ": " + wave.LoadProblem();
                return failed;
            }
            return CheckAlignment(frames.data(), wave.FrameCount, static_cast<int>(wave.SampleRate), searchedEnd);
        }
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) {
            failed.error = MessageText(Msg::CannotOpen, path, SystemErrorText(errno));
            return failed;
        }
        struct stat st {};
        const bool sized = ::fstat(fd, &st) == 0;
        const std::size_t size = sized ? static_cast<std::size_t>(st.st_size) : 0;
        const FrameIndex frames =
            std::min<FrameIndex>(wave.FrameCount, (static_cast<FrameIndex>(size) - wave.DataOffset) / 4);
        void* map = size > 0 ? ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0) : MAP_FAILED;
        const int mapErrno = errno;
        ::close(fd);
        if (map == MAP_FAILED) {
            failed.error = MessageText(Msg::CannotRead, path, SystemErrorText(sized ? mapErrno : EINVAL));
            return failed;
        }
        ::madvise(map, size, MADV_SEQUENTIAL);
        const Frame* data = reinterpret_cast<const Frame*>(static_cast<const std::uint8_t*>(map) + wave.DataOffset);
        AlignmentCheck check = CheckAlignment(data, std::max<FrameIndex>(frames, 0), static_cast<int>(wave.SampleRate), searchedEnd);
        ::munmap(map, size);
        return check;
    } catch (const std::exception& e) {
        failed.error = FailureText(e);
        return failed;
    }
}

std::string CheckSummary(const AlignmentCheck& check) {
    if (!check.error.empty()) return MessageText(Msg::CheckFailed, check.error);
    if (check.windows.empty()) return MessageText(Msg::CheckTooShort);
    if (check.sounding == 0) return MessageText(Msg::CheckNoCommonSound);
    if (check.MeasuredShare() < 0.5) return MessageText(Msg::CheckTooLittle, percent(check.MeasuredShare()));
    std::string text = MessageText(Msg::CheckWithin, percent(check.within2Frames));
    if (!check.worst.empty()) {
        // Stretches that matched nowhere are named apart from those that are off.
        std::string off, unmatched;
        for (const CheckStretch& s : check.worst) {
            std::string& list = s.unmatched * 2 > s.windows ? unmatched : off;
            if (!list.empty()) list += MessageText(Msg::ListSeparator);
            list += MessageText(Msg::CheckSeconds, Fixed(s.fromSeconds, 1), Fixed(s.toSeconds, 1));
        }
        if (!off.empty()) text += MessageText(Msg::CheckOff, off);
        if (!unmatched.empty()) text += MessageText(Msg::CheckUnmatched, unmatched);
        if (check.failingStretches > static_cast<int>(check.worst.size()))
            text += MessageText(Msg::CheckMore, check.failingStretches - static_cast<int>(check.worst.size()));
    }
    if (!check.inStep) text += MessageText(Msg::CheckNotInStep);
    if (check.searchedEnd >= 0 && !check.windows.empty() && check.windows.back().state == CheckState::Extrapolated)
        text += MessageText(Msg::CheckExtrapolated, Fixed(static_cast<double>(check.searchedEnd) / check.sampleRate, 1));
    return text;
}

std::string CheckDetails(const AlignmentCheck& check) {
    if (!check.error.empty()) return MessageText(Msg::CheckFailed, check.error);
    const double ofMeasured = check.measured > 0 ? check.within2Frames / check.MeasuredShare() : 0.0;
    return MessageText(Msg::CheckDetails, check.measured, check.sounding, check.windows.size(), percent(ofMeasured),
                       percent(check.within2Frames), percent(check.within1Ms),
                       Fixed(check.medianAbsLagFrames, 2), MessageText(check.inStep ? Msg::InStep : Msg::NotInStep));
}

std::string CheckCsvText(const AlignmentCheck& check) {
    std::string text = "start_s,state,lag_frames,corr\n";
    for (const CheckWindow& w : check.windows) {
        const char* state = w.state == CheckState::Measured       ? "measured"
                            : w.state == CheckState::Unmatched    ? "unmatched"
                            : w.state == CheckState::Extrapolated ? "extrapolated"
                                                                  : "quiet";
        text += Fixed(static_cast<double>(w.start) / check.sampleRate, 3) + "," + state + "," +
                (w.state == CheckState::Measured ? Fixed(w.lagFrames, 3) : std::string()) + "," + Fixed(w.r, 4) + "\n";
    }
    return text;
}

void WriteCheckCsv(const AlignmentCheck& check, const std::string& path) {
    CsvFile file = CreateReport(path);
    WriteReport(file, CheckCsvText(check));
    FinishReport(file, path);
}

}  // namespace tandem
