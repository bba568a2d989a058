#include "sync/FineTrack.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <vector>

#include "core/Parallel.h"
#include "dsp/TimeMap.h"
#include "sync/TrackSignal.h"
#include "wave/BandLimitedRead.h"
#include "wave/KWavefile.h"

namespace tandem {
namespace {

// A hop of 5 ms follows 10 Hz flutter with 20 windows a period; a window of +-15 ms
// (triangular) holds enough music to place the slave to a few hundredths of a frame,
// and the 3 Hz flutter moves the slave by at most 0.8 frame within it, which the
// second pass takes up.
constexpr double kHopSeconds = 0.005;
constexpr int kHalfHops = 3;
// The delays are smoothed with a Gaussian of 10 ms: less follows the windows' noise,
// more flattens the 10 Hz flutter.
constexpr int kSmoothHops = 2;
constexpr int kPasses = 2;
// The second pass runs where the first moved the map by more than a tenth of a frame
// within a block: below that the fit's linearisation leaves under 1 % of the move (at
// 5 kHz a tenth of a frame is 0.07 rad).
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

enum { LL, LR, LD, RR, RD, DD, kProducts };

struct Node {
    float delay = 0.0f;
    float weight = 0.0f;
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

// The delays of nodes [k0, k1) (node k at master frame k * hop) along the map.
void measureNodes(KWavefile& master, KWavefile& slave, const TimeMap& map, FrameIndex hop, std::size_t k0,
                  std::size_t k1, Node* nodes) {
    const auto H = static_cast<std::size_t>(hop);
    const std::size_t blocks = k1 - k0 + 2 * kHalfHops;  // sub-blocks of one hop each
    const std::size_t n = blocks * H;
    const FrameIndex first = static_cast<FrameIndex>(k0) * hop - kHalfHops * hop;

    // The master's and the slave's channel means; the slave one frame beyond either end
    // for its derivative.
    thread_local std::vector<float> m, s;
    thread_local std::vector<WideFrame> wide;
    thread_local std::vector<double> pos;
    m.assign(n, 0.0f);
    s.resize(n + 2);
    pos.resize(n + 2);
    const FrameIndex a = std::max<FrameIndex>(first, 0);
    const FrameIndex b = std::min<FrameIndex>(first + static_cast<FrameIndex>(n), master.FrameCount);
    if (b > a) {
        float* to = m.data() + (a - first);
        if (const Frame* frames = master.FramesInPlace(a, b)) {
            for (FrameIndex i = 0; i < b - a; ++i) to[i] = 0.5f * (static_cast<float>(frames[i].left) + frames[i].right);
        } else {
            wide.resize(static_cast<std::size_t>(b - a));
            const FrameIndex got = master.ReadWideFrames(wide.data(), a, b);
            for (FrameIndex i = 0; i < got; ++i) to[i] = 0.5f * (wide[static_cast<std::size_t>(i)].left + wide[static_cast<std::size_t>(i)].right);
        }
    }
    const double fastest = map.Positions(first - 1, n + 2, pos.data());
    ReadMonoAtPositions(slave, pos.data(), n + 2, fastest, s.data());

    // Each sub-block's sums of the products and of the products times the frame's place
    // in it: a triangular window is linear within a sub-block.
    std::vector<std::array<double, 2 * kProducts>> moments(blocks);
    for (std::size_t q = 0; q < blocks; ++q) {
        double ll = 0, lr = 0, ld = 0, rr = 0, rd = 0, dd = 0;
        double ll1 = 0, lr1 = 0, ld1 = 0, rr1 = 0, rd1 = 0, dd1 = 0;
        const float* ml = m.data() + q * H;
        const float* sl = s.data() + q * H;
        for (std::size_t u = 0; u < H; ++u) {
            const double l = ml[u], r = sl[u + 1];
            const double d = 0.5 * (static_cast<double>(sl[u + 2]) - sl[u]);
            const double w = static_cast<double>(u);
            const double pll = l * l, plr = l * r, pld = l * d, prr = r * r, prd = r * d, pdd = d * d;
            ll += pll, lr += plr, ld += pld, rr += prr, rd += prd, dd += pdd;
            ll1 += w * pll, lr1 += w * plr, ld1 += w * pld, rr1 += w * prr, rd1 += w * prd, dd1 += w * pdd;
        }
        moments[q] = {ll, lr, ld, rr, rd, dd, ll1, lr1, ld1, rr1, rd1, dd1};
    }

    const double span = static_cast<double>(kHalfHops) * static_cast<double>(H);
    for (std::size_t k = k0; k < k1; ++k) {
        Node& node = nodes[k - k0];
        node = Node{};
        const double centre = static_cast<double>(k) * static_cast<double>(hop);
        if (map.BreakAt(centre - span) || map.BreakAt(centre) || map.BreakAt(centre + span)) continue;
        const std::size_t qk = k - k0 + kHalfHops;
        double S[kProducts] = {};
        for (int j = -kHalfHops; j < kHalfHops; ++j) {
            const auto& mo = moments[static_cast<std::size_t>(static_cast<long long>(qk) + j)];
            // Weight of a frame u into sub-block qk + j: span + j * H + u before the centre,
            // span - j * H - u from it on.
            const double base = j < 0 ? span + j * static_cast<double>(H) : span - j * static_cast<double>(H);
            const double slope = j < 0 ? 1.0 : -1.0;
            for (int c = 0; c < kProducts; ++c)
                S[c] += base * mo[static_cast<std::size_t>(c)] + slope * mo[static_cast<std::size_t>(kProducts + c)];
        }
        if (!(S[LL] > 0.0 && S[RR] > 0.0 && S[DD] > 0.0)) continue;
        const double det = S[RR] * S[DD] - S[RD] * S[RD];
        if (!(det > 1e-9 * S[RR] * S[DD])) continue;
        const double A = (S[LR] * S[DD] - S[LD] * S[RD]) / det;
        const double B = (S[RR] * S[LD] - S[RD] * S[LR]) / det;
        const double explained = (A * S[LR] + B * S[LD]) / S[LL];
        node.energy = static_cast<float>(S[LL]);
        node.explained = static_cast<float>(std::clamp(explained, 0.0, 1.0));
        if (!(explained >= kMinExplained) || A == 0.0) continue;
        const double delay = B / A;
        if (!(std::fabs(delay) <= kReachFrames)) continue;
        // The delay's precision (frames^-2): the residual's variance a frame is residual /
        // span^2 (the triangle's weights sum to span^2, their squares to 2 span^3 / 3).
        const double residual = std::max(S[LL] - A * S[LR] - B * S[LD], 1e-9 * S[LL]);
        node.delay = static_cast<float>(delay);
        node.weight = static_cast<float>(std::min(1.5 * A * A * S[DD] * span / residual, 1e12));
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
    for (int pass = 0; pass < kPasses; ++pass) {
        ParallelFor(blocks, [&](std::size_t b, std::size_t e) {
            for (std::size_t k = b; k < e; ++k) {
                const std::size_t k0 = k * kNodesPerBlock, k1 = std::min(count, k0 + kNodesPerBlock);
                if (measure[k])
                    measureNodes(master, slave, map, hop, k0, k1, nodes.data() + k0);
                else
                    std::fill(nodes.begin() + static_cast<std::ptrdiff_t>(k0), nodes.begin() + static_cast<std::ptrdiff_t>(k1), Node{});
            }
        });
        std::fill(measure.begin(), measure.end(), 0);
        if (pass == 0 && !sameSound(nodes)) return;
        // Running sums for the map's error about each node: of w, w * delay^2 and the
        // windows' count.
        std::vector<std::array<double, 3>> run(count + 1);
        for (std::size_t k = 0; k < count; ++k) {
            const Node& node = nodes[k];
            const double w = node.weight;
            run[k + 1] = {run[k][0] + w, run[k][1] + w * node.delay * node.delay, run[k][2] + (w > 0.0 ? 1.0 : 0.0)};
        }
        for (std::size_t k = 0; k < count; ++k) {
            const std::size_t lo = k > kPriorHops ? k - kPriorHops : 0, hi = std::min(count, k + kPriorHops + 1);
            const double w = run[hi][0] - run[lo][0];
            // Less two standard errors (chi-square: the count's variance is twice the count).
            const double windows = run[hi][2] - run[lo][2];
            const double excess = w > 0.0 ? (run[hi][1] - run[lo][1] - windows - 2.0 * std::sqrt(2.0 * windows)) / w : 0.0;
            if (!(excess > 0.0)) continue;
            double sum = 0.0, weight = 1.0 / excess;
            for (int j = -3 * kSmoothHops; j <= 3 * kSmoothHops; ++j) {
                const long long at = static_cast<long long>(k) + j;
                if (at < 0 || at >= static_cast<long long>(count)) continue;
                const Node& node = nodes[static_cast<std::size_t>(at)];
                const double g = gauss[static_cast<std::size_t>(j + 3 * kSmoothHops)] * node.weight;
                sum += g * node.delay;
                weight += g;
            }
            const double move = sum / weight;
            fine[k] += static_cast<float>(move);
            if (std::fabs(move) > kSecondPassFrames) measure[k / kNodesPerBlock] = 1;
        }
        map.SetFine(0, hop, fine);
    }
}

}  // namespace tandem
