#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "audio/SoundFile.h"
#include "audio/mp3/BitStream.h"

class SignalObj;

namespace mp3 {
class MP3Decoder;
}

// The reader of MPEG audio files. Unlike the other readers it decodes the
// whole stream in its preparation step, so the sample count is exact.
class MP3File : public BasicSoundFile {
public:
    MP3File();
    ~MP3File() override;

    bool open(const char* path) override;
    // Decodes the file opened by open(); true when at least one sample came
    // out. With maxMs above 0 it keeps only that much of the stream (the
    // sample count is still the whole stream's).
    bool prepare(double maxMs = -1);
    // The same from bytes in memory (which must outlive the call);
    // framesPerChunk 0 sizes the collector's chunks from the stream.
    bool prepareMemory(const uint8_t* data, size_t size, int64_t framesPerChunk = 0);
    bool readAll(int16_t* dest) override;
    void readInto(SampleStore& store) override;
    // Decoded already: exactly what was kept.
    int64_t deliverableCount() const override;
    void close() override;
    bool isStereo() const override { return channels_ > 1; }
    const mp3::StreamInfo& info() const { return info_; }

private:
    bool run(const uint8_t* data, size_t size, int64_t framesPerChunk, double maxMs);

    std::unique_ptr<mp3::MP3Decoder> decoder_;
    mp3::StreamInfo info_;
    std::string path_;
};

// Load function of the MPEG audio format.
bool loadMP3File(SignalObj& signal, const char* path, double maxMs);
