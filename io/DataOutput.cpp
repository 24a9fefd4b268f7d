#include "io/DataOutput.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <type_traits>

#include "worker/Logger.h"

void DataOutput::writeShort(int16_t v) {
    const auto u = static_cast<uint16_t>(v);
    write(static_cast<uint8_t>(u >> 8));
    write(static_cast<uint8_t>(u));
}

void DataOutput::writeInt(int32_t v) {
    const auto u = static_cast<uint32_t>(v);
    for (int shift = 24; shift >= 0; shift -= 8) write(static_cast<uint8_t>(u >> shift));
}

void DataOutput::writeLong(int64_t v) {
    const auto u = static_cast<uint64_t>(v);
    for (int shift = 56; shift >= 0; shift -= 8) write(static_cast<uint8_t>(u >> shift));
}

void DataOutput::writeDouble(double v) {
    int64_t bits;
    std::memcpy(&bits, &v, sizeof bits);
    writeLong(bits);
}

namespace {

// Modified UTF-8: no 4-byte form, characters above 0xFFFF keep their low 16 bits.
template <typename Char>
void writeModifiedUTF8(DataOutput& out, const Char* text) {
    auto code = [](Char c) { return static_cast<uint32_t>(static_cast<std::make_unsigned_t<Char>>(c)) & 0xFFFF; };
    uint32_t encoded = 0;
    for (const Char* p = text; *p; ++p) {
        const uint32_t c = code(*p);
        encoded += (c >= 1 && c <= 127) ? 1 : (c <= 2047 ? 2 : 3);
    }
    if (encoded > 65535) throw "UTFDataFormatException";
    out.writeShort(static_cast<int16_t>(encoded));
    for (const Char* p = text; *p; ++p) {
        const uint32_t c = code(*p);
        if (c >= 1 && c <= 127) {
            out.write(static_cast<uint8_t>(c));
        } else if (c <= 2047) {
            out.write(static_cast<uint8_t>(0xC0 | ((c >> 6) & 0x1F)));
            out.write(static_cast<uint8_t>(0x80 | (c & 0x3F)));
        } else {
            out.write(static_cast<uint8_t>(0xE0 | ((c >> 12) & 0x0F)));
            out.write(static_cast<uint8_t>(0x80 | ((c >> 6) & 0x3F)));
            out.write(static_cast<uint8_t>(0x80 | (c & 0x3F)));
        }
    }
}

}  // namespace

void DataOutput::writeUTF(const char* text) { writeModifiedUTF8(*this, text); }
void DataOutput::writeUTF(const char32_t* text) { writeModifiedUTF8(*this, text); }

bool FileDataOutput::open(const char* path) {
    fd_ = ::open(path, O_RDWR | O_CREAT, 0600);
    fill_ = 0;
    return fd_ >= 0;
}

void FileDataOutput::write(uint8_t byte) {
    buffer_[fill_++] = byte;
    if (fill_ == kBufferSize) flush();
}

void FileDataOutput::flush() {
    if (!writeFailed_) {
        const ssize_t written = ::write(fd_, buffer_, kBufferSize);
        if (written != kBufferSize) {
            char message[128];
            std::snprintf(message, sizeof message, "Write failed (%d vs. %d) %d %d", kBufferSize,
                          static_cast<int>(written), fd_, errno);
            logMessage(0, message);
            // Report once; later full buffers are dropped without more noise.
            writeFailed_ = true;
        }
    }
    fill_ = 0;
}

void FileDataOutput::close() {
    if (fd_ < 0) return;
    if (fill_ > 0) {
        [[maybe_unused]] const ssize_t ignored = ::write(fd_, buffer_, static_cast<size_t>(fill_));
    }
    fill_ = 0;
    ::close(fd_);
    fd_ = -1;
}
