#include "wave/BandLimitedRead.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "dsp/SincResampler.h"
#include "wave/KWavefile.h"

namespace tandem {

void ReadAtPositions(KWavefile& file, const double* pos, std::size_t n, double fastestRate, WideFrame* out) {
    const SincTable& table = SincTableFor(fastestRate);
    // Blocks keep the source window small however far a block's positions reach.
    constexpr std::size_t kBlock = 16384;
    // Each thread's buffers are kept: a segment's own, freed and faulted in afresh, cost
    // more than reading it (the kernel zeroing their pages).
    thread_local std::vector<float> left, right, l, r;
    thread_local std::vector<double> local;
    thread_local std::vector<WideFrame> frames;
    const std::size_t block = std::min(kBlock, n);
    l.resize(block);
    r.resize(block);
    local.resize(block);
    for (std::size_t b = 0; b < n; b += block) {
        const std::size_t m = std::min(block, n - b);
        const auto [lowest, highest] = std::minmax_element(pos + b, pos + b + m);
        if (!std::isfinite(*lowest) || !std::isfinite(*highest) || *highest - *lowest > 1e9) {
            std::fill(out + b, out + b + m, WideFrame{});
            continue;
        }
        const FrameIndex first = static_cast<FrameIndex>(std::floor(*lowest)) - table.reach() - 1;
        const FrameIndex last = static_cast<FrameIndex>(std::floor(*highest)) + table.reach() + 2;
        const std::size_t span = static_cast<std::size_t>(last - first);
        left.assign(span, 0.0f);
        right.assign(span, 0.0f);
        const FrameIndex from = std::max<FrameIndex>(first, 0), to = std::min<FrameIndex>(last, file.FrameCount);
        if (from < to) {
            frames.resize(static_cast<std::size_t>(to - from));
            if (file.ReadWideFrames(frames.data(), from, to) != 0) {
                for (std::size_t k = 0; k < frames.size(); ++k) {
                    left[static_cast<std::size_t>(from - first) + k] = frames[k].left;
                    right[static_cast<std::size_t>(from - first) + k] = frames[k].right;
                }
            }
        }
        for (std::size_t k = 0; k < m; ++k) local[k] = pos[b + k] - static_cast<double>(first);
        const float* src[2] = {left.data(), right.data()};
        float* dst[2] = {l.data(), r.data()};
        SincRead(table, src, 2, local.data(), m, dst);
        for (std::size_t k = 0; k < m; ++k) out[b + k] = WideFrame{l[k], r[k]};
    }
}

}  // namespace tandem
