#include "audio/mp3/MP3Decoder.h"

#include <algorithm>
#include <memory>

#include "audio/mp3/FrameHeader.h"
#include "audio/mp3/Layer12Decoder.h"
#include "audio/mp3/Layer3Decoder.h"
#include "audio/mp3/Obuffer.h"
#include "audio/mp3/SynthesisFilter.h"
#include "dsp/SideBySide.h"
#include "dsp/Rounding.h"

namespace mp3 {

namespace {

// Passes a decoder's output on, or drops it while the decoder settles.
class SkippingObuffer : public Obuffer {
public:
    explicit SkippingObuffer(Obuffer& to) : to_(to) {}
    bool skipping = true;
    void append(int channel, int16_t sample) override {
        if (!skipping) to_.append(channel, sample);
    }
    void appendSamples(int channel, const int16_t* samples, int n) override {
        if (!skipping) to_.appendSamples(channel, samples, n);
    }
    void frameEnded() override {
        if (!skipping) to_.frameEnded();
    }

private:
    Obuffer& to_;
};

// Frames a decoder started this many bytes before the split has read
// settle everything that crosses frames: the reservoir reaches 511 bytes
// back, the overlap and the synthesis history one granule.
constexpr int kSettleBytes = 2048;
constexpr int kSettleFrames = 3;

}  // namespace

void MP3Decoder::openSource(BitStream& stream) const {
    if (args_.data) stream.openMemory(args_.data, args_.size);
    else stream.open(args_.path.c_str());
}

bool MP3Decoder::scan(const MPEG_Args& args) {
    args_ = args;
    args_.info = nullptr;
    starts_.clear();
    sizes_.clear();
    allLayer3_ = true;
    sampleRate_ = channels_ = 0;
    sampleCount_ = stored_ = 0;

    BitStream stream;
    openSource(stream);
    FrameHeader header;
    if (!stream.readFrame(header)) return false;
    StreamInfo scratch;
    stream.readId3v1(args.info ? *args.info : scratch);
    first_ = header;

    // Frames are decoded while the values before them fall short of what a
    // limited load keeps; later frames are only counted, and each adds its
    // layer's samples whether it would decode cleanly or not.
    const int64_t keep = args.maxMs > 0 ? int64_t(truncToInt32(header.sampleRateHz() * args.maxMs / 1000.0)) * header.channels()
                                        : kMaxValues;
    int64_t counted = 0;
    starts_.push_back(0);
    for (;;) {
        const int64_t values = int64_t(header.samplesPerFrame()) * header.channels();
        if (stored_ >= keep) {
            counted += values;
            if (stored_ + counted >= kMaxValues) break;
        } else {
            sizes_.push_back(header.frameSize());
            allLayer3_ = allLayer3_ && header.layer() == 3;
            stored_ += values;
            if (stored_ >= kMaxValues) break;
        }
        const int64_t at = stream.position();
        if (!stream.readFrame(header)) break;
        if (stored_ < keep) starts_.push_back(at);
    }
    starts_.resize(sizes_.size());

    sampleRate_ = header.sampleRateHz();
    channels_ = header.channels();
    sampleCount_ = stored_ + counted;
    return sampleCount_ > 0;
}

void MP3Decoder::decodeInto(int16_t* dest, int64_t capacity) {
    decodedInTwo_ = false;
    const int64_t frames = int64_t(sizes_.size());
    if (frames == 0) return;
    const int channels = first_.channels();
    SynthesisFilter filter0(0), filter1(1);
    SynthesisFilter* second = channels == 2 ? &filter1 : nullptr;
    ArrayObuffer out(dest, capacity, channels);

    BitStream source;
    openSource(source);
    FrameHeader current;
    source.readFrame(current);
    std::unique_ptr<Layer3Decoder> layer3;
    int previousLayer = 0;  // none yet: the first frame sets up its layer's decoder
    auto decodeNext = [&](int64_t index) {
        if (index > 0) source.readFrame(current);
        if (current.checksums()) source.getBits(16);  // the CRC word, not verified
        if (current.layer() != previousLayer) {
            if (current.layer() == 3) layer3.reset(new Layer3Decoder(&filter0, second, out));
            else layer3.reset();
            previousLayer = current.layer();
        }
        if (current.layer() == 3) layer3->decodeFrame(source, current);
        else decodeLayer12Frame(source, current, &filter0, second, out);
        out.frameEnded();
    };

    int64_t done = 0;
    const int64_t splitFrom = args_.splitFromFrames > 0 ? args_.splitFromFrames : kSplitFromFrames;
    if (allLayer3_ && frames >= splitFrom && secondThreadWanted()) {
        // The second half on a second decoder, started early enough to
        // settle, writing where its frames belong: from the split on its
        // output is what one decoder gives, which the states tell.
        const int64_t split = (frames + kSettleFrames) / 2;
        int64_t from = split;
        for (int64_t bytes = 0; from > 1 && (split - from < kSettleFrames || bytes < kSettleBytes);)
            bytes += sizes_[size_t(--from)];
        SynthesisFilter late0(0), late1(1), kept0(0), kept1(1);
        ArrayObuffer lateOut(dest, capacity, channels, split * first_.samplesPerFrame() * channels);
        SkippingObuffer gate(lateOut);
        Layer3Decoder late(&late0, channels == 2 ? &late1 : nullptr, gate);
        BitStream lateSource;
        openSource(lateSource);
        FrameHeader h = first_;
        lateSource.resumeLike(source, starts_[size_t(from)], h);
        runSideBySide(
            [&] {
                for (int64_t i = from; i < frames; ++i) {
                    if (i == split) {
                        late.keepCarriedState();
                        kept0 = late0;
                        kept1 = late1;
                        gate.skipping = false;
                    }
                    lateSource.readFrame(h);
                    if (h.checksums()) lateSource.getBits(16);
                    late.decodeFrame(lateSource, h);
                    gate.frameEnded();
                }
            },
            [&] {
                for (int64_t i = 0; i < split; ++i) decodeNext(i);
            });
        done = split;
        // Otherwise the first decoder goes on and writes over the second's output.
        if (layer3->carriesKeptStateOf(late) && filter0.sameHistory(kept0) &&
            (channels == 1 || filter1.sameHistory(kept1))) {
            done = frames;
            decodedInTwo_ = true;
        }
    }
    for (int64_t i = done; i < frames; ++i) decodeNext(i);
}

}  // namespace mp3
