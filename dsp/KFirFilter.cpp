#include "dsp/KFirFilter.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <exception>
#include <stdexcept>
#include <system_error>
#include <thread>

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

// Outputs are computed in blocks, one vector lane per output: the tap loop runs outside,
// so every lane sums its products in ascending j with a separate multiply and add,
// exactly as the one-output-at-a-time loop does, and all paths give the same floats.
// No FMA target anywhere here: a fused multiply-add would round differently.
using Lanes4 = float __attribute__((vector_size(16)));
using Lanes8 = float __attribute__((vector_size(32)));
constexpr std::size_t kAccumulators = 8;

// out[i - d] := sum over j of work[taps + i - j] * c[j] for the outputs i from i up to
// the last whole block before end; advances i. d = (taps - 1) / 2; work holds taps
// history values then the inputs. A block's loads all precede its stores, so out may be
// work itself: output i lands at or below index i, later outputs read from i + 1 on.
template <class Lanes>
[[gnu::always_inline]] inline void ConvolveBlocks(const float* work, const float* c, std::size_t taps,
                                                  std::size_t& i, std::size_t end, float* out) {
    constexpr std::size_t lanes = sizeof(Lanes) / sizeof(float);
    constexpr std::size_t block = kAccumulators * lanes;
    const std::size_t d = (taps - 1) / 2;
    for (; i + block <= end; i += block) {
        const float* x = work + taps + i;
        Lanes a[kAccumulators] = {};
        for (std::size_t j = 0; j < taps; ++j) {
            const float* p = x - j;
            const float cj = c[j];
            Lanes cv;
            if constexpr (lanes == 8) {
                cv = Lanes{cj, cj, cj, cj, cj, cj, cj, cj};
            } else {
                cv = Lanes{cj, cj, cj, cj};
            }
            for (std::size_t k = 0; k < kAccumulators; ++k) {
                Lanes v;
                std::memcpy(&v, p + k * lanes, sizeof v);
                a[k] += v * cv;
            }
        }
        std::memcpy(out + (i - d), a, sizeof a);
    }
}

[[gnu::target("avx2")]] void ConvolveBlocksAvx2(const float* work, const float* c, std::size_t taps,
                                                std::size_t& i, std::size_t end, float* out) {
    ConvolveBlocks<Lanes8>(work, c, taps, i, end, out);
}

void ConvolveBlocksBaseline(const float* work, const float* c, std::size_t taps, std::size_t& i,
                            std::size_t end, float* out) {
    ConvolveBlocks<Lanes4>(work, c, taps, i, end, out);
}

// Outputs i in [begin, end) of the filter, stored at out[i - d].
void Convolve(const float* work, const float* c, std::size_t taps, std::size_t begin, std::size_t end,
              float* out) {
    static const bool avx2 = __builtin_cpu_supports("avx2");
    std::size_t i = begin;
    if (avx2) {
        ConvolveBlocksAvx2(work, c, taps, i, end, out);
    } else {
        ConvolveBlocksBaseline(work, c, taps, i, end, out);
    }
    const std::size_t d = (taps - 1) / 2;
    for (; i < end; ++i) {
        const float* x = work + taps + i;
        float y = 0.0f;
        for (std::size_t j = 0; j < taps; ++j) y += *(x - j) * c[j];
        out[i - d] = y;
    }
}

// Filters one channel of frames from rest: work (taps + n floats) gets zero history and
// the samples, is filtered in place, and the first n - d values are the outputs.
void FilterChannel(const Frame* frames, std::size_t n, int channel, const std::vector<float>& c,
                   std::vector<float>& work) {
    const std::size_t taps = c.size();
    work.assign(taps + n, 0.0f);
    float* samples = work.data() + taps;
    if (channel == 0) {
        for (std::size_t i = 0; i < n; ++i) samples[i] = frames[i].left;
    } else {
        for (std::size_t i = 0; i < n; ++i) samples[i] = frames[i].right;
    }
    const std::size_t d = (taps - 1) / 2;
    if (n > d) Convolve(work.data(), c.data(), taps, d, n, work.data());
}

// Truncates and saturates the outputs into the channel; the last d frames become 0.
void StoreChannel(Frame* frames, std::size_t n, int channel, std::size_t d, const std::vector<float>& work) {
    const std::size_t written = n > d ? n - d : 0;
    std::int16_t Frame::*sample = channel == 0 ? &Frame::left : &Frame::right;
    for (std::size_t i = 0; i < written; ++i) frames[i].*sample = ToSample(work[i]);
    for (std::size_t i = written; i < n; ++i) frames[i].*sample = 0;
}

// Below this a second thread costs more than it saves.
constexpr std::size_t kThreadedFrames = 1 << 15;

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
    const std::size_t d = (taps - 1) / 2;
    if (count > d) Convolve(work.data(), coefficients_.data(), taps, d, count, out);
    // The last taps values of history + block: correct even for a block shorter than taps.
    std::copy(work.end() - static_cast<std::ptrdiff_t>(taps), work.end(), history_.begin());
    outCount = n;
    return tapCount_;
}

void ApplyBandFilter(Frame* frames, FrameIndex n, float attenuation, float firstEdge, float secondEdge, int kind, int rate) {
    if (n <= 0) return;
    const std::size_t count = static_cast<std::size_t>(n);
    // Both channels get the same design; each is filtered from rest.
    const KFirFilter filter(rate, firstEdge, secondEdge, attenuation, kind);
    const std::vector<float>& c = filter.Coefficients();
    const std::size_t d = (c.size() - 1) / 2;

    std::vector<float> work;
    if (count < kThreadedFrames) {
        for (int channel = 0; channel < 2; ++channel) {
            FilterChannel(frames, count, channel, c, work);
            StoreChannel(frames, count, channel, d, work);
        }
        return;
    }
    // The right channel's worker stores its outputs only after the join, so the two
    // threads never write the same cache lines.
    std::vector<float> right;
    std::exception_ptr rightFailure;
    std::thread worker;
    try {
        worker = std::thread([&] {
            try {
                FilterChannel(frames, count, 1, c, right);
            } catch (...) {
                rightFailure = std::current_exception();
            }
        });
    } catch (const std::system_error&) {
        FilterChannel(frames, count, 1, c, right);
    }
    std::exception_ptr leftFailure;
    try {
        FilterChannel(frames, count, 0, c, work);
    } catch (...) {
        leftFailure = std::current_exception();
    }
    if (worker.joinable()) worker.join();
    if (leftFailure) std::rethrow_exception(leftFailure);
    if (rightFailure) std::rethrow_exception(rightFailure);
    StoreChannel(frames, count, 0, d, work);
    StoreChannel(frames, count, 1, d, right);
}

}  // namespace tandem
