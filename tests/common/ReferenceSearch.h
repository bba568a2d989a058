// The segment search written plainly, straight from the algorithm: one stretched copy
// per candidate length, one left-to-right dot product per offset, the scale applied to
// every product. The yardstick for the optimised search (tests and benchmarks).
#pragma once

#include <algorithm>
#include <cmath>
#include <vector>

#include "sync/PatternSearch.h"
#include "wave/KWavefile.h"

namespace tandem::test {

inline double ReferencePatternScore(const double* a, const double* b, FrameIndex n) {
    double sum = 0.0;
    for (FrameIndex i = 0; i < n; ++i) sum += a[i] * b[i] * (1.0 / (32767.0 * 32767.0));
    return sum;
}

inline void ReferenceSearchSegment(const SegmentSearch& q, KWavefile& slave, const std::vector<Frame>& master,
                                   SearchResult& r) {
    const int RS = std::max(q.rangeS, 0);
    const int RE = std::max(q.rangeE, 1);
    int count = 2 * RE + 1;
    int direction = 0;
    std::vector<double> T(static_cast<std::size_t>(2 * RE + 1));
    for (int k = 0; k < 2 * RE + 1; ++k) T[static_cast<std::size_t>(k)] = k % 4 == 0 ? -1.0 : -2.0;
    T[1] = -2.0;
    T[static_cast<std::size_t>(2 * RE)] = -1.0;

    // Generous window: everything the extension could reach in these small cases.
    const FrameIndex winBegin = q.N - RS;
    const FrameIndex winEnd = q.P + RS + 4 * RE + 4410;
    WaveImage image;
    slave.MakeWaveImage(winBegin, winEnd, image);
    std::vector<double> s(image.frames.size());
    for (std::size_t i = 0; i < s.size(); ++i) s[i] = (image.frames[i].left + image.frames[i].right) / 32767.0;

    const FrameIndex n = static_cast<FrameIndex>(master.size());
    for (int j = 1; j <= count; ++j) {
        int G = j / 2;
        if (j % 2 == 1) G = -G;
        if (direction == 0 && T[static_cast<std::size_t>(RE + G)] != -1.0) continue;
        if (direction == 0 && G == -RE && T[1] == -2.0) {
            const double M = static_cast<double>(0.9f) * std::max(r.best, -r.worst);
            for (int i = 1; i <= 2 * RE - 1; ++i)
                if (T[static_cast<std::size_t>(i)] > M)
                    for (int k = i - 4; k <= i + 3; ++k)
                        if (k >= 1 && k < 2 * RE && T[static_cast<std::size_t>(k)] == -2.0) T[static_cast<std::size_t>(k)] = -1.0;
            for (int k = 1; k <= 2 * RE - 1; ++k)
                if (T[static_cast<std::size_t>(k)] == -2.0) T[static_cast<std::size_t>(k)] = 0.0;
            j = 0;
            continue;
        }
        if (direction == 1 && G < 0) continue;
        if (direction == -1 && G > 0) continue;

        const FrameIndex L = (q.P - q.N) + G;
        std::vector<double> m(static_cast<std::size_t>(std::max<FrameIndex>(L, 0)));
        for (FrameIndex i = 0; i < L; ++i) {
            const double pos = static_cast<double>(i) * static_cast<double>(n) / static_cast<double>(L);
            const FrameIndex idx = static_cast<FrameIndex>(pos);
            const double f = pos - static_cast<double>(idx);
            const Frame a = master[static_cast<std::size_t>(idx)];
            const Frame b = idx >= n - 1 ? a : master[static_cast<std::size_t>(idx + 1)];
            const int lv = static_cast<int>((1.0 - f) * a.left + f * b.left);
            const int rv = static_cast<int>((1.0 - f) * a.right + f * b.right);
            m[static_cast<std::size_t>(i)] = (lv + rv) / 32767.0;
        }
        std::vector<char> visited(static_cast<std::size_t>(2 * RS + 1), 0);
        int lo = -RS, hi = RS, step = RS != 0 ? 8 : 1, argmax = 0;
        double maxAbs = 0.0;
        for (int O = lo; O <= hi;) {
            if (!visited[static_cast<std::size_t>(O + RS)] && L > 0) {
                visited[static_cast<std::size_t>(O + RS)] = 1;
                const double v = ReferencePatternScore(s.data() + (q.N + O - winBegin), m.data(), L);
                if (v > r.best) {
                    r.best = v;
                    r.bestO = O;
                    r.bestG = G;
                } else if (v < r.worst) {
                    r.worst = v;
                    r.worstO = O;
                    r.worstG = G;
                }
                if (v > maxAbs || -v > maxAbs) {
                    maxAbs = std::fabs(v);
                    argmax = O;
                }
            }
            if (step > 1 && O + step > hi && maxAbs > 0.5 * r.best) {
                step /= 2;
                const int w = step == 1 ? 2 : 50 * step;
                lo = std::max(argmax - w, -RS);
                hi = std::min(argmax + w, RS);
                O = lo;
            } else {
                O += step;
            }
        }
        if (RE + G >= 0 && RE + G < 2 * RE + 1) T[static_cast<std::size_t>(RE + G)] = maxAbs;
        if ((direction == 0 && G == -RE) || direction != 0) {
            const int h = count / 2 - 5;
            const int winner = -r.worst >= r.best ? r.worstG : r.bestG;
            if (winner > h || winner < -h) {
                direction = winner > h ? 1 : -1;
                count += 2;
            }
        }
    }
}

}  // namespace tandem::test
