#include "audio/mp3/MP3File.h"

#include <algorithm>

#include "audio/SampleStore.h"
#include "audio/SoundLoader.h"
#include "audio/mp3/MP3Decoder.h"

MP3File::MP3File() = default;
MP3File::~MP3File() = default;

bool MP3File::open(const char* path) {
    decoder_.reset(new mp3::MP3Decoder);
    path_ = path ? path : "";
    return true;
}

bool MP3File::run(const uint8_t* data, size_t size, double maxMs) {
    if (!decoder_) decoder_.reset(new mp3::MP3Decoder);
    mp3::MPEG_Args args;
    args.path = path_;
    args.info = &info_;
    args.data = data;
    args.size = size;
    args.maxMs = maxMs;
    const bool ok = decoder_->scan(args);
    sampleRate_ = decoder_->sampleRate();
    channels_ = decoder_->channels();
    sampleCount_ = int32_t(decoder_->sampleCount());
    return ok && sampleCount_ > 0;
}

bool MP3File::prepare(double maxMs) { return run(nullptr, 0, maxMs); }

bool MP3File::prepareMemory(const uint8_t* data, size_t size) {
    // A null pointer would select the path; an empty range has no header anyway.
    static const uint8_t kNothing = 0;
    return run(data ? data : &kNothing, data ? size : 0, -1);
}

bool MP3File::readAll(int16_t* dest) {
    if (decoder_) decoder_->decodeInto(dest, deliverableCount());
    return true;
}

int64_t MP3File::deliverableCount() const { return decoder_ ? std::min<int64_t>(sampleCount_, decoder_->storedCount()) : 0; }

void MP3File::readInto(SampleStore& store) {
    if (!decoder_) return;
    size_t granted = 0;
    int16_t* dest = store.space(size_t(deliverableCount()), granted);
    decoder_->decodeInto(dest, int64_t(granted));
    store.commit(granted);
}

void MP3File::close() { decoder_.reset(); }

bool loadMP3File(SignalObj& signal, const char* path, double maxMs) {
    MP3File reader;
    return loadSoundFile(reader, signal, path, maxMs,
                         [](SoundFile& r, double limit) { return static_cast<MP3File&>(r).prepare(limit); });
}
