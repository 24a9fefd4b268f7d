#include "support/SpectraFixtures.h"

#include <algorithm>
#include <cmath>

namespace test {

std::unique_ptr<SongObj> songOf(const std::vector<int16_t>& samples, int32_t rate,
                                int32_t channels) {
    auto song = std::make_unique<SongObj>("fixture");
    song->CreateBuffer(static_cast<int32_t>(samples.size()), rate, channels == 2);
    std::copy(samples.begin(), samples.begin() + song->elementCount, song->data);
    return song;
}

SyntheticSpectrum::SyntheticSpectrum(int32_t frames, int32_t bins, int32_t rate, int32_t hop) {
    this->rate = rate;
    frameSize_ = hop;
    SetStep(hop);
    AllocateRows(frames, bins);
}

std::vector<int16_t> tone(double hz, int32_t rate, int64_t samples, double amplitude) {
    std::vector<int16_t> out(static_cast<size_t>(samples));
    const double pi = 3.14159265358979323846;
    for (int64_t i = 0; i < samples; ++i) {
        // Phase from the integer index mod the rate keeps the fixture exact over long signals.
        const double phase = 2.0 * pi * hz * static_cast<double>(i % rate) / rate;
        out[static_cast<size_t>(i)] = static_cast<int16_t>(std::lround(amplitude * std::sin(phase)));
    }
    return out;
}

}  // namespace test
