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

// The reader of MPEG audio files. Its preparation step walks every frame
// header, so the sample count is exact before anything is decoded; reading
// then decodes the kept frames straight into the signal.
class MP3File : public BasicSoundFile {
public:
    MP3File();
    ~MP3File() override;

    bool open(const char* path) override;
    // Walks the file opened by open(); true when it holds at least one
    // sample. With maxMs above 0 only that much of the stream is decoded
    // later (the sample count is still the whole stream's).
    bool prepare(double maxMs = -1);
    // The same from bytes in memory (which must outlive the reader).
    bool prepareMemory(const uint8_t* data, size_t size);
    bool readAll(int16_t* dest) override;
    void readInto(SampleStore& store) override;
    // Known from the walk: exactly what is kept.
    int64_t deliverableCount() const override;
    void close() override;
    bool isStereo() const override { return channels_ > 1; }
    const mp3::StreamInfo& info() const { return info_; }

private:
    bool run(const uint8_t* data, size_t size, double maxMs);

    std::unique_ptr<mp3::MP3Decoder> decoder_;
    mp3::StreamInfo info_;
    std::string path_;
};

// Load function of the MPEG audio format.
bool loadMP3File(SignalObj& signal, const char* path, double maxMs);
