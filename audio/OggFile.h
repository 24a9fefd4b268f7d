#pragma once
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>

#include "audio/SoundFile.h"

class SignalObj;

// Reader of Ogg Vorbis files. The stream's total length, taken when it is
// opened, sizes the output; readAll then decodes to the end of the stream.
class OggFile : public BasicSoundFile {
public:
    OggFile();
    ~OggFile() override;
    OggFile(const OggFile&) = delete;
    OggFile& operator=(const OggFile&) = delete;

    bool open(const char* path) override;
    // The same from bytes in memory, which must outlive the reader.
    bool openMemory(const uint8_t* data, size_t size);
    // Writes at most sampleCount() values; a stream that ends early leaves the
    // rest of dest as it was. Always true.
    bool readAll(int16_t* dest) override;
    void readInto(SampleStore& store) override;
    void close() override;

private:
    bool start(std::FILE* file);

    struct Stream;  // the library's decoding state; keeps the library's header out of here
    std::unique_ptr<Stream> stream_;
};

// Load function of the Ogg Vorbis format.
bool loadOggFile(SignalObj& signal, const char* path, double maxMs);
