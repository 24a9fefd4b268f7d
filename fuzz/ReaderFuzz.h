#pragma once
// What the WAVE, FLAC and Ogg Vorbis targets share: the reader is opened on
// the bytes and decodes into chunks that grow with what it delivers, as the
// load does when it cannot trust the header, up to the announced count.
#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "audio/SampleStore.h"

template <class Reader>
void fuzzReader(const uint8_t* data, size_t size) {
    Reader reader;
    if (reader.openMemory(data, size)) {
        SampleStore store(reader.sampleCount());
        reader.readInto(store);
        const int64_t announced = std::max(reader.sampleCount(), 0);
        if (store.size() > announced) __builtin_trap();
        // A reader that knows what it can deliver must deliver exactly that.
        const int64_t known = reader.deliverableCount();
        if (known >= 0 && store.size() != std::min(known, announced)) __builtin_trap();
    }
    reader.close();
}
