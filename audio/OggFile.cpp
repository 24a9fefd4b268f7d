#include "audio/OggFile.h"

#include <algorithm>
#include <cstdio>

// The reader opens its own FILE* and hands it to ov_open, so the library's
// static callback tables are never used.
#define OV_EXCLUDE_STATIC_CALLBACKS
#include <vorbis/vorbisfile.h>

#include "audio/SoundLoader.h"

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

    static std::unique_ptr<Stream> open(const char* path) {
        std::unique_ptr<FILE, FileCloser> file(std::fopen(path, "rb"));
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
    stream_ = Stream::open(path);
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
    decode(dest, sampleCount_, false);
    return true;
}

bool OggFile::readPrefix(int16_t* dest, int32_t count) {
    decode(dest, std::max(0, std::min(count, sampleCount_)), true);
    return true;
}

void OggFile::decode(int16_t* dest, int32_t capacity, bool stopWhenFull) {
    if (!stream_) return;
    char block[kBlockBytes];
    int32_t written = 0;
    int failures = 0;
    for (;;) {
        // Only the n bytes ov_read reports are used, so the block is never cleared.
        int section = 0;
        // Little-endian, 16-bit, signed: decoded the same way on every host.
        const long n = ov_read(&stream_->vf, block, kBlockBytes, 0, 2, 1, &section);
        if (n == 0) break;
        if (n < 0) {
            if (++failures >= kMaxFailedReads) break;
            continue;
        }
        failures = 0;
        // Surplus samples beyond the announced total are read and dropped, so
        // the whole stream is always consumed.
        const long take = std::min<long>(n / 2, std::max<int32_t>(capacity - written, 0));
        const auto* bytes = reinterpret_cast<const unsigned char*>(block);
        int16_t* out = dest + written;
        for (long k = 0; k < take; ++k)
            out[k] = static_cast<int16_t>(bytes[2 * k] | (bytes[2 * k + 1] << 8));
        written += static_cast<int32_t>(take);
        if (stopWhenFull && written >= capacity) break;
    }
}

void OggFile::close() { stream_.reset(); }

bool loadOggFile(SignalObj& signal, const char* path, double maxMs) {
    OggFile reader;
    return loadSoundFile(reader, signal, path, maxMs);
}
