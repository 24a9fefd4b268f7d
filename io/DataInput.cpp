#include "io/DataInput.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstring>
#include <vector>

#include "worker/Logger.h"

int DataInput::readByte() {
    uint8_t b = 0;
    read(&b, 1);
    return b;
}

int DataInput::readShort() {
    uint8_t b[2] = {0, 0};
    read(b, 2);
    return static_cast<int16_t>(static_cast<uint16_t>(b[0] << 8 | b[1]));
}

int32_t DataInput::readInt() {
    uint8_t b[4] = {0, 0, 0, 0};
    read(b, 4);
    return static_cast<int32_t>(uint32_t(b[0]) << 24 | uint32_t(b[1]) << 16 | uint32_t(b[2]) << 8 | b[3]);
}

int64_t DataInput::readLong() {
    const uint64_t high = static_cast<uint32_t>(readInt());
    const uint64_t low = static_cast<uint32_t>(readInt());
    return static_cast<int64_t>(high << 32 | low);
}

double DataInput::readDouble() {
    const int64_t bits = readLong();
    double v;
    std::memcpy(&v, &bits, sizeof v);
    return v;
}

namespace {

// Decodes modified UTF-8; stops at a byte that cannot start a character.
std::vector<char32_t> readModifiedUTF8(DataInput& in) {
    const int length = in.readShort() & 0xFFFF;
    std::vector<char32_t> chars;
    chars.reserve(static_cast<size_t>(length) + 1);
    int consumed = 0;
    while (consumed < length && !in.failed()) {
        const int b = in.readByte();
        ++consumed;
        switch (b >> 4) {
            case 0: case 1: case 2: case 3: case 4: case 5: case 6: case 7:
                chars.push_back(static_cast<char32_t>(b));
                break;
            case 12: case 13: {
                const int b2 = in.readByte();
                consumed += 1;
                chars.push_back(static_cast<char32_t>(((b & 0x1F) << 6) | (b2 & 0x3F)));
                break;
            }
            case 14: {
                const int b2 = in.readByte();
                const int b3 = in.readByte();
                consumed += 2;
                chars.push_back(static_cast<char32_t>(((b & 0x0F) << 12) | ((b2 & 0x3F) << 6) | (b3 & 0x3F)));
                break;
            }
            default:
                consumed = length;  // not a valid lead byte: stop decoding
                break;
        }
    }
    return chars;
}

}  // namespace

char* DataInput::readUTF() {
    const std::vector<char32_t> chars = readModifiedUTF8(*this);
    char* out = new char[chars.size() + 1];
    for (size_t i = 0; i < chars.size(); ++i) {
        const char32_t c = chars[i];
        // Fold the two letters the library's names need most; others keep their low byte.
        out[i] = static_cast<char>(c == 0x010D ? 'c' : c == 0x0159 ? 'r' : (c & 0xFF));
    }
    out[chars.size()] = '\0';
    return out;
}

char32_t* DataInput::readUTFWide() {
    const std::vector<char32_t> chars = readModifiedUTF8(*this);
    char32_t* out = new char32_t[chars.size() + 1];
    std::copy(chars.begin(), chars.end(), out);
    out[chars.size()] = 0;
    return out;
}

bool DataInput::checkVersion(const char* recordName, int version, int supported) {
    if (version == supported) return true;
    setError(std::string("Invalid version in ") + recordName + ": " + std::to_string(version));
    return false;
}

void DataInput::setError(const std::string& message) {
    if (failed_) return;
    if (logEnabled) logMessage(0, ("Read failed:" + message).c_str());
    error_ = message;
    failed_ = true;
}

bool FileDataInput::open(const char* path) {
    fd_ = ::open(path, O_RDONLY);
    if (fd_ < 0) return false;
    const ssize_t got = ::read(fd_, buffer_, kBufferSize);
    valid_ = got > 0 ? static_cast<int>(got) : 0;
    cursor_ = 0;
    return true;
}

void FileDataInput::close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

int FileDataInput::read(uint8_t* dest, int n) {
    int copied = 0;
    while (copied < n) {
        if (cursor_ >= valid_) {
            const ssize_t got = fd_ >= 0 ? ::read(fd_, buffer_, kBufferSize) : -1;
            cursor_ = 0;
            valid_ = got > 0 ? static_cast<int>(got) : 0;
            if (got <= 0) break;
        }
        dest[copied++] = buffer_[cursor_++];
    }
    if (copied < n && !failed()) {
        setError("Too few bytes");
        logMessage(0, "Read failed: too few bytes");
    }
    return copied;
}

int BufferDataInput::read(uint8_t* dest, int n) {
    int copied = 0;
    while (copied < n && cursor_ < length_) dest[copied++] = bytes_[cursor_++];
    return copied;
}
