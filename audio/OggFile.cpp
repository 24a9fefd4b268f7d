#include "audio/OggFile.h"

#include <algorithm>
#include <cstdio>

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

}  // namespace

// An opened OggVorbis_File. Only open() creates one, so "opened" and "needs
// ov_clear" cannot disagree.
struct OggFile::Stream {
    OggVorbis_File vf;

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
    // A long single stream: the second half on a decoder of its own, started
    // by a seek.
    if (channels_ > 0 && ov_seekable(vf) && ov_streams(vf) == 1) {
        const int64_t frames = std::min<int64_t>(ov_pcm_total(vf, -1), (store.capacity() - store.size()) / channels_);
        if (frames >= kSplitFromFrames && secondThreadWanted() && decodeInTwo(store, frames / 2)) return;
    }
    decode(*stream_, store, INT64_MAX);
}

bool OggFile::decode(Stream& stream, SampleStore& store, int64_t values) {
    char block[kBlockBytes];
    int failures = 0;
    bool clean = true;
    const int64_t end = store.size() + std::min(values, INT64_MAX - store.size());
    // Samples beyond the store's capacity would only be dropped: decoding
    // stops once it is full.
    while (!store.full() && store.size() < end) {
        // Only the n bytes ov_read reports are used, so the block is never cleared.
        int section = 0;
        const int wanted = int(2 * std::min<int64_t>(kBlockBytes / 2, end - store.size()));
        // Little-endian, 16-bit, signed: decoded the same way on every host.
        const long n = ov_read(&stream.vf, block, wanted, 0, 2, 1, &section);
        if (n == 0) break;
        if (n < 0) {
            clean = false;
            if (++failures >= kMaxFailedReads) break;
            continue;
        }
        failures = 0;
        size_t take = 0;
        int16_t* out = store.space(size_t(n / 2), take);
        const auto* bytes = reinterpret_cast<const unsigned char*>(block);
        for (size_t k = 0; k < take; ++k) out[k] = static_cast<int16_t>(bytes[2 * k] | (bytes[2 * k + 1] << 8));
        store.commit(take);
    }
    return clean;
}

// The first decoder stops at the split; when both halves came without a
// hole, each where it should be, the second one's values follow, else the
// first decoder goes on alone (from where it stopped, as if it never had).
bool OggFile::decodeInTwo(SampleStore& store, int64_t split) {
    std::unique_ptr<Stream> late = Stream::open(source_.open());
    if (!late) return false;
    const int64_t base = store.size(), splitValues = split * channels_;
    SampleStore lateStore = store.following(splitValues);
    bool earlyClean = false, lateClean = false;
    runSideBySide(
        [&] {
            lateClean = ov_pcm_seek(&late->vf, split) == 0 && ov_pcm_tell(&late->vf) == split &&
                        decode(*late, lateStore, INT64_MAX);
        },
        [&] { earlyClean = decode(*stream_, store, splitValues); });
    const int64_t rest = std::min<int64_t>(ov_pcm_total(&late->vf, -1) - split, lateStore.capacity() / channels_);
    if (!(earlyClean && lateClean && store.size() - base == splitValues && ov_pcm_tell(&stream_->vf) == split &&
          lateStore.size() == rest * channels_)) {
        lateStore.discard();
        return false;
    }
    store.append(lateStore);
    return true;
}

void OggFile::close() { stream_.reset(); }

bool loadOggFile(SignalObj& signal, const char* path, double maxMs) {
    OggFile reader;
    return loadSoundFile(reader, signal, path, maxMs);
}
