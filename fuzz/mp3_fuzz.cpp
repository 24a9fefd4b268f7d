// Feeds arbitrary bytes to the MPEG audio reader through its in-memory path:
// the preparation (the walk over every frame header) and readAll (decoding).
// The reader's documented failures (false, its text exceptions and
// QuorbixError) are outcomes, not findings.
#include <cstddef>
#include <cstdint>
#include <memory>

#include "audio/mp3/MP3File.h"
#include "dsp/QuorbixError.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    MP3File reader;
    reader.open("fuzz.mp3");
    try {
        if (reader.prepareMemory(data, size)) {
            if (reader.sampleRate() <= 0 || reader.sampleCount() <= 0) __builtin_trap();
            std::unique_ptr<int16_t[]> pcm(new int16_t[size_t(reader.sampleCount())]);
            reader.readAll(pcm.get());
        }
    } catch (const QuorbixError&) {
    } catch (const char*) {
    }
    reader.close();
    return 0;
}
