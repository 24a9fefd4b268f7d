#pragma once
#include <algorithm>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "audio/SampleStore.h"
#include "audio/SoundFile.h"
#include "TestFiles.h"

// Runs a SoundFile reader over a file into a buffer pre-filled with a
// sentinel and longer than the reader's count, so a test sees both what the
// reader wrote and that it wrote nothing beyond its count.
namespace test {

// Fixtures read through the probe stay below this magnitude, so a sentinel
// found afterwards was never written.
constexpr int16_t kUnwritten = 0x7ABC;

struct ReadResult {
    bool opened = false, readOk = false, stereo = false;
    int32_t count = 0, rate = 0;
    std::vector<int16_t> values;  // count values, then 64 more
};

// open, sampleCount/sampleRate/isStereo, readAll, close; or, `inPlace`,
// readInto a zero-filled buffer as the loader reads.
template <class Reader>
ReadResult readThrough(const std::string& path, bool inPlace = false) {
    Reader reader;
    ReadResult r;
    if (!(r.opened = reader.open(path.c_str()))) return r;
    r.count = reader.sampleCount();
    r.rate = reader.sampleRate();
    r.stereo = reader.isStereo();
    const size_t count = static_cast<size_t>(std::max(r.count, 0));
    r.values.assign(count + 64, inPlace ? 0 : kUnwritten);
    if (inPlace) {
        SampleStore store(r.values.data(), int64_t(count), true);
        reader.readInto(store);
        r.readOk = true;
    } else {
        r.readOk = reader.readAll(r.values.data());
    }
    reader.close();
    return r;
}

// The same file read on one core through readAll, and on two (a reader may
// split a long stream between two threads) in place: both results, in that
// order.
template <class Reader>
std::pair<ReadResult, ReadResult> readOnOneAndTwoCores(const std::string& path) {
    std::pair<ReadResult, ReadResult> r;
    {
        ScopedThreads oneCore(true);
        r.first = readThrough<Reader>(path);
    }
    ScopedThreads twoCores(false);
    r.second = readThrough<Reader>(path, true);
    return r;
}

// The same values, where the second read left zeros for the first one's unwritten ones.
inline bool sameDelivery(const ReadResult& one, const ReadResult& two) {
    if (one.values.size() != two.values.size()) return false;
    for (size_t i = 0; i < one.values.size(); ++i)
        if (two.values[i] != (one.values[i] == kUnwritten ? 0 : one.values[i])) return false;
    return true;
}

// How many leading values of got equal those of want.
inline size_t commonPrefix(const std::vector<int16_t>& got, const std::vector<int16_t>& want) {
    const size_t n = std::min(got.size(), want.size());
    return size_t(std::mismatch(got.begin(), got.begin() + n, want.begin()).first - got.begin());
}

// True when v[from] and everything after it is still kUnwritten.
inline bool unwrittenFrom(const std::vector<int16_t>& v, size_t from) {
    return from <= v.size() && std::all_of(v.begin() + from, v.end(), [](int16_t x) { return x == kUnwritten; });
}

// A good file's bytes, and the same holed by 2000 bytes of junk at 30, 50
// and 80 % of its length and cut at 75 %.
inline std::vector<std::pair<std::string, std::vector<uint8_t>>> damagedVariants(const std::vector<uint8_t>& good) {
    std::vector<std::pair<std::string, std::vector<uint8_t>>> files{{"clean", good}};
    for (const int percent : {30, 50, 80}) {
        auto holed = good;
        const size_t from = good.size() * size_t(percent) / 100;
        for (size_t i = from; i < from + 2000 && i < holed.size(); ++i) holed[i] = uint8_t(i * 37);
        files.emplace_back("holed at " + std::to_string(percent) + " %", holed);
    }
    files.emplace_back("cut", std::vector<uint8_t>(good.begin(), good.begin() + std::ptrdiff_t(good.size() * 3 / 4)));
    return files;
}

}  // namespace test
