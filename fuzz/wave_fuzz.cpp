// Feeds arbitrary bytes to the WAVE reader through its in-memory path: the
// header checks and the reading of the data chunk.
#include "audio/WaveFile.h"
#include "fuzz/ReaderFuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzzReader<WaveFile>(data, size);
    return 0;
}
