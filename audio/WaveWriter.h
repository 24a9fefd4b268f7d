#pragma once
#include <cstdint>

// Writes interleaved 16-bit PCM as a canonical 44-byte-header WAVE file,
// the only layout the reader accepts. False when the file cannot be written.
bool writeWaveFile(const char* path, const int16_t* samples, int64_t count, int32_t rate,
                   int32_t channels);
