// The whole validate path on arbitrary bytes: the first byte picks the file
// name's extension (.wav, .flac, .ogg or .mp3), in its bit 2 the print's load
// limit (135 s) instead of none, and in its bit 3 the whole mono preparation
// at 22050 Hz instead of the prepared duration counted as the command counts
// it; the rest is the file. The outcomes the command turns into its statuses
// (a failed load, QuorbixError, the MPEG reader's text exceptions) are not
// findings; anything else that escapes (std::bad_alloc included) is.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "audio/FileFormat.h"
#include "dsp/QuorbixError.h"
#include "dsp/SignalObj.h"
#include "fuzz/FuzzFile.h"

namespace {

const FuzzFile kFiles[] = {FuzzFile(".wav"), FuzzFile(".flac"), FuzzFile(".ogg"), FuzzFile(".mp3")};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    static const bool registered = (registerAllFormats(), true);
    (void)registered;
    const FuzzFile& file = kFiles[data[0] % 4];
    if (!file.write(data + 1, size - 1)) return 0;
    SignalObj signal;
    try {
        if (loadSong(signal, file.path(), data[0] & 4 ? 135000.0 : -1.0) != LoadOutcome::kLoaded) return 0;
        if (signal.length < 0 || signal.elementCount < signal.length) __builtin_trap();
        try {
            if (data[0] & 8) signal.PrepareMono(22050, 2.2);
            else (void)signal.PreparedMonoDurationMs(22050, 2.2);
        } catch (const QuorbixError&) {
        }
    } catch (const QuorbixError&) {
    } catch (const char*) {
    }
    return 0;
}
