#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Deterministic damage for whole audio files.
namespace test {

using Bytes = std::vector<uint8_t>;

// Seeded generator whose sequence is the same on every platform and library
// (std::mt19937's is; the standard distributions' are not).
class DamageRng {
public:
    explicit DamageRng(uint32_t seed);
    uint32_t next();
    // Uniform enough in [0, n); n must be positive.
    size_t below(size_t n);

private:
    uint64_t state_;
};

// The first n bytes (all of them when n is larger).
Bytes truncated(const Bytes& file, size_t n);
// `count` single-bit flips at seeded positions in [from, to) (to clipped to
// the file's size).
Bytes flipBits(const Bytes& file, uint32_t seed, int count, size_t from = 0, size_t to = SIZE_MAX);
// Every bit of `length` consecutive bytes flipped, all of them inside
// [from, to), at a seeded offset.
Bytes flipBurst(const Bytes& file, uint32_t seed, size_t length, size_t from = 0,
                size_t to = SIZE_MAX);
// `length` bytes set to zero from `at` (clipped to the file).
Bytes zeroed(const Bytes& file, size_t at, size_t length);
// n seeded random bytes.
Bytes randomBytes(size_t n, uint32_t seed);
// Little-endian 32-bit store at `at`; the file must be long enough.
void putLE32(Bytes& file, size_t at, uint32_t value);
void putLE16(Bytes& file, size_t at, uint16_t value);
// Recomputes the checksum of the Ogg page starting at `page` after its
// header or body was edited, so that a reader takes the page at its word.
void resealOggPage(Bytes& file, size_t page);
// Offset of the first occurrence of `pattern` at or after `from`, or npos.
size_t findBytes(const Bytes& file, const std::string& pattern, size_t from = 0);

}  // namespace test
