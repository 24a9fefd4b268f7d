#pragma once
// What the WAVE, FLAC and Ogg Vorbis targets share: the reader is opened on
// the bytes and decodes up to the announced count, as the load does: for an
// input of odd length into chunks that grow with what it delivers, for an
// even one (with a small enough count) straight into a zero-filled buffer.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "audio/SampleStore.h"

template <class Reader>
void fuzzReader(const uint8_t* data, size_t size) {
    constexpr int64_t kInPlaceValues = int64_t(1) << 15;  // honest headers of inputs this short
    Reader reader;
    if (reader.openMemory(data, size)) {
        const int64_t announced = std::max(reader.sampleCount(), 0);
        const bool inPlace = size % 2 == 0 && announced <= kInPlaceValues;
        std::vector<int16_t> buffer(inPlace ? size_t(announced) : 0);
        SampleStore store = inPlace ? SampleStore(buffer.data(), announced, true) : SampleStore(announced);
        reader.readInto(store);
        if (store.size() > announced) __builtin_trap();
        // A reader that knows what it can deliver must deliver exactly that.
        const int64_t known = reader.deliverableCount();
        if (known >= 0 && store.size() != std::min(known, announced)) __builtin_trap();
        // Past what was delivered the buffer reads as silence, whatever was
        // decoded ahead and given up.
        if (inPlace && !std::all_of(buffer.begin() + store.size(), buffer.end(), [](int16_t v) { return v == 0; }))
            __builtin_trap();
    }
    reader.close();
}
