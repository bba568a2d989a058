// Band-limited reading of sampled signals at arbitrary (fractional) positions: a
// Kaiser-windowed sinc, tabulated in kSincPhases phases and interpolated linearly
// between them.
//
// The kernel has kSincTaps taps, Kaiser beta 9 and its cutoff at Nyquist: beta 9 puts
// the far sidelobes 90 dB down, below 16-bit quantisation, and keeps the passband within
// -76 dB of flat to 18 kHz at 44.1 kHz (it is the evaluation kit's ideal reader too, so
// an exactly placed output matches that ideal sample for sample). When the signal is read
// faster than real time (rate > 1 source frames per output frame) the kernel is stretched
// by the rate: its cutoff drops to Nyquist / rate and its taps grow by the rate, so that
// the source's content above the output's Nyquist is attenuated as the kernel's own
// transition attenuates it at the source's rate, instead of folding back.
//
// Every kernel variant gives bit-identical samples: sixteen partial sums, tap j into
// lane j mod 16, added in a fixed tree, products and sums rounded separately.
//
// Thread safety: SincTableFor may be called from any thread; tables are immutable.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace tandem {

constexpr int kSincTaps = 32;         // at the source's own rate
constexpr double kSincBeta = 9.0;     // Kaiser: 0.1102 * (90 dB - 8.7)
constexpr int kSincPhases = 1024;     // table error below -100 dB with linear interpolation
constexpr double kSincMaxRate = 2.0;  // faster reads alias: no recorder runs twice its rate
constexpr double kSincStretchFrom = 1.005;

enum class SincKernel { Plain, Avx2, Avx512 };

// Whether this processor runs the variant.
bool Supports(SincKernel kernel);

class SincTable {
public:
    // A kernel for reading at `rate` source frames per output frame (clamped to
    // [1, kSincMaxRate]).
    explicit SincTable(double rate);
    int taps() const { return taps_; }
    double rate() const { return rate_; }
    // The first source frame a read at pos uses is floor(pos) - reach(), the last
    // floor(pos) + reach() + 1.
    std::int64_t reach() const { return taps_ / 2 - 1; }
    const float* row(int phase) const { return weights_.data() + static_cast<std::size_t>(phase) * static_cast<std::size_t>(taps_); }

private:
    int taps_;
    double rate_;
    std::vector<float> weights_;  // (kSincPhases + 1) rows of taps_
};

// The shared kernel for a read rate: rates up to kSincStretchFrom use the unstretched
// kernel; faster rates are rounded up to steps of 0.001.
// Up to 0.5 % fast the cutoff would move by at most 110 Hz at 44.1 kHz, 1.5 % of the
// kernel's own 7.5 kHz transition: it would stop no aliasing measurably, and its wider
// taps part from the exact reading above 18 kHz (a slave under a 0.1 % wow: 10-20 kHz
// 4 dB less clean against the slave read exactly at the true positions).
const SincTable& SincTableFor(double rate);

// out[c][i] = channel c of src read at pos[i] (in frames of src[c]), for channels 1 or
// 2. Each src[c] must be readable over the frames the positions reach (see reach()).
void SincRead(const SincTable& table, const float* const* src, int channels, const double* pos, std::size_t n,
              float* const* out);
void SincReadWith(SincKernel kernel, const SincTable& table, const float* const* src, int channels, const double* pos,
                  std::size_t n, float* const* out);

}  // namespace tandem
