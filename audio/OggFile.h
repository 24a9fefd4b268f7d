#pragma once
#include <cstdint>
#include <memory>

#include "audio/SoundFile.h"

class SignalObj;

// Reader of Ogg Vorbis files. The stream's total length, taken when it is
// opened, sizes the output; readAll then decodes to the end of the stream.
class OggFile : public SoundFile {
public:
    OggFile();
    ~OggFile() override;
    OggFile(const OggFile&) = delete;
    OggFile& operator=(const OggFile&) = delete;

    bool open(const char* path) override;
    // Writes at most sampleCount() values; a stream that ends early leaves the
    // rest of dest as it was. Always true.
    bool readAll(int16_t* dest) override;
    bool canReadPrefix() const override { return true; }
    bool readPrefix(int16_t* dest, int32_t count) override;
    void close() override;
    int32_t sampleCount() const override { return sampleCount_; }
    int32_t sampleRate() const override { return sampleRate_; }
    void setSampleRate(int32_t rate) override { sampleRate_ = rate; }
    bool isStereo() const override { return stereo_; }
    int32_t channels() const { return channels_; }

private:
    void decode(int16_t* dest, int32_t capacity, bool stopWhenFull);

    struct Stream;  // the library's decoding state; keeps the library's header out of here
    std::unique_ptr<Stream> stream_;
    int32_t sampleCount_ = 0;
    int32_t sampleRate_ = 0;
    int32_t channels_ = 0;
    bool stereo_ = false;
};

// Load function of the Ogg Vorbis format.
bool loadOggFile(SignalObj& signal, const char* path, double maxMs);
