#pragma once
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

namespace mp3 {

class FrameHeader;

// The ID3v1 record at the end of a file, when there is one.
struct StreamInfo {
    bool hasId3v1 = false;
    char title[31] = {};
    char artist[31] = {};
    char album[31] = {};
    char year[5] = {};
    char comment[31] = {};
    std::string genre = "Unknown";
};

// Reads frames of an MPEG audio file and serves their bits.
//
// The source is a file (opened "rb", sized with stat) or, for tests and
// fuzzing, a caller-owned byte range. readFrame finds the next acceptable
// frame header and loads the rest of that frame into a fixed buffer of 433
// words; getBits then serves that frame only.
class BitStream {
public:
    static constexpr int kFrameBufferWords = 433;
    static constexpr int kFrameBufferBytes = kFrameBufferWords * 4;  // 1732

    BitStream() = default;
    ~BitStream();
    BitStream(const BitStream&) = delete;
    BitStream& operator=(const BitStream&) = delete;

    // Throws the text "file could not be opened.\n" or "file stat failed.\n".
    void open(const char* path);
    // Reads from data[0..size), which must outlive this object.
    void openMemory(const uint8_t* data, size_t size);
    void close();

    // Finds the next header (the first one: after an ID3v2 tag) and reads the
    // frame's remaining bytes. False ends the decoding: no further header, or a
    // frame without a usable length, or a short read. Throws QuorbixError for
    // MPEG 2.5 at the start and the text "unknown layer identifier found!\n"
    // for reserved layer bits.
    bool readFrame(FrameHeader& header);

    // The next n bits (1..32) of the current frame, most significant first.
    // Past the end of the frame it returns zeros and never reads out of bounds.
    uint32_t getBits(unsigned n) {
        const unsigned pos = bitPos_;
        bitPos_ = pos + n > kBitLimit ? kBitLimit : pos + n;
        if (pos >= frameBits_) return 0;
        const uint8_t* p = buffer_ + (pos >> 3);
        const uint64_t w = (uint64_t(p[0]) << 56) | (uint64_t(p[1]) << 48) | (uint64_t(p[2]) << 40) |
                           (uint64_t(p[3]) << 32) | (uint64_t(p[4]) << 24);
        return uint32_t((w << (pos & 7)) >> (64 - n));
    }

    // Byte position where the next header search starts.
    int64_t position() const { return pos_; }
    // Continues a stream over the same source as `other` from pos, a place
    // where `other` started a header search: later headers must match the
    // first one `other` found, as they would there. header becomes a later
    // frame's header.
    void resumeLike(const BitStream& other, int64_t pos, FrameHeader& header);

    // Bytes of the source after the current frame.
    int64_t bytesLeft() const { return size_ > pos_ ? size_ - pos_ : 0; }

    // The current frame's bytes after the 4 header bytes, and their count.
    const uint8_t* frameData() const { return buffer_; }
    int frameBytes() const { return int(frameBits_ >> 3); }

    // Reads a trailing ID3v1 tag into info; the read position is kept.
    void readId3v1(StreamInfo& info);

private:
    static constexpr unsigned kBitLimit = (kFrameBufferBytes + 8) * 8;

    size_t readBytes(uint8_t* dest, size_t n);
    void seekTo(int64_t pos);
    bool findHeader(FrameHeader& header, uint32_t& bits);
    bool secondSearch(uint32_t& bits);

    FILE* file_ = nullptr;
    const uint8_t* mem_ = nullptr;
    int64_t size_ = 0;
    int64_t pos_ = 0;
    // The file is read through this window, so that the byte-by-byte slide
    // of the header search costs no system call per byte.
    static constexpr size_t kWindowBytes = 64 * 1024;
    std::unique_ptr<uint8_t[]> window_;
    int64_t windowStart_ = 0;
    size_t windowLength_ = 0;

    // Eight zero bytes after the longest frame let getBits read a whole
    // window near the end without a bounds test per byte.
    uint8_t buffer_[kFrameBufferBytes + 8] = {};
    unsigned frameBits_ = 0;
    unsigned bitPos_ = 0;

    bool tagChecked_ = false;
    bool firstCandidate_ = true;
    uint32_t pattern_ = 0;       // sync, version and sampling bits of the first header
    bool patternSingle_ = false; // whether the first header is single-channel
};

}  // namespace mp3
