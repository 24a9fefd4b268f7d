#pragma once
#include <cmath>
#include <cstdint>

// "Rounded" throughout the system means half away from zero.
inline double roundHalfAway(double v) { return v > 0 ? std::floor(v + 0.5) : std::ceil(v - 0.5); }

// Truncation toward zero that saturates instead of overflowing (NaN gives 0):
// values computed from a damaged header can exceed any 32-bit count.
inline int32_t truncToInt32(double v) {
    if (std::isnan(v)) return 0;
    if (v >= 2147483647.0) return INT32_MAX;
    if (v <= -2147483648.0) return INT32_MIN;
    return static_cast<int32_t>(v);
}

// The same into the 16-bit sample range.
inline int16_t truncToInt16(double v) {
    if (std::isnan(v)) return 0;
    if (v >= 32767.0) return 32767;
    if (v <= -32768.0) return -32768;
    return static_cast<int16_t>(v);
}
