#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace test {

// A fresh directory under the system's temp folder, removed with its contents.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    std::string path(const std::string& name) const { return dir_ + "/" + name; }
    const std::string& dir() const { return dir_; }

private:
    std::string dir_;
};

// Sets VEXCORE_THREADS for its scope (one core) or clears it (both cores),
// and puts back what was there.
class ScopedThreads {
public:
    explicit ScopedThreads(bool oneCore);
    ~ScopedThreads();
    ScopedThreads(const ScopedThreads&) = delete;
    ScopedThreads& operator=(const ScopedThreads&) = delete;

private:
    bool had_;
    std::string saved_;
};

std::vector<uint8_t> readBytes(const std::string& path);
void writeBytes(const std::string& path, const std::vector<uint8_t>& bytes);
bool fileExists(const std::string& path);
// The big-endian 64-bit value at offset `at` of a record.
int64_t be64(const std::vector<uint8_t>& bytes, size_t at);

// Writes `value` little-endian into `bytes` bytes at offset `at`.
void putLE(std::vector<uint8_t>& b, size_t at, uint64_t value, int bytes);
// Offsets of the Ogg pages of a file, in order, as far as they chain.
std::vector<size_t> oggPages(const std::vector<uint8_t>& f);
// Recomputes the checksum of the Ogg page at `at` after an edit, so that a
// reader takes the page at its word.
void resealOggPage(std::vector<uint8_t>& f, size_t at);

// Runs a program with arguments and returns its exit status as a shell
// reports it (128 + the signal for a program ended by one; 137 when killed
// after `limitSeconds`); stdout and stderr are captured when asked for.
int runProgram(const std::string& program, const std::vector<std::string>& args,
               std::string* out = nullptr, std::string* err = nullptr, double limitSeconds = 600.0);
// The same for the worker built with the tests.
int runVexcore(const std::vector<std::string>& args, std::string* out = nullptr,
               std::string* err = nullptr);
std::string builtProgram(const std::string& name);

// Whether an external command is on PATH (for oracle and fixture tools).
bool haveTool(const std::string& name);

}  // namespace test
