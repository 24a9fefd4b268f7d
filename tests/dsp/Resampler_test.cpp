#include "dsp/Resampler.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "dsp/QuorbixError.h"
#include "dsp/ResamplerTable.h"
#include "support/Signals.h"

namespace {

struct Result {
    std::vector<int16_t> out;
    int32_t got = 0;
    int32_t consumed = 0;
};

// Converts `channels` equally long channels stored one after the other, as
// SignalObj::ChangeRate does for one: wanted = trunc(count * factor).
Result convert(const std::vector<int16_t>& in, double factor,
               Resampler::Path path = Resampler::Path::Fast, int32_t channels = 1,
               double gain = 1.0) {
    Resampler r;
    r.SetPath(path);
    r.SetUp(factor, channels, gain);
    const int32_t count = static_cast<int32_t>(in.size()) / channels;
    const auto wanted = static_cast<int32_t>(count * factor);
    Result res;
    res.out.assign(static_cast<size_t>(wanted) * channels, 0);
    res.consumed = count;
    res.got = r.Convert(in.data(), res.consumed, wanted, res.out.data());
    return res;
}

// The output clock's step in input samples, 15 fraction bits.
int64_t outputPeriodQ15(double factor) { return static_cast<int64_t>(32768 / factor + 0.5); }

std::vector<int16_t> fullScaleNoise(size_t n, uint32_t seed) {
    std::mt19937 gen(seed);
    std::vector<int16_t> x(n);
    for (auto& v : x) v = static_cast<int16_t>(static_cast<int32_t>(gen() & 0xFFFF) - 32768);
    return x;
}

// Amplitude of the component at `hz` over y[from, to), by correlation.
double toneAmplitude(const std::vector<int16_t>& y, size_t from, size_t to, double hz, double rate) {
    double c = 0, s = 0;
    for (size_t i = from; i < to; ++i) {
        c += y[i] * std::cos(2 * M_PI * hz * double(i) / rate);
        s += y[i] * std::sin(2 * M_PI * hz * double(i) / rate);
    }
    return 2 * std::hypot(c, s) / double(to - from);
}

double rms(const std::vector<int16_t>& y, size_t from, size_t to) {
    double e = 0;
    for (size_t i = from; i < to; ++i) e += double(y[i]) * y[i];
    return std::sqrt(e / double(to - from));
}

void expectSameOutput(const Result& a, const Result& b) {
    EXPECT_EQ(a.got, b.got);
    EXPECT_EQ(a.consumed, b.consumed);
    ASSERT_EQ(a.out.size(), b.out.size());
    const auto diff = std::mismatch(a.out.begin(), a.out.end(), b.out.begin());
    EXPECT_TRUE(diff.first == a.out.end()) << "first difference at " << (diff.first - a.out.begin());
}

std::string thrownMessage(double factor, int32_t channels = 1, double gain = 1.0) {
    try {
        Resampler r;
        r.SetUp(factor, channels, gain);
        std::vector<int16_t> in(1000, 100), out(1000);
        int32_t n = 1000;
        r.Convert(in.data(), n, static_cast<int32_t>(std::min(1000.0, 1000 * factor)), out.data());
    } catch (const QuorbixError& e) {
        return e.message();
    }
    return "(nothing thrown)";
}

}  // namespace

TEST(ResamplerTable, MatchesThePublishedCheckpoints) {
    const int16_t* imp = kResamplerImp;
    const int16_t* impD = kResamplerImpD;
    const std::vector<int16_t> head = {32767, 32766, 32764, 32761, 32756};
    for (size_t i = 0; i < head.size(); ++i) EXPECT_EQ(imp[i], head[i]) << i;

    const std::vector<int16_t> atCrossings = {32767, 3566, -3349, 3011, -2577, 2088,
                                              -1579, 1091, -650,  283,  0};
    for (size_t k = 0; k < atCrossings.size(); ++k) EXPECT_EQ(imp[256 * k], atCrossings[k]) << k;

    std::vector<int32_t> flips;
    for (int32_t i = 1; i < kResamplerNwing && flips.size() < 6; ++i)
        if ((imp[i - 1] > 0 && imp[i] < 0) || (imp[i - 1] < 0 && imp[i] > 0)) flips.push_back(i);
    EXPECT_EQ(flips, (std::vector<int32_t>{285, 569, 854, 1138, 1423, 1707}));
    EXPECT_EQ(imp[284], 51);
    EXPECT_EQ(imp[285], -63);
    EXPECT_EQ(imp[568], -49);
    EXPECT_EQ(imp[569], 6);

    EXPECT_EQ(imp[8100], 1);
    for (int32_t i = 8101; i < kResamplerNwing; ++i) EXPECT_EQ(imp[i], 0) << i;
    EXPECT_EQ(*std::min_element(imp, imp + kResamplerNwing), -7043);
    EXPECT_EQ(*std::max_element(imp, imp + kResamplerNwing), 32767);

    const std::vector<int16_t> dHead = {-1, -2, -3, -5};
    for (size_t i = 0; i < dHead.size(); ++i) EXPECT_EQ(impD[i], dHead[i]) << i;
    for (int32_t i = 0; i + 1 < kResamplerNwing; ++i) ASSERT_EQ(impD[i], imp[i + 1] - imp[i]) << i;
    EXPECT_EQ(impD[kResamplerNwing - 1], -imp[kResamplerNwing - 1]);
    EXPECT_EQ(impD[8051], 1);
    EXPECT_EQ(impD[8100], -1);
    for (int32_t i = 8052; i < kResamplerNwing; ++i) {
        if (i != 8100) {
            EXPECT_EQ(impD[i], 0) << i;
        }
    }
}

// An independent design of the same filter (Kaiser window, beta 9, cut-off
// 0.9) lands within 2 of every stored entry.
TEST(ResamplerTable, AgreesWithTheKaiserWindowedSinc) {
    auto i0 = [](double x) {
        double sum = 1, term = 1;
        for (int k = 1; k < 60; ++k) {
            term *= (x / (2 * k)) * (x / (2 * k));
            sum += term;
        }
        return sum;
    };
    int worst = 0;
    for (int32_t i = 0; i < kResamplerNwing; ++i) {
        const double arg = 0.9 * i / 256;
        const double sinc = i == 0 ? 1.0 : std::sin(M_PI * arg) / (M_PI * arg);
        const double r = double(i) / kResamplerNwing;
        const double v = 32767 * sinc * i0(9 * std::sqrt(1 - r * r)) / i0(9);
        worst = std::max(worst, std::abs(int(std::lround(v)) - kResamplerImp[i]));
    }
    EXPECT_LE(worst, 2);
}

TEST(Resampler, ReturnsTheWantedCountWhenTheInputIsLongEnough) {
    for (const double factor : {0.5, 0.459375, 0.91875, 0.68934240362811786, 1.0, 2.0, 2.75625}) {
        for (const size_t n : {size_t(1000), size_t(4096), size_t(44100), size_t(3 * 4096 + 17), size_t(200003)}) {
            SCOPED_TRACE(testing::Message() << "factor " << factor << " n " << n);
            const Result r = convert(fullScaleNoise(n, 7), factor);
            EXPECT_EQ(r.got, static_cast<int32_t>(n * factor));
            // Consumed is how far the output clock moved: got periods of dtb (Q15).
            EXPECT_EQ(r.consumed, static_cast<int32_t>((int64_t(r.got) * outputPeriodQ15(factor)) >> 15));
        }
    }
}

// The first output lies on the first input sample: with an impulse at input
// 2m, the 2:1 output is symmetric around output m (the lead-in is zeros).
TEST(Resampler, FirstOutputLiesOnTheFirstInputSample) {
    for (const int32_t m : {0, 1, 5, 40}) {
        SCOPED_TRACE(m);
        std::vector<int16_t> in(4000, 0);
        in[2 * m] = 20000;
        const Result r = convert(in, 0.5);
        const auto peak = std::max_element(r.out.begin(), r.out.end()) - r.out.begin();
        EXPECT_EQ(peak, m);
        for (int32_t k = 1; k <= m; ++k) EXPECT_EQ(r.out[m - k], r.out[m + k]) << k;
        // The centre tap: unity gain spread over a filter cut at 0.9 of the output Nyquist.
        EXPECT_NEAR(r.out[m], 20000 * 0.5 * 0.9, 10);
    }
    // A sine well inside the pass band comes out in phase: a one-sample slip
    // at 441 Hz would be an error of about 6 % of the amplitude.
    for (const double factor : {0.5, 0.91875, 2.0}) {
        SCOPED_TRACE(factor);
        const auto in = test::sine(441.0, 44100, 1.0, 16000.0, 0.3);
        const Result r = convert(in, factor);
        double worst = 0;
        for (int32_t j = 200; j + 200 < r.got; ++j) {
            const double t = double(j) * outputPeriodQ15(factor) / 32768;  // the fixed-point clock
            worst = std::max(worst, std::abs(r.out[j] - 16000.0 * std::sin(2 * M_PI * 441.0 * t / 44100 + 0.3)));
        }
        EXPECT_LT(worst, 0.01 * 16000);
    }
}

// Worked by hand from the fixed-point rules for an impulse at input 0: only
// the centre tap (32767) reaches output 0, only table entry 256 (3566) output 1.
// E.g. factor 1, +10000: t = 327670000, bit 13 clear, t >> 14 = 19999;
// (19999 >> 2) * 14746 = 73715254; (73715254 + 4096) >> 13 = 8998. The
// negative impulse shows the arithmetic shifts rounding toward minus infinity.
// At 1030 the rounding bit decides: t = 33750010 has bit 13 set, so t >> 14
// becomes 2060, not 2059, and output 0 becomes 927, not 925.
TEST(Resampler, ImpulseOutputsFollowTheFixedPointRules) {
    struct Case { double factor; int16_t amplitude; int16_t y0, y1; };
    for (const Case& c : {Case{1.0, 10000, 8998, 979}, Case{1.0, -10000, -9000, -981},
                          Case{0.5, 10000, 4499, 490}, Case{0.5, -10000, -4500, -491},
                          Case{1.0, 1030, 927, 101}, Case{1.0, -1030, -927, -101},
                          Case{0.5, 1030, 464, 50}, Case{0.5, -1030, -464, -50}}) {
        for (const auto path : {Resampler::Path::Reference, Resampler::Path::Fast}) {
            SCOPED_TRACE(testing::Message() << "factor " << c.factor << " amplitude " << c.amplitude);
            std::vector<int16_t> in(1000, 0);
            in[0] = c.amplitude;
            const Result r = convert(in, c.factor, path);
            EXPECT_EQ(r.out[0], c.y0);
            EXPECT_EQ(r.out[1], c.y1);
        }
    }
}

TEST(Resampler, KeepsThePassBandAndRejectsWhatWouldAlias) {
    struct Case { double inRate, outRate, pass, stop; };
    for (const Case& c : {Case{44100, 22050, 1000, 15000}, Case{48000, 22050, 5000, 14000},
                          Case{48000, 44100, 3000, 23500}, Case{22050, 44100, 4000, 0},
                          Case{8000, 22050, 1500, 0}}) {
        const double factor = c.outRate / c.inRate;
        SCOPED_TRACE(testing::Message() << c.inRate << " -> " << c.outRate);
        const Result pass = convert(test::sine(c.pass, int32_t(c.inRate), 1.0, 20000.0), factor);
        const size_t from = 200, to = pass.out.size() - 200;
        EXPECT_NEAR(toneAmplitude(pass.out, from, to, c.pass, c.outRate), 20000.0, 200.0);
        if (c.stop > 0) {
            const Result stop = convert(test::sine(c.stop, int32_t(c.inRate), 1.0, 20000.0), factor);
            EXPECT_LT(rms(stop.out, from, to), 20000.0 / std::sqrt(2.0) * 0.01);  // below -40 dB
        }
    }
}

// 48000 -> 44100 Hz (factor 0.91875) must use the down-sampling kernel, whose
// cut-off follows the output's Nyquist frequency; the up-sampling kernel would
// keep the input's (21.6 kHz) and let a 22.6 kHz tone alias to 21.5 kHz.
TEST(Resampler, SlightDownSamplingStillMovesTheCutOff) {
    const auto in = test::sine(22600, 48000, 1.0, 20000.0);
    const Result r = convert(in, 0.91875);
    EXPECT_LT(rms(r.out, 200, r.out.size() - 200), 20000.0 / std::sqrt(2.0) * 0.01);
}

// Below factor 1 LpScl shrinks with the filter's stretch, so DC keeps unity gain.
TEST(Resampler, DcComesOutScaledByTheGain) {
    for (const double factor : {0.5, 0.459375, 0.91875, 1.0, 2.0}) {
        for (const double gain : {1.0, 0.5, -1.0}) {
            SCOPED_TRACE(testing::Message() << "factor " << factor << " gain " << gain);
            const Result r = convert(std::vector<int16_t>(20000, -20000), factor, Resampler::Path::Fast, 1, gain);
            for (size_t j = 150; j + 150 < r.out.size(); j += 101)
                EXPECT_NEAR(r.out[j], -20000 * gain, 0.005 * 20000) << j;
        }
    }
}

// The fast paths regroup the arithmetic; they must not change one bit.
TEST(Resampler, FastPathsMatchTheReferenceBitForBit) {
    struct Case { double factor; int32_t channels; double gain; };
    for (const Case& c : {Case{0.5, 1, 1.0}, Case{0.91875, 1, 1.0}, Case{1.0, 1, 1.0}, Case{2.0, 1, 1.0},
                          Case{0.459375, 1, 1.0}, Case{0.68934240362811786, 2, 1.0}, Case{0.25, 1, 1.0},
                          Case{0.1, 1, 1.0}, Case{0.0171, 1, 1.0}, Case{1.5, 2, 1.0}, Case{2.75625, 1, 1.0},
                          Case{4.0, 1, 1.0}, Case{37.3, 1, 1.0}, Case{0.5, 1, 3.7}, Case{1.0, 1, 8.0}}) {
        SCOPED_TRACE(testing::Message() << "factor " << c.factor << " channels " << c.channels
                                        << " gain " << c.gain);
        const size_t n = c.factor > 10 ? 3000 : 30011;
        const auto in = fullScaleNoise(n * c.channels, 11);
        const Result ref = convert(in, c.factor, Resampler::Path::Reference, c.channels, c.gain);
        expectSameOutput(convert(in, c.factor, Resampler::Path::Fast, c.channels, c.gain), ref);
        expectSameOutput(convert(in, c.factor, Resampler::Path::Vector128, c.channels, c.gain), ref);
        expectSameOutput(convert(in, c.factor, Resampler::Path::Portable, c.channels, c.gain), ref);
    }
}

// Random factors over the whole accepted range and short inputs that end in
// every part of a block; run under the sanitizers this also checks that no
// path reads outside its window.
TEST(Resampler, FastPathsMatchTheReferenceForRandomFactors) {
    std::mt19937 gen(2024);
    std::uniform_real_distribution<double> logFactor(std::log(0.0166), std::log(Resampler::kMaxFactor));
    for (int trial = 0; trial < 60; ++trial) {
        const double factor = std::exp(logFactor(gen));
        const auto n = 2 + static_cast<size_t>(gen() % std::min<uint32_t>(9000, uint32_t(60000 / factor) + 1));
        SCOPED_TRACE(testing::Message() << "factor " << factor << " n " << n);
        const auto in = fullScaleNoise(n, trial);
        const Result ref = convert(in, factor, Resampler::Path::Reference);
        EXPECT_EQ(ref.got, static_cast<int32_t>(n * factor));
        expectSameOutput(convert(in, factor, Resampler::Path::Fast), ref);
    }
}

TEST(Resampler, ChannelsAreConvertedIndependently) {
    const auto left = test::sine(1000, 44100, 0.5, 12000.0);
    const auto right = fullScaleNoise(left.size(), 3);
    std::vector<int16_t> both(left);
    both.insert(both.end(), right.begin(), right.end());
    const Result stereo = convert(both, 0.5, Resampler::Path::Fast, 2);
    const Result l = convert(left, 0.5), r = convert(right, 0.5);
    ASSERT_EQ(stereo.got, l.got);
    EXPECT_TRUE(std::equal(l.out.begin(), l.out.end(), stereo.out.begin()));
    EXPECT_TRUE(std::equal(r.out.begin(), r.out.end(), stereo.out.begin() + stereo.got));
}

TEST(Resampler, SameInputSameOutputAndSetUpStartsOver) {
    const auto in = fullScaleNoise(50000, 5);
    const Result a = convert(in, 0.459375), b = convert(in, 0.459375);
    EXPECT_EQ(a.out, b.out);

    // A used object, set up again, behaves like a fresh one.
    Resampler r;
    r.SetUp(2.0, 1);
    std::vector<int16_t> junk(9000);
    int32_t n = 4000;
    r.Convert(fullScaleNoise(4000, 9).data(), n, 8000, junk.data());
    r.SetUp(0.459375, 1);
    std::vector<int16_t> out(a.out.size());
    n = static_cast<int32_t>(in.size());
    EXPECT_EQ(r.Convert(in.data(), n, static_cast<int32_t>(out.size()), out.data()), a.got);
    EXPECT_EQ(out, a.out);
}

TEST(Resampler, DegenerateCountsGiveShortOutputNotACrash) {
    std::vector<int16_t> out(64, 7);
    for (const double factor : {0.5, 1.0, 2.0}) {
        SCOPED_TRACE(factor);
        Resampler r;
        r.SetUp(factor, 1);
        int32_t n = 0;
        EXPECT_EQ(r.Convert(nullptr, n, 0, out.data()), 0);
        r.SetUp(factor, 1);
        n = -5;
        EXPECT_EQ(r.Convert(nullptr, n, 10, out.data()), 0);  // no input at all: nothing after the lead-in
        const std::vector<int16_t> one = {1000};
        r.SetUp(factor, 1);
        n = 1;
        EXPECT_EQ(r.Convert(one.data(), n, -3, out.data()), 0);
    }
    // A few samples give their full count; the tail sees zeros.
    const std::vector<int16_t> few = {100, 200, 300, 400, 500, 600, 700, 800, 900, 1000, 1100};
    const Result r = convert(few, 0.5);
    EXPECT_EQ(r.got, 5);
}

TEST(Resampler, RefusesFactorsItCannotServe) {
    // The filter's reach (33 / factor + 10 samples each side) must fit in half the window.
    EXPECT_EQ(thrownMessage(0.01), "IBUFFSIZE (or factor) is too small");
    EXPECT_EQ(thrownMessage(0.0161), "IBUFFSIZE (or factor) is too small");
    // Just above that limit a block would yield no output and never finish.
    EXPECT_EQ(thrownMessage(0.0162), "IBUFFSIZE (or factor) is too small");
    EXPECT_EQ(thrownMessage(0.01635), "IBUFFSIZE (or factor) is too small");
    EXPECT_EQ(thrownMessage(0.0164), "(nothing thrown)");
    EXPECT_EQ(thrownMessage(1024.0), "(nothing thrown)");
    for (const double bad : {0.0, -0.5, 1024.5, std::nan(""), HUGE_VAL}) {
        SCOPED_TRACE(bad);
        EXPECT_EQ(thrownMessage(bad), "Resampler: factor out of range");
    }
    EXPECT_EQ(thrownMessage(0.5, 0), "Programming error: Resampler channel count out of range");
    EXPECT_EQ(thrownMessage(0.5, 1, 1e6), "Programming error: Resampler gain out of range");

    Resampler unset;
    int32_t n = 10;
    std::vector<int16_t> buf(10);
    EXPECT_THROW(unset.Convert(buf.data(), n, 5, buf.data()), QuorbixError);
}
