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
// A peak near 0 this strong is taken without the wide search. The wide search exists for
// windows that are off by more than a few frames; where the near peak is this clear, a
// far one that beats it would be one period of a tone away, which the tie rule would
// send back to the near one anyway.
constexpr double kSure = 0.6;
// Peaks within this of the best are a tie (a sustained tone): the one nearest 0 is taken.
constexpr double kTie = 0.005;
constexpr double kInStepFrames = 2.0;  // frames at 44.1 kHz
// The verdict: at least this share of the measured windows within +-1 ms ...
constexpr double kInStepShare = 0.90;
// ... and at least this share of the windows where both channels hold sound measurable.
// Measured: outputs in step (eleven real-music cases with noise down to 20 dB SNR, a
// 4 kHz low-pass, 8-bit mono and inverted slaves) measure 0.99-1.00 of such windows, their
// weakest windows still at |r| 0.44; outputs of unrelated pairs (two pieces, noise against
// noise, a piece against its reverse) measure none, their best |r| at most 0.22. Outputs
// that lost lock for good measure 0.50-0.71 and fail the first rule as well. Half lies
// far from both clusters.
constexpr double kMinMeasured = 0.5;

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
    WindowMeter(const Frame* frames, FrameIndex count, FrameIndex window, FrameIndex wide, int near, const BandDecimator& band)
        : frames_(frames), count_(count), W_(window), D_(wide), K_(near), band_(band) {}

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

    // The best lag within +-D on band-limited, decimated copies; its |r| at that rate.
    FrameIndex wideCandidate(FrameIndex t) {
        const FrameIndex M = band_.Margin();
        std::vector<double>& a = wideA_;
        std::vector<double>& b = wideB_;
        load(t - M, W_ + 2 * M, true, a);
        load(t - D_ - M, W_ + 2 * D_ + 2 * M, false, b);
        const std::vector<double> da = band_.Apply(a), db = band_.Apply(b);
        const std::size_t na = da.size(), nb = db.size();
        if (na == 0 || nb <= na) return 0;
        std::size_t n = 1;
        while (n < nb) n <<= 1;
        // Both real sequences in one complex transform.
        std::vector<std::complex<double>>& z = spectrum_;
        z.assign(n, {0.0, 0.0});
        for (std::size_t i = 0; i < na; ++i) z[i].real(da[i]);
        for (std::size_t i = 0; i < nb; ++i) z[i].imag(db[i]);
        Fft(z);
        std::vector<std::complex<double>> c(n);
        for (std::size_t k = 0; k < n; ++k) {
            const std::complex<double> zk = z[k], zm = std::conj(z[(n - k) % n]);
            const std::complex<double> A = 0.5 * (zk + zm), B = std::complex<double>(0.0, -0.5) * (zk - zm);
            c[k] = std::conj(std::conj(A) * B);  // conjugated for the inverse by a forward transform
        }
        Fft(c);
        double ea = 0.0;
        for (double v : da) ea += v * v;
        std::vector<double> prefix(nb + 1, 0.0);
        for (std::size_t i = 0; i < nb; ++i) prefix[i + 1] = prefix[i] + db[i] * db[i];
        const std::size_t lags = nb - na + 1;
        std::vector<double> r(lags, 0.0), eb(lags);
        double ebMax = 0.0;
        for (std::size_t j = 0; j < lags; ++j) {
            eb[j] = prefix[j + na] - prefix[j];
            ebMax = std::max(ebMax, eb[j]);
        }
        std::size_t best = 0;
        for (std::size_t j = 0; j < lags; ++j) {
            if (!(eb[j] > 1e-6 * ebMax) || ea <= 0.0) continue;
            r[j] = c[j].real() / static_cast<double>(n) / std::sqrt(eb[j] * ea);
            if (std::fabs(r[j]) > std::fabs(r[best])) best = j;
        }
        // A tonal window: peaks within the tie of the best are told apart by nothing but
        // their distance from 0.
        const double sign = r[best] < 0.0 ? -1.0 : 1.0;
        const double top = sign * r[best];
        const FrameIndex zero = D_ / band_.Decimation();
        std::size_t chosen = best;
        if (top >= 0.5) {
            for (std::size_t j = 1; j + 1 < lags; ++j) {
                const double v = sign * r[j];
                if (v >= top - kTie && v >= sign * r[j - 1] && v >= sign * r[j + 1] &&
                    std::llabs(static_cast<FrameIndex>(j) - zero) < std::llabs(static_cast<FrameIndex>(chosen) - zero))
                    chosen = j;
            }
        }
        return static_cast<FrameIndex>(chosen) * band_.Decimation() - D_;
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
    double leftEnergy_ = 0.0;
    double rightEnergyAtZero_ = 0.0;
    std::vector<float> left_, right_;
    std::vector<double> dots_, r_, wideA_, wideB_;
    std::vector<std::complex<double>> spectrum_;
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
        if (w.state != CheckState::Quiet) ++check.sounding;
        if (w.state != CheckState::Measured) continue;
        const double a = std::fabs(w.lagFrames);
        lags.push_back(a);
        within2 += a <= inStepFrames;
        within1Ms += a <= oneMs;
    }
    check.measured = static_cast<int>(lags.size());
    if (check.measured > 0) {
        check.within2Frames = static_cast<double>(within2) / check.measured;
        check.within1Ms = static_cast<double>(within1Ms) / check.measured;
        check.medianAbsLagFrames = median(lags);
    }
    check.inStep = check.measured > 0 && check.within1Ms >= kInStepShare && check.MeasuredShare() >= kMinMeasured;

    const double rate = check.sampleRate, window = kWindowSeconds;
    std::vector<CheckStretch> stretches;
    bool open = false;
    for (const CheckWindow& w : check.windows) {
        if (w.state != CheckState::Measured) continue;
        const bool failing = std::fabs(w.lagFrames) > inStepFrames;
        if (!failing) {
            open = false;
            continue;
        }
        const double from = static_cast<double>(w.start) / rate;
        // A single window in step between two failing ones is chance, not lock regained.
        if (!open && !(stretches.size() > 0 && from - stretches.back().toSeconds <= kHopSeconds))
            stretches.push_back({from, from + window, 0, 0.0});
        open = true;
        CheckStretch& s = stretches.back();
        s.toSeconds = from + window;
        ++s.windows;
        if (std::fabs(w.lagFrames) > std::fabs(s.largestLagFrames)) s.largestLagFrames = w.lagFrames;
    }
    check.failingStretches = static_cast<int>(stretches.size());
    std::stable_sort(stretches.begin(), stretches.end(),
                     [](const CheckStretch& a, const CheckStretch& b) { return a.windows > b.windows; });
    if (stretches.size() > 3) stretches.resize(3);
    std::sort(stretches.begin(), stretches.end(),
              [](const CheckStretch& a, const CheckStretch& b) { return a.fromSeconds < b.fromSeconds; });
    check.worst = std::move(stretches);
}

std::string percent(double share) { return Fixed(100.0 * share, 1) + " %"; }

}  // namespace

AlignmentCheck CheckAlignment(const Frame* frames, FrameIndex count, int sampleRate) {
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
    for (FrameIndex t = D; t + W + D <= count; t += H) check.windows.push_back({t, CheckState::Quiet, 0.0, 0.0});
    const std::size_t n = check.windows.size();

    // The search around 0 for every window, with the levels; the quiet floor is relative to
    // the left's median level, so the decisions wait until all are known.
    std::vector<double> leftRms(n), rightRms(n);
    std::vector<Peak> nearZero(n);
    ParallelFor(n, [&](std::size_t b, std::size_t e) {
        WindowMeter meter(frames, count, W, D, K, band);
        for (std::size_t i = b; i < e; ++i) {
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
        WindowMeter meter(frames, count, W, D, K, band);
        for (std::size_t i = b; i < e; ++i) {
            CheckWindow& w = check.windows[i];
            if (leftRms[i] < floor || rightRms[i] < floor) continue;
            Peak best = nearZero[i];
            if (!(best.found && std::fabs(best.r) >= kSure)) {
                meter.loadLeft(w.start);
                const FrameIndex candidate = meter.wideCandidate(w.start);
                const Peak far = meter.around(w.start, candidate, 2);
                if (far.found && (!best.found || std::fabs(far.r) > std::fabs(best.r) + kTie)) best = far;
            }
            if (best.found && std::fabs(best.r) >= kWeak) {
                w.state = CheckState::Measured;
                w.lagFrames = best.lag;
            } else {
                w.state = CheckState::Unclear;
            }
            w.r = best.r;
        }
    });
    summarise(check);
    return check;
}

AlignmentCheck CheckSynchronisedFile(const std::string& path) {
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
            return CheckAlignment(frames.data(), wave.FrameCount, static_cast<int>(wave.SampleRate));
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
        AlignmentCheck check = CheckAlignment(data, std::max<FrameIndex>(frames, 0), static_cast<int>(wave.SampleRate));
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
    if (check.measured == 0 || check.MeasuredShare() < kMinMeasured)
        return MessageText(Msg::CheckTooLittle, percent(check.MeasuredShare()));
    std::string text = MessageText(Msg::CheckWithin, percent(check.within2Frames));
    if (!check.worst.empty()) {
        std::string stretches;
        for (std::size_t i = 0; i < check.worst.size(); ++i) {
            if (i > 0) stretches += MessageText(Msg::ListSeparator);
            stretches += MessageText(Msg::CheckSeconds, Fixed(check.worst[i].fromSeconds, 1), Fixed(check.worst[i].toSeconds, 1));
        }
        text += MessageText(Msg::CheckOff, stretches);
        if (check.failingStretches > static_cast<int>(check.worst.size()))
            text += MessageText(Msg::CheckMore, check.failingStretches - static_cast<int>(check.worst.size()));
    }
    if (!check.inStep) text += MessageText(Msg::CheckNotInStep);
    return text;
}

std::string CheckDetails(const AlignmentCheck& check) {
    if (!check.error.empty()) return MessageText(Msg::CheckFailed, check.error);
    return MessageText(Msg::CheckDetails, check.measured, check.sounding, check.windows.size(), percent(check.within2Frames),
                       percent(check.within2Frames * check.MeasuredShare()), percent(check.within1Ms),
                       Fixed(check.medianAbsLagFrames, 2), MessageText(check.inStep ? Msg::InStep : Msg::NotInStep));
}

std::string CheckCsvText(const AlignmentCheck& check) {
    std::string text = "start_s,state,lag_frames,corr\n";
    for (const CheckWindow& w : check.windows) {
        const char* state = w.state == CheckState::Measured ? "measured" : w.state == CheckState::Unclear ? "unclear" : "quiet";
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
