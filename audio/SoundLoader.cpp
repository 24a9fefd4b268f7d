#include "audio/SoundLoader.h"

#include <algorithm>

#include "audio/SampleStore.h"
#include "dsp/QuorbixError.h"
#include "dsp/Rounding.h"
#include "dsp/SignalObj.h"

namespace {

// Up to this many kept values (128 MiB: ten minutes of 48 kHz stereo with
// room to spare) a reader that cannot tell its length decodes straight into
// the signal; beyond, into chunks that grow with what arrives, so a header
// that claims hours costs no address space.
constexpr int64_t kDecodeInPlaceValues = int64_t(1) << 26;

// Frames of the signal to allocate when `kept` frames are announced and at
// most `delivered` values arrive; the frames beyond the delivered ones would
// be silence. The silence trim reads the first `length` values (whatever the
// width) in blocks counted from both ends; shortening by whole blocks from the
// end, and keeping one silent block after the delivered values, leaves every
// block it tests over sound where it was, so both ends come out the same.
int32_t framesToAllocate(int32_t kept, int64_t delivered, int32_t rate) {
    const int32_t block = truncToInt32(rate * 2.2 / 400.0);  // as SignalObj::TrimSilence
    // Without a block the trim finds silence only, however long the signal.
    if (block <= 0) return int32_t(std::min<int64_t>(kept, delivered + 1));
    const int64_t need = delivered + block;
    if (kept <= need) return kept;
    return int32_t(kept - (kept - need) / block * block);
}

// The signal as the down-mix the reader makes while reading, when it can
// and the sums tell which mix Prepare would make.
bool loadDownMixed(SoundFile& reader, SignalObj& signal, int32_t frames, int64_t delivered, int32_t rate) {
    signal.CreateBuffer(frames, rate, false);
    StereoSums sums;
    bool difference = false;
    if (!reader.readDownMixed(signal.data, frames, delivered, false, sums)) return false;
    if (!SignalObj::DownMixFromSums(sums, difference)) return false;
    if (difference && !reader.readDownMixed(signal.data, frames, delivered, true, sums)) return false;
    signal.AdoptDownMix(sums);
    return true;
}

}  // namespace

bool loadSoundFile(SoundFile& reader, SignalObj& signal, const char* path, double maxMs,
                   bool (*prepare)(SoundFile&, double)) {
    if (!reader.open(path)) return false;
    if (prepare && !prepare(reader, maxMs)) {
        reader.close();
        return false;
    }
    const int32_t count = std::max(reader.sampleCount(), 0), rate = reader.sampleRate();
    const bool stereo = reader.isStereo();
    const int32_t width = stereo ? 2 : 1;
    const int32_t frames = count / width;
    // As CreateBuffer records it, for the whole announced length.
    const double wholeMs = 1000.0 * frames / rate;

    // What a crop to maxMs keeps (as SignalObj::Crop computes it).
    int32_t keptFrames = frames;
    int64_t keptValues = count;  // an odd count (three or more channels) keeps its last value uncropped
    if (maxMs > 0 && wholeMs > maxMs) {
        const int32_t limit = truncToInt32(rate * maxMs / 1000.0);
        if (limit < 1) {
            reader.close();
            throw QuorbixError("Signal is corrupt");
        }
        if (limit < frames) {
            keptFrames = limit;
            keptValues = int64_t(limit) * width;
        }
    }

    auto valuesToAllocate = [&](int64_t delivered) {
        const int32_t allocFrames = framesToAllocate(keptFrames, delivered, rate);
        return allocFrames == keptFrames ? keptValues : int64_t(allocFrames) * width;
    };
    const int64_t known = reader.deliverableCount();
    if (known >= 0) {
        const int64_t delivered = std::min(keptValues, known);
        const int64_t values = valuesToAllocate(delivered);
        if (!(stereo && signal.downMixOnLoad && loadDownMixed(reader, signal, int32_t(values / 2), delivered, rate))) {
            signal.CreateBuffer(int32_t(values), rate, stereo);
            SampleStore direct(signal.data, delivered);
            reader.readInto(direct);
        }
    } else if (keptValues <= kDecodeInPlaceValues) {
        // Only decoding tells how much there is: decode into room for all
        // that is kept, then give back what was not delivered. Pages never
        // written are never touched, and no value is copied.
        signal.CreateBuffer(int32_t(keptValues), rate, stereo);
        SampleStore direct(signal.data, keptValues, true);
        reader.readInto(direct);
        signal.ShrinkBuffer(int32_t(valuesToAllocate(direct.size())));
    } else {
        SampleStore chunks(keptValues);
        reader.readInto(chunks);
        signal.CreateBuffer(int32_t(valuesToAllocate(chunks.size())), rate, stereo);
        chunks.moveTo(signal.data);
    }
    signal.durationMs = wholeMs;
    reader.close();
    return true;
}
