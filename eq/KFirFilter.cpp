#include "eq/KFirFilter.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <stdexcept>

namespace tandem {

namespace {

// Equalised copies made by earlier versions used this value, not the full-precision pi.
constexpr float kPi = 3.141592f;
constexpr int kMaxOrder = 300;

float BesselI0(float x) {
    float sum = 1.0f;
    float factorial = 1.0f;
    const float half = x / 2.0f;
    float power = 1.0f;
    for (int k = 1; k <= 20; ++k) {
        factorial *= static_cast<float>(k);
        power *= half;
        const float term = power / factorial;
        sum += term * term;
    }
    return sum;
}

float KaiserBeta(float attenuation) {
    if (attenuation > 50.0f) return 0.1102f * (attenuation - 8.7f);
    if (attenuation >= 21.0f) {
        return 0.5842f * std::pow(attenuation - 21.0f, 0.4f) + 0.07886f * (attenuation - 21.0f);
    }
    return 0.0f;
}

// Filter order N (even, 2..300). Equal or swapped edges ask for the narrowest transition
// the cap allows; an attenuation of 8 dB or less still gets the smallest usable filter.
int FilterOrder(float deltaOmega, float attenuation) {
    if (!(deltaOmega > 0.0f)) return kMaxOrder;
    const float estimate = (attenuation - 8.0f) / (2.285f * deltaOmega) + 1.0f;
    if (std::isnan(estimate) || estimate < 2.0f) return 2;
    if (estimate > static_cast<float>(kMaxOrder + 1)) return kMaxOrder;
    int order = static_cast<int>(estimate);
    if (order % 2 != 0) ++order;
    return std::min(order, kMaxOrder);
}

std::int16_t ToSample(float y) {
    if (y >= 32768.0f) return 32767;
    if (y <= -32769.0f) return -32768;
    if (std::isnan(y)) return 0;
    return static_cast<std::int16_t>(y);
}

// out[i - d] := sum over j of work[taps + i - j] * c[j] for i = d .. n - 1, where work
// holds taps history values then the n inputs. Each output sums in ascending j.
void Convolve(const float* work, const float* coefficients, std::size_t taps, std::size_t n, float* out) {
    const std::size_t d = (taps - 1) / 2;
    for (std::size_t i = d; i < n; ++i) {
        const float* x = work + taps + i;
        float y = 0.0f;
        for (std::size_t j = 0; j < taps; ++j) y += x[-static_cast<std::ptrdiff_t>(j)] * coefficients[j];
        out[i - d] = y;
    }
}

}  // namespace

KFirFilter::KFirFilter(int sampleRate, float firstEdge, float secondEdge, float attenuation, int kind)
    : nyquist_(static_cast<float>(sampleRate) * 0.5f),
      firstEdge_(firstEdge),
      secondEdge_(secondEdge),
      attenuation_(attenuation),
      kind_(kind) {
    if (sampleRate <= 0) throw std::invalid_argument("KFirFilter: the sample rate must be positive");

    const float deltaOmega = (secondEdge_ - firstEdge_) / nyquist_ * kPi;
    const int order = FilterOrder(deltaOmega, attenuation_);
    tapCount_ = order + 1;
    const int h = order / 2;
    coefficients_.assign(static_cast<std::size_t>(tapCount_), 0.0f);
    history_.assign(static_cast<std::size_t>(tapCount_), 0.0f);

    float omega1 = firstEdge_ / nyquist_ * kPi;
    float omega2 = secondEdge_ / nyquist_ * kPi;
    if (kind_ == kHighPass) {
        omega1 = kPi - omega1;
        omega2 = kPi - omega2;
    }
    const float cutoff = (omega1 + omega2) * 0.5f;

    const float beta = KaiserBeta(attenuation_);
    const float i0Beta = BesselI0(beta);
    for (int n = -h; n <= h; ++n) {
        const float ratio = static_cast<float>(n) / static_cast<float>(h);
        const float window = BesselI0(beta * std::sqrt(1.0f - ratio * ratio)) / i0Beta;
        float c;
        if (n == 0) {
            c = window * cutoff / kPi;
        } else {
            const float fn = static_cast<float>(n);
            c = std::sin(fn * cutoff) / (fn * kPi) * window;
        }
        coefficients_[static_cast<std::size_t>(n + h)] = c;
    }
    if (kind_ == kHighPass) {
        for (std::size_t i = 0; i < coefficients_.size(); i += 2) coefficients_[i] = -coefficients_[i];
    }
}

int KFirFilter::Filter(const float* in, FrameIndex n, float* out, FrameIndex& outCount) {
    const std::size_t taps = static_cast<std::size_t>(tapCount_);
    const std::size_t count = n > 0 ? static_cast<std::size_t>(n) : 0;
    std::vector<float> work(taps + count);
    std::copy(history_.begin(), history_.end(), work.begin());
    if (count > 0) std::copy(in, in + count, work.begin() + static_cast<std::ptrdiff_t>(taps));
    Convolve(work.data(), coefficients_.data(), taps, count, out);
    // The last taps values of history + block: correct even for a block shorter than taps.
    std::copy(work.end() - static_cast<std::ptrdiff_t>(taps), work.end(), history_.begin());
    outCount = n;
    return tapCount_;
}

void ApplyBandFilter(Frame* frames, FrameIndex n, float attenuation, float firstEdge, float secondEdge, int kind) {
    if (n <= 0) return;
    const std::size_t count = static_cast<std::size_t>(n);
    for (int channel = 0; channel < 2; ++channel) {
        KFirFilter filter(kSampleRate, firstEdge, secondEdge, attenuation, kind);
        std::vector<float> in(count);
        for (std::size_t i = 0; i < count; ++i) in[i] = channel == 0 ? frames[i].left : frames[i].right;
        std::vector<float> out(count, 0.0f);
        FrameIndex outCount = 0;
        filter.Filter(in.data(), n, out.data(), outCount);
        for (std::size_t i = 0; i < count; ++i) {
            const std::int16_t v = ToSample(out[i]);
            if (channel == 0) {
                frames[i].left = v;
            } else {
                frames[i].right = v;
            }
        }
    }
}

}  // namespace tandem
