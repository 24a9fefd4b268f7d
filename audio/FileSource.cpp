#include "audio/FileSource.h"

void FileSource::setPath(const char* path) {
    path_ = path ? path : "";
    data_ = nullptr;
    size_ = 0;
}

void FileSource::setMemory(const uint8_t* data, size_t size) {
    path_.clear();
    data_ = data;
    size_ = size;
}

std::FILE* FileSource::open() const {
    if (data_) return size_ > 0 ? fmemopen(const_cast<uint8_t*>(data_), size_, "rb") : nullptr;
    return path_.empty() ? nullptr : std::fopen(path_.c_str(), "rb");
}
