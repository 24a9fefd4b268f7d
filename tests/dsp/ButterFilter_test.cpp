#include "dsp/ButterFilter.h"

#include <gtest/gtest.h>

#include <cstring>
#include <iterator>

#include "dsp/QuorbixError.h"
#include "dsp/SignalObj.h"
#include "support/Signals.h"

namespace {
constexpr int32_t kRate = 22050;
const double kHalfPower = 1.0 / std::sqrt(2.0);

// Where |H| passes `level` on [lo, hi], |H| monotonic there.
double crossing(const ButterFilter& f, double level, double lo, double hi, bool rising) {
    for (int i = 0; i < 60; ++i) {
        const double mid = 0.5 * (lo + hi);
        ((std::abs(f.Response(mid)) < level) == rising ? lo : hi) = mid;
    }
    return lo;
}
}  // namespace

// The conversion and binding every filter shares.
TEST(Filter, ToSampleRoundsHalfAwayFromZeroAndClampsAndBindChecks) {
    const double in[] = {2.5, -2.5, 2.4999, -0.5, 32766.5, 32767.5, -32768.5, 1e300, -INFINITY, NAN};
    const int out[] = {3, -3, 2, -1, 32767, 32767, -32768, 32767, -32768, 0};
    for (size_t i = 0; i < std::size(in); ++i) EXPECT_EQ(Filter::ToSample(in[i]), out[i]) << in[i];
    ButterFilter f;
    int16_t buffer[4] = {};
    EXPECT_THROW(f.LowPass(150.0, 0.0), QuorbixError);  // not bound
    SignalObj noRate;
    EXPECT_THROW(f.Bind(&noRate, buffer), QuorbixError);
}

// The library formula's bits, signed zeros and the ties of the 2^52 region
// (where v + 0.5 rounds to even) included.
TEST(Rounding, HalfAwayMatchesFloorAndCeil) {
    const double two52 = 4503599627370496.0;
    for (double v : {0.0, -0.0, 0.3, -0.3, 0.5, -0.5, 0.49999999999999994, -0.49999999999999994, 1.5, -1.5,
                     32766.5, -32768.5, two52 - 0.5, -(two52 - 0.5), two52 - 1.0, two52 + 1.0, -(two52 + 1.0),
                     1e300, -1e300, double(INFINITY), double(-INFINITY)}) {
        const double expected = v > 0 ? std::floor(v + 0.5) : std::ceil(v - 0.5), got = roundHalfAway(v);
        EXPECT_EQ(std::memcmp(&got, &expected, sizeof got), 0) << v << " gave " << got << ", not " << expected;
    }
    EXPECT_TRUE(std::isnan(roundHalfAway(NAN)));
}

// Runs follow the designed response (the low-pass output runs 20 samples ahead).
TEST(ButterFilter, DesignsHaveButterworthResponseAndRunsFollowThem) {
    auto s = test::signalOf(std::vector<int16_t>(8), kRate);
    int16_t out[8];
    ButterFilter f;
    f.Bind(s.get(), out);
    auto gain = [&](double hz) { return std::abs(f.Response(hz)); };
    f.LowPass(150.0, 0.0);
    EXPECT_NEAR(gain(0.0), 1.0, 1e-12);
    EXPECT_NEAR(gain(150.0), kHalfPower, 1e-9);
    EXPECT_LT(gain(1500.0), 0.01);  // 12 dB per octave
    f.HighPass(1000.0, 0.0);
    EXPECT_NEAR(gain(0.0), 0.0, 1e-12);
    EXPECT_NEAR(gain(1000.0), kHalfPower, 1e-9);
    EXPECT_NEAR(gain(kRate / 2.0), 1.0, 1e-12);
    f.BandPass(2000.0, 600.0, 0.0);  // unity at the centre, -3 dB points the width apart
    EXPECT_NEAR(gain(2000.0), 1.0, 1e-12);
    const double lower = crossing(f, kHalfPower, 100.0, 2000.0, true);
    EXPECT_NEAR(crossing(f, kHalfPower, 2000.0, 6000.0, false) - lower, 600.0, 1e-6);
    EXPECT_LT(lower, 1750.0);
    f.BandReject(2000.0, 600.0, 0.0);
    EXPECT_NEAR(gain(2000.0), 0.0, 1e-9);
    EXPECT_NEAR(gain(0.0), 1.0, 1e-12);

    for (const double hz : {60.0, 700.0, 2000.0, 6000.0}) {
        const auto in = test::sine(hz, kRate, 1.5, 12000.0, 0.3);
        auto signal = test::signalOf(in, kRate);
        std::vector<int16_t> run(in.size());
        for (int design = 0; design < 4; ++design) {
            ButterFilter g;
            g.Bind(signal.get(), run.data());
            design == 0 ? g.LowPass(150.0, 0.0) : design == 1 ? g.HighPass(1000.0, 0.0)
                : design == 2 ? g.BandPass(2000.0, 600.0, 0.0) : g.BandReject(2000.0, 600.0, 0.0);
            const auto ahead = std::polar(1.0, design == 0 ? 2.0 * M_PI * hz * ButterFilter::kLowPassShift / kRate : 0.0);
            EXPECT_NEAR(std::abs(test::measuredResponse(in, run, hz, kRate, 4410) - g.Response(hz) * ahead), 0.0, 2e-4)
                << "design " << design << " at " << hz;
        }
    }
}

// The step's overshoot is clamped, never wrapped; the last 20 samples, and
// signals of 20 frames or fewer, are 0; nothing past the buffer is touched.
TEST(ButterFilter, LowPassClampsAndZeroesItsTail) {
    for (const int16_t level : {int16_t(32767), int16_t(-32768)}) {
        auto s = test::signalOf(std::vector<int16_t>(3000, level), kRate);
        std::vector<int16_t> out(s->length, 1234);
        ButterFilter f;
        f.Bind(s.get(), out.data());
        f.LowPass(1000.0, 0.0);
        for (int32_t i = 0; i < s->length; ++i) {
            ASSERT_EQ(out[i], i >= 2980 ? 0 : i > 1000 ? level : out[i]) << level << " at " << i;
            ASSERT_EQ(out[i] < 0, level < 0 && i < 2980) << level << " at " << i;
        }
    }
    for (const int32_t n : {0, 1, 19, 20}) {
        auto s = test::signalOf(std::vector<int16_t>(n, 20000), kRate);
        std::vector<int16_t> buffer(n + 4, 777), expected(n, 0);
        expected.resize(n + 4, 777);
        ButterFilter f;
        f.Bind(s.get(), buffer.data());
        f.LowPass(2000.0, 0.0);
        EXPECT_EQ(buffer, expected) << n;
    }
}
