#pragma once
#include <atomic>
#include <string>

#include "client/JobResult.h"

namespace client {

// Runs the worker once per job the way a library application does: a fresh
// output file "<temp>/<pid>-<job>.tmp", the worker "<install>/vexcore" with
// exactly three arguments, fork and execv, a wait, the record read back only
// after a normal exit with status 0, and the output file removed whatever
// happened. Beyond that, an optional time limit and stop flag kill a worker
// that has not finished, so that one damaged file cannot stall a batch.
//
// One client may run jobs from several threads at once as long as each
// concurrent job has its own number.
class WorkerClient {
public:
    WorkerClient(std::string installDir, std::string tempDir);

    // Seconds a worker may run before it is killed; 0 (the default) waits
    // for ever with a blocking wait.
    void setTimeLimit(double seconds) { timeLimit_ = seconds; }
    // When *stop turns true, running workers are killed and report kCancelled.
    void setStopFlag(const std::atomic<bool>* stop) { stop_ = stop; }

    const std::string& workerPath() const { return worker_; }
    std::string outputPath(int job) const;

    JobResult run(Command command, const std::string& audioPath, int job = 0) const;

private:
    // Waits for the child; fills the outcome of a kill or the raw wait status.
    bool wait(int pid, double startMs, JobResult& result, int& waitStatus) const;

    std::string worker_;
    std::string temp_;
    double timeLimit_ = 0;
    const std::atomic<bool>* stop_ = nullptr;
};

}  // namespace client
