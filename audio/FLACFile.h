#pragma once
#include <cstdint>
#include <memory>
#include <string>

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
    // Writes at most sampleCount() values; decoder errors are ignored and a
    // file that ends early leaves the rest of dest as it was. Always true.
    bool readAll(int16_t* dest) override;
    bool canReadPrefix() const override { return true; }
    bool readPrefix(int16_t* dest, int32_t count) override;
    void close() override;

private:
    bool decode(int16_t* dest, int32_t capacity, bool stopWhenFull);

    struct Decoder;  // the library's decoder and its write context
    std::unique_ptr<Decoder> decoder_;
    std::string path_;  // the decoder is bound to the file when decoding starts
};

// Load function of the FLAC format.
bool loadFLACFile(SignalObj& signal, const char* path, double maxMs);
