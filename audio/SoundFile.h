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
};
