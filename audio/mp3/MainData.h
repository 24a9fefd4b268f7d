#pragma once
#include <cstdint>
#include <cstring>

#include "audio/mp3/MP3Tables.h"

namespace mp3 {

// Bit reader over Layer III main data. The caller keeps positions inside a
// buffer with enough zero bytes after its data that an 8-byte window never
// leaves it; reads past the data's end give zeros.
class MainData {
public:
    void reset(const uint8_t* data, unsigned bytes) {
        data_ = data;
        limit_ = bytes * 8;
        pos_ = 0;
    }
    unsigned pos() const { return pos_; }
    void seek(unsigned bit) { pos_ = bit < limit_ ? bit : limit_; }
    // The next 32 bits, most significant first, without moving.
    uint32_t peek32() const {
        uint64_t w;
        std::memcpy(&w, data_ + (pos_ >> 3), sizeof w);
        return uint32_t((bigEndian(w) << (pos_ & 7)) >> 32);
    }
    void skip(unsigned n) {
        pos_ += n;
        if (pos_ > limit_) pos_ = limit_;
    }
    uint32_t get(unsigned n) {
        if (n == 0) return 0;
        const uint32_t v = peek32() >> (32 - n);
        skip(n);
        return v;
    }

private:
    static uint64_t bigEndian(uint64_t w) {
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
        return w;
#else
        return __builtin_bswap64(w);
#endif
    }

    const uint8_t* data_ = nullptr;
    unsigned limit_ = 0;
    unsigned pos_ = 0;
};

// Reads one code word of Huffman table t and returns its lookup entry: x in
// bits 12..15, y (or the count1 quadruple vwxy) in bits 8..11. Sign bits and
// escapes are left to the caller.
inline uint32_t huffmanDecode(MainData& md, const HuffmanTable& t) {
    uint32_t e = kHuffmanNodes[t.offset + (md.peek32() >> (32 - t.rootBits))];
    if (e & 0x80000000u) {
        md.skip(t.rootBits);
        const unsigned width = e & 0xFF;
        e = kHuffmanNodes[((e >> 8) & 0x7FFFFF) + (md.peek32() >> (32 - width))];
    }
    md.skip(e & 0xFF);
    return e;
}

}  // namespace mp3
