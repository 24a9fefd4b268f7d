#include "audio/FLACFile.h"

#include <algorithm>
#include <cstdio>
#include <new>

#include <FLAC/metadata.h>
#include <FLAC/stream_decoder.h>

#include "audio/SampleStore.h"
#include "audio/SoundLoader.h"
#include "dsp/SideBySide.h"

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

// Where decoded frames go, and whether they came as a clean stream does:
// every frame numbered where the one before ended, no decoding error.
struct WriteContext {
    SampleStore* store = nullptr;
    bool outOfMemory = false;  // raised again once the library has returned
    uint32_t fixedBlock = 0;   // STREAMINFO's block size when fixed, else 0
    bool started = false;
    uint64_t first = 0;        // the first frame's first sample
    uint64_t next = 0;         // where the next frame should start
    bool irregular = false;
};

// Samples of any width are delivered as their low 16 bits, not rescaled.
inline int16_t low16(FLAC__int32 v) { return static_cast<int16_t>(static_cast<uint16_t>(v)); }

// The callbacks run inside libFLAC; none of them can throw.
FLAC__StreamDecoderWriteStatus writeFrame(const FLAC__StreamDecoder*, const FLAC__Frame* frame,
                                          const FLAC__int32* const buffer[],
                                          void* client) noexcept {
    auto& ctx = *static_cast<WriteContext*>(client);
    SampleStore& store = *ctx.store;
    // The frame's own header says how many channel arrays there are.
    const uint32_t channels = frame->header.channels;
    const uint32_t blocksize = frame->header.blocksize;
    const uint64_t at = frame->header.number_type == FLAC__FRAME_NUMBER_TYPE_SAMPLE_NUMBER
                            ? frame->header.number.sample_number
                            : uint64_t(frame->header.number.frame_number) * ctx.fixedBlock;
    if (!ctx.started) ctx.first = at;
    else if (at != ctx.next) ctx.irregular = true;
    ctx.started = true;
    ctx.next = at + blocksize;
    const size_t values = size_t(blocksize) * channels;
    size_t granted = 0;
    int16_t* out;
    try {
        out = store.space(values, granted);
    } catch (const std::bad_alloc&) {
        ctx.outOfMemory = true;
        return FLAC__STREAM_DECODER_WRITE_STATUS_ABORT;
    }
    if (granted == values) {
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
    } else {
        for (size_t k = 0; k < granted; ++k) out[k] = low16(buffer[k % channels][k / channels]);
    }
    store.commit(granted);
    // Once the output is full the rest of the file would only be dropped.
    return store.full() ? FLAC__STREAM_DECODER_WRITE_STATUS_ABORT : FLAC__STREAM_DECODER_WRITE_STATUS_CONTINUE;
}

void ignoreMetadata(const FLAC__StreamDecoder*, const FLAC__StreamMetadata*, void*) noexcept {}

// Decoding errors are not reported: the decoder resynchronises and whatever
// it delivers is kept. They only mark the stream as irregular.
void noteError(const FLAC__StreamDecoder*, FLAC__StreamDecoderErrorStatus, void* client) noexcept {
    static_cast<WriteContext*>(client)->irregular = true;
}

}  // namespace

struct FLACFile::Decoder {
    DecoderPtr decoder;
    WriteContext context;  // lives as long as the decoder that points to it
    std::FILE* file = nullptr;  // until the decoder takes it over
    ~Decoder() {
        if (file) std::fclose(file);
    }
};

FLACFile::FLACFile() = default;
FLACFile::~FLACFile() = default;

namespace {

size_t readFile(void* ptr, size_t size, size_t n, FLAC__IOHandle h) { return std::fread(ptr, size, n, static_cast<std::FILE*>(h)); }
int seekFile(FLAC__IOHandle h, FLAC__int64 offset, int whence) { return fseeko(static_cast<std::FILE*>(h), off_t(offset), whence); }
FLAC__int64 tellFile(FLAC__IOHandle h) { return ftello(static_cast<std::FILE*>(h)); }
int eofFile(FLAC__IOHandle h) { return std::feof(static_cast<std::FILE*>(h)); }

}  // namespace

bool FLACFile::open(const char* path) {
    source_.setPath(path);
    return start(source_.open());
}

bool FLACFile::openMemory(const uint8_t* data, size_t size) {
    source_.setMemory(data, size);
    return start(source_.open());
}

bool FLACFile::start(std::FILE* file) {
    if (!file) return false;
    auto decoder = std::make_unique<Decoder>();
    decoder->file = file;
    ChainPtr chain(FLAC__metadata_chain_new());
    const FLAC__IOCallbacks io = {readFile, nullptr, seekFile, tellFile, eofFile, nullptr};
    if (!chain || !FLAC__metadata_chain_read_with_callbacks(chain.get(), file, io)) return false;
    IteratorPtr it(FLAC__metadata_iterator_new());
    if (!it) return false;
    FLAC__metadata_iterator_init(it.get(), chain.get());
    do {
        const FLAC__StreamMetadata* block = FLAC__metadata_iterator_get_block(it.get());
        if (block && block->type == FLAC__METADATA_TYPE_STREAMINFO) {
            const FLAC__StreamMetadata_StreamInfo& info = block->data.stream_info;
            channels_ = static_cast<int32_t>(info.channels);
            totalSamples_ = info.total_samples;
            fixedBlock_ = info.min_blocksize == info.max_blocksize ? info.max_blocksize : 0;
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

    decoder->decoder.reset(FLAC__stream_decoder_new());
    if (!decoder->decoder || fseeko(file, 0, SEEK_SET) != 0) return false;
    decoder_ = std::move(decoder);
    return true;
}

bool FLACFile::readAll(int16_t* dest) {
    SampleStore store(dest, sampleCount_);
    readInto(store);
    return true;
}

void FLACFile::readInto(SampleStore& store) {
    if (!decoder_ || !decoder_->file || store.full()) return;
    decoder_->context = WriteContext{&store, false, fixedBlock_};
    FLAC__StreamDecoder* d = decoder_->decoder.get();
    std::FILE* file = decoder_->file;
    decoder_->file = nullptr;  // the decoder closes it, whether it starts or not
    if (FLAC__stream_decoder_init_FILE(d, file, writeFrame, ignoreMetadata, noteError, &decoder_->context) ==
        FLAC__STREAM_DECODER_INIT_STATUS_OK) {
        // A long stream of fixed-size blocks: the second half on a decoder
        // of its own, started by a seek to a block start.
        const uint64_t frames = std::min<uint64_t>(totalSamples_, uint64_t(store.capacity() - store.size()) / channels_);
        const bool split = fixedBlock_ > 0 && channels_ > 0 && frames >= kSplitFromFrames && secondThreadWanted() &&
                           decodeInTwo(store, frames / 2 / fixedBlock_ * fixedBlock_);
        if (!split) FLAC__stream_decoder_process_until_end_of_stream(d);
    }
    if (decoder_->context.outOfMemory) throw std::bad_alloc();
}

// The first decoder stops at the split; when both halves came as a clean
// stream does, the second one's values follow, else the first decoder goes
// on alone (from where it stopped, as if it never had).
bool FLACFile::decodeInTwo(SampleStore& store, uint64_t split) {
    FLAC__StreamDecoder* d = decoder_->decoder.get();
    WriteContext& early = decoder_->context;
    const int64_t base = store.size();
    const int64_t splitValues = int64_t(split) * channels_;
    DecoderPtr late(FLAC__stream_decoder_new());
    std::FILE* lateFile = source_.open();
    if (!late || !lateFile) {
        if (lateFile) std::fclose(lateFile);
        return false;
    }
    // Chunks, never the signal's buffer further on: a damaged first half can
    // deliver blocks past the split while the second half is being written.
    SampleStore lateStore(store.capacity() - base - splitValues);
    WriteContext lateContext{&lateStore, false, fixedBlock_};
    bool seeked = false;
    if (FLAC__stream_decoder_init_FILE(late.get(), lateFile, writeFrame, ignoreMetadata, noteError, &lateContext) !=
        FLAC__STREAM_DECODER_INIT_STATUS_OK)
        return false;
    runSideBySide(
        [&] {
            seeked = FLAC__stream_decoder_seek_absolute(late.get(), split);
            if (seeked) FLAC__stream_decoder_process_until_end_of_stream(late.get());
        },
        [&] {
            while (store.size() - base < splitValues && !early.outOfMemory) {
                const FLAC__StreamDecoderState state = FLAC__stream_decoder_get_state(d);
                if (state == FLAC__STREAM_DECODER_END_OF_STREAM || state == FLAC__STREAM_DECODER_ABORTED ||
                    !FLAC__stream_decoder_process_single(d))
                    break;
            }
        });
    if (lateContext.outOfMemory) throw std::bad_alloc();
    const bool lateWhole = lateStore.full() || lateContext.next == totalSamples_;
    if (!(seeked && !early.irregular && !lateContext.irregular && store.size() - base == splitValues &&
          lateContext.started && lateContext.first == split && lateWhole))
        return false;
    store.append(lateStore);
    return true;
}

void FLACFile::close() { decoder_.reset(); }

bool loadFLACFile(SignalObj& signal, const char* path, double maxMs) {
    FLACFile reader;
    return loadSoundFile(reader, signal, path, maxMs);
}
