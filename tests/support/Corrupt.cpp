#include "Corrupt.h"

#include <algorithm>
#include <stdexcept>

namespace test {

DamageRng::DamageRng(uint32_t seed) : state_(0x9E3779B97F4A7C15ull ^ seed) {}

// splitmix64: tiny, fully specified, good enough to scatter damage.
uint32_t DamageRng::next() {
    uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return static_cast<uint32_t>((z ^ (z >> 31)) >> 32);
}

size_t DamageRng::below(size_t n) {
    if (n == 0) throw std::invalid_argument("DamageRng::below(0)");
    const uint64_t wide = (uint64_t(next()) << 32) | next();
    return static_cast<size_t>(wide % n);
}

Bytes truncated(const Bytes& file, size_t n) {
    const auto end = file.begin() + static_cast<std::ptrdiff_t>(std::min(n, file.size()));
    return Bytes(file.begin(), end);
}

Bytes flipBits(const Bytes& file, uint32_t seed, int count, size_t from, size_t to) {
    to = std::min(to, file.size());
    if (from >= to) throw std::invalid_argument("flipBits: nothing to damage");
    Bytes b = file;
    DamageRng rng(seed);
    for (int i = 0; i < count; ++i) {
        const size_t at = from + rng.below(to - from);
        b[at] ^= static_cast<uint8_t>(1u << rng.below(8));
    }
    return b;
}

Bytes flipBurst(const Bytes& file, uint32_t seed, size_t length, size_t from, size_t to) {
    to = std::min(to, file.size());
    if (from + length > to) throw std::invalid_argument("flipBurst: burst does not fit");
    Bytes b = file;
    DamageRng rng(seed);
    const size_t at = from + rng.below(to - length - from + 1);
    for (size_t i = 0; i < length; ++i) b[at + i] = static_cast<uint8_t>(~b[at + i]);
    return b;
}

Bytes zeroed(const Bytes& file, size_t at, size_t length) {
    Bytes b = file;
    const size_t end = std::min(b.size(), at + length);
    for (size_t i = std::min(at, end); i < end; ++i) b[i] = 0;
    return b;
}

Bytes randomBytes(size_t n, uint32_t seed) {
    Bytes b(n);
    DamageRng rng(seed);
    for (auto& v : b) v = static_cast<uint8_t>(rng.next() >> 24);
    return b;
}

void putLE32(Bytes& file, size_t at, uint32_t value) {
    if (at + 4 > file.size()) throw std::out_of_range("putLE32 past the end");
    for (int i = 0; i < 4; ++i) file[at + i] = static_cast<uint8_t>(value >> (8 * i));
}

void putLE16(Bytes& file, size_t at, uint16_t value) {
    if (at + 2 > file.size()) throw std::out_of_range("putLE16 past the end");
    file[at] = static_cast<uint8_t>(value);
    file[at + 1] = static_cast<uint8_t>(value >> 8);
}

void resealOggPage(Bytes& file, size_t page) {
    if (page + 27 > file.size()) throw std::out_of_range("resealOggPage: no page header");
    const size_t segments = file[page + 26];
    size_t end = page + 27 + segments;
    if (end > file.size()) throw std::out_of_range("resealOggPage: cut lacing table");
    for (size_t i = 0; i < segments; ++i) end += file[page + 27 + i];
    if (end > file.size()) throw std::out_of_range("resealOggPage: cut page body");
    // CRC-32 with polynomial 0x04C11DB7, no reflection, zero start, taken
    // over the page with its own checksum field zeroed.
    putLE32(file, page + 22, 0);
    uint32_t crc = 0;
    for (size_t i = page; i < end; ++i) {
        crc ^= uint32_t(file[i]) << 24;
        for (int k = 0; k < 8; ++k) crc = (crc & 0x80000000u) ? (crc << 1) ^ 0x04C11DB7u : crc << 1;
    }
    putLE32(file, page + 22, crc);
}

size_t findBytes(const Bytes& file, const std::string& pattern, size_t from) {
    if (from >= file.size()) return std::string::npos;
    const auto it = std::search(file.begin() + static_cast<std::ptrdiff_t>(from), file.end(),
                                pattern.begin(), pattern.end(),
                                [](uint8_t a, char b) { return a == static_cast<uint8_t>(b); });
    return it == file.end() ? std::string::npos : static_cast<size_t>(it - file.begin());
}

}  // namespace test
