#pragma once
#include <string>

#include "client/Results.h"

namespace client {

// How one run of the worker ended. Only kOk carries a record.
enum class Outcome {
    kOk,          // exit status 0 and a complete record of version 1
    kExitStatus,  // a normal exit with a non-zero status; the output is not read
    kSignal,      // ended by a signal; the output is not read
    kTimeout,     // still running at the time limit, killed
    kExecFailed,  // the worker could not be started (fork or execv failed)
    kBadRecord,   // status 0, but the record is missing, short or of another version
    kCancelled,   // stopped by the caller's stop flag, killed
};

// The word a JSON line or a summary uses: "ok", "status", "signal",
// "timeout", "exec-failed", "bad-record", "cancelled".
const char* outcomeName(Outcome outcome);

struct JobResult {
    Command command = Command::kAnalyze;
    Outcome outcome = Outcome::kExecFailed;
    int exitStatus = 0;  // kExitStatus: the low 8 bits of the command's status
    int signal = 0;      // kSignal
    std::string error;   // kExecFailed and kBadRecord: what went wrong
    double elapsedMs = 0;
    Record record;       // set on kOk only

    bool ok() const { return outcome == Outcome::kOk; }
    // One phrase for people: "ok", "exit status 233", "killed by signal 11
    // (Segmentation fault)", "timed out", "exec failed: No such file or directory", ...
    std::string describe() const;
};

}  // namespace client
