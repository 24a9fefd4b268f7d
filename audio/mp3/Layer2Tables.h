#pragma once
#include <array>
#include <cstdint>

namespace mp3 {

// One quantisation class of ISO/IEC 11172-3 Table 3-B.4. A sample is
// requantised as C * (s'' + D), s'' being the code read as a fraction
// (see requantise in Subband.h).
struct QuantClass {
    uint32_t steps;      // number of quantisation steps
    double c;            // C, with the standard's digits
    double d;            // D, with the standard's digits
    bool grouping;       // three samples share one code word (3, 5, 9 steps)
    uint8_t codeBits;    // bits of one code word (of three samples when grouped)
    uint8_t sampleBits;  // bits of one ungrouped sample: the fraction's nb
};

// A Layer II bit allocation table: for each subband, the width of its
// allocation field and the class each allocation value selects. Value 0
// selects nothing (the subband carries no samples), marked kNoClass. An
// allocation field of nbal bits holds at most 15, so indexing a row with
// any value read from the stream stays inside it.
struct AllocTable {
    static constexpr int8_t kNoClass = -1;
    const char* name;
    int sblimit;  // subbands carrying data; the rest are silent
    const uint8_t* nbal;
    const std::array<int8_t, 16>* classes;
};

extern const std::array<QuantClass, 17> kQuantClasses;
extern const AllocTable kTableB2a;  // ISO/IEC 11172-3 Table 3-B.2a
extern const AllocTable kTableB2b;  // Table 3-B.2b
extern const AllocTable kTableB2c;  // Table 3-B.2c
extern const AllocTable kTableB2d;  // Table 3-B.2d
extern const AllocTable kTableLSF;  // ISO/IEC 13818-3 Table B.1

// Layer I/II scale factors 2 * 2^(-i/3), ISO/IEC 11172-3 Table 3-B.1.
// Index 63 is undefined in the standard; a damaged frame may still carry
// it, so the series is continued there (2^-20) to keep every 6-bit value
// inside the table.
extern const std::array<double, 64> kScaleFactors;

// MPEG-1 Layer II bitrates in kbit/s by bitrate index 0..14 (0 = free format).
extern const std::array<int, 15> kLayer2BitrateKbps;

// The allocation table of a Layer II frame: ISO/IEC 13818-3 always uses its
// own table for the low sampling frequencies (version 0); MPEG-1 picks one
// of 3-B.2a..d from the sampling frequency and the bitrate per channel.
// Indices outside the valid ranges (reserved sampling frequency 3,
// forbidden bitrate 15) are resolved like 44.1 kHz and free format.
const AllocTable& selectAllocTable(int version, int sampleIndex, int bitrateIndex,
                                   int channels);

}  // namespace mp3
