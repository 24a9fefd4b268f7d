#include "ReaderProbe.h"

#include <algorithm>

#include "audio/SoundFile.h"

namespace test {

ReadResult readThrough(SoundFile& reader, const std::string& path) {
    ReadResult r;
    r.opened = reader.open(path.c_str());
    if (!r.opened) return r;
    r.count = reader.sampleCount();
    r.rate = reader.sampleRate();
    r.stereo = reader.isStereo();
    r.values.assign(static_cast<size_t>(std::max(r.count, 0)) + kGuardValues, kUnwritten);
    r.readOk = reader.readAll(r.values.data());
    reader.close();
    return r;
}

size_t commonPrefix(const std::vector<int16_t>& got, const std::vector<int16_t>& want) {
    const auto n = std::min(got.size(), want.size());
    return static_cast<size_t>(std::mismatch(got.begin(), got.begin() + n, want.begin()).first -
                               got.begin());
}

bool unwrittenFrom(const std::vector<int16_t>& v, size_t from) {
    return from <= v.size() &&
           std::all_of(v.begin() + from, v.end(), [](int16_t x) { return x == kUnwritten; });
}

}  // namespace test
