#include "audio/FLACFile.h"

#include <algorithm>

#include <FLAC/metadata.h>
#include <FLAC/stream_decoder.h>

#include "audio/SoundLoader.h"

namespace {

struct ChainDelete {
    void operator()(FLAC__Metadata_Chain* c) const { FLAC__metadata_chain_delete(c); }
};
struct IteratorDelete {
    void operator()(FLAC__Metadata_Iterator* i) const { FLAC__metadata_iterator_delete(i); }
};
struct DecoderDelete {
    void operator()(FLAC__StreamDecoder* d) const {
        FLAC__stream_decoder_finish(d);
        FLAC__stream_decoder_delete(d);
    }
};

using ChainPtr = std::unique_ptr<FLAC__Metadata_Chain, ChainDelete>;
using IteratorPtr = std::unique_ptr<FLAC__Metadata_Iterator, IteratorDelete>;
using DecoderPtr = std::unique_ptr<FLAC__StreamDecoder, DecoderDelete>;

// Where decoded frames go: the caller's buffer and how much of it is filled.
struct WriteContext {
    int32_t written = 0;
    int32_t capacity = 0;
    int16_t* dest = nullptr;
    bool stopWhenFull = false;  // a prefix read ends the decoding once it has its values
};

// Samples of any width are delivered as their low 16 bits, not rescaled.
inline int16_t low16(FLAC__int32 v) { return static_cast<int16_t>(static_cast<uint16_t>(v)); }

// The callbacks run inside libFLAC; none of them can throw.
FLAC__StreamDecoderWriteStatus writeFrame(const FLAC__StreamDecoder*, const FLAC__Frame* frame,
                                          const FLAC__int32* const buffer[],
                                          void* client) noexcept {
    auto& ctx = *static_cast<WriteContext*>(client);
    // The frame's own header says how many channel arrays there are.
    const uint32_t channels = frame->header.channels;
    const uint32_t blocksize = frame->header.blocksize;
    const int64_t values = static_cast<int64_t>(blocksize) * channels;
    int16_t* out = ctx.dest + ctx.written;
    if (ctx.written + values <= ctx.capacity) {
        // Common case: the whole frame fits, no per-sample bound check.
        if (channels == 2) {
            const FLAC__int32* l = buffer[0];
            const FLAC__int32* r = buffer[1];
            for (uint32_t i = 0; i < blocksize; ++i) {
                out[2 * i] = low16(l[i]);
                out[2 * i + 1] = low16(r[i]);
            }
        } else {
            for (uint32_t i = 0; i < blocksize; ++i)
                for (uint32_t c = 0; c < channels; ++c) *out++ = low16(buffer[c][i]);
        }
        ctx.written += static_cast<int32_t>(values);
    } else {
        for (uint32_t i = 0; i < blocksize && ctx.written < ctx.capacity; ++i)
            for (uint32_t c = 0; c < channels && ctx.written < ctx.capacity; ++c)
                ctx.dest[ctx.written++] = low16(buffer[c][i]);
    }
    return ctx.stopWhenFull && ctx.written >= ctx.capacity ? FLAC__STREAM_DECODER_WRITE_STATUS_ABORT
                                                           : FLAC__STREAM_DECODER_WRITE_STATUS_CONTINUE;
}

void ignoreMetadata(const FLAC__StreamDecoder*, const FLAC__StreamMetadata*, void*) noexcept {}

// Decoding errors are neither reported nor counted: the decoder resynchronises
// and whatever it delivers is kept.
void ignoreError(const FLAC__StreamDecoder*, FLAC__StreamDecoderErrorStatus, void*) noexcept {}

}  // namespace

struct FLACFile::Decoder {
    DecoderPtr decoder;
    WriteContext context;  // lives as long as the decoder that points to it
};

FLACFile::FLACFile() = default;
FLACFile::~FLACFile() = default;

bool FLACFile::open(const char* path) {
    ChainPtr chain(FLAC__metadata_chain_new());
    if (!chain || !FLAC__metadata_chain_read(chain.get(), path)) return false;
    IteratorPtr it(FLAC__metadata_iterator_new());
    if (!it) return false;
    FLAC__metadata_iterator_init(it.get(), chain.get());
    do {
        const FLAC__StreamMetadata* block = FLAC__metadata_iterator_get_block(it.get());
        if (block && block->type == FLAC__METADATA_TYPE_STREAMINFO) {
            const FLAC__StreamMetadata_StreamInfo& info = block->data.stream_info;
            channels_ = static_cast<int32_t>(info.channels);
            sampleRate_ = static_cast<int32_t>(info.sample_rate);
            // The low 32 bits of the product, as a 32-bit count would hold it.
            const uint64_t total = info.total_samples * info.channels;
            sampleCount_ = static_cast<int32_t>(static_cast<uint32_t>(total));
            // An unrecorded total: room for ten minutes' worth of values (not
            // multiplied by the channel count).
            if (sampleCount_ == 0) sampleCount_ = sampleRate_ * 600;
            stereo_ = channels_ > 1;
            break;
        }
    } while (FLAC__metadata_iterator_next(it.get()));
    it.reset();
    chain.reset();

    auto decoder = std::make_unique<Decoder>();
    decoder->decoder.reset(FLAC__stream_decoder_new());
    if (!decoder->decoder) return false;
    decoder_ = std::move(decoder);
    path_ = path;
    return true;
}

bool FLACFile::readAll(int16_t* dest) { return decode(dest, sampleCount_, false); }

bool FLACFile::readPrefix(int16_t* dest, int32_t count) {
    return decode(dest, std::max(0, std::min(count, sampleCount_)), true);
}

bool FLACFile::decode(int16_t* dest, int32_t capacity, bool stopWhenFull) {
    if (!decoder_) return true;
    decoder_->context = WriteContext{0, capacity, dest, stopWhenFull};
    FLAC__StreamDecoder* d = decoder_->decoder.get();
    if (FLAC__stream_decoder_init_file(d, path_.c_str(), writeFrame, ignoreMetadata, ignoreError,
                                       &decoder_->context) == FLAC__STREAM_DECODER_INIT_STATUS_OK)
        FLAC__stream_decoder_process_until_end_of_stream(d);
    return true;
}

void FLACFile::close() { decoder_.reset(); }

bool loadFLACFile(SignalObj& signal, const char* path, double maxMs) {
    FLACFile reader;
    return loadSoundFile(reader, signal, path, maxMs);
}
