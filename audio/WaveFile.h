#pragma once
#include <cstdint>

#include "audio/SoundFile.h"

class SignalObj;

// Reader of canonical RIFF WAVE files: 16-bit PCM, one or two channels, the
// "data" chunk right after the "fmt " chunk. Anything else fails to open.
class WaveFile : public BasicSoundFile {
public:
    WaveFile() { channels_ = 1; }
    ~WaveFile() override;

    bool open(const char* path) override;
    bool readAll(int16_t* dest) override;
    void close() override;
    bool canReadPrefix() const override { return true; }
    bool readPrefix(int16_t* dest, int32_t count) override;

    // Reads exactly n bytes in blocks of at most 4096; false when the file ends first.
    static bool readFully(int fd, void* dest, int64_t n);

private:
    int fd_ = -1;
};

// Load function of the WAVE format.
bool loadWaveFile(SignalObj& signal, const char* path, double maxMs);
