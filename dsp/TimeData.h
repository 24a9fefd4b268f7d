#pragma once
#include <cstdint>

// Plain base of signals (int16 samples) and framed analyses (float rows):
// `length` rows of `width` values at `rate` rows per second.
template <typename T>
struct TimeData {
    T* data = nullptr;
    int32_t elementCount = 0;
    int32_t length = 0;
    int32_t rate = 0;
    int32_t width = 0;
};
