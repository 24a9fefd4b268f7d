#pragma once
#include <cstdint>
#include <memory>

#include "dsp/FrameData.h"

// Real forward FFT of one power-of-two length, planned once and run many
// times. Output is unnormalised and half-complex: element k = Re(X_k) for
// 0 <= k <= N/2, element N - k = Im(X_k) for 0 < k < N/2.
class FFTLib {
public:
    FFTLib();
    virtual ~FFTLib();
    FFTLib(const FFTLib&) = delete;
    FFTLib& operator=(const FFTLib&) = delete;

    // Plans for length n (>= 2); frees any previous plan and buffer.
    void InitFFT(int32_t n);
    int32_t FFTLength() const { return n_; }
    // The transform's working buffer, n + 2 doubles: fill the first n with
    // samples, call ForwardFFT, read the half-complex spectrum from it.
    double* FFTBuffer() { return buffer_; }
    // Throws the quick-shutdown text (const char*) when gQuickShutdown is set.
    void ForwardFFT();
    // Convenience for callers with their own arrays: out gets n values.
    void ForwardFFT(const double* in, double* out);

private:
    struct Plan;
    std::unique_ptr<Plan> plan_;
    double* buffer_ = nullptr;  // owned by plan_
    int32_t n_ = 0;
};

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
    // Overlap making the hop 1/d of a beat at `tempo` bpm, the longest such
    // hop (d a power of two >= 2) that fits the frame.
    double BeatOverlap(double tempo) const;
    // Replaces the spectral rows by `bands` band maxima up to 8000 Hz, half of
    // them below 1000 Hz (fine) or 4000 Hz. Throws when a band is narrower
    // than a bin or bands >= bins.
    void ReSample(int32_t bands, bool fineLowBand);

    // Semitones above 27.5 Hz, rounded half away from zero.
    static int32_t FrequencyToSemitone(double frequency);

private:
    void computeFrame(const int16_t* samples, float* row);

    bool resampled_ = false;
};
