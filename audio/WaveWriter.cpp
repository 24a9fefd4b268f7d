#include "audio/WaveWriter.h"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

namespace {

void put16(std::vector<uint8_t>& b, uint32_t v) {
    b.push_back(v & 0xFF);
    b.push_back((v >> 8) & 0xFF);
}
void put32(std::vector<uint8_t>& b, uint32_t v) {
    put16(b, v & 0xFFFF);
    put16(b, v >> 16);
}

struct FileClose {
    void operator()(std::FILE* f) const { std::fclose(f); }
};

}  // namespace

bool writeWaveFile(const char* path, const int16_t* samples, int64_t count, int32_t rate,
                   int32_t channels) {
    if (count < 0 || channels < 1 || count * 2 > 0x7FFFFFFF - 36) return false;
    const uint32_t dataBytes = static_cast<uint32_t>(count * 2);
    std::vector<uint8_t> header;
    header.insert(header.end(), {'R', 'I', 'F', 'F'});
    put32(header, 36 + dataBytes);
    header.insert(header.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
    put32(header, 16);
    put16(header, 1);
    put16(header, static_cast<uint32_t>(channels));
    put32(header, static_cast<uint32_t>(rate));
    put32(header, static_cast<uint32_t>(rate) * channels * 2);
    put16(header, static_cast<uint32_t>(channels * 2));
    put16(header, 16);
    header.insert(header.end(), {'d', 'a', 't', 'a'});
    put32(header, dataBytes);

    std::unique_ptr<std::FILE, FileClose> f(std::fopen(path, "wb"));
    if (!f) return false;
    if (std::fwrite(header.data(), 1, header.size(), f.get()) != header.size()) return false;
    // Little-endian on disk whatever the host.
    std::vector<uint8_t> block;
    const int64_t kBlock = 1 << 16;
    for (int64_t i = 0; i < count; i += kBlock) {
        const int64_t n = std::min(kBlock, count - i);
        block.resize(size_t(2 * n));
        for (int64_t j = 0; j < n; ++j) {
            const uint16_t v = static_cast<uint16_t>(samples[i + j]);
            block[size_t(2 * j)] = static_cast<uint8_t>(v);
            block[size_t(2 * j + 1)] = static_cast<uint8_t>(v >> 8);
        }
        if (std::fwrite(block.data(), 1, block.size(), f.get()) != block.size()) return false;
    }
    return std::fflush(f.get()) == 0;
}
