#pragma once
#include <cstdint>

namespace mp3 {

// Reads frames of an MPEG audio file and serves their bits.
// (Header search, frame buffer and the rest: see BitStream.cpp.)
class BitStream {
public:
    // The next n bits (1..32) of the current frame, most significant first.
    // Past the end of the frame it returns zeros and never reads out of bounds.
    uint32_t get_bits(unsigned n);
};

}  // namespace mp3
