#pragma once
#include <cstdint>

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

    // Readers that can stop early fill only the first `count` values (at most
    // sampleCount()): a load limited to the start of a long file then decodes
    // no more than it keeps. The values are those readAll would deliver there.
    virtual bool canReadPrefix() const { return false; }
    virtual bool readPrefix(int16_t* /*dest*/, int32_t /*count*/) { return false; }
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
