#include "dsp/FFTLib.h"

#include <gtest/gtest.h>

#include <random>

// Against a direct DFT, for powers of two and a length that is not one; the
// input is left as it was, and the inverse gives it back scaled by the length.
TEST(FFTLib, ForwardMatchesDirectDftInHalfComplexOrderAndInverseUndoesIt) {
    std::mt19937 rng(7);
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    for (int32_t n : {8, 512, 2048, 1000}) {
        SCOPED_TRACE(n);
        std::vector<double> x(n), out(n);
        for (double& v : x) v = u(rng);
        const std::vector<double> input = x;
        FFTLib fft;
        fft.InitFFT(n);
        fft.ForwardFFT(x.data(), out.data());
        EXPECT_EQ(x, input);
        double worst = 0.0;
        for (int32_t k = 0; k <= n / 2; ++k) {
            double re = 0.0, im = 0.0;
            for (int32_t j = 0; j < n; ++j) {
                const double a = 2.0 * M_PI * static_cast<double>((int64_t(j) * k) % n) / n;
                re += x[j] * std::cos(a), im -= x[j] * std::sin(a);
            }
            worst = std::max(worst, std::fabs(out[k] - re));
            if (k > 0 && k < n / 2) worst = std::max(worst, std::fabs(out[n - k] - im));
        }
        EXPECT_LT(worst, 1e-12 * n);
        std::copy(out.begin(), out.end(), fft.FFTBuffer());
        fft.InverseFFT();
        worst = 0.0;
        for (int32_t j = 0; j < n; ++j) worst = std::max(worst, std::fabs(fft.FFTBuffer()[j] / n - x[j]));
        EXPECT_LT(worst, 1e-12 * n);
    }
}
