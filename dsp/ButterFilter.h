#pragma once
#include <complex>

#include "dsp/Filter.h"

// One second-order Butterworth section in direct form II. The transition
// argument of the band operations is ignored. Cutoffs outside (0, rate / 2)
// give a degenerate design; its non-finite samples come out as 0 or clamped.
class ButterFilter : public Filter {
public:
    void HighPass(double cutoff, double transition) override;
    // Also moves the result 20 samples earlier, offsetting part of the
    // section's delay; the last 20 samples become 0 (a signal of 20 frames
    // or fewer comes out all zero).
    void LowPass(double cutoff, double transition) override;
    void BandPass(double centre, double width, double transition) override;
    void BandReject(double centre, double width, double transition) override;

    // Transfer function of the current design at `hz`, for inspection.
    std::complex<double> Response(double hz) const;

    static constexpr int32_t kLowPassShift = 20;

private:
    void SetCoefficients(double a0, double a1, double a2, double b1, double b2);
    void Run();

    double a0_ = 0.0, a1_ = 0.0, a2_ = 0.0, b1_ = 0.0, b2_ = 0.0;
    double w1_ = 0.0, w2_ = 0.0;
};
