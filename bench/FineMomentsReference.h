// The fine track's sums over sub-blocks as one plain loop a sub-block, and its high-pass
// one signal at a time, for checking the lane-wise versions of sync/FineTrack against.
#pragma once

#include <cstddef>
#include <vector>

#include "sync/FineTrack.h"

namespace tandem::reference {

inline std::vector<FineMoments> FineMomentsPlain(const float* m, const float* s, std::size_t H, std::size_t blocks) {
    std::vector<FineMoments> out(blocks);
    for (std::size_t q = 0; q < blocks; ++q) {
        double ll = 0, lr = 0, ld = 0, rr = 0, rd = 0, dd = 0;
        double ll1 = 0, lr1 = 0, ld1 = 0, rr1 = 0, rd1 = 0, dd1 = 0;
        double ld2 = 0, rd2 = 0, dd2 = 0, dd3 = 0;
        const float* ml = m + q * H;
        const float* sl = s + q * H;
        for (std::size_t u = 0; u < H; ++u) {
            const double l = ml[u], r = sl[u + 1];
            const double d = 0.5 * (static_cast<double>(sl[u + 2]) - sl[u]);
            const double w = static_cast<double>(u), w2 = w * w;
            const double pll = l * l, plr = l * r, pld = l * d, prr = r * r, prd = r * d, pdd = d * d;
            ll += pll, lr += plr, ld += pld, rr += prr, rd += prd, dd += pdd;
            ll1 += w * pll, lr1 += w * plr, ld1 += w * pld, rr1 += w * prr, rd1 += w * prd, dd1 += w * pdd;
            ld2 += w2 * pld, rd2 += w2 * prd, dd2 += w2 * pdd, dd3 += w2 * w * pdd;
        }
        out[q] = {{{ll, ll1}, {lr, lr1}, {ld, ld1}, {rr, rr1}, {rd, rd1}, {dd, dd1}}, ld2, rd2, dd2, dd3};
    }
    return out;
}

// The fine track's high-pass, one signal at a time.
inline void FineHighPassPlain(const FineHighPass& f, float* p, std::size_t n) {
    double x1 = 0.0, x2 = 0.0, y1 = 0.0, y2 = 0.0;
    for (std::size_t i = 0; i < n; ++i) {
        const double v = p[i], y = f.b0 * v + f.b1 * x1 + f.b2 * x2 - f.a1 * y1 - f.a2 * y2;
        x2 = x1, x1 = v, y2 = y1, y1 = y;
        p[i] = static_cast<float>(y);
    }
}

}  // namespace tandem::reference
