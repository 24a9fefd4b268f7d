#include "dsp/Resampler.h"

#include <gtest/gtest.h>

#include <random>
#include <tuple>

#include "dsp/QuorbixError.h"
#include "dsp/ResamplerTable.h"
#include "support/Signals.h"

namespace {

using Path = Resampler::Path;

struct Result {
    std::vector<int16_t> out;
    int32_t got = 0, consumed = 0;
    bool operator==(const Result& o) const { return got == o.got && consumed == o.consumed && out == o.out; }
};

// Channels one after the other, as SignalObj::ChangeRate passes them.
Result convert(const std::vector<int16_t>& in, double factor, Path path = Path::Fast, int32_t channels = 1,
               double gain = 1.0) {
    Resampler r;
    r.SetPath(path);
    r.SetUp(factor, channels, gain);
    Result res;
    res.consumed = static_cast<int32_t>(in.size()) / channels;
    const auto wanted = static_cast<int32_t>(res.consumed * factor);
    res.out.assign(static_cast<size_t>(wanted) * channels, 0);
    res.got = r.Convert(in.data(), res.consumed, wanted, res.out.data());
    return res;
}

// The output clock's step in input samples, 15 fraction bits.
int64_t periodQ15(double factor) { return static_cast<int64_t>(32768 / factor + 0.5); }

// The whole int16 range, -32768 included.
std::vector<int16_t> fullScaleNoise(size_t n, uint32_t seed) {
    std::mt19937 gen(seed);
    std::vector<int16_t> x(n);
    for (auto& v : x) v = static_cast<int16_t>(static_cast<int32_t>(gen() & 0xFFFF) - 32768);
    return x;
}

double rms(const std::vector<int16_t>& y) {
    double e = 0;
    for (size_t i = 200; i + 200 < y.size(); ++i) e += double(y[i]) * y[i];
    return std::sqrt(e / double(y.size() - 400));
}

}  // namespace

// From the published listing of the large filter; ImpD[i] = Imp[i + 1] - Imp[i].
TEST(ResamplerTable, PinnedEntries) {
    for (const auto& [i, v] : {std::pair{0, 32767}, {4, 32756}, {256, 3566}, {512, -3349}, {284, 51}, {285, -63},
                               {569, 6}, {2560, 0}, {8100, 1}, {8101, 0}, {8191, 0}})
        EXPECT_EQ(kResamplerImp[i], v) << i;
    EXPECT_EQ(*std::min_element(kResamplerImp, kResamplerImp + kResamplerNwing), -7043);
    for (const auto& [i, v] : {std::pair{0, -1}, {3, -5}, {8051, 1}, {8100, -1}, {8191, 0}})
        EXPECT_EQ(kResamplerImpD[i], v) << i;
}

// An impulse at input 2m comes out 2:1 symmetric around output m, and a
// pass-band sine in phase (a one-sample slip at 441 Hz is a 6 % error).
TEST(Resampler, FirstOutputLiesOnTheFirstInputSample) {
    for (const int32_t m : {0, 1, 40}) {
        std::vector<int16_t> in(4000, 0);
        in[2 * m] = 20000;
        const Result r = convert(in, 0.5);
        EXPECT_EQ(std::max_element(r.out.begin(), r.out.end()) - r.out.begin(), m);
        for (int32_t k = 1; k <= m; ++k) EXPECT_EQ(r.out[m - k], r.out[m + k]) << m << " " << k;
        EXPECT_NEAR(r.out[m], 20000 * 0.5 * 0.9, 10);  // unity gain over a cut-off at 0.9 of Nyquist
    }
    for (const double factor : {0.5, 0.91875, 2.0}) {
        const Result r = convert(test::sine(441.0, 44100, 1.0, 16000.0, 0.3), factor);
        double worst = 0;
        for (int32_t j = 200; j + 200 < r.got; ++j) {
            const double t = double(j) * periodQ15(factor) / 32768;  // the fixed-point clock
            worst = std::max(worst, std::abs(r.out[j] - 16000.0 * std::sin(2 * M_PI * 441.0 * t / 44100 + 0.3)));
        }
        EXPECT_LT(worst, 0.01 * 16000) << factor;
    }
}

// Worked by hand for an impulse at input 0 (only taps 0 and 256 reach outputs
// 0 and 1): negative ones round toward minus infinity, and at 1030 the rounding
// bit 13 lifts output 0 from 925 to 927. The other paths match this one bit for bit.
TEST(Resampler, ImpulseOutputsFollowTheFixedPointRules) {
    for (const auto& [factor, amplitude, y0, y1] :
         {std::tuple{1.0, 10000, 8998, 979}, {1.0, -10000, -9000, -981}, {0.5, 10000, 4499, 490},
          {0.5, -10000, -4500, -491}, {1.0, 1030, 927, 101}, {1.0, -1030, -927, -101}, {0.5, 1030, 464, 50},
          {0.5, -1030, -464, -50}}) {
        std::vector<int16_t> in(1000, 0);
        in[0] = int16_t(amplitude);
        const Result r = convert(in, factor, Path::Reference);
        EXPECT_EQ(std::pair(int(r.out[0]), int(r.out[1])), std::pair(y0, y1)) << factor << " " << amplitude;
    }
}

// Down, the cut-off moves to the output's Nyquist frequency (else 22.6 kHz
// aliases at 48000 -> 44100); DC keeps the gain below factor 1 too.
TEST(Resampler, KeepsThePassBandAndDcAndRejectsWhatWouldAlias) {
    for (const auto& [inRate, outRate, pass, stop] :
         {std::tuple{44100, 22050, 1000, 15000}, {48000, 22050, 5000, 14000}, {48000, 44100, 3000, 22600},
          {22050, 44100, 4000, 0}, {8000, 22050, 1500, 0}}) {
        const double factor = double(outRate) / inRate;
        EXPECT_NEAR(rms(convert(test::sine(pass, inRate, 1.0, 20000.0), factor).out), 20000 / M_SQRT2, 150) << inRate;
        if (stop > 0) {  // below -40 dB
            EXPECT_LT(rms(convert(test::sine(stop, inRate, 1.0, 20000.0), factor).out), 20000 / M_SQRT2 * 0.01) << inRate;
        }
    }
    for (const double factor : {0.459375, 0.91875, 1.0, 2.0})
        for (const double gain : {1.0, 0.5, -1.0}) {
            const Result r = convert(std::vector<int16_t>(20000, -20000), factor, Path::Fast, 1, gain);
            for (size_t j = 150; j + 150 < r.out.size(); j += 101)
                ASSERT_NEAR(r.out[j], -20000 * gain, 0.005 * 20000) << factor << " " << gain << " " << j;
        }
}

// Random factors and short inputs ending anywhere in a block also let the
// sanitizers check that no path reads outside its window.
TEST(Resampler, FastPathsMatchTheReferenceBitForBit) {
    for (const auto& [factor, channels, gain] :
         {std::tuple{0.5, 1, 1.0}, {0.91875, 1, 1.0}, {1.0, 1, 1.0}, {2.0, 1, 1.0}, {0.68934240362811786, 2, 1.0},
          {0.1, 1, 1.0}, {0.0171, 1, 1.0}, {1.5, 2, 1.0}, {37.3, 1, 1.0}, {0.5, 1, 3.7}, {1.0, 1, 8.0}}) {
        const auto in = fullScaleNoise((factor > 10 ? 3000 : 30011) * channels, 11);
        const Result ref = convert(in, factor, Path::Reference, channels, gain);
        for (const auto path : {Path::Auto, Path::Fast, Path::Vector128, Path::Portable})
            EXPECT_TRUE(convert(in, factor, path, channels, gain) == ref) << factor << " " << channels << " " << gain;
    }
    std::mt19937 gen(2024);
    std::uniform_real_distribution<double> logFactor(std::log(0.0166), std::log(Resampler::kMaxFactor));
    for (int trial = 0; trial < 40; ++trial) {
        const double factor = std::exp(logFactor(gen));
        const auto n = 2 + static_cast<size_t>(gen() % std::min<uint32_t>(9000, uint32_t(60000 / factor) + 1));
        const auto in = fullScaleNoise(n, trial);
        const Result ref = convert(in, factor, Path::Reference);
        EXPECT_EQ(ref.got, static_cast<int32_t>(n * factor)) << factor << " " << n;
        EXPECT_EQ(ref.consumed, static_cast<int32_t>((ref.got * periodQ15(factor)) >> 15)) << factor << " " << n;
        EXPECT_TRUE(convert(in, factor, Path::Fast) == ref) << factor << " " << n;
        EXPECT_TRUE(convert(in, factor, Path::Auto) == ref) << factor << " " << n;
    }
}

// Each resampler computes its blocks and only walks the window over the others.
TEST(Resampler, BlockRangesShareOneConversion) {
    for (const auto& [factor, channels] : {std::pair{0.5, 1}, {22050.0 / 48000.0, 1}, {1.5, 2}, {0.1, 1}}) {
        const auto in = fullScaleNoise(size_t(120000 * channels), 5);
        const Result whole = convert(in, factor, Path::Fast, channels);
        for (const std::vector<int32_t>& bounds : {std::vector<int32_t>{0, whole.got / 2, INT32_MAX},
                                                   {0, 1, whole.got / 3, whole.got - 1, INT32_MAX}}) {
            Result parts;
            parts.out.assign(whole.out.size(), 0);
            for (size_t k = 0; k + 1 < bounds.size(); ++k) {
                Resampler r;
                r.SetUp(factor, channels);
                parts.consumed = static_cast<int32_t>(in.size()) / channels;
                parts.got = r.Convert(in.data(), parts.consumed, whole.got, parts.out.data(), bounds[k], bounds[k + 1]);
            }
            EXPECT_TRUE(parts == whole) << factor << " in " << bounds.size() - 1 << " parts";
        }
    }
}

// The filter's reach (33 / factor + 10 samples each side) must fit in half
// the window; just above that limit a block would yield nothing and never end.
TEST(Resampler, RefusesFactorsItCannotServe) {
    const std::vector<int16_t> in(1000, 100);
    for (const double bad : {0.01635, 0.0, 1024.5, std::nan("")}) EXPECT_THROW(convert(in, bad), QuorbixError) << bad;
    EXPECT_NO_THROW(convert(in, 0.0164));
}
