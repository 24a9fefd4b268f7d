#include "TestFiles.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <thread>

namespace test {

TempDir::TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "vexcore-test-XXXXXX").string();
    if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    dir_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
}

std::vector<uint8_t> readBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void writeBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

int64_t be64(const std::vector<uint8_t>& bytes, size_t at) {
    uint64_t v = 0;
    for (size_t i = 0; i < 8; ++i) v = v << 8 | bytes.at(at + i);
    return static_cast<int64_t>(v);
}

bool fileExists(const std::string& path) { return std::filesystem::exists(path); }

std::string builtProgram(const std::string& name) { return std::string(VEX_BINARY_DIR) + "/" + name; }


GuardedRun runGuarded(const std::string& program, const std::vector<std::string>& args,
                      double limitSeconds) {
    GuardedRun run;
    TempDir tmp;
    const std::string outPath = tmp.path("stdout"), errPath = tmp.path("stderr");
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = fork();
    if (pid < 0) throw std::runtime_error("fork failed");
    if (pid == 0) {
        if (!std::freopen(outPath.c_str(), "w", stdout)) _exit(126);
        if (!std::freopen(errPath.c_str(), "w", stderr)) _exit(126);
        std::vector<char*> argv;
        argv.push_back(const_cast<char*>(program.c_str()));
        for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    int status = 0;
    for (;;) {
        const pid_t done = waitpid(pid, &status, WNOHANG);
        if (done == pid) break;
        if (done < 0) throw std::runtime_error("waitpid failed");
        const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
        if (elapsed.count() > limitSeconds) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            run.timedOut = true;
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (WIFEXITED(status)) run.status = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) run.signal = WTERMSIG(status);
    auto grab = [](const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    };
    run.out = grab(outPath);
    run.err = grab(errPath);
    return run;
}

int runProgram(const std::string& program, const std::vector<std::string>& args, std::string* out,
               std::string* err) {
    const GuardedRun run = runGuarded(program, args, 600.0);
    if (out) *out = run.out;
    if (err) *err = run.err;
    return run.timedOut || run.signal ? -1 : run.status;
}

bool haveTool(const std::string& name) {
    const std::string cmd = "command -v " + name + " >/dev/null 2>&1";
    return std::system(cmd.c_str()) == 0;
}

}  // namespace test
