#pragma once
#include <cstddef>
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
    // The same from bytes in memory, which must outlive the reader.
    bool openMemory(const uint8_t* data, size_t size);
    bool readAll(int16_t* dest) override;
    void readInto(SampleStore& store) override;
    // The announced values the file holds: a last odd byte counts as a value
    // whose high byte is silent.
    int64_t deliverableCount() const override;
    // Reads at its own offsets (the position stays), half the frames on each core.
    bool readDownMixed(int16_t* mono, int32_t frames, int64_t values, bool difference, StereoSums& sums) override;
    void close() override;

    // Reads exactly n bytes in blocks of at most 4096; false when the file ends first.
    static bool readFully(int fd, void* dest, int64_t n);

private:
    bool readHeader();
    // Reads up to n bytes at the current position and moves past them; the
    // count read.
    int64_t read(void* dest, int64_t n);
    bool seek(int64_t pos);
    // Up to n bytes from byte `at` of the file or the bytes, whatever the
    // position; the count read.
    int64_t readAt(void* dest, int64_t n, int64_t at) const;
    bool downMixFrames(int16_t* mono, int32_t first, int32_t last, int64_t values, bool difference,
                       StereoSums& sums) const;

    int fd_ = -1;
    const uint8_t* mem_ = nullptr;
    int64_t size_ = 0;  // of the file or the bytes
    int64_t pos_ = 0;   // where read() reads next
    int64_t dataStart_ = 0;
};

// Load function of the WAVE format.
bool loadWaveFile(SignalObj& signal, const char* path, double maxMs);
