#pragma once
#include <cstddef>
#include <algorithm>
#include <cstdint>
#include <memory>
#include <vector>

// Where a reader puts the values it decodes: either the caller's buffer, or
// chunks that grow with what the file actually delivers, for readers whose
// header cannot be trusted to size the output. At most `capacity` values are
// kept; the rest are dropped.
class SampleStore {
public:
    // The caller's buffer of `capacity` values. When it is `silent` (zeros
    // beyond what is written), values can be decoded ahead into it.
    SampleStore(int16_t* dest, int64_t capacity, bool silent = false);
    // Chunks of its own, allocated as values arrive.
    explicit SampleStore(int64_t capacity);
    SampleStore(const SampleStore&) = delete;
    SampleStore& operator=(const SampleStore&) = delete;

    // Contiguous room for up to n more values; `granted` gets how many fit
    // (fewer only at the capacity). Call commit(k) once k of them are written.
    int16_t* space(size_t n, size_t& granted);
    void commit(size_t k) { size_ += int64_t(k); chunkFill_ += k; }

    int64_t size() const { return size_; }
    int64_t capacity() const { return capacity_; }
    bool full() const { return size_ >= capacity_; }
    // Copies the stored values, in order, to dest, releasing each chunk once
    // copied (a no-op for the caller's buffer).
    void moveTo(int16_t* dest);
    // Appends the values of `from` (as far as they fit), releasing each of
    // its chunks once copied; values `from` wrote in place, right after this
    // store's, are only counted.
    void append(SampleStore& from);
    // A store for the values that come `skip` values after this one's end:
    // the same silent buffer further on, or chunks of its own.
    SampleStore following(int64_t skip) const { return at(size_ + std::max<int64_t>(skip, 0)); }
    // The same for the values from `position` on, counted from this store's
    // first value; reads nothing that writing to this store changes.
    SampleStore at(int64_t position) const;
    // Forgets the stored values; those written in a silent buffer are zeroed
    // again.
    void discard();

private:
    struct Chunk {
        std::unique_ptr<int16_t[]> values;
        size_t fill;
    };
    static constexpr size_t kFirstChunkValues = size_t(1) << 14;
    static constexpr size_t kChunkValues = size_t(1) << 20;  // 2 MiB at most

    int16_t* dest_ = nullptr;  // the caller's buffer, or null
    bool silent_ = false;
    int64_t capacity_;
    int64_t size_ = 0;
    std::vector<Chunk> chunks_;
    size_t chunkRoom_ = 0;  // values in the newest chunk
    size_t chunkFill_ = 0;  // values written to it (for the caller's buffer: all so far)
};
