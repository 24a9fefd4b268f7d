#include "audio/OggFile.h"

#include <emmintrin.h>

#include <algorithm>
#include <cstdio>
#include <deque>
#include <mutex>
#include <vector>

// The reader opens its own FILE* and hands it to ov_open, so the library's
// static callback tables are never used.
#define OV_EXCLUDE_STATIC_CALLBACKS
#include <vorbis/vorbisfile.h>

#include "audio/SampleStore.h"
#include "audio/SoundLoader.h"
#include "dsp/SideBySide.h"

namespace {

constexpr int kBlockBytes = 4096;
// A damaged stream can make ov_read report a hole on every call without
// moving on; give up after this many failures in a row.
constexpr int kMaxFailedReads = 64;

struct FileCloser {
    void operator()(FILE* f) const { std::fclose(f); }
};

// The library's float output as its own 16-bit read converts it: each value
// times 32768, rounded to nearest (ties to even, as the processor's
// conversion does on every x86 build), clamped to 16 bits. The vector
// conversion gives 0x80000000 for values out of range and for NaN, as the
// scalar one does, and the saturating pack clamps as the library does.
void interleave16(float** pcm, int channels, long frames, int16_t* out) {
    const __m128 scale = _mm_set1_ps(32768.0f);
    long j = 0;
    if (channels == 2) {
        for (; j + 4 <= frames; j += 4) {
            const __m128i l = _mm_cvtps_epi32(_mm_mul_ps(_mm_loadu_ps(pcm[0] + j), scale));
            const __m128i r = _mm_cvtps_epi32(_mm_mul_ps(_mm_loadu_ps(pcm[1] + j), scale));
            const __m128i pairs = _mm_packs_epi32(_mm_unpacklo_epi32(l, r), _mm_unpackhi_epi32(l, r));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 2 * j), pairs);
        }
    } else if (channels == 1) {
        for (; j + 8 <= frames; j += 8) {
            const __m128i a = _mm_cvtps_epi32(_mm_mul_ps(_mm_loadu_ps(pcm[0] + j), scale));
            const __m128i b = _mm_cvtps_epi32(_mm_mul_ps(_mm_loadu_ps(pcm[0] + j + 4), scale));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + j), _mm_packs_epi32(a, b));
        }
    }
    for (; j < frames; ++j) {
        for (int c = 0; c < channels; ++c) {
            const int v = _mm_cvtss_si32(_mm_set_ss(pcm[c][j] * 32768.0f));
            out[j * channels + c] = static_cast<int16_t>(std::clamp(v, -32768, 32767));
        }
    }
}

}  // namespace

// An opened OggVorbis_File. Only open() creates one, so "opened" and "needs
// ov_clear" cannot disagree.
struct OggFile::Stream {
    OggVorbis_File vf;
    // Channels of the only link, when its float output can be converted
    // here; 0 when the library's 16-bit read is used (chains, whose links
    // may change channel counts between two reads).
    int floatChannels = 0;

    static std::unique_ptr<Stream> open(std::FILE* opened) {
        std::unique_ptr<FILE, FileCloser> file(opened);
        if (!file) return nullptr;
        std::unique_ptr<Stream> stream(new Stream);
        // On failure ov_open leaves the FILE* to the caller and the state cleared.
        if (ov_open(file.get(), &stream->vf, nullptr, 0) < 0) {
            stream->opened = false;
            return nullptr;
        }
        file.release();  // ov_clear closes it from now on
        const vorbis_info* info = ov_info(&stream->vf, -1);
        if (ov_seekable(&stream->vf) && ov_streams(&stream->vf) == 1 && info && info->channels >= 1 &&
            info->channels <= 255)
            stream->floatChannels = info->channels;
        return stream;
    }

    ~Stream() {
        if (opened) ov_clear(&vf);
    }

private:
    Stream() = default;
    bool opened = true;
};

OggFile::OggFile() = default;
OggFile::~OggFile() = default;

bool OggFile::open(const char* path) {
    source_.setPath(path);
    return start(source_.open());
}

bool OggFile::openMemory(const uint8_t* data, size_t size) {
    source_.setMemory(data, size);
    return start(source_.open());
}

bool OggFile::start(std::FILE* file) {
    stream_ = Stream::open(file);
    if (!stream_) return false;
    const vorbis_info* info = ov_info(&stream_->vf, -1);
    if (info) {
        channels_ = info->channels;
        sampleRate_ = static_cast<int32_t>(info->rate);
    }
    // The low 32 bits of the product, as a 32-bit count would hold it.
    const uint64_t total = static_cast<uint64_t>(ov_pcm_total(&stream_->vf, -1)) *
                           static_cast<uint64_t>(static_cast<int64_t>(channels_));
    sampleCount_ = static_cast<int32_t>(static_cast<uint32_t>(total));
    stereo_ = channels_ > 1;
    return true;
}

bool OggFile::readAll(int16_t* dest) {
    SampleStore store(dest, sampleCount_);
    readInto(store);
    return true;
}

void OggFile::readInto(SampleStore& store) {
    if (!stream_) return;
    OggVorbis_File* vf = &stream_->vf;
    // A long single stream: parts of it on decoders of their own, started by
    // a seek.
    if (stream_->floatChannels > 0) {
        const int64_t frames = std::min<int64_t>(ov_pcm_total(vf, -1), (store.capacity() - store.size()) / channels_);
        if (frames >= kSplitFromFrames && secondThreadWanted() && decodeShared(store, frames)) return;
    }
    decode(*stream_, store, INT64_MAX);
}

long OggFile::readOnce(Stream& stream, SampleStore& store, int64_t room) {
    int section = 0;
    // Less room than a frame: the 16-bit read refuses it, as it always did.
    const int channels = stream.floatChannels;
    if (channels > 0 && room >= channels) {
        float** pcm = nullptr;
        const long frames = ov_read_float(&stream.vf, &pcm, int(room / channels), &section);
        if (frames <= 0) return frames;
        const size_t count = size_t(frames) * size_t(channels);
        size_t take = 0;
        int16_t* out = store.space(count, take);
        if (take == count) {
            interleave16(pcm, channels, frames, out);
        } else {  // the store's last values: convert aside, keep what fits
            int16_t aside[kBlockBytes / 2];
            interleave16(pcm, channels, frames, aside);
            std::copy(aside, aside + take, out);
        }
        store.commit(take);
        return long(count);
    }
    // Little-endian, 16-bit, signed: decoded the same way on every host.
    // Only the n bytes it reports are used, so the block is never cleared.
    char block[kBlockBytes];
    const long n = ov_read(&stream.vf, block, int(2 * room), 0, 2, 1, &section);
    if (n <= 0) return n;
    size_t take = 0;
    int16_t* out = store.space(size_t(n / 2), take);
    const auto* bytes = reinterpret_cast<const unsigned char*>(block);
    for (size_t k = 0; k < take; ++k) out[k] = static_cast<int16_t>(bytes[2 * k] | (bytes[2 * k + 1] << 8));
    store.commit(take);
    return n / 2;
}

bool OggFile::decode(Stream& stream, SampleStore& store, int64_t values) {
    int failures = 0;
    bool clean = true;
    const int64_t end = store.size() + std::min(values, INT64_MAX - store.size());
    // Samples beyond the store's capacity would only be dropped: decoding
    // stops once it is full.
    while (!store.full() && store.size() < end) {
        const long got = readOnce(stream, store, std::min<int64_t>(kBlockBytes / 2, end - store.size()));
        if (got == 0) break;
        if (got < 0) {
            clean = false;
            if (++failures >= kMaxFailedReads) break;
            continue;
        }
        failures = 0;
    }
    return clean;
}

// Frames [start, end) of the stream on one decoder. A decoder that is done
// takes the later half of the frames another has not reached yet, by
// lowering that one's end: `claimed` is as far as its read under way can go.
struct OggFile::Part {
    Stream* stream = nullptr;
    std::unique_ptr<Stream> own;  // null for the reader's own decoder
    std::unique_ptr<SampleStore> ownValues;
    SampleStore* values = nullptr;
    int64_t valuesBase = 0;  // the store's size when the part began
    int64_t start = 0;
    std::mutex lock;
    int64_t end = 0, claimed = 0;  // under the lock
    bool clean = true;

    int64_t delivered() const { return values->size() - valuesBase; }
};

// Decodes until the part's end (as it is lowered), a failure too many or the
// end of the stream.
void OggFile::decodePart(Part& part) const {
    // A part of a decoder of its own starts with a seek; one that does not
    // land exactly leaves the part unclean.
    if (part.own && !(ov_pcm_seek(&part.stream->vf, part.start) == 0 && ov_pcm_tell(&part.stream->vf) == part.start)) {
        part.clean = false;
        return;
    }
    int failures = 0;
    while (!part.values->full()) {
        int64_t room = 0;
        {
            std::lock_guard<std::mutex> hold(part.lock);
            const int64_t at = part.start + part.delivered() / channels_;
            room = std::min<int64_t>(kBlockBytes / 2 / channels_, part.end - at);
            if (room <= 0) break;
            part.claimed = at + room;
        }
        const long got = readOnce(*part.stream, *part.values, room * channels_);
        if (got == 0) break;
        if (got < 0) {
            part.clean = false;
            if (++failures >= kMaxFailedReads) break;
            continue;
        }
        failures = 0;
    }
}

// Takes the later half of the unreached frames of the part that has the
// most, when they are worth a decoder's start; false when none is.
bool OggFile::takeFromAnother(std::deque<Part>& parts, std::mutex& partsLock, SampleStore& store, int64_t base) {
    const int64_t least = kSplitFromFrames / 2;
    Part* from = nullptr;
    {
        std::lock_guard<std::mutex> hold(partsLock);
        int64_t most = least;
        for (Part& p : parts) {
            std::lock_guard<std::mutex> holdPart(p.lock);
            if (p.end - p.claimed >= most) {
                most = p.end - p.claimed;
                from = &p;
            }
        }
    }
    if (from == nullptr) return false;
    std::unique_ptr<Stream> own = Stream::open(source_.open());
    if (!own) return false;
    int64_t start = 0, end = 0;
    {
        std::lock_guard<std::mutex> hold(from->lock);
        if (from->end - from->claimed < least) return true;  // taken meanwhile: look again
        start = from->claimed + (from->end - from->claimed) / 2;
        end = from->end;
        from->end = start;
    }
    Part* part = nullptr;
    {
        std::lock_guard<std::mutex> hold(partsLock);
        part = &parts.emplace_back();
        part->stream = own.get();
        part->own = std::move(own);
        part->ownValues.reset(new SampleStore(store.at(base + start * channels_)));
        part->values = part->ownValues.get();
        part->start = start;
        std::lock_guard<std::mutex> holdPart(part->lock);
        part->end = end;
        part->claimed = start;
    }
    decodePart(*part);
    return true;
}

// The first part is the reader's own decoder from the start, the second a
// decoder of its own from the middle; then each decoder that is done takes
// over half of what another has left. When every part came without a hole,
// each where it should be, their values follow one another; else the reader's
// own decoder goes on alone (from where it stopped, as if it never had).
bool OggFile::decodeShared(SampleStore& store, int64_t frames) {
    const int64_t base = store.size();
    std::deque<Part> parts;
    std::mutex partsLock;
    std::unique_ptr<Stream> second = Stream::open(source_.open());
    if (!second) return false;
    const int64_t split = frames / 2;
    Part& first = parts.emplace_back();
    first.stream = stream_.get();
    first.values = &store;
    first.valuesBase = base;
    first.end = split;
    Part& late = parts.emplace_back();
    late.stream = second.get();
    late.own = std::move(second);
    late.ownValues.reset(new SampleStore(store.at(base + split * channels_)));
    late.values = late.ownValues.get();
    late.start = late.claimed = split;
    late.end = frames;
    auto help = [&] {
        while (takeFromAnother(parts, partsLock, store, base)) {
        }
    };
    runSideBySide(
        [&] {
            decodePart(late);
            help();
        },
        [&] {
            decodePart(first);
            help();
        });
    std::vector<Part*> order;
    for (Part& p : parts) order.push_back(&p);
    std::sort(order.begin(), order.end(), [](const Part* a, const Part* b) { return a->start < b->start; });
    bool whole = ov_pcm_tell(&stream_->vf) == first.end;
    for (const Part* p : order) whole = whole && p->clean && p->delivered() == (p->end - p->start) * channels_;
    if (!whole) {
        for (Part* p : order)
            if (p != &first) p->values->discard();
        return false;
    }
    for (Part* p : order)
        if (p != &first) store.append(*p->values);
    return true;
}

void OggFile::close() { stream_.reset(); }

bool loadOggFile(SignalObj& signal, const char* path, double maxMs) {
    OggFile reader;
    return loadSoundFile(reader, signal, path, maxMs);
}
