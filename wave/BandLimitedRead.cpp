#include "wave/BandLimitedRead.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <utility>
#include <vector>

#include "core/Clones.h"
#include "dsp/SincResampler.h"
#include "wave/KWavefile.h"

namespace tandem {

namespace {

// The lowest and highest of n > 0 positions, or NaN where one is not finite. In vectors:
// minima, maxima and the test for non-finite values are exact in any order, and
// std::minmax_element's compare chain was most of a read's time outside the kernel.
TANDEM_CLONES("avx512f", "avx2")
std::pair<double, double> spanOf(const double* pos, std::size_t n) {
    using Lanes = double __attribute__((vector_size(8 * sizeof(double))));
    Lanes lo = Lanes{} + pos[0], hi = lo, sum = {};
    std::size_t k = 0;
    for (; k + 8 <= n; k += 8) {
        Lanes p;
        std::memcpy(&p, pos + k, sizeof p);
        lo = p < lo ? p : lo;
        hi = p > hi ? p : hi;
        sum += p * 0.0;  // NaN or infinity anywhere makes it NaN
    }
    double low = lo[0], high = hi[0], finite = sum[0];
    for (int j = 1; j < 8; ++j) low = std::min(low, lo[j]), high = std::max(high, hi[j]), finite += sum[j];
    for (; k < n; ++k) {
        low = std::min(low, pos[k]);
        high = std::max(high, pos[k]);
        finite += pos[k] * 0.0;
    }
    if (!(finite == 0.0)) return {std::nan(""), std::nan("")};
    return {low, high};
}

// Reads the positions block by block into left/right (or their mean into left).
void readBlocks(KWavefile& file, const double* pos, std::size_t n, double fastestRate, bool mono, float* outLeft,
                float* outRight) {
    const SincTable& table = SincTableFor(fastestRate);
    // Blocks keep the source window small however far a block's positions reach.
    constexpr std::size_t kBlock = 16384;
    // Each thread's buffers are kept: a segment's own, freed and faulted in afresh, cost
    // more than reading it (the kernel zeroing their pages).
    thread_local std::vector<float> left, right;
    thread_local std::vector<double> local;
    const std::size_t block = std::min(kBlock, n);
    local.resize(block);
    for (std::size_t b = 0; b < n; b += block) {
        const std::size_t m = std::min(block, n - b);
        const auto [lowest, highest] = spanOf(pos + b, m);
        if (!std::isfinite(lowest) || !std::isfinite(highest) || highest - lowest > 1e9) {
            std::fill(outLeft + b, outLeft + b + m, 0.0f);
            if (!mono) std::fill(outRight + b, outRight + b + m, 0.0f);
            continue;
        }
        const FrameIndex first = static_cast<FrameIndex>(std::floor(lowest)) - table.reach() - 1;
        const FrameIndex last = static_cast<FrameIndex>(std::floor(highest)) + table.reach() + 2;
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
        if (mono)
            for (std::size_t k = 0; k < span; ++k) left[k] = 0.5f * (left[k] + right[k]);
        for (std::size_t k = 0; k < m; ++k) local[k] = pos[b + k] - static_cast<double>(first);
        const float* src[2] = {left.data(), right.data()};
        float* dst[2] = {outLeft + b, mono ? nullptr : outRight + b};
        SincRead(table, src, mono ? 1 : 2, local.data(), m, dst);
    }
}

}  // namespace

void ReadAtPositions(KWavefile& file, const double* pos, std::size_t n, double fastestRate, WideFrame* out) {
    thread_local std::vector<float> l, r;
    l.resize(n);
    r.resize(n);
    readBlocks(file, pos, n, fastestRate, false, l.data(), r.data());
    for (std::size_t k = 0; k < n; ++k) out[k] = WideFrame{l[k], r[k]};
}

void ReadMonoAtPositions(KWavefile& file, const double* pos, std::size_t n, double fastestRate, float* out) {
    readBlocks(file, pos, n, fastestRate, true, out, nullptr);
}

}  // namespace tandem
