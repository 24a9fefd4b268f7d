#include "dsp/ButterFilter.h"

#include <algorithm>
#include <cmath>

namespace {
constexpr double kSqrt2 = 1.4142135623730951;
}

// Each design is the bilinear transform of the second-order analogue
// prototype with its frequencies pre-warped through tan(pi f / rate), so the
// -3 dB points (and the band-pass centre) land exactly where asked.

void ButterFilter::HighPass(double cutoff, double /*transition*/) {
    RequireBound();
    const double q = std::tan(radiansPerHertz_ * cutoff);
    const double a0 = 1.0 / (1.0 + kSqrt2 * q + q * q);
    SetCoefficients(a0, -2.0 * a0, a0, 2.0 * (q * q - 1.0) * a0, (1.0 - kSqrt2 * q + q * q) * a0);
    Run();
}

void ButterFilter::LowPass(double cutoff, double /*transition*/) {
    RequireBound();
    const double q = 1.0 / std::tan(radiansPerHertz_ * cutoff);
    const double a0 = 1.0 / (1.0 + kSqrt2 * q + q * q);
    SetCoefficients(a0, 2.0 * a0, a0, 2.0 * (1.0 - q * q) * a0, (1.0 - kSqrt2 * q + q * q) * a0);
    Run();

    // Pull the result forward by the section's delay so that low-band
    // levels line up in time with the unfiltered signal.
    const int32_t kept = std::max<int32_t>(0, length_ - kLowPassShift);
    std::copy(output_ + kLowPassShift, output_ + kLowPassShift + kept, output_);
    std::fill(output_ + kept, output_ + length_, int16_t{0});
}

void ButterFilter::BandPass(double centre, double width, double /*transition*/) {
    RequireBound();
    const double q = 1.0 / std::tan(radiansPerHertz_ * width);
    const double d = 2.0 * std::cos(2.0 * radiansPerHertz_ * centre);
    const double a0 = 1.0 / (1.0 + q);
    SetCoefficients(a0, 0.0, -a0, -q * d * a0, (q - 1.0) * a0);
    Run();
}

void ButterFilter::BandReject(double centre, double width, double /*transition*/) {
    RequireBound();
    const double q = std::tan(radiansPerHertz_ * width);
    const double d = 2.0 * std::cos(2.0 * radiansPerHertz_ * centre);
    const double a0 = 1.0 / (1.0 + q);
    SetCoefficients(a0, -d * a0, a0, -d * a0, (1.0 - q) * a0);
    Run();
}

std::complex<double> ButterFilter::Response(double hz) const {
    const std::complex<double> zi = std::polar(1.0, -2.0 * radiansPerHertz_ * hz);  // z^-1
    return (a0_ + zi * (a1_ + zi * a2_)) / (1.0 + zi * (b1_ + zi * b2_));
}

void ButterFilter::SetCoefficients(double a0, double a1, double a2, double b1, double b2) {
    a0_ = a0;
    a1_ = a1;
    a2_ = a2;
    b1_ = b1;
    b2_ = b2;
    w1_ = 0.0;
    w2_ = 0.0;
}

void ButterFilter::Run() {
    double w1 = w1_, w2 = w2_;
    for (int32_t i = 0; i < length_; ++i) {
        const double x = input_[i] / 32767.0;
        const double w = x - b1_ * w1 - b2_ * w2;
        const double y = a0_ * w + a1_ * w1 + a2_ * w2;
        w2 = w1;
        w1 = w;
        output_[i] = ToSample(y * 32767.0);
    }
    w1_ = w1;
    w2_ = w2;
}
