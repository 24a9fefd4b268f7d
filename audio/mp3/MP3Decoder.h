#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "audio/mp3/BitStream.h"

namespace mp3 {

class SynthesisFilter;
class Wavefile_Obuffer;
class Layer3Decoder;

// Options of one decoding run.
struct MPEG_Args {
    std::string path;
    StreamInfo* info = nullptr;       // receives the ID3v1 fields
    // When set, the stream is read from these bytes instead of the path.
    const uint8_t* data = nullptr;
    size_t size = 0;
    // Collector chunk length in frames; 0: what the stream can fill, at most
    // 30 s at 44.1 kHz.
    int64_t framesPerChunk = 0;
    // When above 0, frames after this much of the stream are counted, not
    // decoded: a load that keeps only the start holds no more than that.
    double maxMs = -1;
    // A stream of Layer III frames only is decoded in two halves side by
    // side from this many decoded frames on (0: kSplitFromFrames).
    int64_t splitFromFrames = 0;
};

// Runs the frame loop over a whole stream and keeps the decoded PCM.
class MP3Decoder {
public:
    MP3Decoder();
    ~MP3Decoder();
    MP3Decoder(const MP3Decoder&) = delete;
    MP3Decoder& operator=(const MP3Decoder&) = delete;

    // Decodes the stream; true when at least one sample came out. Throws the
    // reader's text exceptions and QuorbixError (see BitStream::readFrame).
    bool decode(const MPEG_Args& args);
    // Samples decoded and kept: sampleCount() unless a limit left frames counted only.
    int64_t storedCount() const;
    // Copies the first `count` kept samples (at most storedCount()) to dest.
    void copyOut(int16_t* dest, int64_t count);
    // Frees the filters, the collector and the Layer III decoder.
    void release();

    int32_t sampleRate() const { return sampleRate_; }
    int32_t channels() const { return channels_; }
    int64_t sampleCount() const { return sampleCount_; }
    // Whether the last stream was decoded in two halves side by side.
    bool decodedInTwo() const { return outputB_ != nullptr; }

    // Decoding stops once this many values are collected, so the count
    // always fits the reader's 32-bit sample count.
    static constexpr int64_t kMaxValues = (int64_t(1) << 31) - 1 - 4 * 1152;
    // About 10 s: below that a second thread costs more than it saves.
    static constexpr int64_t kSplitFromFrames = 400;

private:
    std::unique_ptr<SynthesisFilter> filter0_;
    std::unique_ptr<SynthesisFilter> filter1_;
    std::unique_ptr<Wavefile_Obuffer> output_;
    std::unique_ptr<Wavefile_Obuffer> outputB_;  // the second half, when decoded apart
    std::unique_ptr<Layer3Decoder> layer3_;
    int32_t sampleRate_ = 0;
    int32_t channels_ = 0;
    int64_t sampleCount_ = 0;
};

}  // namespace mp3
