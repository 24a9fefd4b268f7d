#pragma once
#include <complex>
#include <cstdint>
#include <vector>

#include "dsp/Filter.h"

// An elliptic (Cauer) IIR filter run as a cascade of second-order sections.
// Each band operation stores the band edges, designs the filter for the bound
// signal's rate and filters channel 0 of every frame into the output.
//
// Designs that cannot be built throw QuorbixError: an edge outside
// (0, rate / 2) or equal edges ("EllipticalFilter: band edges out of range"),
// a ripple that is not positive or an attenuation not above the ripple
// ("EllipticalFilter: ripple or attenuation out of range"), or a required
// order beyond the section storage ("EllipticalFilter: order out of range").
class EllipticalFilter : public Filter {
public:
    // (1 + c0 z^-1 + c2 z^-2) / (1 + c1 z^-1 + c3 z^-2); a first-order
    // section has c2 = c3 = 0.
    struct Section {
        double c0, c1, c2, c3;
    };

    EllipticalFilter() = default;
    EllipticalFilter(float e1, float e2, float e3, float rippleDb, float attenuationDb,
                     float gainFactor);

    // Passband edge `cutoff`, stopband edge (1 - transition) * cutoff.
    void HighPass(double cutoff, double transition) override;
    // Passband edge `cutoff`, stopband edge (1 + transition) * cutoff.
    void LowPass(double cutoff, double transition) override;
    // Passband centre +- width / 2; upper stopband edge at the upper passband
    // edge times (1 + transition), the lower one placed symmetrically.
    void BandPass(double centre, double width, double transition) override;
    // Not available for this design: always throws
    // "BandReject not implmented yet by EllipticalFilter".
    void BandReject(double centre, double width, double transition) override;

    int32_t order() const { return order_; }
    const std::vector<Section>& sections() const { return sections_; }
    // The designed cascade times the design gain at `hz` (before the output
    // gain factor and the run scale).
    std::complex<double> Response(double hz) const;

    // Output scale on top of the unity-gain design; the levels computed from
    // the filtered band (and their calibration) assume it.
    static constexpr double kRunScale = 0.93;

private:
    void Design();
    void DesignLowOrHighPass(double rate);
    void DesignBandPass(double rate);
    void Run();

    float e1_ = 0.0f, e2_ = 0.0f, e3_ = 0.0f;
    float rippleDb_ = 1.0f;
    float attenuationDb_ = 60.0f;
    float gainFactor_ = 1.0f;

    int32_t order_ = 0;
    std::vector<Section> sections_;
    double designGain_ = 1.0;
};

// Elliptic integrals and functions used by the design.
namespace elliptic {

// Complete elliptic integral of the first kind K(k) for modulus k, by the
// polynomial approximation of Abramowitz & Stegun 17.3.34 (|error| <= 2e-8).
double CompleteK(double k);

struct Jacobi {
    double sn, cn, dn;
};

// sn, cn and dn of a real argument for the complementary parameter
// mc = 1 - k^2, by the descending Landen (arithmetic-geometric mean) method
// (R. Bulirsch, Numer. Math. 7, 1965). A negative mc (k > 1) is reduced by
// the reciprocal-modulus transformation.
Jacobi JacobiFunctions(double u, double mc);

}  // namespace elliptic
