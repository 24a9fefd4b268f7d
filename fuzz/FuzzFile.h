#pragma once
// An in-memory file for the targets whose input path starts from a file
// name: the bytes go to a file on the RAM file system (/dev/shm), named with
// the extension the path needs, and stay there while the run uses them.
#include <fcntl.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

class FuzzFile {
public:
    explicit FuzzFile(const char* extension) {
        const char* dir = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : (std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "/tmp");
        path_ = std::string(dir) + "/vex-fuzz-" + std::to_string(getpid()) + extension;
    }
    ~FuzzFile() { unlink(path_.c_str()); }

    // Replaces the file's contents with the bytes; false when that fails.
    bool write(const uint8_t* data, size_t size) const {
        const int fd = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (fd < 0) return false;
        bool ok = true;
        for (size_t done = 0; ok && done < size;) {
            const ssize_t n = ::write(fd, data + done, size - done);
            ok = n > 0;
            done += ok ? size_t(n) : 0;
        }
        return ::close(fd) == 0 && ok;
    }
    const char* path() const { return path_.c_str(); }

private:
    std::string path_;
};
