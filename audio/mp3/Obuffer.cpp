#include "audio/mp3/Obuffer.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "dsp/LargePages.h"

namespace mp3 {

Wavefile_Obuffer::Wavefile_Obuffer(int channels, int64_t framesPerChunk)
    : channels_(channels == 1 ? 1 : 2), chunkSize_(channels_ * (framesPerChunk > 0 ? framesPerChunk : kFramesPerChunk)) {
    current_ = newChunk();
    if (channels_ == 2) overflow_ = newChunk();
}

Wavefile_Obuffer::Chunk Wavefile_Obuffer::newChunk() const {
    void* p = std::calloc(size_t(chunkSize_), sizeof(int16_t));
    if (!p) throw std::bad_alloc();
    adviseLargePages(p, size_t(chunkSize_) * sizeof(int16_t));
    return Chunk(static_cast<int16_t*>(p));
}

void Wavefile_Obuffer::advanceChunk() {
    if (channels_ == 1) {
        full_.push_back(std::move(current_));
        current_ = newChunk();
        pos_[0] -= chunkSize_;
        return;
    }
    if (pos_[0] < chunkSize_ || pos_[1] < chunkSize_) return;
    full_.push_back(std::move(current_));
    current_ = std::move(overflow_);
    overflow_ = newChunk();
    pos_[0] -= chunkSize_;
    pos_[1] -= chunkSize_;
}

void Wavefile_Obuffer::appendSamples(int channel, const int16_t* samples, int n) {
    if (unsigned(channel) < unsigned(channels_) && n > 0 && pos_[channel] + int64_t(n) * channels_ < chunkSize_) {
        // The whole block lands in the current chunk, short of its end.
        int16_t* dest = current_.get() + pos_[channel];
        if (channels_ == 1) {
            std::memcpy(dest, samples, size_t(n) * sizeof(int16_t));
        } else {
            for (int i = 0; i < n; ++i) dest[2 * i] = samples[i];
        }
        pos_[channel] += int64_t(n) * channels_;
        return;
    }
    for (int i = 0; i < n; ++i) put(channel, samples[i]);
}

int64_t Wavefile_Obuffer::count() const {
    return int64_t(full_.size()) * chunkSize_ + std::min(pos_[0], chunkSize_);
}

void Wavefile_Obuffer::copyOut(int16_t* dest, int64_t n) {
    n = std::min(n, count());
    for (Chunk& c : full_) {
        const int64_t take = std::min(n, chunkSize_);
        if (take > 0) std::memcpy(dest, c.get(), size_t(take) * sizeof(int16_t));
        dest += take;
        n -= take;
        c.reset();
    }
    full_.clear();
    if (n > 0) std::memcpy(dest, current_.get(), size_t(n) * sizeof(int16_t));
}

}  // namespace mp3
