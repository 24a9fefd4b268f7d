#include "dsp/EllipticalFilter.h"

#include <algorithm>
#include <array>
#include <cmath>

#include "dsp/MathConstants.h"
#include "dsp/QuorbixError.h"
#include "dsp/SignalObj.h"

namespace {


// Each of the zero and pole lists holds two coefficients per section.
constexpr int32_t kListSize = 30;

// Roots closer than this to the real axis are treated as real.
constexpr double kRealRootLimit = 1e-9;

const char* const kEdgesMessage = "EllipticalFilter: band edges out of range";
const char* const kLevelsMessage = "EllipticalFilter: ripple or attenuation out of range";
const char* const kOrderMessage = "EllipticalFilter: order out of range";

using Complex = std::complex<double>;

// Coefficient list of one kind (zeros or poles), two entries per section.
struct RootList {
    std::array<double, kListSize> v{};
    int32_t count = 0;

    void append(double first, double second) {
        if (count + 2 > kListSize) throw QuorbixError(kOrderMessage);
        v[count++] = first;
        v[count++] = second;
    }
    // The real polynomial factor of the conjugate pair z, z* (or of the
    // single real root z).
    void appendRoot(Complex z) {
        if (std::fabs(z.imag()) <= kRealRootLimit)
            append(-z.real(), 0.0);
        else
            append(-2.0 * z.real(), z.real() * z.real() + z.imag() * z.imag());
    }
};

// Bilinear mapping s -> z = (1 + s) / (1 - s), written out so the result
// does not depend on the library's complex division.
Complex Bilinear(Complex s) {
    const double a = 1.0 + s.real(), b = s.imag();
    const double c = 1.0 - s.real(), d = -s.imag();
    const double den = c * c + d * d;
    return {(a * c + b * d) / den, (b * c - a * d) / den};
}

// The analogue root sn(u + j x) of the Cauer design (rotated onto the s
// plane and scaled by a), from the addition theorem of the Jacobi functions
// with modulus k for u and the complementary modulus k' for x.
Complex CauerRoot(double u, double x, double a, double k, double kp) {
    const elliptic::Jacobi f = elliptic::JacobiFunctions(u, kp * kp);
    const elliptic::Jacobi g = elliptic::JacobiFunctions(x, k * k);
    double d = 1.0 - g.sn * g.sn * f.dn * f.dn;
    if (d == 0.0) d = 1e-30;
    return {a * g.sn * g.cn * f.cn * f.dn / d, a * f.sn * g.dn / d};
}

// Product of the sections' responses at normalised angular frequency w.
Complex CascadeResponse(const std::vector<EllipticalFilter::Section>& sections, double w) {
    const Complex zi = std::polar(1.0, -w);  // z^-1
    Complex h(1.0, 0.0);
    for (const auto& s : sections)
        h *= (1.0 + zi * (s.c0 + zi * s.c2)) / (1.0 + zi * (s.c1 + zi * s.c3));
    return h;
}

// Section j takes entries 2j and 2j + 1 of each list.
void AppendSections(const RootList& zeros, const RootList& poles,
                    std::vector<EllipticalFilter::Section>& sections) {
    for (int32_t j = 0; j < zeros.count / 2; ++j)
        sections.push_back({zeros.v[2 * j], poles.v[2 * j], zeros.v[2 * j + 1], poles.v[2 * j + 1]});
}

bool InsideBand(double f, double rate) { return f > 0.0 && f < rate / 2.0; }

// Selectivity-independent parts of the design shared by all band shapes.
struct Prototype {
    double eps;  // passband ripple factor
    double k1, k1p;
};

Prototype MakePrototype(double rippleDb, double attenuationDb) {
    if (!(rippleDb > 0.0) || !(attenuationDb > rippleDb)) throw QuorbixError(kLevelsMessage);
    Prototype p{};
    p.eps = std::sqrt(std::pow(10.0, rippleDb / 10.0) - 1.0);
    p.k1 = p.eps / std::sqrt(std::pow(10.0, attenuationDb / 10.0) - 1.0);
    p.k1p = std::sqrt(1.0 - p.k1 * p.k1);
    return p;
}

// The order needed for selectivity k: the degree equation
// n = K(k) K(k1') / (K(k1) K(k')), rounded up.
int32_t CauerOrder(double k, double kp, const Prototype& p, int32_t maxOrder) {
    using elliptic::CompleteK;
    const double ratio = CompleteK(k) * CompleteK(p.k1p) / (CompleteK(p.k1) * CompleteK(kp));
    if (!(ratio >= 0.0 && ratio < maxOrder)) throw QuorbixError(kOrderMessage);
    return static_cast<int32_t>(ratio) + 1;
}

// Imaginary part of the pole locus: -K(k') asinh(1 / eps) / K(k1').
double PoleOffset(double kp, const Prototype& p) {
    using elliptic::CompleteK;
    return -CompleteK(kp) * std::log((std::sqrt(p.eps * p.eps + 1.0) + 1.0) / p.eps) / CompleteK(p.k1p);
}

}  // namespace

namespace elliptic {

double CompleteK(double k) {
    const double m1 = 1.0 - k * k;
    const double m2 = m1 * m1, m3 = m1 * m1 * m1, m4 = m1 * m1 * m1 * m1;
    return (1.38629436112 + 0.09666344259 * m1 + 0.03590092383 * m2 + 0.03742563713 * m3 +
            0.01451196212 * m4) -
           std::log(m1) * (0.5 + 0.12498593597 * m1 + 0.06880248576 * m2 + 0.03328355346 * m3 +
                           0.00441787012 * m4);
}

Jacobi JacobiFunctions(double u, double mc) {
    if (mc == 0.0) {
        const double sech = 1.0 / std::cosh(u);
        return {std::tanh(u), sech, sech};
    }
    // k > 1: sn(u|m) = sn(u sqrt(m) | 1/m) / sqrt(m), with cn and dn swapped.
    const bool reciprocal = mc < 0.0;
    double root = 1.0;
    if (reciprocal) {
        const double m = 1.0 - mc;
        mc = -mc / m;
        root = std::sqrt(m);
        u *= root;
    }

    // Descending Landen sequence: arithmetic means a_i, geometric means b_i.
    constexpr int kMaxMeans = 12;
    constexpr double kTolerance = 1e-9;
    std::array<double, kMaxMeans> am{}, gm{};
    int steps = 0;
    double a = 1.0, c = 1.0, prod = mc;
    while (steps < kMaxMeans) {
        const double b = std::sqrt(prod);
        am[steps] = a;
        gm[steps] = b;
        ++steps;
        c = 0.5 * (a + b);
        if (std::fabs(a - b) <= kTolerance * a) break;
        prod = a * b;
        a = c;
    }

    // Amplitude of the last mean, then back through the sequence carrying
    // the cotangent of the amplitude and dn.
    u *= c;
    double sn = std::sin(u), cn = std::cos(u), dn = 1.0;
    if (sn != 0.0) {
        double r = cn / sn;
        double t = c * r;
        for (int i = steps - 1; i >= 0; --i) {
            r *= t;
            t *= dn;
            dn = (gm[i] + r) / (am[i] + r);
            r = t / am[i];
        }
        const double s = 1.0 / std::sqrt(t * t + 1.0);
        sn = sn >= 0.0 ? s : -s;
        cn = t * sn;
    }
    if (reciprocal) return {sn / root, dn, cn};
    return {sn, cn, dn};
}

}  // namespace elliptic

EllipticalFilter::EllipticalFilter(float e1, float e2, float e3, float rippleDb,
                                   float attenuationDb, float gainFactor)
    : e1_(e1), e2_(e2), e3_(e3), rippleDb_(rippleDb), attenuationDb_(attenuationDb),
      gainFactor_(gainFactor) {}

void EllipticalFilter::HighPass(double cutoff, double transition) {
    RequireBound();
    e1_ = static_cast<float>(cutoff);
    e2_ = static_cast<float>((1.0 - transition) * cutoff);
    e3_ = 0.0f;
    Design();
    Run();
}

void EllipticalFilter::LowPass(double cutoff, double transition) {
    RequireBound();
    e1_ = static_cast<float>(cutoff);
    e2_ = static_cast<float>((1.0 + transition) * cutoff);
    e3_ = 0.0f;
    Design();
    Run();
}

void EllipticalFilter::BandPass(double centre, double width, double transition) {
    RequireBound();
    e1_ = static_cast<float>(centre - width / 2.0);
    e2_ = static_cast<float>(centre + width / 2.0);
    e3_ = static_cast<float>((centre + width / 2.0) * (1.0 + transition));
    Design();
    Run();
}

void EllipticalFilter::BandReject(double, double, double) {
    throw QuorbixError("BandReject not implmented yet by EllipticalFilter");
}

Complex EllipticalFilter::Response(double hz) const {
    return designGain_ * CascadeResponse(sections_, 2.0 * radiansPerHertz_ * hz);
}

void EllipticalFilter::Design() {
    const double rate = source_->rate;
    // A failed design leaves no sections behind.
    auto discard = [this] {
        order_ = 0;
        sections_.clear();
        designGain_ = 1.0;
    };
    discard();

    if (e3_ == 0.0f)
        DesignLowOrHighPass(rate);
    else
        DesignBandPass(rate);

    // Unity gain at the (first) passband edge; a high-pass is measured at
    // e1 itself, not at its low-pass reflection.
    const double w = 2.0 * kPi * e1_ / rate;
    designGain_ = 1.0 / std::abs(CascadeResponse(sections_, w));
    bool finite = std::isfinite(designGain_);
    for (const auto& s : sections_)
        finite = finite && std::isfinite(s.c0) && std::isfinite(s.c1) && std::isfinite(s.c2) &&
                 std::isfinite(s.c3);
    if (!finite) {
        discard();
        throw QuorbixError(kEdgesMessage);
    }
}

void EllipticalFilter::DesignLowOrHighPass(double rate) {
    const double e1 = e1_, e2 = e2_;
    if (!InsideBand(e1, rate) || !InsideBand(e2, rate) || e1 == e2) throw QuorbixError(kEdgesMessage);
    const Prototype p = MakePrototype(rippleDb_, attenuationDb_);

    double w1 = 2.0 * kPi * e1 / rate;
    double w2 = 2.0 * kPi * e2 / rate;
    // A high-pass is designed as the low-pass mirrored about rate / 4, then
    // mapped back by z -> -z.
    const bool highPass = e2 <= e1;
    if (highPass) {
        w1 = kPi - w1;
        w2 = kPi - w2;
    }
    const double a = std::tan(w1 / 2.0);
    const double k = std::tan(w1 / 2.0) / std::tan(w2 / 2.0);
    const double kp = std::sqrt(1.0 - k * k);

    const int32_t n = CauerOrder(k, kp, p, kListSize);
    const double q = PoleOffset(kp, p);
    const double bigK = elliptic::CompleteK(k);
    const double bigKp = elliptic::CompleteK(kp);

    RootList zeros, poles;
    for (int32_t i = 1; i <= (n + 1) / 2; ++i) {
        // u = 0 is the real pole (and the zero at infinity) of an odd order.
        const double u = 2 * i > n ? 0.0 : bigK - (2 * i - 1) * bigK / n;
        Complex z = Bilinear(CauerRoot(u, -bigKp, a, k, kp));
        zeros.appendRoot(highPass ? -z : z);
        z = Bilinear(CauerRoot(u, q, a, k, kp));
        poles.appendRoot(highPass ? -z : z);
    }

    order_ = n;
    AppendSections(zeros, poles, sections_);
}

// Band-pass: the low-pass prototype with unit passband edge, moved by the
// analogue transformation s -> (s^2 + w0^2) / (B s) on pre-warped
// frequencies, then mapped with the same bilinear transform. Each complex
// prototype root gives two sections; the real pole of an odd order gives
// one, and the prototype's zero at infinity becomes zeros at z = +1 and -1.
void EllipticalFilter::DesignBandPass(double rate) {
    const double e1 = e1_, e2 = e2_, e3 = e3_;
    if (!InsideBand(e1, rate) || !InsideBand(e2, rate) || !InsideBand(e3, rate) || !(e1 < e2) ||
        !(e2 < e3))
        throw QuorbixError(kEdgesMessage);
    const Prototype p = MakePrototype(rippleDb_, attenuationDb_);

    const double lo = std::tan(kPi * e1 / rate);
    const double hi = std::tan(kPi * e2 / rate);
    const double stop = std::tan(kPi * e3 / rate);
    const double w0sq = lo * hi;
    const double bw = hi - lo;
    const double k = bw * stop / (stop * stop - w0sq);
    const double kp = std::sqrt(1.0 - k * k);

    // Two sections per prototype root pair, each section one list pair.
    const int32_t n = CauerOrder(k, kp, p, kListSize / 2);
    const double q = PoleOffset(kp, p);
    const double bigK = elliptic::CompleteK(k);
    const double bigKp = elliptic::CompleteK(kp);

    RootList zeros, poles;
    // Both roots of s^2 - r B s + w0^2 = 0, each with its conjugate.
    auto appendPair = [&](RootList& list, Complex r) {
        const Complex rb = r * bw;
        const Complex disc = std::sqrt(rb * rb - 4.0 * w0sq);
        list.appendRoot(Bilinear(0.5 * (rb + disc)));
        list.appendRoot(Bilinear(0.5 * (rb - disc)));
    };
    for (int32_t i = 1; i <= (n + 1) / 2; ++i) {
        if (2 * i > n) {
            zeros.append(0.0, -1.0);
            // Real prototype pole r: (s^2 - r B s + w0^2) after s = (z - 1) / (z + 1).
            const double r = CauerRoot(0.0, q, 1.0, k, kp).real();
            const double lead = 1.0 - r * bw + w0sq;
            poles.append((2.0 * w0sq - 2.0) / lead, (1.0 + r * bw + w0sq) / lead);
        } else {
            const double u = bigK - (2 * i - 1) * bigK / n;
            appendPair(zeros, CauerRoot(u, -bigKp, 1.0, k, kp));
            appendPair(poles, CauerRoot(u, q, 1.0, k, kp));
        }
    }

    order_ = 2 * n;
    AppendSections(zeros, poles, sections_);
}

namespace {

constexpr std::size_t kMaxSections = kListSize / 2;

// The cascade with its section count known at compile time, so that every
// section's state stays in registers, and skewed: step t runs section j on
// sample t - j. The sections of one step do not wait on each other, so the
// processor overlaps them instead of following each sample down the cascade.
template <std::size_t S>
void runCascade(const EllipticalFilter::Section* c, std::size_t count, const int16_t* in,
                std::size_t stride, int16_t* out, int32_t length, double g) {
    if constexpr (S > 0) {
        if (count < S) return runCascade<S - 1>(c, count, in, stride, out, length, g);
    }
    if constexpr (S == 0) {
        for (int32_t i = 0; i < length; ++i)
            out[i] = Filter::ToSample(in[static_cast<std::size_t>(i) * stride] / 32767.0 * g * 32767.0);
    } else {
        double x1[S] = {}, x2[S] = {}, y1[S] = {}, y2[S] = {};
        double carry[S] = {};  // carry[j]: section j - 1's output, one step old
        auto section = [&](std::size_t j, int64_t i) {
            const double v = j == 0 ? in[static_cast<std::size_t>(i) * stride] / 32767.0 : carry[j];
            const double y = v + c[j].c0 * x1[j] + c[j].c2 * x2[j] - c[j].c1 * y1[j] - c[j].c3 * y2[j];
            x2[j] = x1[j];
            x1[j] = v;
            y2[j] = y1[j];
            y1[j] = y;
            if (j + 1 == S) out[i] = Filter::ToSample(y * g * 32767.0);
            else carry[j + 1] = y;
        };
        // From the last section down, so each reads its carry before the
        // section above replaces it; the first and last S - 1 steps have
        // sections with no sample.
        auto edgeStep = [&](int64_t t) {
            for (std::size_t j = S; j-- > 0;) {
                const int64_t i = t - static_cast<int64_t>(j);
                if (i >= 0 && i < length) section(j, i);
            }
        };
        const int64_t n = length;
        const int64_t steps = n + static_cast<int64_t>(S) - 1;
        const int64_t full = static_cast<int64_t>(S) - 1;
        int64_t t = 0;
        for (; t < std::min(full, steps); ++t) edgeStep(t);
        for (; t < n; ++t)
            for (std::size_t j = S; j-- > 0;) section(j, t - static_cast<int64_t>(j));
        for (; t < steps; ++t) edgeStep(t);
    }
}

}  // namespace

void EllipticalFilter::Run() {
    const double g = designGain_ * gainFactor_ * kRunScale;
    if (sections_.size() > kMaxSections) throw QuorbixError(kOrderMessage);
    const std::size_t stride = source_->width > 0 ? static_cast<std::size_t>(source_->width) : 1;
    runCascade<kMaxSections>(sections_.data(), sections_.size(), input_, stride, output_, length_, g);
}
