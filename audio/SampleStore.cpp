#include "audio/SampleStore.h"

#include <algorithm>
#include <cstring>

SampleStore::SampleStore(int16_t* dest, int64_t capacity, bool silent)
    : dest_(dest), silent_(silent), capacity_(std::max<int64_t>(capacity, 0)) {}

SampleStore::SampleStore(int64_t capacity) : capacity_(std::max<int64_t>(capacity, 0)) {}

int16_t* SampleStore::space(size_t n, size_t& granted) {
    granted = size_t(std::min<int64_t>(int64_t(n), capacity_ - size_));
    if (dest_) return dest_ + size_;
    if (!chunks_.empty()) chunks_.back().fill = chunkFill_;
    if (chunks_.empty() || chunkRoom_ - chunkFill_ < granted) {
        // A block never straddles two chunks; the tail of the old one stays unused.
        // Chunks grow with what has arrived: a short file costs a short chunk.
        chunkRoom_ = std::max(std::min(kChunkValues, std::max(kFirstChunkValues, size_t(size_))), granted);
        chunks_.push_back({std::unique_ptr<int16_t[]>(new int16_t[chunkRoom_]), 0});
        chunkFill_ = 0;
    }
    return chunks_.back().values.get() + chunkFill_;
}

void SampleStore::moveTo(int16_t* dest) {
    if (dest_) return;
    if (!chunks_.empty()) chunks_.back().fill = chunkFill_;
    for (Chunk& c : chunks_) {
        std::memcpy(dest, c.values.get(), c.fill * sizeof(int16_t));
        dest += c.fill;
        c.values.reset();
    }
    chunks_.clear();
    chunkRoom_ = chunkFill_ = 0;
}

void SampleStore::append(SampleStore& from) {
    if (dest_ && from.dest_ == dest_ + size_) {
        commit(size_t(std::min(from.size_, capacity_ - size_)));
        from.size_ = 0;
        return;
    }
    if (from.dest_) {
        size_t granted = 0;
        int16_t* out = space(size_t(from.size_), granted);
        std::memcpy(out, from.dest_, granted * sizeof(int16_t));
        commit(granted);
        return;
    }
    if (!from.chunks_.empty()) from.chunks_.back().fill = from.chunkFill_;
    for (Chunk& c : from.chunks_) {
        size_t granted = 0;
        int16_t* out = space(c.fill, granted);
        std::memcpy(out, c.values.get(), granted * sizeof(int16_t));
        commit(granted);
        c.values.reset();
    }
    from.chunks_.clear();
    from.chunkRoom_ = from.chunkFill_ = 0;
    from.size_ = 0;
}

SampleStore SampleStore::at(int64_t position) const {
    const int64_t from = std::clamp<int64_t>(position, 0, capacity_);
    if (dest_ && silent_) return SampleStore(dest_ + from, capacity_ - from, true);
    return SampleStore(capacity_ - from);
}

void SampleStore::discard() {
    if (dest_ && silent_) std::memset(dest_, 0, size_t(size_) * sizeof(int16_t));
    chunks_.clear();
    chunkRoom_ = chunkFill_ = 0;
    size_ = 0;
}
