#include "analysis/LPCObj.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <random>
#include <vector>

#include "dsp/MathConstants.h"
#include "dsp/QuorbixError.h"
#include "dsp/SignalObj.h"
#include "support/Signals.h"

namespace {

// Noise through two narrow resonators (poles of radius 0.998 at f1 and f2)
// in parallel, over a little white noise: a signal whose spectral envelope
// peaks at exactly those frequencies.
std::vector<int16_t> resonant(int32_t rate, int32_t n, double f1, double f2, uint32_t seed) {
    std::mt19937 gen(seed);
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    const double r = 0.998;
    const double c[2] = {2.0 * r * std::cos(2.0 * kPi * f1 / rate), 2.0 * r * std::cos(2.0 * kPi * f2 / rate)};
    double last[2][2] = {};  // each resonator's last two outputs
    std::vector<double> y(n);
    double peak = 0.0;
    for (int32_t i = 0; i < n; ++i) {
        const double e = u(gen);
        for (int k = 0; k < 2; ++k) {
            const double v = e + c[k] * last[k][0] - r * r * last[k][1];
            last[k][1] = last[k][0];
            last[k][0] = v;
        }
        y[i] = last[0][0] + last[1][0] + 0.5 * u(gen);
        peak = std::max(peak, std::fabs(y[i]));
    }
    std::vector<int16_t> x(n);
    for (int32_t i = 0; i < n; ++i) x[i] = static_cast<int16_t>(std::lround(y[i] / peak * 30000.0));
    return x;
}

// The envelope by the direct sums: autocorrelation lag by lag, and the
// prediction filter evaluated from cosine and sine tables of 2N entries.
std::vector<double> directEnvelope(const double* x, int32_t l, int32_t p, int32_t n) {
    std::vector<double> r(p + 1, 0.0);
    for (int32_t m = 0; m <= p; ++m)
        for (int32_t j = 0; j + m < l; ++j) r[m] += x[j] * x[j + m];
    std::vector<double> a(p, 0.0);
    if (r[0] != 0.0) LPCObj::LevinsonDurbin(r.data(), p, a.data());
    std::vector<double> cosTable(2 * n), sinTable(2 * n);
    for (int32_t k = 0; k < 2 * n; ++k) {
        cosTable[k] = std::cos(kPi * k / n);
        sinTable[k] = std::sin(kPi * k / n);
    }
    std::vector<double> env(n);
    for (int32_t b = 0; b < n; ++b) {
        double re = 1.0, im = 0.0;
        for (int32_t m = 1; m <= p; ++m) {
            const int64_t k = (static_cast<int64_t>(b) * m) % (2 * n);
            re -= a[m - 1] * cosTable[k];
            im += a[m - 1] * sinTable[k];
        }
        env[b] = 1.0 / std::sqrt(re * re + im * im) / n;
    }
    return env;
}

void setSizes(LPCObj& lpc, int32_t frame, int32_t order, int32_t bins) {
    lpc.SetFrameLength(frame);
    lpc.SetOrder(order);
    lpc.SetBinCount(bins);
}

}  // namespace

TEST(LPCObj, LevinsonDurbinSolvesYuleWalker) {
    // x[n] = 0.9 x[n-1] - 0.2 x[n-2] has r1 = 0.9 / 1.2 and r2 = 0.9 r1 - 0.2;
    // a third coefficient finds nothing more to predict.
    const double r1 = 0.9 / 1.2;
    const double r[] = {1.0, r1, 0.9 * r1 - 0.2, 0.9 * (0.9 * r1 - 0.2) - 0.2 * r1};
    double a[3];
    LPCObj::LevinsonDurbin(r, 3, a);
    EXPECT_NEAR(a[0], 0.9, 1e-12);
    EXPECT_NEAR(a[1], -0.2, 1e-12);
    EXPECT_NEAR(a[2], 0.0, 1e-12);
}

TEST(LPCObj, TransformsAgreeWithDirectSums) {
    const std::tuple<const char*, int32_t, int32_t, int32_t> cases[] = {  // frame, order, bins
        {"analysis sizes", 4096, 100, 512}, {"note-step sizes", 4096, 340, 2048},
        {"order past 2N folds", 256, 40, 16}, {"short frame", 64, 100, 64}};
    const auto x16 = resonant(22050, 4096, 700.0, 3100.0, 7);
    std::mt19937 gen(3);
    std::uniform_real_distribution<double> u(-0.3, 0.3);
    for (const auto& [what, frame, order, bins] : cases) {
        SCOPED_TRACE(what);
        LPCObj lpc;
        setSizes(lpc, frame, order, bins);
        // Resonant noise, a tone with some noise, noise silent in its second half.
        std::vector<std::vector<double>> frames(3, std::vector<double>(frame));
        for (int32_t j = 0; j < frame; ++j) {
            frames[0][j] = x16[j] / 32767.0;
            frames[1][j] = 0.5 * std::sin(2.0 * kPi * 440.0 * j / 22050.0) + u(gen) * 0.1;
            frames[2][j] = j < frame / 2 ? u(gen) : 0.0;
        }
        std::vector<double> fast(bins);
        for (size_t f = 0; f < frames.size(); ++f) {
            SCOPED_TRACE(f);
            lpc.FrameEnvelope(frames[f].data(), fast.data());
            const auto direct = directEnvelope(frames[f].data(), frame, order, bins);
            double worst = 0.0;
            for (int32_t b = 0; b < bins; ++b)
                worst = std::max(worst, std::fabs(fast[b] - direct[b]) / direct[b]);
            EXPECT_LT(worst, 1e-9);
        }
    }
}

// Five frames: the last runs beside three silent lanes.
TEST(LPCObj, EnvelopePeaksAtTheResonances) {
    const int32_t rate = 22050;
    auto s = test::signalOf(resonant(rate, 4096 * 5, 800.0, 2500.0, 11), rate);
    LPCObj lpc;
    lpc.SetSignal(s.get());
    setSizes(lpc, 4096, 100, 512);
    lpc.Compute(0.0);
    ASSERT_EQ(lpc.FrameCount(), 5);
    const double spacing = lpc.BinSpacing();
    const int32_t between = static_cast<int32_t>(1650.0 / spacing);
    for (int32_t f = 0; f < lpc.FrameCount(); ++f) {
        SCOPED_TRACE(f);
        const float* row = lpc.Frame(f);
        EXPECT_NEAR((std::max_element(row, row + between) - row) * spacing, 800.0, 2.0 * spacing);
        EXPECT_NEAR((std::max_element(row + between, row + 512) - row) * spacing, 2500.0, 2.0 * spacing);
    }
}

TEST(LPCObj, FramesRangeAndSilence) {
    auto s = test::signalOf(std::vector<int16_t>(10000, 0), 22050);
    LPCObj lpc;
    lpc.SetSignal(s.get());
    setSizes(lpc, 1000, 20, 64);
    lpc.Compute(0.5);
    EXPECT_EQ(lpc.FrameCount(), 19);
    // A silent frame predicts nothing: |A| = 1 in every bin.
    for (int32_t b = 0; b < 64; ++b) EXPECT_EQ(lpc.Frame(0)[b], 1.0f / 64.0f);
    lpc.SetRange(2500, 3000);
    lpc.Compute(0.0);
    EXPECT_EQ(lpc.FrameCount(), 3);
    lpc.SetRange(9500, 5000);  // cut at the signal's end, shorter than a frame
    lpc.Compute(0.0);
    EXPECT_EQ(lpc.FrameCount(), 0);
}

TEST(LPCObj, BinCountMustBeAPowerOfTwo) {
    LPCObj lpc;
    for (int32_t bad : {0, 3, 1023}) {
        SCOPED_TRACE(bad);
        try {
            lpc.SetBinCount(bad);
            ADD_FAILURE() << "accepted";
        } catch (const QuorbixError& e) {
            EXPECT_EQ(e.message(), "LPC FrameSize must be power of 2");
        }
    }
}
