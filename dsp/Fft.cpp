#include "dsp/Fft.h"

#include <fftw3.h>

#include <map>
#include <mutex>
#include <stdexcept>
#include <utility>

namespace tandem {
namespace {

std::mutex& plannerLock() {
    static std::mutex lock;
    return lock;
}

struct RealPlans {
    fftwf_plan forward = nullptr;
    fftwf_plan inverse = nullptr;
};

// The plans of the process, given back with FFTW's own planner state at exit, so that a
// leak checker sees nothing left behind.
struct Plans {
    std::map<std::size_t, RealPlans> real;
    std::map<std::size_t, fftw_plan> complex;
    ~Plans() {
        for (auto& [n, p] : real) {
            fftwf_destroy_plan(p.forward);
            fftwf_destroy_plan(p.inverse);
        }
        for (auto& [n, p] : complex) fftw_destroy_plan(p);
        fftwf_cleanup();
        fftw_cleanup();
    }
};

Plans& plans() {
    static Plans made;
    return made;
}

RealPlans realPlans(std::size_t n) {
    std::map<std::size_t, RealPlans>& made = plans().real;
    std::lock_guard<std::mutex> hold(plannerLock());
    auto found = made.find(n);
    if (found != made.end()) return found->second;
    FftReals x = AllocReals(n);
    FftBins y = AllocBins(n / 2 + 1);
    const int size = static_cast<int>(n);
    RealPlans p;
    p.forward = fftwf_plan_dft_r2c_1d(size, x.get(), reinterpret_cast<fftwf_complex*>(y.get()), FFTW_ESTIMATE);
    p.inverse = fftwf_plan_dft_c2r_1d(size, reinterpret_cast<fftwf_complex*>(y.get()), x.get(), FFTW_ESTIMATE);
    if (!p.forward || !p.inverse) throw std::bad_alloc();
    made.emplace(n, p);
    return p;
}

fftw_plan complexPlan(std::size_t n) {
    std::map<std::size_t, fftw_plan>& made = plans().complex;
    std::lock_guard<std::mutex> hold(plannerLock());
    auto found = made.find(n);
    if (found != made.end()) return found->second;
    fftw_complex* a = fftw_alloc_complex(n);
    if (!a) throw std::bad_alloc();
    fftw_plan p = fftw_plan_dft_1d(static_cast<int>(n), a, a, FFTW_FORWARD, FFTW_ESTIMATE);
    fftw_free(a);
    if (!p) throw std::bad_alloc();
    made.emplace(n, p);
    return p;
}

}  // namespace

void FftwFree::operator()(void* p) const { fftw_free(p); }

FftReals AllocReals(std::size_t n) {
    float* p = fftwf_alloc_real(n);
    if (!p) throw std::bad_alloc();
    return FftReals(p);
}

FftBins AllocBins(std::size_t n) {
    fftwf_complex* p = fftwf_alloc_complex(n);
    if (!p) throw std::bad_alloc();
    return FftBins(reinterpret_cast<std::complex<float>*>(p));
}

RealFft::RealFft(std::size_t n) : n_(n) {
    if (n < 2 || n % 2 != 0) throw std::invalid_argument("RealFft: size must be even");
    const RealPlans p = realPlans(n);
    forward_ = p.forward;
    inverse_ = p.inverse;
}

void RealFft::Forward(const float* in, std::complex<float>* out) const {
    // FFTW's r2c leaves its input alone; the interface takes it as writable.
    fftwf_execute_dft_r2c(static_cast<fftwf_plan>(forward_), const_cast<float*>(in), reinterpret_cast<fftwf_complex*>(out));
}

void RealFft::Inverse(std::complex<float>* in, float* out) const {
    fftwf_execute_dft_c2r(static_cast<fftwf_plan>(inverse_), reinterpret_cast<fftwf_complex*>(in), out);
}

void Fft(std::vector<std::complex<double>>& a) {
    if (a.size() < 2) return;
    // The plan was made on an aligned buffer; a vector's data may not be, so it runs on a copy.
    const std::size_t n = a.size();
    fftw_plan p = complexPlan(n);
    fftw_complex* buf = fftw_alloc_complex(n);
    if (!buf) throw std::bad_alloc();
    std::unique_ptr<fftw_complex, FftwFree> hold(buf);
    for (std::size_t i = 0; i < n; ++i) {
        buf[i][0] = a[i].real();
        buf[i][1] = a[i].imag();
    }
    fftw_execute_dft(p, buf, buf);
    for (std::size_t i = 0; i < n; ++i) a[i] = {buf[i][0], buf[i][1]};
}

std::size_t FastFftSize(std::size_t n) {
    std::size_t best = 1;
    while (best < n) best *= 2;
    for (std::size_t p5 = 1; p5 < best; p5 *= 5)
        for (std::size_t p3 = p5; p3 < best; p3 *= 3) {
            std::size_t v = p3;
            while (v < n) v *= 2;
            if (v < best) best = v;
        }
    return best < 2 ? 2 : best + (best % 2);
}

std::size_t TransformSize(std::size_t n) {
    std::size_t p = 2;
    while (p < n) p *= 2;
    return p <= 65536 ? p : FastFftSize(n);
}

}  // namespace tandem
