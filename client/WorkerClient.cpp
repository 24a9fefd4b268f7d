#include "client/WorkerClient.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <thread>
#include <vector>

#include "io/DataInput.h"

namespace client {

namespace {

double nowMs() {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

int waitRetrying(int pid, int* status, int flags) {
    int r;
    do r = ::waitpid(pid, status, flags);
    while (r < 0 && errno == EINTR);
    return r;
}

// Only async-signal-safe calls between fork and execv: the parent may have
// other threads, whose locks the child inherits held.
[[noreturn]] void execChild(const char* path, char* const* argv, int devNull, int reportFd) {
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);  // a mask survives execv; the worker gets none
    struct sigaction dfl;
    std::memset(&dfl, 0, sizeof dfl);
    dfl.sa_handler = SIG_DFL;
    sigaction(SIGPIPE, &dfl, nullptr);  // so does an ignored signal
    // The worker reads nothing and prints nothing on a well-formed command
    // line; the parent's standard output may be a results file.
    if (devNull >= 0) {
        dup2(devNull, STDIN_FILENO);
        dup2(devNull, STDOUT_FILENO);
    }
    execv(path, argv);
    const int error = errno;
    if (reportFd >= 0) {
        ssize_t ignored = write(reportFd, &error, sizeof error);
        (void)ignored;
    }
    _exit(1);
}

}  // namespace

WorkerClient::WorkerClient(std::string installDir, std::string tempDir)
    : worker_(installDir + "/vexcore"), temp_(std::move(tempDir)) {}

std::string WorkerClient::outputPath(int job) const {
    std::vector<char> path(temp_.size() + 64);
    std::snprintf(path.data(), path.size(), "%s/%ld-%d.tmp", temp_.c_str(), static_cast<long>(::getpid()), job);
    return path.data();
}

bool WorkerClient::wait(int pid, double startMs, JobResult& result, int& waitStatus) const {
    if (timeLimit_ <= 0 && stop_ == nullptr) return waitRetrying(pid, &waitStatus, 0) == pid;
    // A worker runs for milliseconds to minutes: polling at up to 10 ms
    // costs nothing measurable and needs no signal handling of SIGCHLD.
    int pauseUs = 500;
    for (;;) {
        const int r = waitRetrying(pid, &waitStatus, WNOHANG);
        if (r != 0) return r == pid;
        Outcome killed = Outcome::kOk;
        if (stop_ != nullptr && stop_->load())
            killed = Outcome::kCancelled;
        else if (timeLimit_ > 0 && nowMs() - startMs >= timeLimit_ * 1000.0)
            killed = Outcome::kTimeout;
        if (killed != Outcome::kOk) {
            ::kill(pid, SIGKILL);
            waitRetrying(pid, &waitStatus, 0);
            result.outcome = killed;
            return true;
        }
        std::this_thread::sleep_for(std::chrono::microseconds(pauseUs));
        pauseUs = std::min(pauseUs * 2, 10000);
    }
}

JobResult WorkerClient::run(Command command, const std::string& audioPath, int job) const {
    JobResult result;
    result.command = command;
    const std::string out = outputPath(job);
    ::unlink(out.c_str());

    // Everything the child needs is made before the fork.
    std::string word = commandWord(command), audio = audioPath, output = out, worker = worker_;
    char* const argv[] = {worker.data(), word.data(), audio.data(), output.data(), nullptr};
    int report[2] = {-1, -1};
    if (::pipe2(report, O_CLOEXEC) != 0) report[0] = report[1] = -1;
    const int devNull = ::open("/dev/null", O_RDWR | O_CLOEXEC);

    const double start = nowMs();
    const pid_t pid = ::fork();
    if (pid == 0) execChild(worker.c_str(), argv, devNull, report[1]);
    const int forkError = errno;
    if (devNull >= 0) ::close(devNull);
    if (report[1] >= 0) ::close(report[1]);
    if (pid < 0) {
        if (report[0] >= 0) ::close(report[0]);
        result.error = std::string("fork: ") + std::strerror(forkError);
        return result;
    }

    // The report pipe closes on a successful execv and carries errno otherwise.
    int execError = 0;
    if (report[0] >= 0) {
        ssize_t n;
        do n = ::read(report[0], &execError, sizeof execError);
        while (n < 0 && errno == EINTR);
        if (n != static_cast<ssize_t>(sizeof execError)) execError = 0;
        ::close(report[0]);
    }

    int status = 0;
    const bool reaped = wait(pid, start, result, status);
    result.elapsedMs = nowMs() - start;
    if (result.outcome == Outcome::kTimeout || result.outcome == Outcome::kCancelled) {
        // killed: nothing to read
    } else if (execError != 0) {
        result.error = std::strerror(execError);
    } else if (!reaped) {
        result.error = std::string("waitpid: ") + std::strerror(errno);
    } else if (WIFSIGNALED(status)) {
        result.outcome = Outcome::kSignal;
        result.signal = WTERMSIG(status);
    } else if (WIFEXITED(status) && WEXITSTATUS(status) != 0) {
        result.outcome = Outcome::kExitStatus;
        result.exitStatus = WEXITSTATUS(status);
    } else if (WIFEXITED(status)) {
        FileDataInput in;
        if (!in.open(out.c_str()))
            result.error = "no output file";
        else if (readRecord(command, in, result.record, result.error))
            result.outcome = Outcome::kOk;
        if (!result.ok()) result.outcome = Outcome::kBadRecord;
    }
    ::unlink(out.c_str());
    return result;
}

}  // namespace client
