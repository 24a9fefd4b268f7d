#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "dsp/TimeData.h"

// What measuring a stereo signal and mixing it down add up over its frames,
// exact as integers: sums of l * r, l * l, r * r and |l - r|.
struct StereoSums {
    int64_t lr = 0, ll = 0, rr = 0, absDiff = 0;
    void add(const StereoSums& o) {
        lr += o.lr;
        ll += o.ll;
        rr += o.rr;
        absDiff += o.absDiff;
    }
};

// One song's audio as interleaved 16-bit PCM, with the operations that bring
// it into the mono, trimmed, normalised form the print and the analysis use.
class SignalObj : public TimeData<int16_t> {
public:
    SignalObj() = default;
    virtual ~SignalObj();
    SignalObj(const SignalObj&) = delete;
    SignalObj& operator=(const SignalObj&) = delete;

    void CreateBuffer(int32_t count, int32_t sampleRate, bool stereo);
    // Keeps the first `count` values of the buffer (no more than it holds),
    // as if CreateBuffer had made it that size and they had been written.
    void ShrinkBuffer(int32_t count);
    void Crop(double startMs, double lengthMs);
    // A view of a stretch of this signal's samples, owned by this signal.
    SignalObj* CreateExcerpt(double startMs, double lengthMs);
    double GetDurationMs() const { return 1000.0 * length / rate; }

    void MeasureStereo();
    // For a loader that mixes a stereo signal down as it reads it, given the
    // sums of its frames: false when they are too large to measure exactly
    // (only the stereo samples can then tell); else true, with `difference`
    // telling whether the down-mix Prepare makes is the difference.
    static bool DownMixFromSums(const StereoSums& sums, bool& difference);
    // Makes this mono signal, which holds that down-mix of a stereo signal of
    // its length in frames, what MeasureStereo and the down-mix would have
    // left of the stereo signal.
    void AdoptDownMix(const StereoSums& sums);
    void PrepareStereo(int32_t targetRate, double threshold);
    void PrepareMono(int32_t targetRate, double threshold);
    // GetDurationMs as PrepareMono would leave it, for a caller that keeps
    // only the duration: silence is trimmed as there, but the samples stay
    // at their rate, the resampler only counting its outputs. Throws what
    // the rate change would.
    double PreparedMonoDurationMs(int32_t targetRate, double threshold);
    // What the print and the analysis do with a decoded song: a stereo one
    // is measured and prepared as stereo, any other as mono.
    void Prepare(int32_t targetRate, double threshold);
    void MixToMono();
    void MixDifferenceToMono();
    void TrimSilence(double startThreshold, double endThreshold);
    void RemoveDCOffset();
    void ChangeRate(int32_t targetRate);
    void Normalize();

    double FirstSampleAbove(int16_t level) const;
    double LastSampleAbove(int16_t level) const;
    int32_t ScaleSampleCount(int32_t n, int32_t referenceRate) const;

    int32_t excerptCount() const { return static_cast<int32_t>(excerpts_.size()); }

    // Set before loading by a caller that only prepares the signal (the
    // print, the analysis): a reader that can then mixes a stereo file down
    // as it reads, with the same result.
    bool downMixOnLoad = false;
    bool wasStereo = false;
    double durationMs = 0.0;
    int32_t stereoDifference = 0;
    double gain = 0.0;
    bool longSilenceCut = false;
    double dcOffset = 0.0;
    double stereoCorrelation = 1.0;
    bool stereoMeasured = false;
    double stereoBalanceDb = 0.0;

private:
    // The DC offset of the samples and what removing it takes.
    struct DCEstimate {
        double offset = 0.0;
        double scale = 0.0;  // above 0: scaled first, so the shifted peak fits
        bool removes = false;
    };
    // NaN for a signal too short to settle.
    double quickDCOffset() const;
    DCEstimate estimateDCOffset() const;
    // The running average's settled mean itself, one sample after another.
    DCEstimate settledDCEstimate() const;
    static DCEstimate dcEstimateFor(double offset, int32_t minV, int32_t maxV);
    static int16_t removedSample(int16_t v, const DCEstimate& dc);
    // What the removal makes of each value from minV to maxV.
    static std::vector<int16_t> removalTable(const DCEstimate& dc, int32_t minV, int32_t maxV);
    void removeDCOffset(const DCEstimate& dc);
    // Removes the offset while `meanwhile` works on the samples (given to it
    // as they are once the offset is removed).
    void removeDCOffsetBeside(const std::function<void(const int16_t*)>& meanwhile);
    int32_t peakLevel(const int16_t* samples) const;
    // Scales the samples so that `peak` becomes full scale.
    void normalizeTo(int32_t peak);
    // `samples` (this signal's length and rate) at targetRate in a new buffer
    // (freed by the caller).
    int16_t* resampled(const int16_t* samples, int32_t targetRate, int32_t& produced) const;
    void replaceBuffer(int16_t* fresh, int32_t frames);
    void keepFrames(int32_t first, int32_t frames);
    void shrink(size_t values);
    void makeOwned();
    template <bool Difference> void mixDown();
    void setStereoMeasure(double sLR, double sLL, double sRR);
    // The correlation of two channels from their sums, as MeasureStereo takes it.
    static double correlationOf(double sLR, double sLL, double sRR);

    bool ownsData_ = true;  // false for excerpts, which view the parent's samples
    std::vector<std::unique_ptr<SignalObj>> excerpts_;
};
