#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "audio/mp3/BitStream.h"
#include "audio/mp3/FrameHeader.h"

namespace mp3 {

// Options of one decoding run.
struct MPEG_Args {
    std::string path;
    StreamInfo* info = nullptr;       // receives the ID3v1 fields
    // When set, the stream is read from these bytes instead of the path.
    const uint8_t* data = nullptr;
    size_t size = 0;
    // When above 0, frames after this much of the stream are counted, not
    // decoded: a load that keeps only the start holds no more than that.
    double maxMs = -1;
    // A stream of Layer III frames only is decoded in two halves side by
    // side from this many decoded frames on (0: kSplitFromFrames).
    int64_t splitFromFrames = 0;
};

// Decodes one stream in two passes: scan() walks every frame header, which
// gives the exact sample count and every error a whole decode would meet;
// decodeInto() then decodes the frames that are kept straight into the
// caller's buffer.
class MP3Decoder {
public:
    // Walks the stream; true when it holds at least one sample. Throws the
    // reader's text exceptions and QuorbixError (see BitStream::readFrame).
    bool scan(const MPEG_Args& args);
    // Decodes the kept frames into dest, dropping values past `capacity`.
    // The source must be as scan() found it.
    void decodeInto(int16_t* dest, int64_t capacity);

    int32_t sampleRate() const { return sampleRate_; }
    int32_t channels() const { return channels_; }
    // Values of the whole stream, and of the frames decodeInto decodes.
    int64_t sampleCount() const { return sampleCount_; }
    int64_t storedCount() const { return stored_; }
    // Whether the last decodeInto ran in two halves side by side.
    bool decodedInTwo() const { return decodedInTwo_; }

    // Decoding stops once this many values are collected, so the count
    // always fits the reader's 32-bit sample count.
    static constexpr int64_t kMaxValues = (int64_t(1) << 31) - 1 - 4 * 1152;
    // About 10 s: below that a second thread costs more than it saves.
    static constexpr int64_t kSplitFromFrames = 400;

private:
    void openSource(BitStream& stream) const;

    MPEG_Args args_;
    FrameHeader first_;
    std::vector<int64_t> starts_;  // where the header search of each kept frame starts
    std::vector<int32_t> sizes_;   // bytes of each kept frame
    bool allLayer3_ = true;
    int32_t sampleRate_ = 0;
    int32_t channels_ = 0;
    int64_t sampleCount_ = 0;
    int64_t stored_ = 0;
    bool decodedInTwo_ = false;
};

}  // namespace mp3
