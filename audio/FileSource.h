#pragma once
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

// Where a reader's bytes come from, kept so that a second decoder can open
// them again: a file by name, or bytes in memory (which must outlive the
// reader), read through a stream over them with the same calls as a file.
class FileSource {
public:
    void setPath(const char* path);
    void setMemory(const uint8_t* data, size_t size);
    // A fresh stream from the first byte; null when it cannot be opened.
    std::FILE* open() const;

private:
    std::string path_;
    const uint8_t* data_ = nullptr;
    size_t size_ = 0;
};
