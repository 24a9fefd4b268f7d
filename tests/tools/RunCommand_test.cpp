#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <sstream>
#include <thread>

#include "Encoders.h"
#include "Signals.h"
#include "TestFiles.h"

namespace {

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) out.push_back(line);
    return out;
}

std::string readText(const std::string& path) {
    const auto bytes = test::readBytes(path);
    return std::string(bytes.begin(), bytes.end());
}

// The lines without their elapsed times, sorted: what two runs must agree on.
std::vector<std::string> comparable(std::vector<std::string> jobLines) {
    for (auto& l : jobLines) {
        const size_t at = l.find(",\"ms\":");
        if (at != std::string::npos) l.erase(at, l.find_first_not_of("0123456789", at + 6) - at);
    }
    std::sort(jobLines.begin(), jobLines.end());
    return jobLines;
}

std::string vextoolRun(const std::vector<std::string>& args, std::string* err = nullptr, int* status = nullptr) {
    std::vector<std::string> all{"run"};
    all.insert(all.end(), args.begin(), args.end());
    std::string out;
    const int s = test::runProgram(test::builtProgram("vextool"), all, &out, err, 300);
    if (status) *status = s;
    return out;
}

// A small library: three songs in two folders, a damaged MP3 and a file
// that is no audio.
void makeLibrary(const test::TempDir& dir) {
    ::mkdir(dir.path("lib").c_str(), 0755);
    ::mkdir(dir.path("lib/sub").c_str(), 0755);
    test::writeWav(dir.path("lib/a.wav"), test::music(22050, 8.0, 1), 22050, 1);
    test::writeFlac(dir.path("lib/b.flac"), test::music(22050, 8.0, 2), 1, 22050);
    test::writeWav(dir.path("lib/sub/c.wav"), test::music(22050, 8.0, 4), 22050, 1);
    test::writeBytes(dir.path("lib/sub/broken.mp3"), std::vector<uint8_t>(3000, 0x55));
    test::writeBytes(dir.path("lib/sub/notes.txt"), std::vector<uint8_t>(10, 'x'));
}

}  // namespace

TEST(VextoolRun, ResumeAfterAHalfGivesTheLinesOfOneRun) {
    test::TempDir dir;
    makeLibrary(dir);
    std::string err;
    int status = -1;
    const auto full = lines(vextoolRun({"--jobs", "2", dir.path("lib")}, &err, &status));
    EXPECT_EQ(status, 0) << err;
    // Files in path order, the three commands each, the text file left out.
    const std::vector<std::string> order = {"lib/a.wav", "lib/b.flac", "lib/sub/broken.mp3", "lib/sub/c.wav"};
    ASSERT_EQ(full.size(), 12u) << err;
    for (size_t i = 0; i < full.size(); ++i) {
        const std::string head = "{\"path\":\"" + dir.path(order[i / 3]) + "\",\"command\":\"" +
                                 std::vector<std::string>{"analyze", "fp", "validate"}[i % 3] + "\",\"outcome\":";
        EXPECT_EQ(full[i].rfind(head, 0), 0u) << full[i];
    }
    const std::pair<size_t, const char*> fields[] = {
        {0, "\"outcome\":\"ok\",\"status\":0,"}, {0, ",\"tempo\":"}, {1, "\"print\":{\"rows\":[["},
        {2, "\"decodedMs\":8000,\"preparedMs\":"}, {6, "\"outcome\":\"status\",\"status\":1,"},
        {7, "\"outcome\":\"status\",\"status\":233,"}};
    for (const auto& [line, field] : fields) EXPECT_NE(full[line].find(field), std::string::npos) << full[line];
    EXPECT_NE(err.find("10 ok, 2 status"), std::string::npos) << err;
    EXPECT_NE(err.find(dir.path("lib/sub/broken.mp3") + "  fp  exit status 233"), std::string::npos) << err;

    const std::string first = vextoolRun({"--commands", "fp,analyze", dir.path("lib/a.wav"), dir.path("lib/sub/c.wav")});
    test::writeBytes(dir.path("first.jsonl"), std::vector<uint8_t>(first.begin(), first.end()));
    auto both = lines(first);
    ASSERT_EQ(both.size(), 4u);
    const auto rest = lines(vextoolRun({"--jobs", "2", "--resume", dir.path("first.jsonl"), dir.path("lib")}, &err));
    EXPECT_EQ(rest.size(), 8u);
    EXPECT_NE(err.find("4 jobs skipped as done"), std::string::npos) << err;
    both.insert(both.end(), rest.begin(), rest.end());
    EXPECT_EQ(comparable(both), comparable(full));
}

// Ctrl-C while a worker hangs: the worker is killed, the finished lines are
// all there and whole, and the run says it was interrupted.
TEST(VextoolRun, InterruptKillsTheWorkersAndLeavesWholeLines) {
    test::TempDir dir;
    ::mkdir(dir.path("lib").c_str(), 0755);
    test::writeWav(dir.path("lib/a.wav"), test::music(22050, 4.0, 1), 22050, 1);
    ASSERT_EQ(::mkfifo(dir.path("lib/b.wav").c_str(), 0600), 0);  // nobody writes: the worker hangs
    const std::string vextool = test::builtProgram("vextool");
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(::open(dir.path("out.jsonl").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), 1);
        ::dup2(::open(dir.path("err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), 2);
        ::execl(vextool.c_str(), vextool.c_str(), "run", "--jobs", "1", "--commands", "validate,analyze",
                dir.path("lib/a.wav").c_str(), dir.path("lib/b.wav").c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ASSERT_GT(pid, 0);
    const auto lineCount = [&] {  // whole lines only
        const std::string text = readText(dir.path("out.jsonl"));
        return std::count(text.begin(), text.end(), '\n');
    };
    for (int i = 0; i < 3000 && lineCount() < 2; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_EQ(lineCount(), 2);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));  // the worker on the FIFO has started
    ::kill(pid, SIGINT);
    int status = 0;
    for (int i = 0; i < 1000 && ::waitpid(pid, &status, WNOHANG) == 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    if (::waitpid(pid, &status, WNOHANG) == 0) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, &status, 0);
        FAIL() << "vextool run did not stop";
    }
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 130);
    const auto out = lines(readText(dir.path("out.jsonl")));
    ASSERT_EQ(out.size(), 2u);
    for (const auto& l : out) EXPECT_TRUE(l.front() == '{' && l.back() == '}' && l.find("a.wav") != std::string::npos) << l;
    EXPECT_NE(readText(dir.path("err")).find("interrupted after 2 of 4 jobs"), std::string::npos);
    // The worker that waited on the FIFO is gone: a writer now finds no reader.
    EXPECT_EQ(::open(dir.path("lib/b.wav").c_str(), O_WRONLY | O_NONBLOCK), -1);
}

// The README's recipes for many machines, this one as the only host: the
// shared folder and the transferred files.
TEST(VextoolRun, ParallelRecipeGivesTheLinesOfOneRun) {
    if (!test::haveTool("parallel")) GTEST_SKIP() << "GNU parallel is not installed";
    test::TempDir dir;
    makeLibrary(dir);
    auto expected = comparable(lines(vextoolRun({"--commands", "validate,fp", dir.path("lib")})));
    for (auto& l : expected)
        for (size_t at; (at = l.find(dir.dir() + "/")) != std::string::npos;) l.replace(at, dir.dir().size() + 1, "./");
    const std::string files = "cd '" + dir.dir() + "' && find . -type f \\( -iname '*.mp3' -o -iname '*.ogg' "
                              "-o -iname '*.flac' -o -iname '*.fla' -o -iname '*.wav' -o -iname '*.wave' \\) | sort | ";
    const std::string vextool = "'" + test::builtProgram("vextool") + "' run --commands validate,fp";
    for (const std::string& recipe : {files + "parallel --sshlogin 1/: -N 2 " + vextool + " > shared.jsonl 2>/dev/null",
                                      files + "parallel --sshlogin 2/: --transferfile {} --cleanup " + vextool +
                                          " --jobs 1 {} > copied.jsonl 2>/dev/null"})
        ASSERT_EQ(std::system(recipe.c_str()), 0) << recipe;
    for (const char* out : {"shared.jsonl", "copied.jsonl"})
        EXPECT_EQ(comparable(lines(readText(dir.path(out)))), expected) << out;
}
