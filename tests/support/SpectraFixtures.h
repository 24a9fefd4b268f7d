#pragma once
#include <cstdint>
#include <memory>
#include <vector>

#include "analysis/SongObj.h"
#include "dsp/FrameData.h"

namespace test {

// A song holding exactly these interleaved samples (1 or 2 channels).
std::unique_ptr<SongObj> songOf(const std::vector<int16_t>& samples, int32_t rate,
                                int32_t channels = 1);

// Spectral rows written by the test: `frames` rows of `bins` zeros at `rate`
// with a hop of `hop` samples, so bin spacing = rate / (2 bins).
class SyntheticSpectrum : public FrameData {
public:
    SyntheticSpectrum(int32_t frames, int32_t bins, int32_t rate, int32_t hop);
    float& at(int32_t frame, int32_t bin) { return Frame(frame)[bin]; }
};

// Sine of a whole number of Hz, rounded to int16.
std::vector<int16_t> tone(double hz, int32_t rate, int64_t samples, double amplitude);

}  // namespace test
