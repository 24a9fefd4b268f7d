#pragma once
#include <cstdint>

class SampleStore;
struct StereoSums;

// A reader delivering one file's audio as interleaved host-order int16 PCM.
// Lives on the stack of a load function: open, query, readAll once, close.
class SoundFile {
public:
    virtual ~SoundFile() = default;

    virtual bool query() { return false; }
    virtual bool open(const char* path) = 0;
    virtual void notify() {}
    virtual void setting(int16_t) {}
    // Fills dest with sampleCount() values.
    virtual bool readAll(int16_t* dest) = 0;
    virtual void close() = 0;
    virtual int32_t sampleCount() const = 0;
    virtual int32_t sampleRate() const = 0;
    virtual void setSampleRate(int32_t rate) = 0;
    virtual bool isStereo() const = 0;

    // Decodes into the store until it is full or the file ends: the first
    // values readAll would deliver. Readers stop decoding once the store is
    // full; std::bad_alloc when the store cannot grow to what the file holds.
    virtual void readInto(SampleStore& store) = 0;
    // The most values readInto can deliver, when the reader knows it before
    // decoding (what the file holds, not what its header claims); -1 when
    // only decoding tells.
    virtual int64_t deliverableCount() const { return -1; }
    // For a stereo reader that can mix as it reads: writes the mix of each
    // of `frames` frames of the first `values` values readInto would deliver
    // (a frame past them silent) to mono: (l + r) / 2, or (l - r) / 2 with
    // `difference`, truncated as integer division does. `sums` gets the
    // frames' sums. False when it cannot (mono then holds anything); the
    // reader is then where it was, for readInto.
    virtual bool readDownMixed(int16_t* /*mono*/, int32_t /*frames*/, int64_t /*values*/, bool /*difference*/,
                               StereoSums& /*sums*/) {
        return false;
    }
};

// The state every reader keeps: the stream's shape as its header gives it,
// set by open() (or a preparation step) and reported through the accessors.
class BasicSoundFile : public SoundFile {
public:
    int32_t sampleCount() const override { return sampleCount_; }
    int32_t sampleRate() const override { return sampleRate_; }
    void setSampleRate(int32_t rate) override { sampleRate_ = rate; }
    bool isStereo() const override { return stereo_; }
    int32_t channels() const { return channels_; }

protected:
    int32_t sampleCount_ = 0;
    int32_t sampleRate_ = 0;
    int32_t channels_ = 0;
    bool stereo_ = false;
};
