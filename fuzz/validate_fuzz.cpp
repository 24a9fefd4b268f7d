// The whole validate path on arbitrary bytes: the first byte picks the file
// name's extension (.wav, .flac, .ogg or .mp3), in its bit 2 the print's load
// limit (135 s) instead of none, and in its bit 3 the whole mono preparation
// at 22050 Hz instead of the prepared duration counted as the command counts
// it; with a .wav name, its bit 4 instead chooses the load of the print and
// the analysis, which mixes a stereo file down as it reads it and must give
// what the plain load and the down-mix give. The rest is the file. The
// outcomes the command turns into its statuses (a failed load, QuorbixError,
// the MPEG reader's text exceptions) are not findings; anything else that
// escapes (std::bad_alloc included) is.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "audio/FileFormat.h"
#include "dsp/QuorbixError.h"
#include "dsp/SignalObj.h"
#include "fuzz/FuzzFile.h"

namespace {

const FuzzFile kFiles[] = {FuzzFile(".wav"), FuzzFile(".flac"), FuzzFile(".ogg"), FuzzFile(".mp3")};

// 0 loaded, 1 not loaded, 2 and 3 the errors the commands report. A stereo
// signal is then measured and mixed down as Prepare does first.
int loadAndMix(SignalObj& signal, const char* path, double limit) {
    try {
        if (loadSong(signal, path, limit) != LoadOutcome::kLoaded) return 1;
    } catch (const QuorbixError&) {
        return 2;
    } catch (const char*) {
        return 3;
    }
    if (signal.width == 2) {
        signal.MeasureStereo();
        signal.stereoCorrelation < -0.98 ? signal.MixDifferenceToMono() : signal.MixToMono();
    }
    return 0;
}

void compareDownMix(const char* path, double limit) {
    SignalObj plain, mixed;
    mixed.downMixOnLoad = true;
    const int outcome = loadAndMix(plain, path, limit);
    if (loadAndMix(mixed, path, limit) != outcome) __builtin_trap();
    if (outcome != 0) return;
    // Doubles bit for bit: a header with rate 0 makes the duration NaN in both.
    auto same = [](const double& a, const double& b) { return std::memcmp(&a, &b, sizeof(double)) == 0; };
    if (mixed.length != plain.length || mixed.width != plain.width || mixed.wasStereo != plain.wasStereo ||
        mixed.stereoDifference != plain.stereoDifference || !same(mixed.durationMs, plain.durationMs) ||
        !same(mixed.stereoCorrelation, plain.stereoCorrelation) ||
        (plain.length > 0 && std::memcmp(mixed.data, plain.data, sizeof(int16_t) * size_t(plain.length)) != 0))
        __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    static const bool registered = (registerAllFormats(), true);
    (void)registered;
    const FuzzFile& file = kFiles[data[0] % 4];
    if (!file.write(data + 1, size - 1)) return 0;
    const double limit = data[0] & 4 ? 135000.0 : -1.0;
    if (data[0] & 16 && &file == &kFiles[0]) {  // the WAVE reader is the one that mixes
        compareDownMix(file.path(), limit);
        return 0;
    }
    SignalObj signal;
    try {
        if (loadSong(signal, file.path(), limit) != LoadOutcome::kLoaded) return 0;
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
