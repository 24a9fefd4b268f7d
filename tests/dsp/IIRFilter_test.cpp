#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <functional>
#include <iterator>
#include <memory>
#include <tuple>

#include "dsp/ButterFilter.h"
#include "dsp/EllipticalFilter.h"
#include "dsp/QuorbixError.h"
#include "dsp/SignalObj.h"
#include "support/Signals.h"

namespace {
constexpr int32_t kRate = 22050;
const double kHalfPower = 1.0 / std::sqrt(2.0);

std::unique_ptr<SignalObj> makeSignal(const std::vector<int16_t>& x, bool stereo = false) {
    auto s = std::make_unique<SignalObj>();
    s->CreateBuffer(static_cast<int32_t>(x.size()), kRate, stereo);
    std::copy(x.begin(), x.begin() + s->elementCount, s->data);
    return s;
}

// The response a run showed at `hz`: ratio of output to input Fourier
// coefficients over one second from `from` (whole cycles for integer hz, so
// no leakage). hz * i is reduced modulo the rate to keep the phase exact.
std::complex<double> measured(const std::vector<int16_t>& in, const std::vector<int16_t>& out,
                              double hz, size_t from) {
    std::complex<double> x, y;
    for (size_t i = from; i < from + kRate; ++i) {
        const auto e = std::polar(1.0, -2.0 * M_PI * std::fmod(hz * double(i), kRate) / kRate);
        x += double(in[i]) * e;
        y += double(out[i]) * e;
    }
    return y / x;
}

// Where |H| passes `level` on [lo, hi], |H| monotonic there.
double crossing(const ButterFilter& f, double level, double lo, double hi, bool rising) {
    for (int i = 0; i < 60; ++i) {
        const double mid = 0.5 * (lo + hi);
        ((std::abs(f.Response(mid)) < level) == rising ? lo : hi) = mid;
    }
    return lo;
}

// Largest and smallest response in dB over [lo, hi] in 0.5 Hz steps.
std::pair<double, double> dbRange(const EllipticalFilter& f, double lo, double hi) {
    double top = -1e300, bottom = 1e300;
    for (double hz = lo; hz <= hi; hz += 0.5) {
        const double db = 20.0 * std::log10(std::abs(f.Response(hz)));
        top = std::max(top, db);
        bottom = std::min(bottom, db);
    }
    return {top, bottom};
}

// F(phi, k) by composite Simpson: an independent route, sn(F(phi, k)) = sin(phi).
double incompleteF(double phi, double k) {
    auto g = [&](double t) { return 1.0 / std::sqrt(1.0 - std::pow(k * std::sin(t), 2)); };
    double sum = g(0.0) + g(phi);
    for (int i = 1; i < 4000; ++i) sum += (i % 2 ? 4.0 : 2.0) * g(i * phi / 4000);
    return sum * phi / 12000.0;
}
}  // namespace

TEST(Filter, ToSampleRoundsHalfAwayFromZeroAndClamps) {
    const double in[] = {2.5, -2.5, 2.4999, -2.4999, -0.5, 32766.5, 32767.5, -32767.5, -32768.5, 1e300, -INFINITY, NAN};
    const int out[] = {3, -3, 2, -2, -1, 32767, 32767, -32768, -32768, 32767, -32768, 0};
    for (size_t i = 0; i < std::size(in); ++i) EXPECT_EQ(Filter::ToSample(in[i]), out[i]) << in[i];
    ButterFilter f;
    int16_t buffer[4] = {};
    EXPECT_THROW(f.LowPass(150.0, 0.0), QuorbixError);  // not bound
    SignalObj noRate;
    EXPECT_THROW(f.Bind(&noRate, buffer), QuorbixError);
}

TEST(ButterFilter, DesignsHaveButterworthResponse) {
    auto s = makeSignal(std::vector<int16_t>(8));
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
}

TEST(ButterFilter, RunReproducesDesignedResponse) {
    for (const double hz : {60.0, 150.0, 700.0, 2000.0, 2300.0, 6000.0}) {
        const auto in = test::sine(hz, kRate, 1.5, 12000.0, 0.3);
        auto s = makeSignal(in);
        std::vector<int16_t> out(in.size());
        for (int design = 0; design < 4; ++design) {
            ButterFilter f;
            f.Bind(s.get(), out.data());
            std::complex<double> ahead = 1.0;
            switch (design) {
                case 0:
                    f.LowPass(150.0, 0.0);  // its output runs 20 samples ahead
                    ahead = std::polar(1.0, 2.0 * M_PI * hz * ButterFilter::kLowPassShift / kRate);
                    break;
                case 1: f.HighPass(1000.0, 0.0); break;
                case 2: f.BandPass(2000.0, 600.0, 0.0); break;
                default: f.BandReject(2000.0, 600.0, 0.0); break;
            }
            EXPECT_NEAR(std::abs(measured(in, out, hz, 4410) - f.Response(hz) * ahead), 0.0, 2e-4)
                << "design " << design << " at " << hz << " Hz";
        }
    }
}

TEST(ButterFilter, LowPassClampsAndZeroesItsTail) {
    // Full scale maps to +-1 and settles back there; the step response's
    // overshoot is clamped, never wrapped; the last 20 samples are 0.
    for (const int16_t level : {int16_t(32767), int16_t(-32768)}) {
        auto s = makeSignal(std::vector<int16_t>(3000, level));
        std::vector<int16_t> out(s->length, 1234);
        ButterFilter f;
        f.Bind(s.get(), out.data());
        f.LowPass(1000.0, 0.0);
        for (int32_t i = 0; i < s->length; ++i) {
            ASSERT_EQ(out[i], i >= 2980 ? 0 : i > 1000 ? level : out[i]) << level << " at " << i;
            ASSERT_EQ(out[i] < 0, level < 0 && i < 2980) << level << " at " << i;
        }
    }
    // 20 frames or fewer come out silent; nothing past the buffer is touched.
    for (const int32_t n : {0, 1, 19, 20}) {
        auto s = makeSignal(std::vector<int16_t>(n, 20000));
        std::vector<int16_t> buffer(n + 4, 777), expected(n, 0);
        expected.resize(n + 4, 777);
        ButterFilter f;
        f.Bind(s.get(), buffer.data());
        f.LowPass(2000.0, 0.0);
        EXPECT_EQ(buffer, expected) << n;
    }
}

TEST(EllipticFunctions, AgreeWithIndependentDefinitions) {
    for (const double k : {0.05, 0.5, 0.66654, 0.9, 0.999}) {
        double a = 1.0, b = std::sqrt(1.0 - k * k);  // K(k) = pi / (2 AGM(1, k'))
        for (int i = 0; i < 40; ++i) std::tie(a, b) = std::make_pair(0.5 * (a + b), std::sqrt(a * b));
        EXPECT_NEAR(elliptic::CompleteK(k), M_PI / (2.0 * a), 3e-8) << k;
        for (const double phi : {-1.2, 0.0, 0.3, M_PI / 2.0, 2.5}) {
            const auto j = elliptic::JacobiFunctions(incompleteF(phi, k), 1.0 - k * k);
            EXPECT_NEAR(j.sn, std::sin(phi), 1e-9) << k << " " << phi;
            EXPECT_NEAR(j.cn, std::cos(phi), 1e-9) << k << " " << phi;
            EXPECT_NEAR(j.dn, std::sqrt(1.0 - std::pow(k * std::sin(phi), 2)), 1e-9) << k << " " << phi;
        }
    }
    EXPECT_DOUBLE_EQ(elliptic::JacobiFunctions(0.7, 0.0).sn, std::tanh(0.7));  // k = 1
    // k > 1: the defining identities and d sn / du = cn dn.
    const double m = 1.6, u = 0.4, du = 1e-6;
    const auto j = elliptic::JacobiFunctions(u, 1.0 - m);
    EXPECT_NEAR(j.sn * j.sn + j.cn * j.cn, 1.0, 1e-12);
    EXPECT_NEAR(j.dn * j.dn + m * j.sn * j.sn, 1.0, 1e-12);
    const double slope = elliptic::JacobiFunctions(u + du, 1.0 - m).sn - elliptic::JacobiFunctions(u - du, 1.0 - m).sn;
    EXPECT_NEAR(slope / (2.0 * du), j.cn * j.dn, 1e-7);
}

TEST(EllipticalFilter, DesignsMeetTheirBands) {
    struct Case {
        float attenuation;
        std::function<void(EllipticalFilter&)> apply;
        int32_t order, sections;
        double e1, passLo, passHi;
        std::vector<std::pair<double, double>> stopbands;
    };
    const Case cases[] = {
        {60, [](EllipticalFilter& f) { f.LowPass(150.0, 0.5); }, 6, 3, 150, 0, 150, {{225, 11025}}},  // the analysis's
        {40, [](EllipticalFilter& f) { f.LowPass(1000.0, 0.5); }, 5, 3, 1000, 0, 1000, {{1500, 11025}}},
        {60, [](EllipticalFilter& f) { f.HighPass(2000.0, 0.5); }, 5, 3, 2000, 2000, 11025, {{0, 1000}}},
        {60, [](EllipticalFilter& f) { f.BandPass(2000.0, 600.0, 0.2); }, 10, 5, 1700, 1700, 2300,
         {{0, 1400}, {2760, 11025}}},
    };
    auto s = makeSignal(std::vector<int16_t>(16));
    int16_t out[16];
    for (const Case& c : cases) {
        SCOPED_TRACE("case " + std::to_string(&c - cases));
        EllipticalFilter f(0.0f, 0.0f, 0.0f, 1.0f, c.attenuation, 1.0f);
        f.Bind(s.get(), out);
        c.apply(f);
        EXPECT_EQ(f.order(), c.order);
        EXPECT_EQ(f.sections().size(), size_t(c.sections));
        for (const auto& sec : f.sections())  // poles inside the unit circle
            EXPECT_TRUE(std::fabs(sec.c3) < 1.0 && std::fabs(sec.c1) < 1.0 + sec.c3);
        EXPECT_NEAR(std::abs(f.Response(c.e1)), 1.0, 1e-12);
        const auto pass = dbRange(f, c.passLo, c.passHi);
        EXPECT_LE(pass.first, 1.0);  // 1 dB ripple above the edge gain, never below it
        EXPECT_GE(pass.second, -1e-6);
        for (const auto& band : c.stopbands) EXPECT_LE(dbRange(f, band.first, band.second).first, -c.attenuation);
    }
}

TEST(EllipticalFilter, RunFollowsDesignScaledBy093) {
    for (const float factor : {1.0f, 0.5f}) {
        for (const double hz : {30.0, 100.0, 140.0}) {
            const auto in = test::sine(hz, kRate, 1.6, 12000.0, 0.7);
            auto s = makeSignal(in);
            std::vector<int16_t> out(in.size());
            EllipticalFilter f(0.0f, 0.0f, 0.0f, 1.0f, 60.0f, factor);
            f.Bind(s.get(), out.data());
            f.LowPass(150.0, 0.5);
            EXPECT_NEAR(std::abs(measured(in, out, hz, 11025) - f.Response(hz) * (0.93 * factor)), 0.0, 2e-4)
                << hz << " Hz, factor " << factor;
        }
    }
    // Full-scale stopband tones come out at least 60 dB down; only channel 0
    // of the source is filtered.
    for (const double hz : {225.0, 1000.0, 5000.0}) {
        const auto tone = test::sine(hz, kRate, 1.0, 32767.0);
        auto stereo = makeSignal(test::interleave(tone, test::noise(kRate, 1.0, 30000.0)), true);
        std::vector<int16_t> out(tone.size());
        EllipticalFilter f;
        f.Bind(stereo.get(), out.data());
        f.LowPass(150.0, 0.5);
        const auto [lo, hi] = std::minmax_element(out.begin() + 11025, out.end());
        EXPECT_LE(std::max(-*lo, int(*hi)), 32767 * 0.93 / 1000.0 + 0.5) << hz;
    }
}

TEST(EllipticalFilter, RefusesDesignsItCannotBuild) {
    auto s = makeSignal(std::vector<int16_t>(16, 5));
    std::vector<int16_t> out(16, 0);
    EllipticalFilter f, noRipple(0, 0, 0, 0, 60, 1), steep(0, 0, 0, 1, 1000, 1);
    EXPECT_THROW(f.LowPass(150.0, 0.5), QuorbixError);  // not bound
    const std::string edges = "EllipticalFilter: band edges out of range";
    const std::pair<std::function<void()>, std::string> cases[] = {
        {[&] { f.BandReject(2000.0, 600.0, 0.1); }, "BandReject not implmented yet by EllipticalFilter"},
        {[&] { f.LowPass(150.0, 0.0); }, edges},
        {[&] { f.LowPass(8000.0, 0.5); }, edges},  // stopband past Nyquist
        {[&] { f.HighPass(1000.0, 1.0); }, edges},
        {[&] { f.BandPass(2000.0, 600.0, 0.0); }, edges},
        {[&] { noRipple.LowPass(150.0, 0.5); }, "EllipticalFilter: ripple or attenuation out of range"},
        {[&] { steep.LowPass(150.0, 0.5); }, "EllipticalFilter: order out of range"},
    };
    for (auto* filter : {&f, &noRipple, &steep}) filter->Bind(s.get(), out.data());
    for (const auto& [call, message] : cases) {
        try {
            call();
            ADD_FAILURE() << "no exception, expected " << message;
        } catch (const QuorbixError& e) {
            EXPECT_EQ(e.message(), message);
        }
    }
    EXPECT_EQ(out, std::vector<int16_t>(16, 0));  // nothing ran
}
