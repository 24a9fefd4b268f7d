#include "dsp/FFTObj.h"

#include <algorithm>
#include <cmath>

#include "dsp/QuorbixError.h"
#include "dsp/Rounding.h"
#include "dsp/SignalObj.h"
#include "dsp/WideClones.h"

namespace {

constexpr int32_t kDefaultFrameSize = 1024;

// trunc((1 - overlap) * n), or 0 (rejected by SetStep) when not a usable hop.
int32_t hopFor(double overlap, int32_t n) {
    const double h = (1.0 - overlap) * n;
    return h >= 1.0 ? truncToInt32(h) : 0;
}

// The two per-value loops of every frame. Each value is computed on its own
// (no sum to reorder, no multiply-add), so the wider vectors of AVX2, where
// the processor has them, give the same bits.
VEX_WIDE_CLONES void windowFrame(const int16_t* samples, const double* window, double* x, int32_t n) {
    if (window) {
        for (int32_t i = 0; i < n; ++i) x[i] = samples[i] / 32767.0 * window[i];
    } else {
        for (int32_t i = 0; i < n; ++i) x[i] = samples[i] / 32767.0;
    }
}

VEX_WIDE_CLONES void scaledMagnitudes(const double* x, const double* im, float* row, int32_t half, double inv) {
    for (int32_t k = 1; k < half; ++k) {
        const double re = x[k] * inv;
        const double i = im[k] * inv;
        row[k] = static_cast<float>(2.0 * std::sqrt(re * re + i * i));
    }
}

}  // namespace

FFTObj::FFTObj() {
    frameSize_ = kDefaultFrameSize;
    InitFFT(kDefaultFrameSize);
    width = kDefaultFrameSize / 2 + 1;
    window_ = HammingWindow(kDefaultFrameSize);
}

FFTObj::~FFTObj() = default;

void FFTObj::SetSignal(SignalObj* source) {
    FrameData::SetSignal(source);
    ClearRows();
    resampled_ = false;
}

void FFTObj::SetFrameSize(int32_t n) {
    if (n < 4) throw QuorbixError("Programming error: FFT frame size below 4");
    ClearRows();
    resampled_ = false;
    // Size everything first, so that a throw from SetStep cannot leave the
    // frame size and the transform's buffers disagreeing.
    InitFFT(n);
    frameSize_ = n;
    SetBinCount(n / 2 + 1);
    window_ = HammingWindow(n);
    SetStep(hopFor(overlap_, n));
}

void FFTObj::Compute(double overlap) {
    if (BeginShares(overlap)) ComputeShare();
}

bool FFTObj::BeginShares(double overlap) {
    if (resampled_) return false;  // band rows only from here on
    if (HasRows() && overlap == overlap_) return false;
    overlap_ = overlap;
    ClearRows();
    SetStep(hopFor(overlap, frameSize_));
    const int32_t n = frameSize_;
    if (FFTLength() != n || static_cast<int32_t>(window_.size()) != n)
        throw QuorbixError("Programming error: FFT not sized for the frame");
    const int32_t total = source_ != nullptr ? source_->length : 0;
    const int32_t frames = total >= n ? (total - n) / hop_ + 1 : 0;
    const int32_t bins = n / 2 + 1;
    int32_t kept = bins;
    spectrumBins_ = 0;
    if (keptUpToHz_ > 0.0) {
        // The same quotient as every band lookup takes, so the band's top bin is kept.
        const double spacing = rate / (2.0 * bins);
        kept = std::min(bins, truncToInt32(keptUpToHz_ / spacing) + 1);
        if (kept < bins) spectrumBins_ = bins;
    }
    AllocateRows(frames, kept);
    nextFrame_ = 0;
    ownTransformTaken_ = false;
    return frames > 0;
}

void FFTObj::ComputeShare() {
    const int32_t frames = FrameCount(), kept = width;
    if (nextFrame_.load(std::memory_order_relaxed) >= frames) return;
    // The first caller uses this object's transform; a caller beside it
    // plans its own of the same length, which gives the same bits.
    std::unique_ptr<FFTLib> own;
    FFTLib* fft = this;
    std::vector<double> imag;
    std::vector<double>* im = &imag_;
    if (ownTransformTaken_.exchange(true)) {
        own = std::make_unique<FFTLib>();
        own->InitFFT(frameSize_);
        fft = own.get();
        im = &imag;
    }
    // A few frames at a time: each takes tens of microseconds.
    constexpr int32_t kFramesPerClaim = 4;
    const int16_t* samples = source_->data;
    float* rows = data;
    for (;;) {
        const int32_t first = nextFrame_.fetch_add(kFramesPerClaim);
        if (first >= frames) return;
        const int32_t last = std::min(frames, first + kFramesPerClaim);
        for (int32_t f = first; f < last; ++f)
            computeFrame(*fft, *im, samples + static_cast<std::ptrdiff_t>(f) * hop_,
                         rows + static_cast<std::ptrdiff_t>(f) * kept, kept);
    }
}

void FFTObj::KeepBinsUpTo(double hz) {
    if (hz == keptUpToHz_) return;
    keptUpToHz_ = hz;
    ClearRows();
}

void FFTObj::ComputeOn(SignalObj* source, int32_t frameSize, WindowShape window, double overlap) {
    SetSignal(source);
    SetFrameSize(frameSize);
    SetWindow(window);
    Compute(overlap);
}

void FFTObj::computeFrame(FFTLib& fft, std::vector<double>& imag, const int16_t* samples, float* row,
                          int32_t kept) const {
    const int32_t n = frameSize_;
    windowFrame(samples, windowOption_ == kHammingWindow ? window_.data() : nullptr, fft.FFTBuffer(), n);
    const double* x = fft.ForwardFFT();
    const int32_t half = std::min((n + 1) / 2, kept);
    if (imag.size() < static_cast<size_t>(half)) imag.resize(static_cast<size_t>(half));
    double* im = imag.data();
    for (int32_t k = 1; k < half; ++k) im[k] = x[n - k];
    if ((n & (n - 1)) == 0) {
        // Multiplying by an exact power of two rounds exactly as dividing by
        // its inverse does, and is several times cheaper.
        const double inv = 1.0 / n;
        row[0] = static_cast<float>(2.0 * std::fabs(x[0] * inv));
        scaledMagnitudes(x, im, row, half, inv);
        if (n / 2 < kept) row[n / 2] = static_cast<float>(2.0 * std::fabs(x[n / 2] * inv));
    } else {
        const double scale = static_cast<double>(n);
        row[0] = static_cast<float>(2.0 * std::fabs(x[0] / scale));
        for (int32_t k = 1; k < half; ++k) {
            const double re = x[k] / scale;
            const double i = im[k] / scale;
            row[k] = static_cast<float>(2.0 * std::sqrt(re * re + i * i));
        }
        if (n % 2 == 0 && n / 2 < kept) row[n / 2] = static_cast<float>(2.0 * std::fabs(x[n / 2] / scale));
    }
}

double FFTObj::BeatOverlap(double tempo) const {
    if (!(tempo > 0.0) || !std::isfinite(tempo)) return 0.0;
    const double frameMs = FrameDuration();
    double d = 2.0;
    while (frameMs < 60000.0 / (tempo * d)) d *= 2.0;
    double overlap = 1.0 - (60.0 * rate) / (frameSize_ * d * tempo);
    if (overlap > 0.8) overlap = 0.5;
    if (overlap < 0.0) overlap = 0.0;
    return overlap;
}

void FFTObj::ReSample(int32_t bands, bool fineLowBand) {
    if (bands < 2) throw QuorbixError("Programming error: ReSample needs at least two bands");
    const double upper = 8000.0;
    const double split = fineLowBand ? 1000.0 : 4000.0;
    const int32_t half = bands / 2;
    const double spacing = BinSpacing();
    const int32_t bins = width;
    // Rows may leave out bins, but only bins the bands do not reach.
    if (spectrumBins_ > 0 && width * spacing < upper)
        throw QuorbixError("Programming error: ReSample of a spectrum with bins left out");
    if (split / half < spacing || bins <= bands)
        throw QuorbixError("Oversampling not supported in ReSample");
    const int32_t frames = length;
    std::vector<float> out(static_cast<size_t>(frames) * bands, 0.0f);
    for (int32_t f = 0; f < frames; ++f) {
        const float* row = Frame(f);
        float* dst = out.data() + static_cast<size_t>(f) * bands;
        double edge = 0.0;
        int32_t k = 0;
        for (int32_t b = 0; b < bands; ++b) {
            edge += b < half ? split / half : (upper - split) / half;
            float v = 0.0f;
            // A bin exactly on an edge belongs to the band above.
            for (; k < bins && k * spacing < edge; ++k) v = std::max(v, row[k]);
            dst[b] = v;
        }
    }
    ReplaceRows(std::move(out), frames, bands);
    resampled_ = true;
}

int32_t FFTObj::FrequencyToSemitone(double frequency) {
    // 17.31234049067 = 12 / ln 2: semitones per natural-log unit.
    return truncToInt32(roundHalfAway(17.31234049067 * std::log(frequency / 27.5)));
}
