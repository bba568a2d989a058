#include "sync/FineTrack.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <complex>
#include <cstdint>
#include <cstring>
#include <numbers>
#include <vector>

#include "core/Clones.h"
#include "core/Parallel.h"
#include "dsp/Fft.h"
#include "dsp/TimeMap.h"
#include "sync/TrackSignal.h"
#include "wave/BandLimitedRead.h"
#include "wave/FrameSums.h"
#include "wave/KWavefile.h"

namespace tandem {
namespace {

// The products' indices, as FineMoments numbers them.
constexpr int LL = FineMoments::LL, LR = FineMoments::LR, LD = FineMoments::LD, RR = FineMoments::RR,
              RD = FineMoments::RD, DD = FineMoments::DD, kProducts = FineMoments::kProducts;

// A hop of 5 ms follows 10 Hz flutter with 20 windows a period; a window of +-15 ms
// (triangular) holds enough music to place the slave to a few hundredths of a frame.
// The 3 Hz flutter moves the slave by up to 0.8 frame within it: each window fits the
// delay's slope as well, so that its centre's delay is not the mean of the delays where
// its energy lies, and the smoothing reads each neighbour's line at the node (the
// generated flutter: 0.008 frame RMS with the delay alone, 0.0008 so).
constexpr double kHopSeconds = 0.005;
constexpr int kHalfHops = 3;
// The delays are smoothed with a Gaussian of 10 ms: less follows the windows' noise,
// more flattens the 10 Hz flutter.
constexpr int kSmoothHops = 2;
// Each pass after the first runs only in the blocks where the one before moved the map
// by more than a tenth of a frame (at 5 kHz a tenth of a frame is 0.07 rad), until none
// does or kMaxPasses ran. A clock's map is done after one pass; the kit's cassette after
// 3, 5 and 8: 49.2, 49.8 and 50.1 dB against the ideal slave, at about 0.01 CPU-s a
// pass and minute of audio.
constexpr int kMaxPasses = 8;
constexpr double kSecondPassFrames = 0.1;
// Below half the master's energy explained (a correlation of 0.71), a window holds as
// much other sound as common sound.
constexpr double kMinExplained = 0.5;
// The fit is linear in the delay, and good to about a frame at 5 kHz; a window that
// asks for more is not taking the map's residual.
constexpr double kReachFrames = 3.0;
// How far the map is off is learnt from the windows themselves: within +-0.5 s, the
// mean square of their delays beyond what their own noise explains. A clean clock's
// map through points measured over 0.4 s is already closer than a 30 ms window can
// tell (the evaluation kit's 20 dB-noise pair: 0.027 frame a window), and the delays
// are then shrunk to nothing; a tape's map, a frame off, takes them whole. 200 windows
// make that estimate good to a tenth of a window's noise.
constexpr int kPriorHops = 100;
constexpr std::size_t kNodesPerBlock = 512;

// Both signals are high-passed alike before the fit (second-order Butterworth, settled
// over 20 ms, 13 of its time constants). Below 150 Hz a 30 ms window holds fewer than
// five cycles, and that bass, which weighs least in the delay's precision (a frequency
// counts by its square), dominates the window's energy: where the slave lacks it (a
// tape's band starts at 60 Hz) the window fails its gate. The kit's cassette, cut off
// at 0 (none), 80, 150, 200 and 300 Hz: 30.3, 35.2, 36.8, 37.0 and 36.4 dB against the
// ideal slave.
constexpr double kHighPassHz = 150.0;
constexpr double kHighPassSettleSeconds = 0.02;

FrameIndex settleFrames(const KWavefile& master) {
    return std::max<FrameIndex>(1, std::llround(kHighPassSettleSeconds * master.SampleRate));
}

constexpr int kFilterLanes = kFineFilterLanes;  // two signals of four blocks

}  // namespace

FineHighPass::FineHighPass(std::uint32_t rate) {
    const double k = std::tan(std::numbers::pi * kHighPassHz / rate), q = std::numbers::sqrt2 / 2.0;
    const double norm = 1.0 / (1.0 + k / q + k * k);
    b0 = norm, b1 = -2.0 * norm, b2 = norm;
    a1 = 2.0 * (k * k - 1.0) * norm, a2 = (1.0 - k / q + k * k) * norm;
}

// The recursion waits on its last output at every sample (a multiply and two
// subtractions, 12 cycles): the signals of several blocks run side by side in vector
// lanes, each lane doing the scalar arithmetic in the same order.
TANDEM_CLONES("avx512f", "avx2")
void FineHighPassLanes(const FineHighPass& f, float* const* p, const std::size_t* len, int chains) {
    using Lanes = double __attribute__((vector_size(kFilterLanes * sizeof(double))));
    using Floats = float __attribute__((vector_size(kFilterLanes * sizeof(float))));
    std::size_t common = chains > 0 ? len[0] : 0;
    for (int c = 1; c < chains; ++c) common = std::min(common, len[c]);
    // A chunk at a time through a buffer with the signals' samples interleaved, so that
    // each step loads and stores one vector (unused lanes stay zero).
    constexpr std::size_t kChunk = 256;
    alignas(64) float t[kChunk * kFilterLanes] = {};
    Lanes x1 = {}, x2 = {}, y1 = {}, y2 = {};
    for (std::size_t i0 = 0; i0 < common; i0 += kChunk) {
        const std::size_t m = std::min(kChunk, common - i0);
        for (int c = 0; c < chains; ++c)
            for (std::size_t j = 0; j < m; ++j) t[j * kFilterLanes + static_cast<std::size_t>(c)] = p[c][i0 + j];
        for (std::size_t j = 0; j < m; ++j) {
            Floats in;
            std::memcpy(&in, t + j * kFilterLanes, sizeof in);
            const Lanes v = __builtin_convertvector(in, Lanes);
            const Lanes y = f.b0 * v + f.b1 * x1 + f.b2 * x2 - f.a1 * y1 - f.a2 * y2;
            x2 = x1, x1 = v, y2 = y1, y1 = y;
            const Floats out = __builtin_convertvector(y, Floats);
            std::memcpy(t + j * kFilterLanes, &out, sizeof out);
        }
        for (int c = 0; c < chains; ++c)
            for (std::size_t j = 0; j < m; ++j) p[c][i0 + j] = t[j * kFilterLanes + static_cast<std::size_t>(c)];
    }
    for (int c = 0; c < chains; ++c) {
        double sx1 = x1[c], sx2 = x2[c], sy1 = y1[c], sy2 = y2[c];
        for (std::size_t i = common; i < len[c]; ++i) {
            const double v = p[c][i], y = f.b0 * v + f.b1 * sx1 + f.b2 * sx2 - f.a1 * sy1 - f.a2 * sy2;
            sx2 = sx1, sx1 = v, sy2 = sy1, sy1 = y;
            p[c][i] = static_cast<float>(y);
        }
    }
}

namespace {

struct Node {
    float delay = 0.0f;
    float slope = 0.0f;      // the delay's change from the centre to the window's edge
    float weight = 0.0f;     // the delay's precision (frames^-2)
    float slopeVariance = 0.0f, covariance = 0.0f;  // the slope's, and the delay's with it
    float energy = 0.0f;     // the master's, in the window
    float explained = 0.0f;  // of it by the slave, 0..1
};

// Whether the slave is the master's sound and noise, not another acoustic path to the
// same sound: in the louder half of the windows, the median explains at least
// kMinExplained. A room's transfer function gives a tone's every window a delay of its
// own phase, fitted as well as the clock's; only the file as a whole tells the two apart.
// On the evaluation kit's cases the median is 0.87 (the cassette) to 1.0 for music,
// 0.21 for a phone's MP3 (200-6500 Hz), 0.25 for speech in two rooms and 0.03 for the
// far microphone: those keep the map as the points give it.
bool sameSound(const std::vector<Node>& nodes) {
    std::vector<double> energy;
    for (const Node& node : nodes)
        if (node.energy > 0.0f) energy.push_back(node.energy);
    if (energy.empty()) return false;
    const double loud = track::median(energy);
    std::vector<double> explained;
    for (const Node& node : nodes)
        if (node.energy >= loud) explained.push_back(node.explained);
    return track::median(explained) >= kMinExplained;
}

// The master's channel mean over frames [first, first + n), zeros outside it.
void readMasterMono(KWavefile& master, FrameIndex first, std::size_t n, float* to) {
    const FrameIndex a = std::min(std::max<FrameIndex>(first, 0), first + static_cast<FrameIndex>(n));
    const FrameIndex b = std::max(a, std::min<FrameIndex>(first + static_cast<FrameIndex>(n), master.FrameCount));
    std::fill(to, to + (a - first), 0.0f);
    float* inside = to + (a - first);
    FrameIndex got = b - a;
    if (got > 0) {
        if (const Frame* frames = master.FramesInPlace(a, b)) {
            ChannelMeans(frames, static_cast<std::size_t>(got), inside);
        } else {
            thread_local std::vector<WideFrame> wide;
            wide.resize(static_cast<std::size_t>(got));
            got = std::max<FrameIndex>(master.ReadWideFrames(wide.data(), a, b), 0);
            for (FrameIndex i = 0; i < got; ++i)
                inside[i] = 0.5f * (wide[static_cast<std::size_t>(i)].left + wide[static_cast<std::size_t>(i)].right);
        }
    }
    std::fill(inside + got, to + n, 0.0f);
}

// The moments of sub-blocks side by side in vector lanes: m[u * kMomentLanes + i] is the
// master's frame u of lane i's sub-block, s[u * kMomentLanes + i] the slave's frame u - 1.
// Each lane adds its own frames in their order, so its sums are bit for bit those of
// one sub-block summed alone; only the lanes are side by side.
constexpr std::size_t kMomentLanes = 8;  // one AVX-512 vector of doubles, two of AVX2
// The sixteen sums, in the order of FineMoments.
enum { kLL, kLR, kLD, kRR, kRD, kDD, kLL1, kLR1, kLD1, kRR1, kRD1, kDD1, kLD2, kRD2, kDD2, kDD3, kSums };

using LaneFloats = float __attribute__((vector_size(kMomentLanes * sizeof(float))));
using LaneDoubles = double __attribute__((vector_size(kMomentLanes * sizeof(double))));

[[gnu::always_inline]] inline void widen(const float* p, LaneDoubles& out) {
    LaneFloats v;
    std::memcpy(&v, p, sizeof v);
    out = __builtin_convertvector(v, LaneDoubles);
}

TANDEM_CLONES("avx512f", "avx2")
void laneMoments(const float* m, const float* s, std::size_t H, double (*sums)[kMomentLanes]) {
    LaneDoubles a[kSums] = {};
    for (std::size_t u = 0; u < H; ++u) {
        const double w = static_cast<double>(u), w2 = w * w, w3 = w2 * w;
        const float* su = s + u * kMomentLanes;
        LaneDoubles l, r, s0, s2;
        widen(m + u * kMomentLanes, l);
        widen(su, s0);
        widen(su + kMomentLanes, r);
        widen(su + 2 * kMomentLanes, s2);
        const LaneDoubles d = 0.5 * (s2 - s0);
        const LaneDoubles pll = l * l, plr = l * r, pld = l * d, prr = r * r, prd = r * d, pdd = d * d;
        a[kLL] += pll, a[kLR] += plr, a[kLD] += pld, a[kRR] += prr, a[kRD] += prd, a[kDD] += pdd;
        a[kLL1] += w * pll, a[kLR1] += w * plr, a[kLD1] += w * pld;
        a[kRR1] += w * prr, a[kRD1] += w * prd, a[kDD1] += w * pdd;
        a[kLD2] += w2 * pld, a[kRD2] += w2 * prd, a[kDD2] += w2 * pdd, a[kDD3] += w3 * pdd;
    }
    for (int c = 0; c < kSums; ++c)
        for (std::size_t i = 0; i < kMomentLanes; ++i) sums[c][i] = a[c][i];
}

}  // namespace

void FineTrackMoments(const float* m, const float* s, std::size_t H, std::size_t blocks, std::vector<FineMoments>& out) {
    out.resize(blocks);
    thread_local std::vector<float> tm, ts;
    tm.resize(H * kMomentLanes);
    ts.resize((H + 2) * kMomentLanes);
    double sums[kSums][kMomentLanes];
    for (std::size_t q0 = 0; q0 < blocks; q0 += kMomentLanes) {
        const std::size_t lanes = std::min(kMomentLanes, blocks - q0);
        // The lanes past the last sub-block sum whatever they hold, and are not taken.
        for (std::size_t i = 0; i < lanes; ++i) {
            const float* ml = m + (q0 + i) * H;
            const float* sl = s + (q0 + i) * H;
            for (std::size_t u = 0; u < H; ++u) tm[u * kMomentLanes + i] = ml[u];
            for (std::size_t u = 0; u < H + 2; ++u) ts[u * kMomentLanes + i] = sl[u];
        }
        laneMoments(tm.data(), ts.data(), H, sums);
        for (std::size_t i = 0; i < lanes; ++i) {
            const auto v = [&](int c) { return sums[c][i]; };
            out[q0 + i] = {{{v(kLL), v(kLL1)}, {v(kLR), v(kLR1)}, {v(kLD), v(kLD1)}, {v(kRR), v(kRR1)}, {v(kRD), v(kRD1)}, {v(kDD), v(kDD1)}},
                           v(kLD2), v(kRD2), v(kDD2), v(kDD3)};
        }
    }
}

namespace {

// One block's signals: the master's and the slave's channel means, high-passed alike
// from settle frames before; the slave one frame beyond either end for its derivative.
struct BlockSignals {
    std::vector<float> mw, sw;
    std::vector<double> pos;
};

// Reads block [k0, k1)'s signals (node k at master frame k * hop) along the map.
void readBlock(KWavefile& master, KWavefile& slave, const TimeMap& map, FrameIndex hop, std::size_t k0,
               std::size_t k1, BlockSignals& b) {
    const auto H = static_cast<std::size_t>(hop);
    const std::size_t n = (k1 - k0 + 2 * kHalfHops) * H;  // sub-blocks of one hop each
    const FrameIndex first = static_cast<FrameIndex>(k0) * hop - kHalfHops * hop;
    const auto pad = static_cast<std::size_t>(settleFrames(master));
    b.mw.resize(n + pad);
    b.sw.resize(n + 2 + pad);
    b.pos.resize(n + 2 + pad);
    readMasterMono(master, first - static_cast<FrameIndex>(pad), n + pad, b.mw.data());
    const double fastest = map.Positions(first - 1 - static_cast<FrameIndex>(pad), n + 2 + pad, b.pos.data());
    ReadMonoAtPositions(slave, b.pos.data(), n + 2 + pad, fastest, b.sw.data());
}

// The delays of the nodes of block [k0, k1) from its filtered signals.
void fitBlock(const KWavefile& master, const TimeMap& map, FrameIndex hop, std::size_t k0, std::size_t k1,
              const BlockSignals& b, Node* nodes) {
    const auto H = static_cast<std::size_t>(hop);
    const std::size_t blocks = k1 - k0 + 2 * kHalfHops;
    const auto pad = static_cast<std::size_t>(settleFrames(master));
    const float* const m = b.mw.data() + pad;
    const float* const s = b.sw.data() + pad;

    thread_local std::vector<FineMoments> moments;
    FineTrackMoments(m, s, H, blocks, moments);

    const double span = static_cast<double>(kHalfHops) * static_cast<double>(H);
    for (std::size_t k = k0; k < k1; ++k) {
        Node& node = nodes[k - k0];
        node = Node{};
        const double centre = static_cast<double>(k) * static_cast<double>(hop);
        if (map.BreakAt(centre - span) || map.BreakAt(centre) || map.BreakAt(centre + span)) continue;
        const std::size_t qk = k - k0 + kHalfHops;
        // The window's sums; LQ, RQ, DQ and QQ those with q = d * x / span, the delay's
        // change across the window, which the fit takes up so that where the delay moves
        // within a window (a tape's wow and flutter) the centre's is not its energy's mean.
        double S[kProducts] = {}, LQ = 0.0, RQ = 0.0, DQ = 0.0, QQ = 0.0;
        for (int j = -kHalfHops; j < kHalfHops; ++j) {
            const FineMoments& mo = moments[static_cast<std::size_t>(static_cast<long long>(qk) + j)];
            // Weight of a frame u into sub-block qk + j, at x = j H + u from the centre:
            // span + x before the centre, span - x from it on.
            const double jh = j * static_cast<double>(H);
            const double base = j < 0 ? span + jh : span - jh;
            const double slope = j < 0 ? 1.0 : -1.0;
            for (int c = 0; c < kProducts; ++c) S[c] += base * mo.p[c][0] + slope * mo.p[c][1];
            // w x = base jh + (base + slope jh) u + slope u^2
            const double x0 = base * jh, x1 = base + slope * jh, x2 = slope;
            LQ += x0 * mo.p[LD][0] + x1 * mo.p[LD][1] + x2 * mo.ld2;
            RQ += x0 * mo.p[RD][0] + x1 * mo.p[RD][1] + x2 * mo.rd2;
            DQ += x0 * mo.p[DD][0] + x1 * mo.p[DD][1] + x2 * mo.dd2;
            // w x^2 = base jh^2 + (2 base jh + slope jh^2) u + (base + 2 slope jh) u^2 + slope u^3
            QQ += base * jh * jh * mo.p[DD][0] + (2.0 * base * jh + slope * jh * jh) * mo.p[DD][1] +
                  (base + 2.0 * slope * jh) * mo.dd2 + slope * mo.dd3;
        }
        LQ /= span, RQ /= span, DQ /= span, QQ /= span * span;
        if (!(S[LL] > 0.0 && S[RR] > 0.0 && S[DD] > 0.0 && QQ > 0.0)) continue;
        // The 3 x 3 normal equations in (r, d, q), by their adjugate.
        const double c00 = S[DD] * QQ - DQ * DQ, c01 = DQ * RQ - S[RD] * QQ, c02 = S[RD] * DQ - S[DD] * RQ;
        const double c11 = S[RR] * QQ - RQ * RQ, c12 = S[RD] * RQ - S[RR] * DQ, c22 = S[RR] * S[DD] - S[RD] * S[RD];
        const double det = S[RR] * c00 + S[RD] * c01 + RQ * c02;
        if (!(det > 1e-9 * S[RR] * S[DD] * QQ && c11 > 0.0)) continue;
        const double A = (c00 * S[LR] + c01 * S[LD] + c02 * LQ) / det;
        const double B = (c01 * S[LR] + c11 * S[LD] + c12 * LQ) / det;
        const double C = (c02 * S[LR] + c12 * S[LD] + c22 * LQ) / det;
        const double fitted = A * S[LR] + B * S[LD] + C * LQ;
        const double explained = fitted / S[LL];
        node.energy = static_cast<float>(S[LL]);
        node.explained = static_cast<float>(std::clamp(explained, 0.0, 1.0));
        if (!(explained >= kMinExplained) || A == 0.0) continue;
        const double delay = B / A;
        if (!(std::fabs(delay) <= kReachFrames)) continue;
        // The residual's variance a frame is residual / span^2 (the triangle's weights sum to
        // span^2, their squares to 2 span^3 / 3): the estimates' covariance is the inverse
        // normal matrix times residual / (1.5 span), over A^2 for delay and slope.
        const double residual = std::max(S[LL] - fitted, 1e-9 * S[LL]);
        const double scale = residual / (1.5 * span * A * A * det);
        node.delay = static_cast<float>(delay);
        node.slope = static_cast<float>(std::clamp(C / A, -kReachFrames, kReachFrames));
        node.weight = static_cast<float>(std::min(1.0 / (scale * c11), 1e12));
        node.slopeVariance = static_cast<float>(std::max(scale * c22, 1e-12));
        node.covariance = static_cast<float>(scale * c12);
    }
}

// Measures the nodes of up to four blocks (block q holds nodes [q * kNodesPerBlock, ..)
// of count), their filters side by side.
void measureBlocks(KWavefile& master, KWavefile& slave, const TimeMap& map, FrameIndex hop, std::size_t count,
                   const std::size_t* block, int n, Node* nodes) {
    thread_local std::array<BlockSignals, kFilterLanes / 2> sig;
    float* chains[kFilterLanes];
    std::size_t len[kFilterLanes];
    const auto range = [&](int i) {
        const std::size_t k0 = block[i] * kNodesPerBlock;
        return std::pair{k0, std::min(count, k0 + kNodesPerBlock)};
    };
    for (int i = 0; i < n; ++i) {
        const auto [k0, k1] = range(i);
        BlockSignals& b = sig[static_cast<std::size_t>(i)];
        readBlock(master, slave, map, hop, k0, k1, b);
        // sw[1 + j] lines up with mw[j]; the slave's last frame is filtered too.
        chains[2 * i] = b.mw.data(), len[2 * i] = b.mw.size();
        chains[2 * i + 1] = b.sw.data() + 1, len[2 * i + 1] = b.sw.size() - 1;
    }
    FineHighPassLanes(FineHighPass(master.SampleRate), chains, len, 2 * n);
    for (int i = 0; i < n; ++i) {
        const auto [k0, k1] = range(i);
        fitBlock(master, map, hop, k0, k1, sig[static_cast<std::size_t>(i)], nodes + k0);
    }
}

}  // namespace

void AddFineTrack(KWavefile& master, KWavefile& slave, TimeMap& map) {
    if (map.empty() || master.FrameCount <= 0 || master.SampleRate == 0) return;
    const FrameIndex hop = std::max<FrameIndex>(1, std::llround(kHopSeconds * master.SampleRate));
    const auto count = static_cast<std::size_t>(master.FrameCount / hop + 1);
    std::vector<float> fine(count, 0.0f);
    std::vector<Node> nodes(count);
    std::array<double, 2 * 3 * kSmoothHops + 1> gauss{};
    for (int j = -3 * kSmoothHops; j <= 3 * kSmoothHops; ++j) {
        const double x = static_cast<double>(j) / kSmoothHops;
        gauss[static_cast<std::size_t>(j + 3 * kSmoothHops)] = std::exp(-0.5 * x * x);
    }
    const std::size_t blocks = (count + kNodesPerBlock - 1) / kNodesPerBlock;
    std::vector<char> measure(blocks, 1);  // the blocks a pass measures
    std::vector<char> smooth(blocks);      // and the blocks whose nodes it can move
    // Running sums about each node, for the map's error and the delay's slopes beyond
    // the windows' own noise: of the precision, precision * value^2 and the windows'
    // count, for the delays and the slopes.
    std::vector<std::array<double, 5>> run(count + 1);
    // A node moves only where a window within its reach was measured in the same pass:
    // the later passes, a block or two each, smooth only beside those blocks (on a
    // 2-hour pair eight passes over every node took 1.4 s on one core).
    constexpr std::size_t kReachBlocks =
        (static_cast<std::size_t>(std::max(kPriorHops, 3 * kSmoothHops)) + kNodesPerBlock - 1) / kNodesPerBlock;
    for (int pass = 0; pass < kMaxPasses && std::find(measure.begin(), measure.end(), 1) != measure.end(); ++pass) {
        ParallelFor(blocks, [&](std::size_t b, std::size_t e) {
            std::size_t group[kFilterLanes / 2];
            int n = 0;
            for (std::size_t k = b; k < e; ++k) {
                const std::size_t k0 = k * kNodesPerBlock, k1 = std::min(count, k0 + kNodesPerBlock);
                if (!measure[k]) {
                    std::fill(nodes.begin() + static_cast<std::ptrdiff_t>(k0), nodes.begin() + static_cast<std::ptrdiff_t>(k1), Node{});
                    continue;
                }
                group[n++] = k;
                if (n == kFilterLanes / 2) {
                    measureBlocks(master, slave, map, hop, count, group, n, nodes.data());
                    n = 0;
                }
            }
            if (n > 0) measureBlocks(master, slave, map, hop, count, group, n, nodes.data());
        });
        if (pass == 0 && !sameSound(nodes)) return;
        std::fill(smooth.begin(), smooth.end(), 0);
        for (std::size_t k = 0; k < blocks; ++k)
            if (measure[k])
                std::fill(smooth.begin() + static_cast<std::ptrdiff_t>(k > kReachBlocks ? k - kReachBlocks : 0),
                          smooth.begin() + static_cast<std::ptrdiff_t>(std::min(blocks, k + kReachBlocks + 1)), 1);
        std::fill(measure.begin(), measure.end(), 0);
        for (std::size_t k = 0; k < count; ++k) {
            const Node& node = nodes[k];
            const double w = node.weight, ws = w > 0.0 ? 1.0 / node.slopeVariance : 0.0;
            run[k + 1] = {run[k][0] + w, run[k][1] + w * node.delay * node.delay, run[k][2] + (w > 0.0 ? 1.0 : 0.0),
                          run[k][3] + ws, run[k][4] + ws * node.slope * node.slope};
        }
        const auto smoothNode = [&](std::size_t k) {
            const std::size_t lo = k > kPriorHops ? k - kPriorHops : 0, hi = std::min(count, k + kPriorHops + 1);
            // The mean square beyond the noise, less two standard errors (chi-square: the
            // count's variance is twice the count).
            const double windows = run[hi][2] - run[lo][2];
            const auto beyondNoise = [&](int weights, int squares) {
                const double w = run[hi][weights] - run[lo][weights];
                return w > 0.0 ? (run[hi][squares] - run[lo][squares] - windows - 2.0 * std::sqrt(2.0 * windows)) / w : 0.0;
            };
            const double excess = beyondNoise(0, 1);
            if (!(excess > 0.0)) return;
            // A clock's slopes within 30 ms are noise and shrink to nothing (the delay then
            // is the fit's without a slope); a tape's flutter keeps them.
            const double slopes = std::max(beyondNoise(3, 4), 0.0);
            double sum = 0.0, weight = 1.0 / excess;
            for (int j = -3 * kSmoothHops; j <= 3 * kSmoothHops; ++j) {
                const long long at = static_cast<long long>(k) + j;
                if (at < 0 || at >= static_cast<long long>(count)) continue;
                const Node& node = nodes[static_cast<std::size_t>(at)];
                if (!(node.weight > 0.0f)) continue;
                // Each window's line under that prior on its slope, read at node k.
                const double spread = slopes + node.slopeVariance;
                const double slope = node.slope * slopes / spread;
                const double delay = node.delay - node.covariance * node.slope / spread;
                const double variance = std::max(1.0 / node.weight - node.covariance * node.covariance / spread, 1e-12);
                const double g = gauss[static_cast<std::size_t>(j + 3 * kSmoothHops)] / variance;
                sum += g * (delay - slope * static_cast<double>(j) / kHalfHops);
                weight += g;
            }
            const double move = sum / weight;
            fine[k] += static_cast<float>(move);
            if (std::fabs(move) > kSecondPassFrames) measure[k / kNodesPerBlock] = 1;
        };
        // A block at a time, so that each block's flag is set by one thread.
        ParallelFor(blocks, [&](std::size_t b, std::size_t e) {
            for (std::size_t q = b; q < e; ++q)
                if (smooth[q])
                    for (std::size_t k = q * kNodesPerBlock; k < std::min(count, (q + 1) * kNodesPerBlock); ++k) smoothNode(k);
        });
        map.SetFine(0, hop, fine);
    }
}

namespace {

// The room track's windows: +-1 s holds enough of a far microphone's direct sound for the
// whitened correlation to place it to 0.03 frame (the evaluation kit's two rooms, read
// at the true positions), and a crystal clock's map curves by far less than a frame
// within it.
constexpr double kRoomHalfSeconds = 1.0;
constexpr double kRoomHopSeconds = 0.5;
// A whole-frame map in a room lies within a few frames of the direct sound (its points'
// errors on the kit's far microphone: median 0.3, 99.9 % within 10 frames at 44.1 kHz):
// the peak is looked for within +-0.36 ms (16 frames there).
constexpr double kRoomLagSeconds = 16.0 / 44100.0;
// Each pass reads the slave along the map the last one made, the first along the points'
// map smoothed by the windows: a window along a map that jitters measures its mean only
// roughly, one along a smooth map nearly exactly. The kit's far microphone after 2, 3
// and 4 passes: 41.9, 51.1 and 51.9 dB against the ideal slave (speech in rooms: 38.3,
// 39.4, 39.7); each pass costs about 0.1 CPU-second a minute of audio.
constexpr int kRoomPasses = 3;
// The whitened correlation's peak over its RMS across all lags: noise alone reaches
// about 4.5 over 2 s of lags.
constexpr double kRoomProminence = 8.0;
// A window's target may depart from the line through its neighbours' by this much in
// the early passes (a far microphone's windows, 0.2 frame apart at first) and by
// kRoomCurveFrames in the last: a rate that changes faster than about 1 frame/s^2
// (a speed control, a tape's wow: 50-250 frames/s^2) curves the map within a window, whose
// mean position then lies off the map's by 0.07 frame or more, and keeps its points' map.
constexpr double kRoomOutlierFrames = 1.0;
constexpr double kRoomCurveFrames = 0.25;
// The last pass keeps a window only where the slave reads about as alike to the master
// along its map as along the points' (its clarity at least 0.95 of theirs: equal maps
// differ by a few hundredths). A map smoothed across a tape's wow reads the slave tens of
// frames off, and the points' map is far the clearer.
constexpr double kRoomClearer = 0.95;
// The room track moves the map from the points' by at most two searches' reach (the
// kit's rooms: the worst point 24 frames off).
constexpr double kRoomReach = 2.0;
// Beside a break or a file's end the windows stop up to 1.5 s short: there the map goes
// on at the targets' rate for up to 2 s (not into the break's segment, which keeps its
// jump), and then returns to the points' over a hop.
constexpr double kRoomEndHops = 4.0;
// A gap of up to 1.5 s between runs at one rate is bridged (a quiet bar): a clock whose
// rate is the same on both sides to 0.25 frame a hop (11 ppm) does not bend within it.
constexpr long long kRoomBridgeWindows = 3;
// Windows measured from one read of both files: their 2 s spans overlap fourfold.
constexpr std::size_t kRoomChunk = 16;

struct RoomWindow {
    // Open: the window touches a break or its centre lies outside the slave, where the
    // map beside it goes on as the targets do; Rejected: no peak, or one off its
    // neighbours' line, where the map returns to the points'.
    enum class State { Measured, Open, Rejected } state = State::Measured;
    bool filled = false;  // a gap's window, given the curve across it
    double target = 0.0;  // the slave position of the window's centre
    double clarity = 0.0, baseClarity = 0.0;  // along the map, along the points' map
    bool usable() const { return state == State::Measured || filled; }
};

// What every window's measure shares: the transform and the window's weights.
struct RoomKit {
    FrameIndex half;
    int lags;      // the peak is looked for within +-lags
    double reach;  // frames the map may move
    RealFft fft;   // of an even size, padded past the lags
    std::vector<double> hann;  // 2 half + 1 weights, positive over the whole span
    RoomKit(FrameIndex h, std::uint32_t rate)
        : half(h),
          lags(static_cast<int>(std::ceil(kRoomLagSeconds * rate))),
          reach(kRoomReach * lags),
          fft(2 * FastFftSize(static_cast<std::size_t>(h + lags + 16))) {
        hann.resize(static_cast<std::size_t>(2 * h + 1));
        for (std::size_t i = 0; i < hann.size(); ++i)
            hann[i] = 0.5 * (1.0 + std::cos(std::numbers::pi * (static_cast<double>(i) - static_cast<double>(h)) /
                                            static_cast<double>(h + 1)));
    }
};

// The whitened cross-spectrum conj(A) B / |conj(A) B| of two transforms (interleaved
// re, im), into xr, xi and interleaved into out; bins below 1e-9 of the largest
// product's magnitude are divided by that instead. False where every bin is zero.
TANDEM_CLONES("avx512f", "avx2")
bool whitenedSpectrum(const float* A, const float* B, std::size_t bins, double* xr, double* xi, float* out) {
    constexpr std::size_t kLanes = 8;
    double most[kLanes] = {};
    for (std::size_t k = 0; k < bins; ++k) {
        const double ar = A[2 * k], ai = A[2 * k + 1], br = B[2 * k], bi = B[2 * k + 1];
        xr[k] = ar * br + ai * bi;
        xi[k] = ar * bi - ai * br;
    }
    std::size_t k = 0;
    for (; k + kLanes <= bins; k += kLanes)
        for (std::size_t j = 0; j < kLanes; ++j) most[j] = std::max(most[j], xr[k + j] * xr[k + j] + xi[k + j] * xi[k + j]);
    for (; k < bins; ++k) most[0] = std::max(most[0], xr[k] * xr[k] + xi[k] * xi[k]);
    double largest = 0.0;
    for (const double m : most) largest = std::max(largest, m);
    if (!(largest > 0.0)) return false;
    const double floor = 1e-18 * largest;
    for (k = 0; k < bins; ++k) {
        const double scale = 1.0 / std::sqrt(std::max(xr[k] * xr[k] + xi[k] * xi[k], floor));
        xr[k] *= scale;
        xi[k] *= scale;
        out[2 * k] = static_cast<float>(xr[k]);
        out[2 * k + 1] = static_cast<float>(xi[k]);
    }
    return true;
}

// The slope c'(t) and curvature c''(t) of c(t) = sum over bins of g Re(X e^(i w t))
// (w = w0 k; g = 2, 1 at either end), from X = xr + i xi. The rotation e^(i w t) is
// stepped a block of kLanes bins at a time, so that the bins within a block are
// independent.
TANDEM_CLONES("avx512f", "avx2")
void slopeAndCurve(const double* xr, const double* xi, std::size_t bins, std::size_t n, double w0, double t, double& c1,
                   double& c2) {
    constexpr std::size_t kLanes = 64;
    double rr[kLanes], ri[kLanes], s1[kLanes] = {}, s2[kLanes] = {}, w[kLanes];
    for (std::size_t j = 0; j < kLanes; ++j) {
        rr[j] = std::cos(w0 * t * static_cast<double>(j));
        ri[j] = std::sin(w0 * t * static_cast<double>(j));
    }
    const double sr = std::cos(w0 * t * kLanes), si = std::sin(w0 * t * kLanes);
    double br = 1.0, bi = 0.0;
    for (std::size_t k0 = 0; k0 < bins; k0 += kLanes) {
        const std::size_t m = std::min(kLanes, bins - k0);
        for (std::size_t j = 0; j < m; ++j) w[j] = w0 * static_cast<double>(k0 + j);
        for (std::size_t j = 0; j < m; ++j) {
            const double er = br * rr[j] - bi * ri[j], ei = br * ri[j] + bi * rr[j];
            const double vr = xr[k0 + j] * er - xi[k0 + j] * ei, vi = xr[k0 + j] * ei + xi[k0 + j] * er;
            s1[j] -= w[j] * vi;
            s2[j] -= w[j] * w[j] * vr;
        }
        const double nr = br * sr - bi * si;
        bi = br * si + bi * sr;
        br = nr;
    }
    // The ends' bins count once, the others twice (the spectrum's other half).
    const auto end = [&](std::size_t k, double share) {
        const double e = w0 * static_cast<double>(k) * t, wk = w0 * static_cast<double>(k);
        const double vr = xr[k] * std::cos(e) - xi[k] * std::sin(e), vi = xr[k] * std::sin(e) + xi[k] * std::cos(e);
        c1 += share * wk * vi;
        c2 += share * wk * wk * vr;
    };
    c1 = 0.0, c2 = 0.0;
    for (std::size_t j = 0; j < kLanes; ++j) c1 += s1[j], c2 += s2[j];
    c1 *= 2.0, c2 *= 2.0;
    end(0, 1.0);
    if (2 * (bins - 1) == n) end(bins - 1, 1.0);
}

// The slave's direct sound in one window (m: the master's channel mean, s: the slave's
// read at pos, 2 half + 1 frames each): the whitened cross-spectrum's peak (GCC-PHAT),
// refined between lags by Newton's method on the band-limited correlation, as the slave
// position of the window's centre. The Hann window makes the weighted mean of the
// positions the position at the centre wherever the map is straight. False where the
// window has no clear peak. clarity: the peak over the correlation's RMS across all lags,
// higher the more alike the two read.
bool roomTarget(const float* m, const float* s, const double* pos, const RoomKit& kit, double& target, double& clarity) {
    const std::size_t L = kit.hann.size(), n = kit.fft.Size(), bins = kit.fft.Bins();
    thread_local std::vector<double> xr, xi;
    thread_local std::size_t size = 0;
    thread_local FftReals a, b;
    thread_local FftBins A, B;
    if (size != n) {
        a = AllocReals(n), b = AllocReals(n), A = AllocBins(bins), B = AllocBins(bins);
        size = n;
    }
    xr.resize(bins), xi.resize(bins);
    double sw = 0.0, swp = 0.0;
    for (std::size_t i = 0; i < L; ++i) {
        const double w = kit.hann[i];
        a[i] = static_cast<float>(w * m[i]);
        b[i] = static_cast<float>(w * s[i]);
        sw += w;
        swp += w * pos[i];
    }
    std::fill(a.get() + L, a.get() + n, 0.0f);
    std::fill(b.get() + L, b.get() + n, 0.0f);
    kit.fft.Forward(a.get(), A.get());
    kit.fft.Forward(b.get(), B.get());
    if (!whitenedSpectrum(reinterpret_cast<const float*>(A.get()), reinterpret_cast<const float*>(B.get()), bins, xr.data(),
                          xi.data(), reinterpret_cast<float*>(A.get())))
        return false;
    kit.fft.Inverse(A.get(), a.get());  // c(t) = sum over m of master(m) slave(m + t)
    double power = 0.0, best = 0.0;
    int at = 0;
    for (std::size_t i = 0; i < n; ++i) power += static_cast<double>(a[i]) * a[i];
    const auto lag = [&](int t) { return static_cast<double>(a[static_cast<std::size_t>((t + static_cast<long long>(n)) % static_cast<long long>(n))]); };
    for (int t = -kit.lags; t <= kit.lags; ++t)
        if (std::fabs(lag(t)) > std::fabs(best)) best = lag(t), at = t;
    clarity = power > 0.0 ? std::fabs(best) / std::sqrt(power / static_cast<double>(n)) : 0.0;
    if (!(clarity >= kRoomProminence) || std::abs(at) >= kit.lags) return false;
    // From the parabola through the three lags about the peak, Newton's method on c'(t),
    // with c'(t) and c''(t) from the spectrum (an inverted slave peaks downwards).
    const double sign = best < 0.0 ? -1.0 : 1.0;
    const double before = sign * lag(at - 1), peak = sign * best, after = sign * lag(at + 1);
    const double curve = before - 2.0 * peak + after;
    double t = at + (curve < 0.0 ? std::clamp(0.5 * (before - after) / curve, -0.5, 0.5) : 0.0);
    const double w0 = 2.0 * std::numbers::pi / static_cast<double>(n);
    for (int step = 0; step < 4; ++step) {
        double c1 = 0.0, c2 = 0.0;
        slopeAndCurve(xr.data(), xi.data(), bins, n, w0, t, c1, c2);
        c1 *= sign, c2 *= sign;
        if (!(c2 < 0.0)) return false;
        const double move = std::clamp(-c1 / c2, -0.5, 0.5);
        t += move;
        if (std::fabs(move) < 1e-4) break;
    }
    if (!(std::fabs(t - at) <= 1.0)) return false;
    const double rate = (pos[L - 1] - pos[0]) / static_cast<double>(L - 1);
    target = swp / sw + rate * t;
    return true;
}

// Measures windows [j0, j1) (window j centred on master frame j * hop) along the map,
// reading their span of both files once; along the points' map (onBase) only their
// clarity.
void measureRoomWindows(KWavefile& master, KWavefile& slave, const TimeMap& map, const TimeMap& base, const RoomKit& kit,
                        FrameIndex hop, std::size_t j0, std::size_t j1, bool onBase, RoomWindow* windows) {
    const FrameIndex half = kit.half, first = static_cast<FrameIndex>(j0) * hop - half;
    const auto n = static_cast<std::size_t>(static_cast<FrameIndex>(j1 - 1 - j0) * hop + 2 * half + 1);
    thread_local std::vector<double> pos;
    thread_local std::vector<float> m, s;
    pos.resize(n), m.resize(n), s.resize(n);
    const double fastest = map.Positions(first, n, pos.data());
    readMasterMono(master, first, n, m.data());
    // Near either file's end the windows read silence beyond it.
    ReadMonoAtPositions(slave, pos.data(), n, fastest, s.data());
    for (std::size_t j = j0; j < j1; ++j) {
        RoomWindow& w = windows[j - j0];
        if (w.state != RoomWindow::State::Measured) continue;
        const auto at = static_cast<std::size_t>(static_cast<FrameIndex>(j - j0) * hop);
        const double centre = pos[at + static_cast<std::size_t>(half)];
        double target = 0.0;
        if (!(centre >= 0.0 && centre < static_cast<double>(slave.FrameCount))) {
            w.state = RoomWindow::State::Open;
        } else if (onBase) {
            roomTarget(m.data() + at, s.data() + at, pos.data() + at, kit, target, w.baseClarity);
        } else if (!roomTarget(m.data() + at, s.data() + at, pos.data() + at, kit, target, w.clarity) ||
                   std::fabs(target - base.At(static_cast<double>(static_cast<FrameIndex>(j) * hop))) > kit.reach) {
            w.state = RoomWindow::State::Rejected;
        } else {
            w.target = target;
        }
    }
}

// Whether any master frame in [from, to] lies in a segment the map reads as a break.
bool touchesBreak(const TimeMap& map, FrameIndex from, FrameIndex to, FrameIndex step) {
    for (FrameIndex m = from; m < to + step; m += step)
        if (map.BreakAt(static_cast<double>(std::min(m, to)))) return true;
    return false;
}

// Rejects the measured targets that leave the line through their neighbours' by more
// than limit (noise, a curve within the window, a reflection's peak), the worst of each
// three first, so that one wrong target does not take its neighbours with it, and those
// left alone.
void rejectOffLine(std::vector<RoomWindow>& windows, double limit) {
    const std::size_t count = windows.size();
    const auto measured = [&](std::size_t j) { return windows[j].state == RoomWindow::State::Measured; };
    std::vector<double> departs(count);
    for (bool removed = true; removed;) {
        removed = false;
        for (std::size_t j = 0; j < count; ++j) {
            departs[j] = 0.0;
            if (j == 0 || j + 1 == count || !measured(j - 1) || !measured(j) || !measured(j + 1)) continue;
            departs[j] = std::fabs(windows[j].target - 0.5 * (windows[j - 1].target + windows[j + 1].target));
        }
        for (std::size_t j = 0; j < count; ++j)
            if (departs[j] > limit && (j == 0 || departs[j] >= departs[j - 1]) && (j + 1 == count || departs[j] >= departs[j + 1])) {
                windows[j].state = RoomWindow::State::Rejected;
                removed = true;
            }
    }
    // A window alone between rejected ones has no line to be checked against.
    for (std::size_t j = 0; j < count; ++j)
        if (measured(j) && (j == 0 || !measured(j - 1)) && (j + 1 == count || !measured(j + 1)))
            windows[j].state = RoomWindow::State::Rejected;
}

// The cubic Hermite from p0 (tangent m0) at u = 0 to p1 (tangent m1) at u = 1.
double hermite(double p0, double m0, double p1, double m1, double u) {
    const double u2 = u * u, u3 = u2 * u;
    return (2 * u3 - 3 * u2 + 1) * p0 + (u3 - 2 * u2 + u) * m0 + (-2 * u3 + 3 * u2) * p1 + (u3 - u2) * m1;
}

// Bridges a gap of up to kRoomBridgeWindows windows between runs that go on at one rate
// (a quiet bar, a reflection's peak); across a rate that changed the points' map stays.
void bridgeGaps(std::vector<RoomWindow>& windows, double limit) {
    const auto count = static_cast<long long>(windows.size());
    const auto measured = [&](long long i) {
        return i >= 0 && i < count && windows[static_cast<std::size_t>(i)].state == RoomWindow::State::Measured;
    };
    const auto at = [&](long long i) { return windows[static_cast<std::size_t>(i)].target; };
    for (RoomWindow& w : windows) w.filled = false;
    for (long long a = 1; a + 2 < count; ++a) {
        if (!measured(a - 1) || !measured(a) || measured(a + 1)) continue;
        long long b = a + 1;
        while (b < count && !measured(b) && b - a <= kRoomBridgeWindows) ++b;
        if (b - a > kRoomBridgeWindows + 1 || !measured(b) || !measured(b + 1)) continue;
        const double before = at(a) - at(a - 1), after = at(b + 1) - at(b), span = static_cast<double>(b - a);
        if (std::fabs(before - after) > limit) continue;
        for (long long g = a + 1; g < b; ++g) {
            RoomWindow& w = windows[static_cast<std::size_t>(g)];
            w.target = hermite(at(a), before * span, at(b), after * span, static_cast<double>(g - a) / span);
            w.filled = true;
        }
    }
}

// The fine offsets (every fineHop master frames) that take the map through the targets:
// a cubic (Catmull-Rom) within each run of windows; beside a run, straight on at its
// end's rate, for kRoomEndHops where the run ends at an open window (a break, a file's
// end: up to the break segment, which keeps its jump) and then back to the points' map
// over a hop, or back over a hop at once where it ends at a rejected one.
std::vector<float> roomOffsets(const std::vector<RoomWindow>& windows, const TimeMap& base, FrameIndex hop,
                               FrameIndex fineHop, std::size_t fine, double reach) {
    std::vector<float> offsets(fine, 0.0f);
    std::vector<bool> set(fine, false);
    const auto count = static_cast<long long>(windows.size());
    const auto usable = [&](long long i) { return i >= 0 && i < count && windows[static_cast<std::size_t>(i)].usable(); };
    // Whether past rejected and lone windows the run's side meets a break or a file's end,
    // not another run.
    const auto open = [&](long long i, long long side) {
        for (; i >= 0 && i < count; i += side) {
            if (windows[static_cast<std::size_t>(i)].state == RoomWindow::State::Open) return true;
            if (usable(i) && (usable(i - 1) || usable(i + 1))) return false;
        }
        return true;
    };
    const auto q = [&](long long i) { return windows[static_cast<std::size_t>(i)].target; };
    const auto c = [&](long long i) { return static_cast<double>(i) * static_cast<double>(hop); };
    const auto put = [&](long long k, double m, double y, double weight) {
        offsets[static_cast<std::size_t>(k)] = static_cast<float>(std::clamp(weight * (y - base.At(m)), -reach, reach));
        set[static_cast<std::size_t>(k)] = true;
    };
    const double perHop = static_cast<double>(hop) / static_cast<double>(fineHop);
    for (long long r0 = 0; r0 < count;) {
        if (!usable(r0)) {
            ++r0;
            continue;
        }
        long long r1 = r0;
        while (usable(r1 + 1)) ++r1;
        for (long long k = static_cast<long long>(std::ceil(c(r0) / static_cast<double>(fineHop)));
             r1 > r0 && k < static_cast<long long>(fine) && static_cast<double>(k * fineHop) <= c(r1); ++k) {
            const double m = static_cast<double>(k * fineHop);
            const long long j = std::min(static_cast<long long>(m / static_cast<double>(hop)), r1 - 1);
            const double u = m / static_cast<double>(hop) - static_cast<double>(j);
            const double t0 = j > r0 ? 0.5 * (q(j + 1) - q(j - 1)) : q(j + 1) - q(j);
            const double t1 = j + 1 < r1 ? 0.5 * (q(j + 2) - q(j)) : q(j + 1) - q(j);
            put(k, m, hermite(q(j), t0, q(j + 1), t1, u), 1.0);
        }
        for (const long long side : {-1LL, 1LL}) {
            if (r1 == r0) break;
            const long long e = side < 0 ? r0 : r1, f = e - side;
            const double hops = open(e + side, side) ? kRoomEndHops : 0.0;
            const auto from = static_cast<long long>(std::llround(c(e) / static_cast<double>(fineHop)));
            for (long long step = 1; step <= static_cast<long long>(std::ceil((hops + 1.0) * perHop)); ++step) {
                const long long k = from + side * step;
                if (k < 0 || k >= static_cast<long long>(fine)) break;
                const double m = static_cast<double>(k * fineHop);
                if (base.BreakAt(m)) break;
                if (set[static_cast<std::size_t>(k)]) continue;
                const double beyond = std::fabs(m - c(e)) / static_cast<double>(hop);
                put(k, m, q(e) + (q(e) - q(f)) * (m - c(e)) / (c(e) - c(f)), std::clamp(hops + 1.0 - beyond, 0.0, 1.0));
            }
        }
        r0 = r1 + 1;
    }
    return offsets;
}

}  // namespace

void AddRoomTrack(KWavefile& master, KWavefile& slave, TimeMap& map) {
    if (map.empty() || master.SampleRate == 0) return;
    const FrameIndex half = std::llround(kRoomHalfSeconds * master.SampleRate);
    const FrameIndex hop = std::llround(kRoomHopSeconds * master.SampleRate);
    const FrameIndex fineHop = std::max<FrameIndex>(1, std::llround(kHopSeconds * master.SampleRate));
    if (master.FrameCount <= 2 * half) return;
    const auto count = static_cast<std::size_t>((master.FrameCount - 1) / hop + 1);
    const auto centre = [&](std::size_t j) { return static_cast<FrameIndex>(j) * hop; };
    TimeMap base = map;
    base.SetFine(0, fineHop, {});
    std::vector<RoomWindow> windows(count);
    for (std::size_t j = 0; j < count; ++j)
        if (touchesBreak(base, centre(j) - half, centre(j) + half, fineHop)) windows[j].state = RoomWindow::State::Open;
    const RoomKit kit(half, master.SampleRate);
    const auto fine = static_cast<std::size_t>(master.FrameCount / fineHop + 1);
    const std::size_t chunks = (count + kRoomChunk - 1) / kRoomChunk;
    const auto measure = [&](bool onBase) {
        ParallelFor(chunks, [&](std::size_t b, std::size_t e) {
            for (std::size_t k = b; k < e; ++k) {
                const std::size_t j0 = k * kRoomChunk, j1 = std::min(count, j0 + kRoomChunk);
                measureRoomWindows(master, slave, map, base, kit, hop, j0, j1, onBase, windows.data() + j0);
            }
        });
    };
    measure(true);
    // The first pass reads along the points' map smoothed by the windows themselves: a
    // map that jitters by a frame from point to point smears the high frequencies' peak,
    // and each pass would take off only part of it. (Where the map truly curves within
    // the windows, a tape's wow, the last pass finds the points' map the clearer.)
    for (std::size_t j = 0; j < count; ++j) {
        double sw = 0.0, swp = 0.0;
        for (FrameIndex d = -half; d <= half; d += fineHop) {
            const double w = kit.hann[static_cast<std::size_t>(d + half)];
            sw += w;
            swp += w * base.At(static_cast<double>(centre(j) + d));
        }
        windows[j].target = swp / sw;
    }
    map.SetFine(0, fineHop, roomOffsets(windows, base, hop, fineHop, fine, kit.reach));
    for (int pass = 0; pass < kRoomPasses; ++pass) {
        measure(false);
        // The last pass keeps only the windows its map reads about as alike as the points'.
        if (pass + 1 == kRoomPasses)
            for (RoomWindow& w : windows)
                if (w.state == RoomWindow::State::Measured && w.clarity < kRoomClearer * w.baseClarity)
                    w.state = RoomWindow::State::Rejected;
        const double limit = pass + 1 == kRoomPasses ? kRoomCurveFrames : kRoomOutlierFrames;
        rejectOffLine(windows, limit);
        bridgeGaps(windows, limit);
        map.SetFine(0, fineHop, roomOffsets(windows, base, hop, fineHop, fine, kit.reach));
    }
}

}  // namespace tandem
