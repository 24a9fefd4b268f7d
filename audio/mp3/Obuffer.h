#pragma once
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <vector>

namespace mp3 {

// Output collector of decoded samples.
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
    // Copies every collected value, interleaved, to dest (count() values).
    virtual void copyOut(int16_t* dest) = 0;
    virtual int64_t count() const = 0;
};

// Collects the whole decoded stream in memory, in zeroed chunks of
// framesPerChunk frames (by default 30 seconds at 44.1 kHz), so a long song
// costs few allocations.
class Wavefile_Obuffer : public Obuffer {
public:
    static constexpr int64_t kFramesPerChunk = 1323000;

    // framesPerChunk 0 or less: the standard 30 seconds.
    explicit Wavefile_Obuffer(int channels, int64_t framesPerChunk = kFramesPerChunk);

    void append(int channel, int16_t sample) override { put(channel, sample); }
    void appendSamples(int channel, const int16_t* samples, int n) override;
    void copyOut(int16_t* dest) override { copyOut(dest, count()); }
    // The first `n` values only (at most count()); each full chunk is
    // released once copied, so the song is not held twice.
    void copyOut(int16_t* dest, int64_t n);
    int64_t count() const override;

private:
    struct Free {
        void operator()(int16_t* p) const { std::free(p); }
    };
    using Chunk = std::unique_ptr<int16_t[], Free>;
    // Zeroed, as large pages where the system allows: filling a song's worth
    // of small pages costs more than decoding it.
    Chunk newChunk() const;

    void put(int channel, int16_t sample) {
        if (unsigned(channel) >= unsigned(channels_)) return;
        const int64_t p = pos_[channel];
        if (p < chunkSize_) {
            current_[p] = sample;
        } else if (channels_ == 2 && p - chunkSize_ < chunkSize_) {
            // One channel has run past the chunk end before the other:
            // park its samples until both have.
            overflow_[p - chunkSize_] = sample;
        }
        pos_[channel] = p + channels_;
        if (pos_[channel] >= chunkSize_) advanceChunk();
    }
    void advanceChunk();

    int channels_;
    int64_t chunkSize_;
    std::vector<Chunk> full_;
    Chunk current_;
    Chunk overflow_;
    int64_t pos_[2] = {0, 1};
};

}  // namespace mp3
