#pragma once
#include <cstdint>

namespace mp3 {

// Where the synthesis filters put decoded samples.
class Obuffer {
public:
    virtual ~Obuffer() = default;
    virtual void append(int channel, int16_t sample) = 0;
    // n consecutive samples of one channel; one virtual call per block.
    virtual void appendSamples(int channel, const int16_t* samples, int n) {
        for (int i = 0; i < n; ++i) append(channel, samples[i]);
    }
    // Sent at the end of every frame.
    virtual void frameEnded() {}
};

// Writes the samples interleaved straight into the caller's buffer of
// `capacity` values, from value `start` on; values past the end are
// dropped. The stream's frame walk gives the exact count beforehand, so the
// decoder writes each sample once, where the signal keeps it.
class ArrayObuffer : public Obuffer {
public:
    ArrayObuffer(int16_t* dest, int64_t capacity, int channels, int64_t start = 0)
        : dest_(dest), capacity_(capacity), channels_(channels == 1 ? 1 : 2), pos_{start, start + 1} {}

    void append(int channel, int16_t sample) override {
        if (unsigned(channel) >= unsigned(channels_)) return;
        const int64_t p = pos_[channel];
        if (p < capacity_) dest_[p] = sample;
        pos_[channel] = p + channels_;
    }
    void appendSamples(int channel, const int16_t* samples, int n) override;

private:
    int16_t* dest_;
    int64_t capacity_;
    int channels_;
    int64_t pos_[2];
};

}  // namespace mp3
