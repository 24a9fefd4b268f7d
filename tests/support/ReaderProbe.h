#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

class SoundFile;

// Runs a SoundFile reader over a file into a buffer pre-filled with a
// sentinel and longer than the reader's count, so a test can see both what
// the reader wrote and that it wrote nothing beyond its count.
namespace test {

// Fixtures read through the probe stay below this magnitude, so a sentinel
// found afterwards was never written.
constexpr int16_t kUnwritten = 0x7ABC;
constexpr size_t kGuardValues = 64;

struct ReadResult {
    bool opened = false;
    bool readOk = false;
    int32_t count = 0;
    int32_t rate = 0;
    bool stereo = false;
    std::vector<int16_t> values;  // count values, then kGuardValues more
};

// open, sampleCount/sampleRate/isStereo, readAll, close.
ReadResult readThrough(SoundFile& reader, const std::string& path);
// The same through a fresh reader of class Reader.
template <class Reader>
ReadResult readThrough(const std::string& path) {
    Reader reader;
    return readThrough(reader, path);
}

// How many leading values of got equal those of want.
size_t commonPrefix(const std::vector<int16_t>& got, const std::vector<int16_t>& want);
// True when v[from] and everything after it is still kUnwritten.
bool unwrittenFrom(const std::vector<int16_t>& v, size_t from);

}  // namespace test
