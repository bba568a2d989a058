// Discrete Fourier transforms through FFTW 3: a complex transform in double precision
// and real transforms in single precision, of any size.
//
// FFTW's planner is not thread-safe; plans are made once per size under a lock (with
// FFTW_ESTIMATE, which costs microseconds) and kept for the process. Executing a plan
// is thread-safe, so any thread may call these.
#pragma once

#include <complex>
#include <cstddef>
#include <memory>
#include <vector>

namespace tandem {

// Forward transform in place, unnormalised: a[k] = sum x[n] e^(-2 pi i k n / N).
void Fft(std::vector<std::complex<double>>& a);

struct FftwFree {
    void operator()(void* p) const;
};
// Buffers aligned as FFTW's SIMD code wants them; the real transforms take only these.
using FftReals = std::unique_ptr<float[], FftwFree>;
using FftBins = std::unique_ptr<std::complex<float>[], FftwFree>;
FftReals AllocReals(std::size_t n);
FftBins AllocBins(std::size_t n);

// Real transform of size n (even): Forward maps n reals to n / 2 + 1 bins, Inverse maps
// them back, unnormalised (a round trip multiplies by n). Inverse overwrites its input.
class RealFft {
public:
    explicit RealFft(std::size_t n);
    std::size_t Size() const { return n_; }
    std::size_t Bins() const { return n_ / 2 + 1; }
    void Forward(const float* in, std::complex<float>* out) const;
    void Inverse(std::complex<float>* in, float* out) const;

private:
    std::size_t n_;
    void* forward_;
    void* inverse_;
};

// The smallest size of at least n whose factors are 2, 3 and 5 (fast in FFTW).
std::size_t FastFftSize(std::size_t n);
// The size to transform n values in: FFTW's estimated plans run fastest at powers of
// two; past 64 Ki the padding costs more than the odd factors.
std::size_t TransformSize(std::size_t n);

}  // namespace tandem
