#pragma once
#include <cstdint>
#include <vector>

#include "dsp/TimeData.h"

class SignalObj;

// Common base of the framed analyses: a source signal cut into frames of
// FrameSize() samples every Hop() samples, one row of BinCount() floats per
// frame. The rows live in an owned vector; the TimeData fields mirror it
// (data = rows, length = frames, width = bins, rate = source rate).
class FrameData : public TimeData<float> {
public:
    // Window applied to each frame before its analysis. The values are the
    // ones the analysis settings have always used.
    enum WindowShape : int32_t { kRectangular = 0, kTriangular = 1, kHammingWindow = 2 };

    FrameData();
    virtual ~FrameData();
    FrameData(const FrameData&) = delete;
    FrameData& operator=(const FrameData&) = delete;

    // Attaches the source (not owned) and takes its rate.
    virtual void SetSignal(SignalObj* source);
    virtual void SetBinCount(int32_t bins);

    // Hop in samples; throws QuorbixError when no rate is known or hop < 1.
    void SetStep(int32_t hop);
    // The spectral analyses apply kHammingWindow and treat the others as none.
    void SetWindow(WindowShape shape) { windowOption_ = shape; }

    SignalObj* Source() const { return source_; }
    int32_t FrameSize() const { return frameSize_; }
    int32_t Hop() const { return hop_; }
    double Overlap() const { return overlap_; }
    WindowShape WindowOption() const { return windowOption_; }
    const std::vector<double>& Window() const { return window_; }

    int32_t FrameCount() const { return length; }
    int32_t BinCount() const { return width; }
    float* Frame(int32_t i) { return data + static_cast<std::ptrdiff_t>(i) * width; }
    const float* Frame(int32_t i) const { return data + static_cast<std::ptrdiff_t>(i) * width; }
    // Row of the frame holding time t (ms), or null past the last frame;
    // outTimeMs gets that frame's start time.
    const float* FrameAtTime(double t, double* outTimeMs) const;
    double Value(int32_t i, int32_t k) const { return Frame(i)[k]; }
    // Row trunc(t / hop ms), bin k; 0 outside the frames.
    double ValueAtTime(double t, int32_t k) const;

    // Hz; a spectrum whose rows keep only their lowest bins still spaces
    // them as the whole spectrum does.
    double BinSpacing() const { return rate / (2.0 * (spectrumBins_ > 0 ? spectrumBins_ : width)); }
    double BinFrequency(int32_t k) const { return k * BinSpacing(); }
    double FrameDuration() const { return 1000.0 * frameSize_ / rate; }  // ms
    double HopDuration() const { return hopMs_; }                        // ms

    // Symmetric Hamming window: 0.54 - 0.46 cos(2 pi i / (n - 1)).
    static std::vector<double> HammingWindow(int32_t n);

protected:
    // Sizes the rows (zeroed) and the TimeData fields; returns the first row.
    float* AllocateRows(int32_t frames, int32_t bins);
    // Takes over rows of frames x bins values.
    void ReplaceRows(std::vector<float>&& rows, int32_t frames, int32_t bins);
    void ClearRows();
    bool HasRows() const { return data != nullptr; }

    SignalObj* source_ = nullptr;
    int32_t frameSize_ = 0;
    int32_t hop_ = 0;
    double hopMs_ = 0.0;
    double overlap_ = 0.0;
    WindowShape windowOption_ = kRectangular;
    std::vector<double> window_;
    int32_t spectrumBins_ = 0;  // bins of the whole spectrum when rows keep fewer; 0 otherwise

private:
    std::vector<float> rows_;
};
