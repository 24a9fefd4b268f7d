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

std::vector<uint8_t> readBytes(const std::string& path);
void writeBytes(const std::string& path, const std::vector<uint8_t>& bytes);
bool fileExists(const std::string& path);
// The big-endian 64-bit value at offset `at` of a record.
int64_t be64(const std::vector<uint8_t>& bytes, size_t at);

// How a guarded run ended.
struct GuardedRun {
    int status = -1;        // exit status when the program exited normally
    int signal = 0;         // the terminating signal otherwise
    bool timedOut = false;  // killed by the guard
    double seconds = 0.0;   // wall-clock time taken
    std::string out, err;
};

// Runs a program with arguments, killing it (SIGKILL) when it has not ended
// after limitSeconds.
GuardedRun runGuarded(const std::string& program, const std::vector<std::string>& args,
                      double limitSeconds);

// Runs a built program of the project (vexcore, vextool) with arguments and
// returns its exit status (-1 when it did not exit normally or ran past ten
// minutes); stdout and stderr are captured into the given strings when non-null.
int runProgram(const std::string& program, const std::vector<std::string>& args,
               std::string* out = nullptr, std::string* err = nullptr);
std::string builtProgram(const std::string& name);

// Whether an external command is on PATH (for oracle and fixture tools).
bool haveTool(const std::string& name);

}  // namespace test
