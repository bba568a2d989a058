// Also built with the intrinsics emulated (test_kernels_emulated), so that the AVX-512
// variant is checked on every processor.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "../../bench/SincReference.h"
#include "dsp/SincResampler.h"

namespace tandem {
namespace {

constexpr double kRate = 44100.0;

std::vector<float> sine(std::size_t n, double hz, double amplitude = 32000.0) {
    std::vector<float> v(n);
    for (std::size_t i = 0; i < n; ++i) v[i] = static_cast<float>(amplitude * std::sin(2.0 * M_PI * hz * static_cast<double>(i) / kRate));
    return v;
}

// Reads channel pair (a, b) at pos with the variant; returns both outputs.
std::vector<std::vector<float>> readWith(SincKernel kernel, const SincTable& table, const std::vector<float>& a,
                                         const std::vector<float>& b, const std::vector<double>& pos) {
    std::vector<std::vector<float>> out(2, std::vector<float>(pos.size()));
    const float* src[2] = {a.data(), b.data()};
    float* dst[2] = {out[0].data(), out[1].data()};
    SincReadWith(kernel, table, src, 2, pos.data(), pos.size(), dst);
    return out;
}

TEST(SincResampler, every_variant_gives_the_plain_variants_samples_and_those_match_the_definition) {
    std::mt19937 rng(11);
    std::uniform_real_distribution<float> u(-30000.0f, 30000.0f);
    std::vector<float> a(6000), b(6000);
    for (std::size_t i = 0; i < a.size(); ++i) a[i] = u(rng), b[i] = u(rng);
    for (const double rate : {1.0, 1.013, 1.37}) {
        const SincTable& table = SincTableFor(rate);
        std::uniform_real_distribution<double> at(200.0, 5800.0);
        std::vector<double> pos(1503);  // groups of 4 and 8, and a tail of each
        for (double& p : pos) p = at(rng);
        pos[0] = 1000.0;  // a whole frame: phase 0
        const auto plain = readWith(SincKernel::Plain, table, a, b, pos);
        for (const SincKernel kernel : {SincKernel::Avx2, SincKernel::Avx512}) {
            if (!Supports(kernel)) continue;
            EXPECT_EQ(readWith(kernel, table, a, b, pos), plain) << "variant " << static_cast<int>(kernel) << " rate " << rate;
            std::vector<float> mono(pos.size());  // a mono read is the stereo read's left
            const float* src[1] = {a.data()};
            float* dst[1] = {mono.data()};
            SincReadWith(kernel, table, src, 1, pos.data(), pos.size(), dst);
            EXPECT_EQ(mono, plain[0]) << "mono variant " << static_cast<int>(kernel) << " rate " << rate;
        }
        double worst = 0.0;
        for (std::size_t i = 0; i < pos.size(); ++i)
            worst = std::max(worst, std::fabs(plain[0][i] - reference::SincAt(a.data(), 6000, pos[i], table.rate())));
        EXPECT_LT(worst, 0.5) << "rate " << rate << ": the table's error, against full scale 32768";
    }
}

TEST(SincResampler, reads_a_sine_between_its_samples_far_below_16_bit_noise) {
    for (const double hz : {1000.0, 5000.0}) {
        const std::vector<float> s = sine(20000, hz);
        std::vector<double> pos;
        for (double p = 1000.0; p < 19000.0; p += 0.9137) pos.push_back(p);
        const auto out = readWith(SincKernel::Plain, SincTableFor(1.0), s, s, pos);
        double error = 0.0, signal = 0.0;
        for (std::size_t i = 0; i < pos.size(); ++i) {
            const double want = 32000.0 * std::sin(2.0 * M_PI * hz * pos[i] / kRate);
            error += (out[0][i] - want) * (out[0][i] - want);
            signal += want * want;
        }
        EXPECT_LT(10.0 * std::log10(error / signal), -85.0) << hz << " Hz";
    }
}

// A slave 1 % fast holds a tone just under its Nyquist that the output cannot hold: the
// read must remove it rather than fold it back into the top of the output's band.
TEST(SincResampler, a_fast_read_lowers_the_cutoff_so_top_band_content_does_not_fold_back) {
    const double rate = 1.01;
    const std::vector<float> s = sine(30000, 0.4985 * kRate);
    std::vector<double> pos;
    for (double p = 2000.0; p < 27000.0; p += rate) pos.push_back(p);
    const auto energy = [&](const SincTable& table) {
        const auto out = readWith(SincKernel::Plain, table, s, s, pos);
        double e = 0.0;
        for (const float v : out[0]) e += static_cast<double>(v) * v;
        return 10.0 * std::log10(e / static_cast<double>(pos.size()) / (32000.0 * 32000.0 / 2.0));
    };
    const double lowered = energy(SincTableFor(rate));
    EXPECT_EQ(SincTableFor(rate).rate(), rate);
    // A 32-tap kernel's transition is about 8 kHz wide, so a 1 % lower cutoff removes a
    // little over 1 dB more of this tone (-4.2 against -3.0 dB with the kernel at the
    // file's own Nyquist); the bound lies between the two.
    EXPECT_LT(lowered, -3.6);
    EXPECT_GT(energy(SincTable(1.0)), -3.6);
}

}  // namespace
}  // namespace tandem
