// Feeds arbitrary bytes to the FLAC reader through its in-memory path: the
// stream information read with libFLAC's metadata interface, then the
// decoding through libFLAC's decoder, as the worker calls them.
#include "audio/FLACFile.h"
#include "fuzz/ReaderFuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzzReader<FLACFile>(data, size);
    return 0;
}
