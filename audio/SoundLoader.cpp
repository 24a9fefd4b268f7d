#include "audio/SoundLoader.h"

#include "dsp/SignalObj.h"

bool loadSoundFile(SoundFile& reader, SignalObj& signal, const char* path, double maxMs,
                   bool (*prepare)(SoundFile&)) {
    if (!reader.open(path)) return false;
    if (prepare && !prepare(reader)) {
        reader.close();
        return false;
    }
    signal.CreateBuffer(reader.sampleCount(), reader.sampleRate(), reader.isStereo());
    // A file that ends before its announced length still loads; the rest of
    // the buffer stays silent.
    reader.readAll(signal.data);
    reader.close();
    if (maxMs > 0 && signal.GetDurationMs() > maxMs) signal.Crop(0.0, maxMs);
    return true;
}
