#include "audio/WaveFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "audio/SampleStore.h"
#include "audio/SoundLoader.h"
#include "dsp/SideBySide.h"
#include "dsp/SignalObj.h"
#include "dsp/WideClones.h"

namespace {

uint32_t le32(const unsigned char* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
uint16_t le16(const unsigned char* p) { return uint16_t(p[0] | p[1] << 8); }

// One block of stereo frames, in host order, into its mix and the sums.
VEX_WIDE_CLONES void mixBlock(const int16_t* v, int16_t* mono, int32_t n, bool difference, StereoSums& sums) {
    int64_t lr = 0, ll = 0, rr = 0, absDiff = 0;
    for (int32_t i = 0; i < n; ++i) {
        const int32_t l = v[2 * i], r = v[2 * i + 1];
        lr += l * r;
        ll += l * l;
        rr += r * r;
        absDiff += std::abs(l - r);
        mono[i] = static_cast<int16_t>(difference ? (l - r) / 2 : (l + r) / 2);
    }
    sums.add({lr, ll, rr, absDiff});
}

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

int64_t WaveFile::read(void* dest, int64_t n) {
    const int64_t got = readAt(dest, n, pos_);
    pos_ += got;
    return got;
}

bool WaveFile::seek(int64_t pos) {
    if (pos < 0) return false;
    pos_ = pos;
    return true;
}

bool WaveFile::open(const char* path) {
    fd_ = ::open(path, O_RDONLY | O_LARGEFILE);
    if (fd_ < 0) return false;
    struct stat st;
    if (::fstat(fd_, &st) != 0) return false;
    size_ = int64_t(st.st_size);
    return readHeader();
}

bool WaveFile::openMemory(const uint8_t* data, size_t size) {
    static const uint8_t kNothing = 0;
    mem_ = data ? data : &kNothing;
    size_ = data ? int64_t(size) : 0;
    pos_ = 0;
    return readHeader();
}

bool WaveFile::readHeader() {
    if (!seek(0)) return false;
    unsigned char h[36];
    if (read(h, sizeof h) != sizeof h) return false;
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

    const int64_t dataChunk = 20 + int64_t(le32(h + 16));
    if (!seek(dataChunk)) return false;
    unsigned char d[8];
    if (read(d, sizeof d) != sizeof d || std::memcmp(d, "data", 4) != 0) return false;
    sampleCount_ = static_cast<int32_t>(le32(d + 4)) / 2;
    dataStart_ = dataChunk + 8;
    return true;
}

int64_t WaveFile::deliverableCount() const {
    return std::max<int64_t>(0, std::min<int64_t>(sampleCount_, (size_ - dataStart_ + 1) / 2));
}

bool WaveFile::readAll(int16_t* dest) {
    SampleStore store(dest, sampleCount_);
    readInto(store);
    return store.size() >= sampleCount_ && (size_ - dataStart_) / 2 >= sampleCount_;
}

void WaveFile::readInto(SampleStore& store) {
    // Blocks of the size the file is read in; each converted where it landed.
    constexpr size_t kBlockValues = 1 << 17;
    while (!store.full()) {
        size_t granted = 0;
        int16_t* out = store.space(kBlockValues, granted);
        auto* bytes = reinterpret_cast<unsigned char*>(out);
        const int64_t got = read(bytes, int64_t(granted) * 2);
        if (got <= 0) return;
        // A last odd byte is the low byte of a value whose high byte is silent.
        if (got & 1) bytes[got] = 0;
        const size_t values = size_t(got + 1) / 2;
        for (size_t i = 0; i < values; ++i) out[i] = static_cast<int16_t>(le16(bytes + 2 * i));
        store.commit(values);
        if (got < int64_t(granted) * 2) return;
    }
}

int64_t WaveFile::readAt(void* dest, int64_t n, int64_t at) const {
    if (mem_) {
        const int64_t got = std::max<int64_t>(0, std::min(n, size_ - at));
        if (got > 0) std::memcpy(dest, mem_ + at, size_t(got));
        return got;
    }
    // 64-bit offsets in every build: a WAVE file may hold up to 4 GiB.
    auto* out = static_cast<unsigned char*>(dest);
    int64_t total = 0;
    while (total < n) {
        const ssize_t got = ::pread64(fd_, out + total, static_cast<size_t>(std::min<int64_t>(1 << 20, n - total)),
                                      off64_t(at + total));
        if (got <= 0) break;
        total += got;
    }
    return total;
}

bool WaveFile::readDownMixed(int16_t* mono, int32_t frames, int64_t values, bool difference, StereoSums& sums) {
    if (!stereo_ || frames < 0 || values < 0) return false;
    constexpr int32_t kSplitFramesFrom = 1 << 18;
    const int32_t half = frames / 2;
    StereoSums part[2];
    bool whole[2] = {true, true};
    runSideBySide([&] { whole[0] = downMixFrames(mono, 0, half, values, difference, part[0]); },
                  [&] { whole[1] = downMixFrames(mono, half, frames, values, difference, part[1]); },
                  frames >= kSplitFramesFrom);
    sums = part[0];
    sums.add(part[1]);
    return whole[0] && whole[1];
}

bool WaveFile::downMixFrames(int16_t* mono, int32_t first, int32_t last, int64_t values, bool difference,
                             StereoSums& sums) const {
    // Blocks small enough to stay in the cache between the read and the mix.
    constexpr int32_t kBlockFrames = 1 << 14;
    std::vector<int16_t> values16(size_t(kBlockFrames) * 2);
    auto* bytes = reinterpret_cast<unsigned char*>(values16.data());
    for (int32_t f = first; f < last; f += kBlockFrames) {
        const int32_t n = std::min(kBlockFrames, last - f);
        // Values past those delivered are silence, as in a buffer readInto fills.
        const int64_t wanted = std::max<int64_t>(0, std::min<int64_t>(2 * int64_t(n), values - 2 * int64_t(f)));
        if (wanted == 0) break;  // the buffer's frames from here on stay silent
        const int64_t got = readAt(bytes, 2 * wanted, dataStart_ + 4 * int64_t(f));
        // Only a last odd byte may be missing: the low byte of a value whose
        // high byte is silent. Anything else is a read that failed.
        if (got < 2 * wanted - 1 || (got < 2 * wanted && dataStart_ + 4 * int64_t(f) + got < size_)) return false;
        std::fill(bytes + got, bytes + 4 * int64_t(n), 0);
        int16_t* v = values16.data();
        for (int32_t i = 0; i < 2 * n; ++i) v[i] = static_cast<int16_t>(le16(bytes + 2 * i));
        mixBlock(v, mono + f, n, difference, sums);
    }
    return true;
}

void WaveFile::close() {
    if (fd_ != -1) ::close(fd_);
    fd_ = -1;
    mem_ = nullptr;
}

bool loadWaveFile(SignalObj& signal, const char* path, double maxMs) {
    WaveFile reader;
    return loadSoundFile(reader, signal, path, maxMs);
}
