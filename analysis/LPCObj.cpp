#include "analysis/LPCObj.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "dsp/FFTLib.h"
#include "dsp/QuorbixError.h"
#include "dsp/SignalObj.h"
#include "dsp/WideClones.h"

namespace {

// The smallest even length of at least n made of the factors 2, 3, 5 and 7,
// which the transform library handles fast: 4200 for a 4096-sample frame at
// order 100 and 4480 at order 340, where the next power of two, 8192, costs
// two and a half times as much.
int32_t transformLength(int64_t n) {
    for (int64_t m = std::max<int64_t>(2, n + (n & 1));; m += 2) {
        int64_t rest = m;
        for (int64_t f : {2, 3, 5, 7})
            while (rest % f == 0) rest /= f;
        if (rest == 1) return static_cast<int32_t>(m);
    }
}

// Bins 0 .. N - 1 of a 2N-point half-complex spectrum (bin 0 is real): one
// over each magnitude, over N. Each bin on its own, so the AVX2 copy gives
// the same bits.
VEX_WIDE_CLONES void envelopeBins(const double* c, int32_t n, double* envelope) {
    envelope[0] = 1.0 / std::sqrt(c[0] * c[0]) / n;
    const double* mirror = c + 2 * n;
    for (int32_t b = 1; b < n; ++b) {
        const double re = c[b];
        const double im = mirror[-b];
        envelope[b] = 1.0 / std::sqrt(re * re + im * im) / n;
    }
}

}  // namespace

// Both sums of the envelope computation run as transforms so that the cost
// per frame grows as n log n, not as order x frame length:
//  - the autocorrelation is the inverse transform of the power spectrum of
//    the frame zero-padded to M >= L + p (so lags up to p do not wrap);
//  - the envelope denominator A(e^{i pi b / N}) is the 2N-point transform of
//    the coefficient vector (1, -a1, ..., -ap), folded modulo 2N.
struct LPCObj::Transforms {
    int32_t frameLength = 0;
    int32_t order = 0;
    int32_t bins = 0;
    FFTLib correlation;  // M points
    FFTLib polynomial;   // 2N points

    Transforms(int32_t l, int32_t p, int32_t n) : frameLength(l), order(p), bins(n) {
        correlation.InitFFT(transformLength(static_cast<int64_t>(l) + p));
        polynomial.InitFFT(2 * n);
    }
};

LPCObj::LPCObj() {
    frameSize_ = 512;
    width = 1 << binLog2_;
}

LPCObj::~LPCObj() = default;

void LPCObj::SetSignal(SignalObj* source) {
    FrameData::SetSignal(source);
    ClearRows();
}

void LPCObj::SetRange(int32_t first, int32_t count) {
    rangeFirst_ = std::max(0, first);
    rangeCount_ = count;
}

void LPCObj::SetOrder(int32_t order) { order_ = std::max(0, order); }

void LPCObj::SetFrameLength(int32_t samples) { frameSize_ = std::max(0, samples); }

void LPCObj::SetBinCount(int32_t bins) {
    if (bins < 1 || (bins & (bins - 1)) != 0)
        throw QuorbixError("LPC FrameSize must be power of 2");
    int32_t log2 = 0;
    while ((1 << log2) < bins) ++log2;
    binLog2_ = log2;
    FrameData::SetBinCount(bins);
}

bool LPCObj::transformsFit() const {
    return fft_ && fft_->frameLength == frameSize_ && fft_->order == order_ &&
           fft_->bins == (1 << binLog2_);
}

void LPCObj::prepare() {
    const int32_t bins = 1 << binLog2_;
    if (!transformsFit()) fft_ = std::make_unique<Transforms>(frameSize_, order_, bins);
    autocorrelation_.assign(order_ + 1, 0.0);
    coefficients_.assign(order_, 0.0);
    envelope_.assign(bins, 0.0);
    window_ = windowOption_ == kHammingWindow ? HammingWindow(frameSize_) : std::vector<double>();
}

void LPCObj::LevinsonDurbin(const double* r, int32_t p, double* a) {
    std::fill(a, a + p, 0.0);
    double error = r[0];
    for (int32_t i = 1; i <= p; ++i) {
        if (!(error > 0.0)) break;  // perfectly predicted: higher orders add nothing
        double acc = r[i];
        for (int32_t j = 1; j < i; ++j) acc -= a[j - 1] * r[i - j];
        const double k = acc / error;
        // a[j] -= k a[i - 2 - j] for j < i - 1, in place: each pair from the
        // two ends reads both old values before writing either.
        for (int32_t lo = 0, hi = i - 2; lo < hi; ++lo, --hi) {
            const double x = a[lo];
            const double y = a[hi];
            a[lo] = x - k * y;
            a[hi] = y - k * x;
        }
        if (i % 2 == 0) {
            const int32_t mid = i / 2 - 1;
            a[mid] = a[mid] - k * a[mid];
        }
        a[i - 1] = k;
        error = (1.0 - k * k) * error;
    }
}

namespace {

// Storage of lanes read as Double4, aligned for either copy.
struct alignas(32) LaneBlock {
    double lanes[4];
};
constexpr int32_t kVectors = LPCObj::kLanes / 4;

// Order i of the recursion on every lane at once, all lanes active, each
// lane taking exactly the scalar recursion's steps.
VEX_WIDE_CLONES void allLanesStep(const double* r, int32_t i, double* a, double* error) {
    constexpr int32_t V = kVectors;
    // Row j of a and r: V vectors from element j x kLanes.
    const auto* rv = reinterpret_cast<const Double4*>(r);
    auto* av = reinterpret_cast<Double4*>(a);
    auto* ev = reinterpret_cast<Double4*>(error);
    Double4 acc[V], k[V];
    for (int32_t v = 0; v < V; ++v) acc[v] = rv[i * V + v];
    for (int32_t j = 1; j < i; ++j)
        for (int32_t v = 0; v < V; ++v) acc[v] -= av[(j - 1) * V + v] * rv[(i - j) * V + v];
    for (int32_t v = 0; v < V; ++v) k[v] = acc[v] / ev[v];
    for (int32_t lo = 0, hi = i - 2; lo < hi; ++lo, --hi) {
        for (int32_t v = 0; v < V; ++v) {
            const Double4 x = av[lo * V + v];
            const Double4 y = av[hi * V + v];
            av[lo * V + v] = x - k[v] * y;
            av[hi * V + v] = y - k[v] * x;
        }
    }
    if (i % 2 == 0) {
        const int32_t mid = i / 2 - 1;
        for (int32_t v = 0; v < V; ++v) av[mid * V + v] = av[mid * V + v] - k[v] * av[mid * V + v];
    }
    for (int32_t v = 0; v < V; ++v) {
        av[(i - 1) * V + v] = k[v];
        ev[v] = (1.0 - k[v] * k[v]) * ev[v];
    }
}

// Lag 0 of the autocorrelation of every lane's frame, x interleaved (sample
// j of lane l at j x kLanes + l): each lane sums its squares in sample
// order, as autocorrelate does.
VEX_WIDE_CLONES void laneSquares(const double* x, int32_t n, double* out) {
    const auto* xv = reinterpret_cast<const Double4*>(x);
    Double4 acc[kVectors] = {};
    for (int32_t j = 0; j < n; ++j)
        for (int32_t v = 0; v < kVectors; ++v) {
            const Double4 y = xv[j * kVectors + v];
            acc[v] += y * y;
        }
    std::memcpy(out, acc, sizeof acc);
}

}  // namespace

void LPCObj::LevinsonDurbinLanes(const double* r, int32_t p, double* a) {
    constexpr int32_t L = kLanes;
    std::fill(a, a + static_cast<size_t>(p) * L, 0.0);
    static_assert(L % 4 == 0, "lanes go in vectors of four");
    alignas(LaneBlock) double error[L];
    bool active[L];
    for (int32_t l = 0; l < L; ++l) error[l] = r[l];
    for (int32_t i = 1; i <= p; ++i) {
        bool all = true, any = false;
        for (int32_t l = 0; l < L; ++l) {
            active[l] = error[l] > 0.0;  // a stopped lane keeps its coefficients
            all = all && active[l];
            any = any || active[l];
        }
        if (!any) break;
        if (all) {
            allLanesStep(r, i, a, error);
            continue;
        }
        for (int32_t l = 0; l < L; ++l) {
            if (!active[l]) continue;
            double acc = r[i * L + l];
            for (int32_t j = 1; j < i; ++j) acc -= a[(j - 1) * L + l] * r[(i - j) * L + l];
            const double k = acc / error[l];
            for (int32_t lo = 0, hi = i - 2; lo < hi; ++lo, --hi) {
                const double x = a[lo * L + l];
                const double y = a[hi * L + l];
                a[lo * L + l] = x - k * y;
                a[hi * L + l] = y - k * x;
            }
            if (i % 2 == 0) {
                const int32_t mid = i / 2 - 1;
                a[mid * L + l] = a[mid * L + l] - k * a[mid * L + l];
            }
            a[(i - 1) * L + l] = k;
            error[l] = (1.0 - k * k) * error[l];
        }
    }
}

void LPCObj::autocorrelate(const double* x, double* r) {
    // Lag 0 directly: it decides whether the frame is silent, and the exact
    // sum keeps that decision free of transform round-off.
    double r0 = 0.0;
    for (int32_t j = 0; j < frameSize_; ++j) r0 += x[j] * x[j];
    r[0] = r0;
    autocorrelateLags(x, 1, r);
}

void LPCObj::autocorrelateLags(const double* x, ptrdiff_t step, double* r) {
    Transforms& t = *fft_;
    const int32_t l = frameSize_;
    const int32_t p = order_;
    if (p > 0) {
        const int32_t m = t.correlation.FFTLength();
        double* in = t.correlation.FFTBuffer();
        for (int32_t j = 0; j < l; ++j) in[j] = x[j * step];
        std::fill(in + l, in + m, 0.0);
        double* c = t.correlation.ForwardFFT();
        // Power spectrum in place: the real slots get |X_k|^2, the imaginary ones 0.
        c[0] = c[0] * c[0];
        for (int32_t k = 1; k < m / 2; ++k) {
            c[k] = c[k] * c[k] + c[m - k] * c[m - k];
            c[m - k] = 0.0;
        }
        c[m / 2] = c[m / 2] * c[m / 2];
        t.correlation.InverseFFT();
        const double scale = 1.0 / m;
        for (int32_t lag = 1; lag <= p; ++lag) r[lag] = lag < l ? c[lag] * scale : 0.0;
    }
}

void LPCObj::envelopeOf(const double* a, double* envelope) {
    Transforms& t = *fft_;
    const int32_t p = order_;
    const int32_t n = 1 << binLog2_;
    const int32_t twoN = 2 * n;
    double* in = t.polynomial.FFTBuffer();
    std::fill(in, in + twoN, 0.0);
    in[0] = 1.0;
    for (int32_t m = 1; m <= p; ++m) in[m % twoN] -= a[m - 1];
    envelopeBins(t.polynomial.ForwardFFT(), n, envelope);
}

void LPCObj::FrameEnvelope(const double* x, double* envelope, double* coefficients) {
    if (!transformsFit()) prepare();
    const int32_t p = order_;
    double* r = autocorrelation_.data();
    autocorrelate(x, r);
    double* a = coefficients_.data();
    if (r[0] == 0.0) std::fill(a, a + p, 0.0);
    else LevinsonDurbin(r, p, a);
    if (coefficients != nullptr) std::copy(a, a + p, coefficients);
    envelopeOf(a, envelope);
}

void LPCObj::ComputeOn(SignalObj* source, int32_t order, int32_t frameLength, int32_t bins,
                       double overlap) {
    SetSignal(source);
    SetOrder(source->ScaleSampleCount(order, 22050));
    SetFrameLength(source->ScaleSampleCount(frameLength, 22050));
    SetBinCount(source->ScaleSampleCount(bins, 22050));
    Compute(overlap);
}

void LPCObj::Compute(double overlap) {
    ClearRows();
    FrameData::SetBinCount(1 << binLog2_);
    overlap_ = overlap;
    if (source_ == nullptr || source_->data == nullptr) return;
    const double hop = std::trunc(frameSize_ * (1.0 - overlap));
    SetStep(hop >= 1.0 ? static_cast<int32_t>(hop) : 0);  // throws for hop < 1

    const int32_t total = source_->length;
    const int32_t first = std::min(rangeFirst_, total);
    const int32_t count =
        rangeCount_ < 0 ? total - first : std::min(rangeCount_, total - first);
    if (frameSize_ < 1 || count < frameSize_) return;
    const int32_t frames = (count - frameSize_) / hop_ + 1;

    prepare();
    const int32_t n = 1 << binLog2_;
    const int32_t p = order_;
    float* rows = AllocateRows(frames, n);
    const int16_t* samples = source_->data;
    const int32_t stride = source_->width > 0 ? source_->width : 1;
    // The recursion of each frame is one long chain of dependent operations;
    // kLanes frames run side by side (each in its own order, so with the same
    // result) to overlap their chains. Lanes past the last frame stay silent.
    // Rows of whole vectors, aligned as the recursion reads them.
    std::vector<LaneBlock> lanesRows(static_cast<size_t>(2 * p + 1) * kVectors);
    double* lanesR = reinterpret_cast<double*>(lanesRows.data());
    double* lanesA = lanesR + static_cast<size_t>(p + 1) * kLanes;
    // The frames of a group, interleaved as laneSquares reads them.
    std::vector<LaneBlock> groupRows(static_cast<size_t>(frameSize_) * kVectors);
    double* group = reinterpret_cast<double*>(groupRows.data());
    double r0[kLanes];
    for (int32_t f0 = 0; f0 < frames; f0 += kLanes) {
        for (int32_t l = 0; l < kLanes; ++l) {
            double* x = group + l;
            if (f0 + l < frames) {
                const size_t start = static_cast<size_t>(first) + static_cast<size_t>(f0 + l) * hop_;
                for (int32_t j = 0; j < frameSize_; ++j) x[j * kLanes] = samples[(start + j) * stride] / 32767.0;
                if (!window_.empty())
                    for (int32_t j = 0; j < frameSize_; ++j) x[j * kLanes] *= window_[j];
            } else {
                for (int32_t j = 0; j < frameSize_; ++j) x[j * kLanes] = 0.0;
            }
        }
        laneSquares(group, frameSize_, r0);
        for (int32_t l = 0; l < kLanes; ++l) {
            double* r = autocorrelation_.data();
            if (f0 + l < frames) {
                r[0] = r0[l];
                autocorrelateLags(group + l, kLanes, r);
            } else {
                std::fill(r, r + p + 1, 0.0);
            }
            for (int32_t lag = 0; lag <= p; ++lag) lanesR[static_cast<size_t>(lag) * kLanes + l] = r[lag];
        }
        LevinsonDurbinLanes(lanesR, p, lanesA);
        for (int32_t l = 0; l < kLanes && f0 + l < frames; ++l) {
            double* a = coefficients_.data();
            for (int32_t m = 0; m < p; ++m) a[m] = lanesA[static_cast<size_t>(m) * kLanes + l];
            envelopeOf(a, envelope_.data());
            float* row = rows + static_cast<size_t>(f0 + l) * n;
            for (int32_t b = 0; b < n; ++b) row[b] = static_cast<float>(envelope_[b]);
        }
    }
}
