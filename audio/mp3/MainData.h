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
    unsigned limit() const { return limit_; }
    const uint8_t* data() const { return data_; }
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

    static uint64_t bigEndian(uint64_t w) {
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
        return w;
#else
        return __builtin_bswap64(w);
#endif
    }

private:
    const uint8_t* data_ = nullptr;
    unsigned limit_ = 0;
    unsigned pos_ = 0;
};

// The reader of the Huffman loops: the next bits of a MainData held in a
// register and reloaded only when fewer than 32 are left, which takes the
// memory load out of the chain from one code word to the next. Used while
// fits() holds, at least 64 bits before the data's end, where MainData's
// position never reaches its limit; MainData::seek takes the position back.
class BitWindow {
public:
    explicit BitWindow(const MainData& md)
        : data_(md.data()), pos_(md.pos()), last_(md.limit() >= 64 ? md.limit() - 64 : 0) {}
    bool fits() const { return pos_ <= last_; }
    unsigned pos() const { return pos_; }
    // At least 32 bits in the window afterwards.
    void fill() {
        if (avail_ >= 32) return;
        uint64_t w;
        std::memcpy(&w, data_ + (pos_ >> 3), sizeof w);
        bits_ = MainData::bigEndian(w) << (pos_ & 7);
        avail_ = 64 - (pos_ & 7);
    }
    // The next 32 bits; those past the window's filled ones read as zeros.
    uint32_t peek32() const { return uint32_t(bits_ >> 32); }
    void skip(unsigned n) {
        bits_ <<= n;
        pos_ += n;
        avail_ -= n;
    }
    // n <= 32 - 19 bits after a code word; fill() first for more.
    uint32_t get(unsigned n) {
        if (n == 0) return 0;
        const uint32_t v = peek32() >> (32 - n);
        skip(n);
        return v;
    }

private:
    const uint8_t* data_;
    uint64_t bits_ = 0;
    unsigned avail_ = 0;
    unsigned pos_;
    unsigned last_;
};

// Reads one code word of Huffman table t and returns its lookup entry: x in
// bits 12..15, y (or the count1 quadruple vwxy) in bits 8..11. Sign bits and
// escapes are left to the caller. A code word has at most 19 bits.
template <typename Reader>
inline uint32_t readCodeWord(Reader& r, const HuffmanTable& t) {
    uint32_t e = kHuffmanNodes[t.offset + (r.peek32() >> (32 - t.rootBits))];
    if (e & 0x80000000u) {
        r.skip(t.rootBits);
        const unsigned width = e & 0xFF;
        e = kHuffmanNodes[((e >> 8) & 0x7FFFFF) + (r.peek32() >> (32 - width))];
    }
    r.skip(e & 0xFF);
    return e;
}

inline uint32_t huffmanDecode(MainData& md, const HuffmanTable& t) { return readCodeWord(md, t); }

// At least 13 bits are left in the window afterwards.
inline uint32_t huffmanDecode(BitWindow& w, const HuffmanTable& t) {
    w.fill();
    return readCodeWord(w, t);
}

}  // namespace mp3
