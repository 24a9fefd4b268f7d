#include "client/JobResult.h"

#include <cstring>

namespace client {

const char* outcomeName(Outcome outcome) {
    switch (outcome) {
        case Outcome::kOk: return "ok";
        case Outcome::kExitStatus: return "status";
        case Outcome::kSignal: return "signal";
        case Outcome::kTimeout: return "timeout";
        case Outcome::kExecFailed: return "exec-failed";
        case Outcome::kBadRecord: return "bad-record";
        case Outcome::kCancelled: return "cancelled";
    }
    return "";
}

std::string JobResult::describe() const {
    switch (outcome) {
        case Outcome::kOk: return "ok";
        case Outcome::kExitStatus: return "exit status " + std::to_string(exitStatus);
        case Outcome::kSignal: {
            const char* name = strsignal(signal);
            return "killed by signal " + std::to_string(signal) + (name ? std::string(" (") + name + ")" : "");
        }
        case Outcome::kTimeout: return "timed out";
        case Outcome::kExecFailed: return "exec failed: " + error;
        case Outcome::kBadRecord: return "bad record: " + error;
        case Outcome::kCancelled: return "cancelled";
    }
    return "";
}

}  // namespace client
