#pragma once
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>

#include "audio/FileSource.h"
#include "audio/SoundFile.h"

class SignalObj;

// Reader of FLAC files. open() reads STREAMINFO to size the output and sets up
// a decoder; readAll decodes the whole file, delivering the low 16 bits of
// every sample, interleaved frame by frame.
class FLACFile : public BasicSoundFile {
public:
    FLACFile();
    ~FLACFile() override;
    FLACFile(const FLACFile&) = delete;
    FLACFile& operator=(const FLACFile&) = delete;

    bool open(const char* path) override;
    // The same from bytes in memory, which must outlive the reader.
    bool openMemory(const uint8_t* data, size_t size);
    // Writes at most sampleCount() values; decoder errors are ignored and a
    // file that ends early leaves the rest of dest as it was. Always true.
    bool readAll(int16_t* dest) override;
    void readInto(SampleStore& store) override;
    void close() override;

    // About 10 s at 44.1 kHz: below that a second decoder costs more than it saves.
    static constexpr uint64_t kSplitFromFrames = 441000;

private:
    // Reads the stream information from the open file and sets up the decoder.
    bool start(std::FILE* file);
    // Decodes samples [split, end) on a second decoder beside the first one
    // up to the split; true when both halves are in the store.
    bool decodeInTwo(SampleStore& store, uint64_t split);

    struct Decoder;  // the library's decoder, its write context and the file
    std::unique_ptr<Decoder> decoder_;
    FileSource source_;  // opened again for a second decoder
    uint64_t totalSamples_ = 0;  // per channel, from STREAMINFO (0: unknown)
    uint32_t fixedBlock_ = 0;    // block size when STREAMINFO fixes it
};

// Load function of the FLAC format.
bool loadFLACFile(SignalObj& signal, const char* path, double maxMs);
