#include "support/SpectraFixtures.h"

namespace test {

SyntheticSpectrum::SyntheticSpectrum(int32_t frames, int32_t bins, int32_t rate, int32_t hop) {
    this->rate = rate;
    frameSize_ = hop;
    SetStep(hop);
    AllocateRows(frames, bins);
}

}  // namespace test
