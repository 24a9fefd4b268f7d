#include "audio/WaveFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "audio/SoundLoader.h"

namespace {

uint32_t le32(const unsigned char* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
uint16_t le16(const unsigned char* p) { return uint16_t(p[0] | p[1] << 8); }

}  // namespace

WaveFile::~WaveFile() { close(); }

bool WaveFile::readFully(int fd, void* dest, int64_t n) {
    auto* out = static_cast<unsigned char*>(dest);
    while (n > 0) {
        const ssize_t got = ::read(fd, out, static_cast<size_t>(std::min<int64_t>(4096, n)));
        if (got <= 0) return false;
        out += got;
        n -= got;
    }
    return true;
}

bool WaveFile::open(const char* path) {
    fd_ = ::open(path, O_RDONLY | O_LARGEFILE);
    if (fd_ < 0) return false;
    if (::lseek(fd_, 0, SEEK_SET) != 0) return false;

    unsigned char h[36];
    if (!readFully(fd_, h, sizeof h)) return false;
    if (std::memcmp(h, "RIFF", 4) != 0 || std::memcmp(h + 8, "WAVE", 4) != 0 ||
        std::memcmp(h + 12, "fmt ", 4) != 0)
        return false;
    if (le16(h + 20) != 1) return false;
    const int ch = le16(h + 22);
    if (ch != 1 && ch != 2) return false;
    channels_ = ch;
    stereo_ = ch == 2;
    sampleRate_ = static_cast<int32_t>(le32(h + 24));
    if (le16(h + 34) != 16) return false;

    const off_t dataChunk = 20 + static_cast<off_t>(le32(h + 16));
    if (::lseek(fd_, dataChunk, SEEK_SET) != dataChunk) return false;
    unsigned char d[8];
    if (!readFully(fd_, d, sizeof d) || std::memcmp(d, "data", 4) != 0) return false;
    sampleCount_ = static_cast<int32_t>(le32(d + 4)) / 2;
    return true;
}

bool WaveFile::readAll(int16_t* dest) { return readPrefix(dest, sampleCount_); }

bool WaveFile::readPrefix(int16_t* dest, int32_t count) {
    count = std::min(count, sampleCount_);
    if (count <= 0) return true;
    auto* bytes = reinterpret_cast<unsigned char*>(dest);
    if (!readFully(fd_, bytes, int64_t(count) * 2)) return false;
    for (int32_t i = 0; i < count; ++i) dest[i] = static_cast<int16_t>(le16(bytes + 2 * i));
    return true;
}

void WaveFile::close() {
    if (fd_ != -1) ::close(fd_);
    fd_ = -1;
}

bool loadWaveFile(SignalObj& signal, const char* path, double maxMs) {
    WaveFile reader;
    return loadSoundFile(reader, signal, path, maxMs);
}
