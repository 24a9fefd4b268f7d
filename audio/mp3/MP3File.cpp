#include "audio/mp3/MP3File.h"

#include "audio/SoundLoader.h"
#include "audio/mp3/MP3Decoder.h"

MP3File::MP3File() = default;
MP3File::~MP3File() = default;

bool MP3File::open(const char* path) {
    decoder_.reset(new mp3::MP3Decoder);
    path_ = path ? path : "";
    return true;
}

bool MP3File::run(const uint8_t* data, size_t size, int64_t framesPerChunk) {
    if (!decoder_) decoder_.reset(new mp3::MP3Decoder);
    mp3::MPEG_Args args;
    args.path = path_;
    args.info = &info_;
    args.data = data;
    args.size = size;
    args.framesPerChunk = framesPerChunk;
    const bool ok = decoder_->decode(args);
    sampleRate_ = decoder_->sampleRate();
    channels_ = decoder_->channels();
    sampleCount_ = int32_t(decoder_->sampleCount());
    return ok && sampleCount_ > 0;
}

bool MP3File::prepare() { return run(nullptr, 0, 0); }

bool MP3File::prepareMemory(const uint8_t* data, size_t size, int64_t framesPerChunk) {
    // A null pointer would select the path; an empty range has no header anyway.
    static const uint8_t kNothing = 0;
    return run(data ? data : &kNothing, data ? size : 0, framesPerChunk);
}

bool MP3File::readAll(int16_t* dest) {
    if (decoder_) decoder_->copyOut(dest);
    return true;
}

void MP3File::close() {
    if (decoder_) decoder_->release();
}

bool loadMP3File(SignalObj& signal, const char* path, double maxMs) {
    MP3File reader;
    return loadSoundFile(reader, signal, path, maxMs,
                         [](SoundFile& r) { return static_cast<MP3File&>(r).prepare(); });
}
