#pragma once
#include <cstdint>

#include "analysis/SongObj.h"
#include "dsp/FrameData.h"
#include "support/Signals.h"

namespace test {

// Spectral rows written by the test: `frames` rows of `bins` zeros at `rate`
// with a hop of `hop` samples, so bin spacing = rate / (2 bins).
class SyntheticSpectrum : public FrameData {
public:
    SyntheticSpectrum(int32_t frames, int32_t bins, int32_t rate, int32_t hop);
    float& at(int32_t frame, int32_t bin) { return Frame(frame)[bin]; }
};

}  // namespace test
