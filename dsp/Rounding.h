#pragma once
#include <cmath>
#include <cstdint>

// "Rounded" throughout the system means half away from zero: floor(v + 0.5)
// above 0, ceil(v - 0.5) otherwise. Below 2^52 both are a truncation of the
// same sum, which needs no library call on a plain x86-64 build; above it
// (and for NaN) the library functions give the same bits as ever.
inline double roundHalfAway(double v) {
    if (std::fabs(v) < 4503599627370496.0) {
        return v > 0 ? static_cast<double>(static_cast<int64_t>(v + 0.5))
                     : -static_cast<double>(static_cast<int64_t>(0.5 - v));
    }
    return v > 0 ? std::floor(v + 0.5) : std::ceil(v - 0.5);
}

// The same for |v| < 2^31 (samples times a gain): a 32-bit truncation of
// v -/+ 0.5 gives the same bits (0.5 - v is exactly -(v - 0.5); a zero
// truncates to 0 either way). With the sign taken by copysign it has no
// branch, which audio, whose sign flips at random, would mispredict, and
// vectorises.
inline int32_t roundHalfAwaySmall(double v) { return static_cast<int32_t>(v + std::copysign(0.5, v)); }

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
