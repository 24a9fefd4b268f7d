#include "audio/SoundLoader.h"

#include "dsp/SignalObj.h"

bool loadSoundFile(SoundFile& reader, SignalObj& signal, const char* path, double maxMs,
                   bool (*prepare)(SoundFile&)) {
    if (!reader.open(path)) return false;
    if (prepare && !prepare(reader)) {
        reader.close();
        return false;
    }
    const int32_t count = reader.sampleCount(), rate = reader.sampleRate();
    const bool stereo = reader.isStereo();
    if (maxMs > 0 && count > 0 && rate > 0 && reader.canReadPrefix()) {
        // Decode only what the crop below would keep: the same frames, with
        // the whole file's duration recorded as CreateBuffer records it.
        const int32_t width = stereo ? 2 : 1;
        const double wholeMs = 1000.0 * (count / width) / rate;
        // Only past the limit is the kept length below the frame count.
        const double keepFrames = rate * maxMs / 1000.0;
        const auto keep = wholeMs > maxMs && keepFrames < count / width ? static_cast<int32_t>(keepFrames) : 0;
        if (keep >= 1) {
            signal.CreateBuffer(keep * width, rate, stereo);
            signal.durationMs = wholeMs;
            reader.readPrefix(signal.data, keep * width);
            reader.close();
            return true;
        }
    }
    signal.CreateBuffer(count, rate, stereo);
    // A file that ends before its announced length still loads; the rest of
    // the buffer stays silent.
    reader.readAll(signal.data);
    reader.close();
    if (maxMs > 0 && signal.GetDurationMs() > maxMs) signal.Crop(0.0, maxMs);
    return true;
}
