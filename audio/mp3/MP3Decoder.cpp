#include "audio/mp3/MP3Decoder.h"

#include <algorithm>

#include "audio/mp3/FrameHeader.h"
#include "audio/mp3/Layer12Decoder.h"
#include "audio/mp3/Layer3Decoder.h"
#include "audio/mp3/Obuffer.h"
#include "audio/mp3/SynthesisFilter.h"
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

}  // namespace

MP3Decoder::MP3Decoder() = default;
MP3Decoder::~MP3Decoder() = default;

bool MP3Decoder::decode(const MPEG_Args& args) {
    release();
    sampleRate_ = channels_ = 0;
    sampleCount_ = 0;

    BitStream stream;
    if (args.data) stream.openMemory(args.data, args.size);
    else stream.open(args.path.c_str());
    FrameHeader header;

    if (!stream.readFrame(header)) return false;
    StreamInfo scratch;
    stream.readId3v1(args.info ? *args.info : scratch);

    filter0_.reset(new SynthesisFilter(0));
    if (header.channels() == 2) filter1_.reset(new SynthesisFilter(1));
    // Chunks no longer than the stream can fill: a short stream costs a
    // short buffer, not 30 seconds' worth.
    const int64_t chunk = args.framesPerChunk > 0
                              ? args.framesPerChunk
                              : std::min(Wavefile_Obuffer::kFramesPerChunk, samplesBound(header, stream.bytesLeft()));
    output_.reset(new Wavefile_Obuffer(header.channels(), chunk));

    // Past what a limited load keeps, frames are only counted: each would
    // add its layer's samples, and the count still gives the whole duration.
    const int64_t keep = args.maxMs > 0 ? int64_t(truncToInt32(header.sampleRateHz() * args.maxMs / 1000.0)) * header.channels()
                                        : kMaxValues;
    int64_t counted = 0;
    int previousLayer = 0;  // none yet: the first frame sets up its layer's decoder
    do {
        if (output_->count() >= keep) {
            counted += int64_t(header.samplesPerFrame()) * header.channels();
            if (output_->count() + counted >= kMaxValues) break;
            continue;
        }
        if (header.checksums()) stream.getBits(16);  // the CRC word, not verified
        if (header.layer() != previousLayer) {
            if (header.layer() == 3) layer3_.reset(new Layer3Decoder(filter0_.get(), filter1_.get(), *output_));
            else layer3_.reset();
            previousLayer = header.layer();
        }
        if (header.layer() == 3) {
            layer3_->decodeFrame(stream, header);
        } else {
            decodeLayer12Frame(stream, header, filter0_.get(), filter1_.get(), *output_);
        }
        output_->frameEnded();
        if (output_->count() >= kMaxValues) break;
    } while (stream.readFrame(header));

    sampleRate_ = header.sampleRateHz();
    channels_ = header.channels();
    sampleCount_ = output_->count() + counted;
    return sampleCount_ > 0;
}

int64_t MP3Decoder::storedCount() const { return output_ ? output_->count() : 0; }

void MP3Decoder::copyOut(int16_t* dest, int64_t count) {
    if (output_) output_->copyOut(dest, count);
}

void MP3Decoder::release() {
    layer3_.reset();
    filter0_.reset();
    filter1_.reset();
    output_.reset();
}

}  // namespace mp3
