#pragma once
#include <cstdint>
#include <map>
#include <string>
#include <vector>

// Helpers for the MPEG audio reader's tests.
namespace test {

// The outcome of decoding one stream through MP3File's preparation step.
struct Mp3Decode {
    bool ok = false;
    int32_t rate = 0;
    int32_t channels = 0;
    std::vector<int16_t> pcm;  // interleaved
    std::string error;         // the message of an exception, if one was thrown
};

Mp3Decode decodeMp3File(const std::string& path);
Mp3Decode decodeMp3Bytes(const std::vector<uint8_t>& bytes);

// Our truncated output against a reference decoder's rounded one over n
// values: within 0.75 LSB RMS and 2 LSB peak (both printed under `label`).
void expectWithinConformanceBounds(const int16_t* test, const int16_t* reference, size_t n, const std::string& label);

// Little-endian 16-bit PCM file.
std::vector<int16_t> readPcm16(const std::string& path);

// Rows of a tab-separated file with a header line, as column name -> value.
std::vector<std::map<std::string, std::string>> readTsv(const std::string& path);

}  // namespace test
