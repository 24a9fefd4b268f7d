#include "dsp/EllipticalFilter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <complex>
#include <functional>

#include "dsp/QuorbixError.h"
#include "dsp/SignalObj.h"
#include "support/Signals.h"

namespace {

constexpr int32_t kRate = 22050;

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

}  // namespace

// The designs' outcomes also cover the elliptic integrals and functions they are built from.
TEST(EllipticalFilter, DesignsMeetTheirBands) {
    const struct {
        std::function<void(EllipticalFilter&)> apply;
        int32_t order;
        double e1, passLo, passHi;
        std::vector<std::pair<double, double>> stopbands;
    } cases[] = {
        {[](EllipticalFilter& f) { f.LowPass(150.0, 0.5); }, 6, 150, 0, 150, {{225, 11025}}},  // the analysis's
        {[](EllipticalFilter& f) { f.HighPass(2000.0, 0.5); }, 5, 2000, 2000, 11025, {{0, 1000}}},
        {[](EllipticalFilter& f) { f.BandPass(2000.0, 600.0, 0.2); }, 10, 1700, 1700, 2300, {{0, 1400}, {2760, 11025}}},
    };
    auto s = test::signalOf(std::vector<int16_t>(16), kRate);
    int16_t out[16];
    for (const auto& c : cases) {
        SCOPED_TRACE(c.e1);
        EllipticalFilter f(0.0f, 0.0f, 0.0f, 1.0f, 60.0f, 1.0f);
        f.Bind(s.get(), out);
        c.apply(f);
        EXPECT_EQ(f.order(), c.order);
        EXPECT_EQ(f.sections().size(), size_t(c.order + 1) / 2);
        for (const auto& sec : f.sections())  // poles inside the unit circle
            EXPECT_TRUE(std::fabs(sec.c3) < 1.0 && std::fabs(sec.c1) < 1.0 + sec.c3);
        EXPECT_NEAR(std::abs(f.Response(c.e1)), 1.0, 1e-12);
        const auto pass = dbRange(f, c.passLo, c.passHi);
        EXPECT_LE(pass.first, 1.0);  // 1 dB ripple above the edge gain, never below it
        EXPECT_GE(pass.second, -1e-6);
        for (const auto& band : c.stopbands) EXPECT_LE(dbRange(f, band.first, band.second).first, -60.0);
    }
}

// The sections run skewed by a sample each: at every length, shorter than the
// cascade too, channel 0 comes out as a plain cascade's times the design gain,
// 0.93 and the gain factor, sample by sample.
TEST(EllipticalFilter, RunMatchesAPlainCascadeAtEveryLength) {
    for (const size_t n : {1, 2, 4, 7, 300}) {
        const auto in = test::noise(kRate, double(n) / kRate, 20000.0);
        ASSERT_EQ(in.size(), n);
        auto s = test::signalOf(test::interleave(in, test::noise(kRate, double(n) / kRate, 30000.0, 2)), kRate, 2);
        for (const bool bandPass : {false, true}) {
            std::vector<int16_t> out(n);
            const float gain = bandPass ? 1.0f : 0.5f;
            EllipticalFilter f(0.0f, 0.0f, 0.0f, 1.0f, 60.0f, gain);
            f.Bind(s.get(), out.data());
            bandPass ? f.BandPass(2000.0, 600.0, 0.2) : f.LowPass(150.0, 0.5);
            ASSERT_EQ(f.sections().size(), bandPass ? 5u : 3u);
            // The design gain: the response over the bare cascade's, in the pass band.
            const double hz = bandPass ? 2000.0 : 100.0;
            const std::complex<double> zi = std::polar(1.0, -2.0 * M_PI * hz / kRate);
            std::complex<double> bare = 1.0;
            for (const auto& c : f.sections()) bare *= (1.0 + zi * (c.c0 + zi * c.c2)) / (1.0 + zi * (c.c1 + zi * c.c3));
            const double scale = std::abs(f.Response(hz)) / std::abs(bare) * 0.93 * gain * 32767.0;
            std::vector<std::array<double, 4>> state(f.sections().size());  // x1 x2 y1 y2
            for (size_t i = 0; i < n; ++i) {
                double v = in[i] / 32767.0;
                for (size_t j = 0; j < state.size(); ++j) {
                    const auto& c = f.sections()[j];
                    auto& st = state[j];
                    const double y = v + c.c0 * st[0] + c.c2 * st[1] - c.c1 * st[2] - c.c3 * st[3];
                    st = {v, st[0], y, st[2]};
                    v = y;
                }
                EXPECT_NEAR(out[i], v * scale, 0.6) << n << " samples, band-pass " << bandPass << ", at " << i;
            }
        }
    }
}

TEST(EllipticalFilter, RefusesDesignsItCannotBuild) {
    auto s = test::signalOf(std::vector<int16_t>(16, 5), kRate);
    std::vector<int16_t> out(16, 0);
    EllipticalFilter f, noRipple(0, 0, 0, 0, 60, 1), steep(0, 0, 0, 1, 1000, 1);
    EXPECT_THROW(f.LowPass(150.0, 0.5), QuorbixError);  // not bound
    for (auto* filter : {&f, &noRipple, &steep}) filter->Bind(s.get(), out.data());
    const std::function<void()> refused[] = {
        [&] { f.BandReject(2000.0, 600.0, 0.1); }, [&] { f.LowPass(150.0, 0.0); },
        [&] { f.LowPass(8000.0, 0.5); } /* stopband past Nyquist */, [&] { f.HighPass(1000.0, 1.0); },
        [&] { f.BandPass(2000.0, 600.0, 0.0); }, [&] { noRipple.LowPass(150.0, 0.5); },
        [&] { steep.LowPass(150.0, 0.5); } /* order out of range */};
    for (const auto& call : refused) EXPECT_THROW(call(), QuorbixError);
    EXPECT_EQ(out, std::vector<int16_t>(16, 0));  // nothing ran
}
