#include "sync/PatternSearch.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstring>

#include "core/BigBuffer.h"
#include "core/Log.h"
#include "core/Parallel.h"
#include "core/TimeBase.h"
#include "core/Text.h"
#include "sync/StretchScore.h"
#include "wave/FrameSums.h"
#include "wave/KWavefile.h"

namespace tandem {

CsvFile CreateReport(const std::string& path) {
    auto file = std::make_unique<AtomicFile>(path, MessageText(Msg::ReportFile, path));
    if (!file->Ok()) throw file->Failure<SyncError>();
    return file;
}

void WriteReport(const CsvFile& file, const std::string& text) {
    if (file && !file->Write(text)) throw file->Failure<SyncError>();
}

SyncError Unreadable(const KWavefile& file) {
    return file.Problem().empty() ? SyncError(Msg::CannotReadFile, file.FileName)
                                  : SyncError(Msg::CannotRead, file.FileName, file.Problem());
}

void FinishReport(CsvFile& file, const std::string&) {
    if (!file) return;
    const CsvFile done = std::move(file);
    if (!done->Commit()) throw done->Failure<SyncError>();
}

namespace {

constexpr double kScoreScale = 1.0 / (32767.0 * 32767.0);

using SlaveWindow = std::vector<double, BigBufferAllocator<double>>;  // written whole

// (left + right) of each frame of the slave span [begin, end), in sample units;
// silence outside the file.
void loadSlaveWindow(KWavefile& slave, FrameIndex begin, FrameIndex end, SlaveWindow& window) {
    // Straight from the file where it holds the frames as they are (no copy first).
    if (const Frame* in = begin < end ? slave.FramesInPlace(begin, end) : nullptr) {
        window.resize(static_cast<std::size_t>(end - begin));
        ChannelSums(in, window.size(), window.data());
        return;
    }
    WaveImage image;
    if (slave.MakeWaveImage(begin, end, image) == 0)
        throw Unreadable(slave);
    window.resize(image.frames.size());
    ChannelSums(image.frames.data(), window.size(), window.data());
}

// The master segment as two channel arrays with the last frame repeated once, so that
// the interpolation's right neighbour never needs a bounds test.
struct MasterChannels {
    // One value of padding in front and kPadBack behind, so that the vector kernel may
    // load the neighbourhood of any index without bounds tests. left()/right() point at
    // frame 0.
    static constexpr std::size_t kPadFront = 1, kPadBack = kStretchPadBack;
    // Written whole below, so not cleared first (the clearing showed in the search
    // thread's profile).
    std::vector<double, BigBufferAllocator<double>> leftStore, rightStore;
    FrameIndex n = 0;

    explicit MasterChannels(const std::vector<Frame>& frames) : n(static_cast<FrameIndex>(frames.size())) {
        const std::size_t size = frames.size() + kPadFront + kPadBack;
        leftStore.resize(size);
        rightStore.resize(size);
        std::fill_n(leftStore.begin(), kPadFront, 0.0);
        std::fill_n(rightStore.begin(), kPadFront, 0.0);
        ChannelsApart(frames.data(), frames.size(), leftStore.data() + kPadFront, rightStore.data() + kPadFront);
        // The last frame once more, then silence.
        const Frame last = frames.empty() ? Frame{0, 0} : frames.back();
        const std::size_t back = kPadFront + frames.size();
        leftStore[back] = last.left;
        rightStore[back] = last.right;
        std::fill(leftStore.begin() + static_cast<std::ptrdiff_t>(back + 1), leftStore.end(), 0.0);
        std::fill(rightStore.begin() + static_cast<std::ptrdiff_t>(back + 1), rightStore.end(), 0.0);
    }
    const double* left() const { return leftStore.data() + kPadFront; }
    const double* right() const { return rightStore.data() + kPadFront; }
};

}  // namespace

double PatternScore(const double* a, const double* b, FrameIndex n) { return Dot(a, b, n) * kScoreScale; }

FrameIndex FindSoundOnset(KWavefile& file, FrameIndex start, int percent) {
    const FrameIndex span = TimeBase(file.SampleRate).Frames(4 * static_cast<FrameIndex>(kSampleRate));  // 4 s
    // The division looks for an onset after every point, and it mostly lies within the
    // first frames: the span is read in pieces of 1/40 of it, not copied whole each
    // time. A band filter works per read, so a filtered file is still read in one piece.
    const FrameIndex piece = file.FilterLow > 0 || file.FilterHigh > 0 ? span : std::max<FrameIndex>(1, span / 40);
    const int threshold = static_cast<int>(static_cast<std::int64_t>(file.Average) * percent / 100);
    WaveImage image;
    for (FrameIndex from = 0; from < span; from += piece) {
        if (file.MakeWaveImage(start + from, start + std::min(from + piece, span), image) == 0)
            throw Unreadable(file);
        for (std::size_t i = 0; i < image.frames.size(); ++i) {
            const Frame f = image.frames[i];
            if (f.left < -threshold || f.left > threshold || f.right < -threshold || f.right > threshold)
                return start + from + static_cast<FrameIndex>(i);
        }
    }
    return start + span;
}

FrameIndex SearchSimilarPattern(KWavefile& slave, FrameIndex slaveSkip) {
    AddLog("SearchSimilarPattern nSkip=" + std::to_string(slaveSkip));
    const FrameIndex onset = FindSoundOnset(slave, slaveSkip, 100);
    AddLog(" ret=" + std::to_string(onset));
    return onset;
}

namespace {

// One call's search state: the walk over lengths G and offsets O, with the scores
// computed ahead in parallel batches and then taken in the walk's own order, so that
// best/worst, the lengths marked in the table and every tie come out as a sequential
// walk gives them (the table holds 0 for a score stopped part way, see prefetchMarked;
// a report shows every score whole).
class SegmentWalk {
public:
    SegmentWalk(const SegmentSearch& q, KWavefile& slave, const std::vector<Frame>& master, SyncProgress& progress,
                SearchResult& r)
        : q_(q),
          slave_(slave),
          master_(master),
          progress_(progress),
          r_(r),
          RS_(std::max(q.rangeS, 0)),
          RE_(std::max(q.rangeE, 1)),
          startPoint_(q.A == q.F),
          startCsv_((q.options & kOptStartCsv) != 0 && startPoint_),
          debug_((q.options & kOptDebug) != 0),
          bar_(progress.StageBar(q.stage)) {}

    void run() {
        const std::string segmentCsvPath = q_.reportBase + "-" + std::to_string(q_.A) + ".csv";
        if ((q_.options & kOptSegmentCsv) != 0 && !startPoint_) segmentCsv_ = CreateReport(segmentCsvPath);
        // A report lists every score: each is computed whole.
        stopEarly_ = !segmentCsv_ && !startCsv_;
        T_.assign(static_cast<std::size_t>(2 * RE_ + 1), 0.0);
        for (int k = 0; k < 2 * RE_ + 1; ++k) T_[static_cast<std::size_t>(k)] = k % 4 == 0 ? -1.0 : -2.0;
        T_[1] = -2.0;
        T_[static_cast<std::size_t>(2 * RE_)] = -1.0;

        winBegin_ = q_.N - RS_;
        // RangeE + 8 frames past the longest candidate; the range extension can reach
        // further, and then the window is loaded again, larger.
        winEnd_ = q_.P + RS_ + RE_ + 8;
        loadWindow();
        visited_.assign(static_cast<std::size_t>(2 * RS_ + 1), 0);
        ready_.assign(static_cast<std::size_t>(2 * RE_ + 1), 0.0);
        known_.assign(static_cast<std::size_t>(2 * RE_ + 1), 0);

        int count = 2 * RE_ + 1;
        int direction = 0;
        prefetchMarked(true);
        for (int j = 1; j <= count; ++j) {
            int G = j / 2;
            if (j % 2 == 1) G = -G;
            if (direction == 0 && entry(G) != -1.0) continue;
            if (direction == 0 && G == -RE_ && T_[1] == -2.0) {
                endFirstPass();
                j = 0;
                continue;
            }
            if (direction == 1 && G < 0) continue;
            if (direction == -1 && G > 0) continue;

            const double maxAbs = evaluate(G);
            bar_.Advance(2 * RS_ + 1);
            if (RE_ + G >= 0 && RE_ + G < 2 * RE_ + 1) T_[static_cast<std::size_t>(RE_ + G)] = maxAbs;

            if ((direction == 0 && G == -RE_) || direction != 0) {
                AddLog("★limit check e=" + std::to_string(G) + " limit=" + std::to_string(count));
                const int h = count / 2 - q_.extendWithin;
                const int winner = -r_.worst >= r_.best ? r_.worstG : r_.bestG;
                if (winner > h || winner < -h) {
                    direction = winner > h ? 1 : -1;
                    count += 2;
                    bar_.Max.fetch_add(2 * RS_ + 1);
                }
            }
        }
        FinishReport(segmentCsv_, segmentCsvPath);
    }

private:
    double& entry(int G) { return T_[static_cast<std::size_t>(RE_ + G)]; }

    // The first pass's lengths scoring above this share of its best magnitude have their
    // neighbours scored.
    static constexpr double kMarkShare = static_cast<double>(0.9f);

    void endFirstPass() {
        const double M = kMarkShare * std::max(r_.best, -r_.worst);
        for (int i = 1; i <= 2 * RE_ - 1; ++i) {
            if (T_[static_cast<std::size_t>(i)] > M) {
                for (int k = std::max(i - 4, 1); k <= i + 3 && k < 2 * RE_; ++k)
                    if (T_[static_cast<std::size_t>(k)] == -2.0) T_[static_cast<std::size_t>(k)] = -1.0;
            }
        }
        for (int k = 1; k <= 2 * RE_ - 1; ++k) {
            if (T_[static_cast<std::size_t>(k)] == -2.0) {
                bar_.Advance(2 * RS_ + 1);
                T_[static_cast<std::size_t>(k)] = 0.0;
            }
        }
        if (startCsv_) {
            const std::string path = q_.reportBase + "-" + std::to_string(q_.F) + ".csv";
            CsvFile profile = CreateReport(path);
            for (int k = 0; k <= 2 * RE_; ++k)
                WriteReport(profile, std::to_string(k - RE_) + "," + Fixed(T_[static_cast<std::size_t>(k)]) + "\n");
            FinishReport(profile, path);
        }
        prefetchMarked(false);
    }

    FrameIndex lengthOf(int G) const { return (q_.P - q_.N) + G; }

    // The slave window [winBegin_, winEnd_); its sums of squares are taken again.
    void loadWindow() {
        loadSlaveWindow(slave_, winBegin_, winEnd_, s_);
        slaveEnergy_.clear();
    }

    // Makes sure the window holds the longest stretch of G at every offset.
    void ensureWindow(FrameIndex L) {
        if (q_.N + RS_ + L > winEnd_) {
            winEnd_ = q_.N + RS_ + L + RE_ + 8;
            loadWindow();
        }
    }

    // With a single offset per length (every segment after the start point) the lengths
    // the coming pass will score are known: score them all now, on all cores.
    //
    // Most of them cannot change the result: a length changes it only by a score above
    // the best so far, below the worst so far, or (in the first pass) above kMarkShare
    // of the largest magnitude, where its neighbours would be scored. Scores are taken
    // in eighths, and one whose sum so far and a bound on the rest (Cauchy-Schwarz with
    // StretchTail) keep it clear of all three stops there, counted as 0, which
    // changes none of them either. So best, worst, their lengths and every marked
    // neighbour are those of scoring every length whole. Where nothing is known yet, a
    // score runs whole. On the 20-minute pair 24 % of the products are left out; in a
    // room, where no length stands out, 1 %.
    void prefetchMarked(bool firstPass) {
        if (RS_ != 0 || channels_.n == 0) return;
        std::vector<int> wanted;
        for (int G = -RE_; G <= RE_; ++G)
            if (entry(G) == -1.0 && lengthOf(G) > 0) wanted.push_back(G);
        if (wanted.empty()) return;
        FrameIndex longest = 0;
        for (int G : wanted) longest = std::max(longest, lengthOf(G));
        ensureWindow(longest);
        const double* sp = s_.data() + (q_.N - winBegin_);
        bool stop = stopEarly_;
        if (stop) {
            if (masterEnergy_.empty()) MasterBlockSquares(channels_.left(), channels_.right(), channels_.n, masterEnergy_);
            // The window from the segment's start, once per load.
            if (slaveEnergy_.empty())
                BlockSquares(sp, static_cast<FrameIndex>(s_.size()) - (q_.N - winBegin_), slaveEnergy_);
            // Past 2^53 (a window of minutes at full scale) the running sums round, and
            // their differences bound nothing.
            stop = masterEnergy_.back() < 0x1p53 && slaveEnergy_.back() < 0x1p53;
        }
        // Nearest the prediction first: the best is most often there.
        std::stable_sort(wanted.begin(), wanted.end(), [](int a, int b) { return std::abs(a) < std::abs(b); });
        Clear clear{r_.best, r_.worst, firstPass ? kMarkShare : 1.0};
        ParallelFor(wanted.size(), [&](std::size_t b, std::size_t e) {
            for (std::size_t k = b; k < e; ++k) {
                const int G = wanted[k];
                const double v = stop ? scoreUnlessClear(lengthOf(G), sp, clear)
                                      : StretchScore(channels_.left(), channels_.right(), channels_.n, lengthOf(G), sp);
                ready_[static_cast<std::size_t>(RE_ + G)] = v;
                // Not -RangeE's in the first pass: that pass ends before it is taken, so
                // its score is not among those the marking share is of.
                if (!firstPass || G != -RE_) clear.take(v);
            }
        });
        for (int G : wanted) known_[static_cast<std::size_t>(RE_ + G)] = 1;
    }

    // What a score must stay clear of to change nothing: the best and worst scores
    // known (the walk's before this pass, then every one taken here), and in the first
    // pass share times the largest magnitude. Shared by the pass's threads: any values
    // some of its scores have reached will do, so the order they arrive in changes how
    // much is left out, never the result.
    struct Clear {
        std::atomic<double> best, worst;
        const double share;

        Clear(double b, double w, double s) : best(b), worst(w), share(s) {}
        void take(double v) {
            double known = best.load(std::memory_order_relaxed);
            while (v > known && !best.compare_exchange_weak(known, v, std::memory_order_relaxed)) {
            }
            known = worst.load(std::memory_order_relaxed);
            while (v < known && !worst.compare_exchange_weak(known, v, std::memory_order_relaxed)) {
            }
        }
        // Whether every score within rest of sum lies clear.
        bool holds(double sum, double rest) const {
            const double b = best.load(std::memory_order_relaxed), w = worst.load(std::memory_order_relaxed);
            return sum + rest < b && sum - rest > w && std::fabs(sum) + rest < share * std::max(b, -w);
        }
    };

    // Checked after each eighth from the third on: the sum so far must outweigh the
    // bound on the rest, which it hardly does before (on the 20-minute pair 0.1 % of
    // the scores stopped stop there).
    static constexpr int kParts = 8, kFirstCheck = 3;

    double scoreUnlessClear(FrameIndex L, const double* sp, const Clear& clear) const {
        const FrameIndex n = channels_.n;
        const double* ml = channels_.left();
        const double* mr = channels_.right();
        // The slave's squares from from's block (from is a multiple of 8) to L's.
        const double slaveTo = slaveEnergy_[static_cast<std::size_t>((L + 7) / 8)];
        const StretchTail tail(masterEnergy_, n, L);
        const auto restBound = [&](FrameIndex from) {
            return std::sqrt(tail.From(from) *
                             (slaveTo - slaveEnergy_[static_cast<std::size_t>(from / 8)])) *
                   kSumScale;
        };
        // The computed partial and whole sums each lie within about 1e-12 of this of the
        // exact ones; the margin holds a million times that.
        const double slack = 1e-6 * restBound(0);
        double lanes[4] = {0.0, 0.0, 0.0, 0.0};
        FrameIndex from = 0;
        for (int part = kFirstCheck; part < kParts; ++part) {
            const FrameIndex to = L * part / kParts / 8 * 8;
            if (to <= from) continue;
            StretchLanes(ml, mr, n, L, sp, from, to, lanes);
            from = to;
            const double sum = LanesScore(lanes), rest = restBound(from) * (1.0 + 1e-9) + slack;
            if (clear.holds(sum, rest)) return 0.0;
        }
        StretchLanes(ml, mr, n, L, sp, from, L, lanes);
        return LanesScore(lanes);
    }

    double singleOffsetScore(int G, FrameIndex L) {
        if (RE_ + G >= 0 && RE_ + G <= 2 * RE_ && known_[static_cast<std::size_t>(RE_ + G)]) {
            known_[static_cast<std::size_t>(RE_ + G)] = 0;
            return ready_[static_cast<std::size_t>(RE_ + G)];
        }
        ensureWindow(L);
        return StretchScore(channels_.left(), channels_.right(), channels_.n, L, s_.data() + (q_.N - winBegin_));
    }

    void record(int G, int O, double v, double& maxAbs, int& argmax, const CsvFile& out) {
        if (debug_) progress_.SetMessageLine(std::to_string(O) + " " + std::to_string(G), 1);
        if (out) WriteReport(out, std::to_string(O) + "," + Fixed(v) + "\n");
        if (v > r_.best) {
            r_.best = v;
            r_.bestO = O;
            r_.bestG = G;
        } else if (v < r_.worst) {
            r_.worst = v;
            r_.worstO = O;
            r_.worstG = G;
        }
        if (v > maxAbs || -v > maxAbs) {
            maxAbs = std::fabs(v);
            argmax = O;
        }
    }

    // Scores length G over the offsets; returns the largest score magnitude.
    double evaluate(int G) {
        const FrameIndex L = lengthOf(G);
        if (segmentCsv_) WriteReport(segmentCsv_, std::to_string(G) + ",");
        CsvFile lengthCsv;
        const bool lengthReport = startCsv_ && T_[1] != -2.0;
        const std::string lengthCsvPath =
            lengthReport ? q_.reportBase + "-" + std::to_string(q_.F) + "-E" + std::to_string(G) + ".csv" : std::string();
        if (lengthReport) lengthCsv = CreateReport(lengthCsvPath);
        const double maxAbs = scoreLength(G, L, segmentCsv_ ? segmentCsv_ : lengthCsv);
        FinishReport(lengthCsv, lengthCsvPath);
        return maxAbs;
    }

    // Scores length L over the offsets, recording each score in out.
    double scoreLength(int G, FrameIndex L, const CsvFile& out) {
        double maxAbs = 0.0;
        if (L <= 0 || channels_.n == 0) return maxAbs;
        int argmax = 0;
        if (RS_ == 0) {
            record(G, 0, singleOffsetScore(G, L), maxAbs, argmax, out);
            return maxAbs;
        }

        ensureWindow(L);
        m_.resize(static_cast<std::size_t>(L));
        StretchInto(channels_.left(), channels_.right(), channels_.n, L, m_.data());
        std::fill(visited_.begin(), visited_.end(), 0);
        int lo = -RS_, hi = RS_;
        int step = 8;
        std::vector<int> offsets;
        std::vector<double> scores;
        for (;;) {
            // One sweep: its offsets are fixed when it starts; score them on all cores,
            // then take the results in order.
            offsets.clear();
            for (int O = lo; O <= hi; O += step)
                if (!visited_[static_cast<std::size_t>(O + RS_)]) offsets.push_back(O);
            scores.resize(offsets.size());
            const double* base = s_.data() + (q_.N - winBegin_);
            ParallelFor(offsets.size(), [&](std::size_t b, std::size_t e) {
                for (std::size_t k = b; k < e; ++k) scores[k] = Dot(base + offsets[k], m_.data(), L) * kSumScale;
            });
            for (std::size_t k = 0; k < offsets.size(); ++k) {
                visited_[static_cast<std::size_t>(offsets[k] + RS_)] = 1;
                record(G, offsets[k], scores[k], maxAbs, argmax, out);
            }
            if (step > 1 && maxAbs > 0.5 * r_.best) {
                step /= 2;
                const int w = step == 1 ? 2 : 50 * step;
                lo = std::max(argmax - w, -RS_);
                hi = std::min(argmax + w, RS_);
            } else {
                break;
            }
        }
        return maxAbs;
    }

    const SegmentSearch& q_;
    KWavefile& slave_;
    const std::vector<Frame>& master_;
    SyncProgress& progress_;
    SearchResult& r_;
    const int RS_;
    const int RE_;
    const bool startPoint_;
    const bool startCsv_;
    const bool debug_;
    StageBarState& bar_;
    MasterChannels channels_{master_};
    CsvFile segmentCsv_;
    std::vector<double> T_;
    SlaveWindow s_;
    std::vector<double> m_;
    std::vector<char> visited_;
    FrameIndex winBegin_ = 0, winEnd_ = 0;
    // Scores computed ahead for lengths -RangeE .. RangeE (index RangeE + G).
    std::vector<double> ready_;
    std::vector<char> known_;
    bool stopEarly_ = false;
    // Running sums of squares: the master's for StretchTail, the slave window's from
    // the segment's start.
    std::vector<double> masterEnergy_, slaveEnergy_;
};

}  // namespace

namespace {
std::atomic<SegmentSearchFunction> searchReplacement{nullptr};
}

void ReplaceSegmentSearch(SegmentSearchFunction replacement) { searchReplacement.store(replacement); }

void SearchSegment(const SegmentSearch& q, KWavefile& slave, const std::vector<Frame>& master, SyncProgress& progress,
                   SearchResult& r) {
    if (const SegmentSearchFunction replacement = searchReplacement.load()) {
        replacement(q, slave, master, progress, r);
        return;
    }
    SegmentWalk walk(q, slave, master, progress, r);
    walk.run();
}

}  // namespace tandem
