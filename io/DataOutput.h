#pragma once
#include <cstdint>
#include <vector>

// Big-endian binary output over a single virtual byte primitive.
class DataOutput {
public:
    virtual void write(uint8_t byte) = 0;
    virtual ~DataOutput() = default;

    void writeByte(uint8_t v) { write(v); }
    void writeBoolean(bool v) { write(v ? 1 : 0); }
    void writeShort(int16_t v);
    void writeInt(int32_t v);
    void writeLong(int64_t v);
    void writeDouble(double v);
    // Length-prefixed modified UTF-8. The narrow form takes ISO-8859-1 text.
    // Throws the text "UTFDataFormatException" beyond 65535 encoded bytes.
    void writeUTF(const char* text);
    void writeUTF(const char32_t* text);
};

// Buffered output on a file descriptor: one write call per 2048 bytes.
// The destructor neither flushes nor closes; call close() to keep the bytes.
class FileDataOutput : public DataOutput {
public:
    static constexpr int kBufferSize = 2048;

    FileDataOutput() = default;
    ~FileDataOutput() override = default;
    FileDataOutput(const FileDataOutput&) = delete;
    FileDataOutput& operator=(const FileDataOutput&) = delete;

    // Opens read-write, creating with mode 0600; an existing file is not truncated.
    bool open(const char* path);
    void close();
    void write(uint8_t byte) override;

private:
    void flush();

    int fd_ = -1;
    uint8_t buffer_[kBufferSize];
    int fill_ = 0;
    bool writeFailed_ = false;
};

// Output into a growing byte vector, the product read by its owner.
class BufferDataOutput : public DataOutput {
public:
    void write(uint8_t byte) override { bytes.push_back(byte); }
    std::vector<uint8_t> bytes;
};
