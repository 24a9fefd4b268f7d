// Feeds arbitrary bytes to the Ogg Vorbis reader through its in-memory path:
// libvorbisfile's open, length and decoding calls, as the worker makes them.
#include "audio/OggFile.h"
#include "fuzz/ReaderFuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzzReader<OggFile>(data, size);
    return 0;
}
