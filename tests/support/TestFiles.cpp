#include "TestFiles.h"

#include <ogg/ogg.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace test {

ScopedThreads::ScopedThreads(bool oneCore) {
    const char* now = std::getenv("VEXCORE_THREADS");
    had_ = now != nullptr;
    saved_ = now ? now : "";
    if (oneCore) ::setenv("VEXCORE_THREADS", "1", 1);
    else ::unsetenv("VEXCORE_THREADS");
}

ScopedThreads::~ScopedThreads() {
    if (had_) ::setenv("VEXCORE_THREADS", saved_.c_str(), 1);
    else ::unsetenv("VEXCORE_THREADS");
}

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

int runProgram(const std::string& program, const std::vector<std::string>& args, std::string* out,
               std::string* err, double limitSeconds) {
    TempDir tmp;
    // The arguments are words and temporary paths: single quotes are enough.
    std::string command = "timeout -s KILL " + std::to_string(limitSeconds) + " '" + program + "'";
    for (const auto& a : args) command += " '" + a + "'";
    const int status = std::system((command + " >" + tmp.path("out") + " 2>" + tmp.path("err")).c_str());
    const auto text = [](const std::vector<uint8_t>& b) { return std::string(b.begin(), b.end()); };
    if (out) *out = text(readBytes(tmp.path("out")));
    if (err) *err = text(readBytes(tmp.path("err")));
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

int runVexcore(const std::vector<std::string>& args, std::string* out, std::string* err) {
    return runProgram(builtProgram("vexcore"), args, out, err);
}

bool haveTool(const std::string& name) {
    return std::system(("command -v " + name + " >/dev/null 2>&1").c_str()) == 0;
}

void putLE(std::vector<uint8_t>& b, size_t at, uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) b.at(at + i) = uint8_t(value >> (8 * i));
}

std::vector<size_t> oggPages(const std::vector<uint8_t>& f) {
    std::vector<size_t> pages;
    for (size_t at = 0; at + 27 <= f.size() && std::equal(f.begin() + long(at), f.begin() + long(at) + 4, "OggS");) {
        pages.push_back(at);
        size_t end = at + 27 + f[at + 26];
        for (int i = 0; i < f[at + 26] && at + 27 + i < f.size(); ++i) end += f[at + 27 + i];
        at = end;
    }
    return pages;
}

void resealOggPage(std::vector<uint8_t>& f, size_t at) {
    ogg_page page;
    page.header = f.data() + at;
    page.header_len = 27 + f.at(at + 26);
    page.body = page.header + page.header_len;
    page.body_len = 0;
    for (int i = 0; i < f.at(at + 26); ++i) page.body_len += f.at(at + 27 + i);
    ogg_page_checksum_set(&page);
}

}  // namespace test
