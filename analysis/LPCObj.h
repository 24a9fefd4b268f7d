#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "dsp/FrameData.h"

// Linear-prediction spectral envelopes of consecutive frames of a signal:
// each row holds BinCount() values of 1 / |A(e^{i pi b / N})| / N for bins
// b = 0 .. N - 1, A being the prediction-error filter of the frame.
class LPCObj : public FrameData {
public:
    LPCObj();  // frames of 512 samples, order 100, 512 bins, no overlap, no window
    ~LPCObj() override;

    void SetSignal(SignalObj* source) override;  // also discards the envelopes
    // Samples [first, first + count) of the source; count < 0 means to the end.
    // The range is cut to the signal when computed.
    void SetRange(int32_t first, int32_t count);
    void SetOrder(int32_t order);
    void SetFrameLength(int32_t samples);
    // Throws QuorbixError unless bins is a power of two.
    void SetBinCount(int32_t bins) override;
    int32_t Order() const { return order_; }
    int32_t BinLog2() const { return binLog2_; }

    // Envelopes of every frame of the range, hop trunc(frame x (1 - overlap)).
    void Compute(double overlap);
    // The analysis steps' set-up in one call: the whole of `source`, with the
    // order, frame length and bin count given for 22050 Hz and scaled to its rate.
    void ComputeOn(SignalObj* source, int32_t order, int32_t frameLength, int32_t bins, double overlap);

    // The work of one frame, in double precision: x holds FrameSize() samples
    // already scaled to +-1 (and windowed); envelope receives BinCount() values.
    // coefficients, when given, receives a[1..order] at [0 .. order).
    void FrameEnvelope(const double* x, double* envelope, double* coefficients = nullptr);

    // Levinson-Durbin: a[0 .. p) from r[0 .. p], r[0] > 0. Stops early (the
    // remaining coefficients 0) if the prediction error reaches 0.
    static void LevinsonDurbin(const double* r, int32_t p, double* a);

    // Frames whose recursions run side by side, in vectors of four.
    static constexpr int32_t kLanes = 8;

private:
    // LevinsonDurbin of kLanes frames at once, r and a interleaved (element j
    // of lane l at j x kLanes + l) and aligned to 32 bytes; a lane with
    // r[0] = 0 gets zeros.
    static void LevinsonDurbinLanes(const double* r, int32_t p, double* a);
    void autocorrelate(const double* x, double* r);   // r[0 .. order]
    // Lags 1 .. order of the frame x[0], x[step], ...
    void autocorrelateLags(const double* x, ptrdiff_t step, double* r);
    void envelopeOf(const double* a, double* envelope);

    struct Transforms;
    bool transformsFit() const;  // the plans match the current sizes
    void prepare();

    int32_t order_ = 100;
    int32_t binLog2_ = 9;
    int32_t rangeFirst_ = 0;
    int32_t rangeCount_ = -1;
    std::unique_ptr<Transforms> fft_;
    std::vector<double> autocorrelation_;
    std::vector<double> coefficients_;
    std::vector<double> envelope_;
};
