#pragma once
#include <cstdint>
#include <string>

// Big-endian binary input over a single virtual read primitive. A file input
// that reads past its end sets `failed` (the values read are then
// unspecified): callers test failed() after a group of reads. A buffer input
// records no failure; it copies what it has.
class DataInput {
public:
    virtual ~DataInput() = default;
    // Copies up to n bytes; returns how many were copied.
    virtual int read(uint8_t* dest, int n) = 0;

    int readByte();
    bool readBoolean() { return readByte() != 0; }
    int readShort();
    int32_t readInt();
    int64_t readLong();
    double readDouble();
    // New[]-ed zero-terminated strings; the caller delete[]s them.
    char* readUTF();
    char32_t* readUTFWide();

    // Fails the stream with "Invalid version in <name>: <version>" unless
    // version is the one this reader understands.
    bool checkVersion(const char* recordName, int version, int supported);

    void setError(const std::string& message);
    bool failed() const { return failed_; }
    const std::string& errorMessage() const { return error_; }

private:
    bool failed_ = false;
    std::string error_;
};

// Buffered input from a file descriptor, 2048 bytes per read call.
class FileDataInput : public DataInput {
public:
    static constexpr int kBufferSize = 2048;

    FileDataInput() = default;
    ~FileDataInput() override { close(); }
    FileDataInput(const FileDataInput&) = delete;
    FileDataInput& operator=(const FileDataInput&) = delete;

    bool open(const char* path);
    void close();
    int read(uint8_t* dest, int n) override;

private:
    int fd_ = -1;
    uint8_t buffer_[kBufferSize];
    int cursor_ = 0;
    int valid_ = 0;
};

// Input from the caller's bytes, which must outlive the stream. Reading past
// them copies fewer bytes and leaves `failed` clear.
class BufferDataInput : public DataInput {
public:
    BufferDataInput(const uint8_t* bytes, int length) : bytes_(bytes), length_(length) {}
    int read(uint8_t* dest, int n) override;

private:
    const uint8_t* bytes_;
    int length_;
    int cursor_ = 0;
};
