#pragma once
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <memory>
#include <mutex>

#include "audio/FileSource.h"
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

    // About 10 s at 44.1 kHz: below that a second decoder costs more than it saves.
    static constexpr int64_t kSplitFromFrames = 441000;

private:
    struct Stream;  // the library's decoding state; keeps the library's header out of here
    struct Part;

    bool start(std::FILE* file);
    // One read of at most `room` values into the store: the values the
    // library delivered, 0 at the end of the stream, negative for a hole.
    static long readOnce(Stream& stream, SampleStore& store, int64_t room);
    // Decodes up to `values` more values into the store; false when the
    // stream had a hole on the way.
    static bool decode(Stream& stream, SampleStore& store, int64_t values);
    // Decodes the first `frames` frames on two threads, in parts; true when
    // all are in the store.
    bool decodeShared(SampleStore& store, int64_t frames);
    void decodePart(Part& part) const;
    bool takeFromAnother(std::deque<Part>& parts, std::mutex& partsLock, SampleStore& store, int64_t base);

    std::unique_ptr<Stream> stream_;
    FileSource source_;  // opened again for a second decoder
};

// Load function of the Ogg Vorbis format.
bool loadOggFile(SignalObj& signal, const char* path, double maxMs);
