#pragma once
#include <atomic>
#include <vector>
#include <cstdint>
#include <memory>

#include "dsp/FFTLib.h"
#include "dsp/FrameData.h"

// Magnitude spectra of consecutive frames of a signal: row f holds bins
// N/2 + 1 floats, 2|X_k| / N of the (optionally Hamming-windowed) frame
// starting at sample f * hop, samples scaled to +-1 by 32767.
class FFTObj : public FrameData, public FFTLib {
public:
    FFTObj();  // frame size 1024, no window, overlap 0
    ~FFTObj() override;

    void SetSignal(SignalObj* source) override;  // also discards computed frames
    void SetFrameSize(int32_t n);
    // Computes all frames for this overlap, unless they already exist for it.
    void Compute(double overlap);
    // Compute in two parts, for sharing the frames between threads:
    // BeginShares sizes the rows (false when there is nothing to compute);
    // then every ComputeShare call, from any thread, computes frames no
    // other call has claimed until none are left. The rows are complete once
    // all the calls have returned.
    bool BeginShares(double overlap);
    void ComputeShare();
    // The usual set-up in one call: source, frame size, window, then Compute.
    void ComputeOn(SignalObj* source, int32_t frameSize, WindowShape window, double overlap);
    // Overlap making the hop 1/d of a beat at `tempo` bpm, the longest such
    // hop (d a power of two >= 2) that fits the frame.
    double BeatOverlap(double tempo) const;
    // Rows keep only the bins up to `hz` (the bin holding it included), for
    // callers that read nothing above it; 0 keeps every bin. Takes effect at
    // the next Compute.
    void KeepBinsUpTo(double hz);
    // Replaces the spectral rows by `bands` band maxima up to 8000 Hz, half of
    // them below 1000 Hz (fine) or 4000 Hz. Throws when a band is narrower
    // than a bin or bands >= bins.
    void ReSample(int32_t bands, bool fineLowBand);

    // Semitones above 27.5 Hz, rounded half away from zero.
    static int32_t FrequencyToSemitone(double frequency);

private:
    void computeFrame(FFTLib& fft, std::vector<double>& imag, const int16_t* samples, float* row,
                      int32_t kept) const;

    bool resampled_ = false;
    double keptUpToHz_ = 0.0;
    std::atomic<int32_t> nextFrame_{0};
    std::atomic<bool> ownTransformTaken_{false};
    // The imaginary parts in bin order: the magnitude loop then reads both
    // parts forwards, which vectorises.
    std::vector<double> imag_;
};
