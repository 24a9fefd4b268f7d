#include "audio/mp3/Obuffer.h"

#include <cstring>

namespace mp3 {

void ArrayObuffer::appendSamples(int channel, const int16_t* samples, int n) {
    if (unsigned(channel) >= unsigned(channels_) || n <= 0) return;
    const int64_t p = pos_[channel];
    if (p + int64_t(n - 1) * channels_ >= capacity_) {
        for (int i = 0; i < n; ++i) append(channel, samples[i]);
        return;
    }
    int16_t* d = dest_ + p;
    if (channels_ == 1) {
        std::memcpy(d, samples, size_t(n) * sizeof(int16_t));
    } else {
        for (int i = 0; i < n; ++i) d[2 * i] = samples[i];
    }
    pos_[channel] = p + int64_t(n) * channels_;
}

}  // namespace mp3
