#include "audio/mp3/MP3Decoder.h"

#include <algorithm>
#include <vector>

#include "audio/mp3/FrameHeader.h"
#include "audio/mp3/Layer12Decoder.h"
#include "audio/mp3/Layer3Decoder.h"
#include "audio/mp3/Obuffer.h"
#include "audio/mp3/SynthesisFilter.h"
#include "dsp/SideBySide.h"
#include "dsp/Rounding.h"

namespace mp3 {

namespace {

// The most samples per channel a stream can still decode to after its first
// frame (read already) and `bytes` more. Later frames share the first one's
// version and sampling frequency; each takes at least the bytes of its
// layer's lowest bitrate and gives at most its layer's samples.
int64_t samplesBound(const FrameHeader& first, int64_t bytes) {
    int64_t most = 0;
    for (int layer = 1; layer <= 3; ++layer) {
        FrameHeader lowest;
        lowest.decode(0xFFF01000u | uint32_t(first.version()) << 19 | uint32_t(4 - layer) << 17 |
                      uint32_t(first.sampleFrequency()) << 10);
        if (lowest.frameSize() <= 0) continue;
        most = std::max(most, (bytes / lowest.frameSize() + 1) * lowest.samplesPerFrame());
    }
    return first.samplesPerFrame() + most;
}

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
    void copyOut(int16_t* dest) override { to_.copyOut(dest); }
    int64_t count() const override { return to_.count(); }

private:
    Obuffer& to_;
};

void openSource(BitStream& stream, const MPEG_Args& args) {
    if (args.data) stream.openMemory(args.data, args.size);
    else stream.open(args.path.c_str());
}

// Frames a decoder started this many bytes before the split has read
// settle everything that crosses frames: the reservoir reaches 511 bytes
// back, the overlap and the synthesis history one granule.
constexpr int kSettleBytes = 2048;
constexpr int kSettleFrames = 3;

}  // namespace

MP3Decoder::MP3Decoder() = default;
MP3Decoder::~MP3Decoder() = default;

bool MP3Decoder::decode(const MPEG_Args& args) {
    release();
    sampleRate_ = channels_ = 0;
    sampleCount_ = 0;

    BitStream stream;
    openSource(stream, args);
    FrameHeader header;

    if (!stream.readFrame(header)) return false;
    StreamInfo scratch;
    stream.readId3v1(args.info ? *args.info : scratch);
    const FrameHeader first = header;

    // Every header first: the sample count, the last header and any error
    // of a whole decode follow from the headers alone. Frames are decoded
    // while the values before them fall short of what a limited load keeps;
    // later frames are only counted.
    const int64_t keep = args.maxMs > 0 ? int64_t(truncToInt32(header.sampleRateHz() * args.maxMs / 1000.0)) * header.channels()
                                        : kMaxValues;
    std::vector<int64_t> starts{0};  // where the header search of each decoded frame starts
    std::vector<int32_t> sizes;
    bool allLayer3 = true;
    int64_t stored = 0, counted = 0;
    for (;;) {
        const int64_t values = int64_t(header.samplesPerFrame()) * header.channels();
        if (stored >= keep) {
            counted += values;
            if (stored + counted >= kMaxValues) break;
        } else {
            sizes.push_back(header.frameSize());
            allLayer3 = allLayer3 && header.layer() == 3;
            stored += values;
            if (stored >= kMaxValues) break;
        }
        const int64_t at = stream.position();
        if (!stream.readFrame(header)) break;
        if (stored < keep) starts.push_back(at);
    }
    const int64_t frames = int64_t(sizes.size());
    starts.resize(size_t(frames));

    filter0_.reset(new SynthesisFilter(0));
    if (first.channels() == 2) filter1_.reset(new SynthesisFilter(1));
    // Chunks no longer than the stream can fill: a short stream costs a
    // short buffer, not 30 seconds' worth.
    BitStream source;
    openSource(source, args);
    FrameHeader current;
    source.readFrame(current);
    const int64_t chunk = args.framesPerChunk > 0
                              ? args.framesPerChunk
                              : std::min(Wavefile_Obuffer::kFramesPerChunk, samplesBound(first, source.bytesLeft()));
    output_.reset(new Wavefile_Obuffer(first.channels(), chunk));

    int previousLayer = 0;  // none yet: the first frame sets up its layer's decoder
    auto decodeNext = [&](int64_t index) {
        if (index > 0) source.readFrame(current);
        if (current.checksums()) source.getBits(16);  // the CRC word, not verified
        if (current.layer() != previousLayer) {
            if (current.layer() == 3) layer3_.reset(new Layer3Decoder(filter0_.get(), filter1_.get(), *output_));
            else layer3_.reset();
            previousLayer = current.layer();
        }
        if (current.layer() == 3) layer3_->decodeFrame(source, current);
        else decodeLayer12Frame(source, current, filter0_.get(), filter1_.get(), *output_);
        output_->frameEnded();
    };

    int64_t done = 0;
    const int64_t splitFrom = args.splitFromFrames > 0 ? args.splitFromFrames : kSplitFromFrames;
    if (allLayer3 && frames >= splitFrom && secondThreadWanted()) {
        // The second half on a second decoder, started early enough to
        // settle: its output from the split on is what one decoder gives.
        const int64_t split = (frames + kSettleFrames) / 2;
        int64_t from = split;
        for (int64_t bytes = 0; from > 1 && (split - from < kSettleFrames || bytes < kSettleBytes);)
            bytes += sizes[size_t(--from)];
        std::unique_ptr<SynthesisFilter> late0(new SynthesisFilter(0)), late1, kept0, kept1;
        if (filter1_) late1.reset(new SynthesisFilter(1));
        std::unique_ptr<Wavefile_Obuffer> lateOut(new Wavefile_Obuffer(first.channels(), chunk));
        SkippingObuffer gate(*lateOut);
        Layer3Decoder late(late0.get(), late1.get(), gate);
        BitStream lateSource;
        openSource(lateSource, args);
        FrameHeader h = first;
        lateSource.resumeLike(source, starts[size_t(from)], h);
        runSideBySide(
            [&] {
                for (int64_t i = from; i < frames; ++i) {
                    if (i == split) {
                        late.keepCarriedState();
                        kept0.reset(new SynthesisFilter(*late0));
                        if (late1) kept1.reset(new SynthesisFilter(*late1));
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
        if (layer3_->carriesKeptStateOf(late) && filter0_->sameHistory(*kept0) &&
            (!filter1_ || filter1_->sameHistory(*kept1))) {
            outputB_ = std::move(lateOut);
            done = frames;
        }
    }
    for (int64_t i = done; i < frames; ++i) decodeNext(i);

    sampleRate_ = header.sampleRateHz();
    channels_ = header.channels();
    sampleCount_ = stored + counted;
    return sampleCount_ > 0;
}

int64_t MP3Decoder::storedCount() const {
    return (output_ ? output_->count() : 0) + (outputB_ ? outputB_->count() : 0);
}

void MP3Decoder::copyOut(int16_t* dest, int64_t count) {
    if (!output_) return;
    const int64_t early = std::min(count, output_->count());
    output_->copyOut(dest, early);
    if (outputB_ && count > early) outputB_->copyOut(dest + early, count - early);
}

void MP3Decoder::release() {
    layer3_.reset();
    filter0_.reset();
    filter1_.reset();
    output_.reset();
    outputB_.reset();
}

}  // namespace mp3
