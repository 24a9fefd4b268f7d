#pragma once
#include <algorithm>
#include <cstdint>

#include "dsp/Rounding.h"

class SignalObj;

// Binds a whole-signal processor to its source and to the buffer that
// receives its result. Nothing is owned: the caller keeps both alive.
class SignalProcessor {
public:
    // `output` must hold at least source->length int16 values. Throws
    // QuorbixError ("Programming error: ...") for a null source, a source
    // without a sample rate, or a null output for a non-empty source.
    void Bind(const SignalObj* source, int16_t* output);

protected:
    // Throws when no signal has been bound yet.
    void RequireBound() const;

    const SignalObj* source_ = nullptr;
    double radiansPerHertz_ = 0.0;  // pi / source rate
    const int16_t* input_ = nullptr;
    int16_t* output_ = nullptr;
    int32_t length_ = 0;  // frames to process
};

// IIR filters that design themselves for a band and then filter the whole
// bound signal in one pass. Frequencies in Hz; the transition is a fraction
// of the cutoff and only matters for designs that have a transition band.
class Filter : public SignalProcessor {
public:
    virtual ~Filter() = default;

    virtual void HighPass(double cutoff, double transition) = 0;
    virtual void LowPass(double cutoff, double transition) = 0;
    virtual void BandPass(double centre, double width, double transition) = 0;
    virtual void BandReject(double centre, double width, double transition) = 0;

    // A filter output already scaled to the 16-bit range, rounded half away
    // from zero and clamped to [-32768, 32767]. NaN, which only degenerate
    // designs produce, becomes 0 so that the conversion stays defined.
    // Clamping first gives the same bits as rounding first, and the small
    // rounding has no branch.
    static int16_t ToSample(double scaled) {
        if (std::isnan(scaled)) return 0;
        return static_cast<int16_t>(roundHalfAwaySmall(std::min(std::max(scaled, -32768.0), 32767.0)));
    }
};
