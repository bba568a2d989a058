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
        left.resize(span);
        right.resize(span);
        // Silence outside the file, and where it cannot be read.
        const FrameIndex from = std::min(std::max<FrameIndex>(first, 0), last);
        const FrameIndex to = std::max(from, std::min(last, file.FrameCount));
        const auto head = static_cast<std::ptrdiff_t>(from - first), body = static_cast<std::ptrdiff_t>(to - from);
        if (body == 0 || file.ReadWideChannels(left.data() + head, right.data() + head, from, to) == 0) {
            std::fill(left.begin() + head, left.begin() + head + body, 0.0f);
            std::fill(right.begin() + head, right.begin() + head + body, 0.0f);
        }
        for (std::vector<float>* c : {&left, &right}) {
            std::fill(c->begin(), c->begin() + head, 0.0f);
            std::fill(c->begin() + head + body, c->end(), 0.0f);
        }
        for (std::size_t k = 0; k < m; ++k) local[k] = pos[b + k] - static_cast<double>(first);
        const float* src[2] = {left.data(), right.data()};
        float* dst[2] = {l.data(), r.data()};
        SincRead(table, src, 2, local.data(), m, dst);
        for (std::size_t k = 0; k < m; ++k) out[b + k] = WideFrame{l[k], r[k]};
    }
}

}  // namespace tandem
