#pragma once
#include <cstdint>
#include <string>
#include <vector>

// Fixture writers for FLAC and Ogg Vorbis files, using the libraries' own
// encoders (put them in a test::TempDir from TestFiles.h). Samples are
// interleaved frame by frame. Every writer throws std::runtime_error (with the
// library's message) when it cannot write.
namespace test {

// Lossless: decoding gives back exactly these values. Each value must fit in
// bitsPerSample bits (4 to 24).
void writeFlac(const std::string& path, const std::vector<int32_t>& samples, int channels,
               int rate, int bitsPerSample);
void writeFlac(const std::string& path, const std::vector<int16_t>& samples, int channels,
               int rate);

// Variable-bitrate Vorbis at the given quality (-0.1 to 1.0). Streams with
// different serial numbers can be concatenated into a chained file.
void writeOggVorbis(const std::string& path, const std::vector<int16_t>& samples, int channels,
                    int rate, float quality = 0.4f, int serial = 1);

// Overwrites the 36-bit total-samples field of a FLAC file's STREAMINFO
// (0 means "not recorded").
void setFlacTotalSamples(const std::string& path, uint64_t total);

}  // namespace test
