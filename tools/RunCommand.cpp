#include "tools/RunCommand.h"

#include <csignal>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include "analysis/SlotTable.h"
#include "audio/FileFormat.h"
#include "client/WorkerClient.h"
#include "tools/Json.h"

namespace fs = std::filesystem;

namespace {

using client::Command;
using client::JobResult;
using client::Outcome;

// Raised by SIGINT, SIGTERM and SIGHUP; the clients poll it and kill their workers.
std::atomic<bool> gStop{false};
static_assert(std::atomic<bool>::is_always_lock_free, "set from a signal handler");

extern "C" void onStopSignal(int sig) {
    gStop.store(true);
    // A second signal of the same kind ends the run at once.
    struct sigaction dfl;
    std::memset(&dfl, 0, sizeof dfl);
    dfl.sa_handler = SIG_DFL;
    sigaction(sig, &dfl, nullptr);
}

struct RunOptions {
    int jobs = 0;
    // Far beyond any song's analysis (the analysis reads at most 10 minutes of
    // audio), so only a worker that hangs reaches it.
    double timeout = 600;
    std::vector<Command> commands{Command::kAnalyze, Command::kPrint, Command::kValidate};
    std::string resume;
    std::vector<std::string> paths;
};

bool parsePositive(const char* text, double& value) {
    char* end = nullptr;
    value = std::strtod(text, &end);
    return end && !*end && end != text && std::isfinite(value) && value >= 0;
}

bool parseCommands(const std::string& list, std::vector<Command>& commands) {
    commands.clear();
    size_t from = 0;
    while (from <= list.size()) {
        const size_t comma = std::min(list.find(',', from), list.size());
        Command c;
        if (!client::parseCommand(list.substr(from, comma - from), c)) return false;
        if (std::find(commands.begin(), commands.end(), c) != commands.end()) return false;
        commands.push_back(c);
        from = comma + 1;
    }
    return !commands.empty();
}

// 0: run; 1: --help printed; 2: bad command line (message printed).
int parseRunOptions(int argc, char** argv, RunOptions& o) {
    const auto bad = [](const std::string& message) {
        std::fprintf(stderr, "vextool run: %s (see vextool run --help)\n", message.c_str());
        return 2;
    };
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--help" || a == "-h") {
            printRunUsage(stdout);
            return 1;
        }
        if (a == "--") {
            for (++i; i < argc; ++i) o.paths.push_back(argv[i]);
            break;
        }
        if (a.rfind("--", 0) != 0) {
            o.paths.push_back(a);
            continue;
        }
        if (i + 1 >= argc) return bad(a + " needs a value");
        const char* v = argv[++i];
        double number = 0;
        if (a == "--jobs") {
            if (!parsePositive(v, number) || number < 1 || number > 256 || number != std::floor(number))
                return bad("--jobs takes a whole number from 1 to 256");
            o.jobs = static_cast<int>(number);
        } else if (a == "--timeout") {
            if (!parsePositive(v, number)) return bad("--timeout takes seconds, 0 or more");
            o.timeout = number;
        } else if (a == "--commands") {
            if (!parseCommands(v, o.commands)) return bad("--commands takes a list of analyze, fp and validate");
        } else if (a == "--resume") {
            o.resume = v;
        } else {
            return bad("unknown option " + a);
        }
    }
    if (o.paths.empty()) return bad("no PATH given");
    if (o.jobs == 0) o.jobs = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
    return 0;
}

bool readable(const fs::path& p) {
    const std::string s = p.string();
    return findFormat(s.c_str(), s.size()) != nullptr;
}

// Named files as they are (any kind but a folder); folders walked for the extensions the registry
// knows, each folder's files in byte order of their paths.
bool collectFiles(const std::vector<std::string>& paths, std::vector<std::string>& files) {
    std::set<std::string> seen;
    const auto add = [&](const std::string& f) {
        if (seen.insert(f).second) files.push_back(f);
    };
    for (const std::string& p : paths) {
        std::error_code ec;
        const fs::file_status st = fs::status(p, ec);
        if (fs::exists(st) && !fs::is_directory(st)) {
            add(p);
            continue;
        }
        if (!fs::exists(st)) {
            std::fprintf(stderr, "vextool run: %s: no such file or folder\n", p.c_str());
            return false;
        }
        std::vector<std::string> found;
        fs::recursive_directory_iterator it(p, fs::directory_options::skip_permission_denied, ec), end;
        for (; !ec && it != end; it.increment(ec))
            if (it->is_regular_file(ec) && readable(it->path())) found.push_back(it->path().string());
        if (ec) std::fprintf(stderr, "vextool run: %s: %s (walk stopped there)\n", p.c_str(), ec.message().c_str());
        std::sort(found.begin(), found.end());
        for (const auto& f : found) add(f);
    }
    return true;
}

std::string resumeKey(const std::string& path, const std::string& command) { return path + '\0' + command; }

// Every job a previous run wrote a line for, whatever its outcome. A line
// cut short by a killed run is not a job done.
bool readResume(const std::string& file, std::set<std::string>& done) {
    std::ifstream in(file);
    if (!in) {
        std::fprintf(stderr, "vextool run: cannot read %s\n", file.c_str());
        return false;
    }
    std::string line;
    int unreadable = 0;
    while (std::getline(in, line)) {
        json::Value v;
        const json::Value *path, *command;
        if (json::parse(line, v) && (path = v.get("path")) && (command = v.get("command")) && path->isString() &&
            command->isString())
            done.insert(resumeKey(path->text, command->text));
        else if (!line.empty())
            ++unreadable;
    }
    if (unreadable)
        std::fprintf(stderr, "vextool run: %s: %d lines that are not job lines ignored\n", file.c_str(), unreadable);
    return true;
}

std::string installFolder() {
    std::error_code ec;
    const fs::path self = fs::read_symlink("/proc/self/exe", ec);
    return ec ? std::string(".") : self.parent_path().string();
}

std::string tempFolder() {
    const char* t = std::getenv("TMPDIR");
    return t && *t ? t : "/tmp";
}

struct Job {
    size_t file;
    Command command;
};

// What the worker threads share; the mutex guards all but the counters.
struct RunState {
    std::mutex mutex;
    std::condition_variable changed;
    std::atomic<size_t> next{0};
    std::map<size_t, std::string> pending;  // lines finished ahead of the output order
    size_t nextLine = 0;
    size_t jobsDone = 0;
    size_t filesDone = 0;
    int running = 0;
    bool writeFailed = false;
    std::vector<int> commandsLeft;  // per file
    std::map<std::string, int> counts;
    std::vector<std::string> failures;
};

bool writeLine(const std::string& line) {
    return std::fwrite(line.data(), 1, line.size(), stdout) == line.size() && std::fflush(stdout) == 0;
}

// The worker killed by the signal that is interrupting the run did not fail:
// its job is left for --resume.
bool interruptedBy(const JobResult& r) {
    return r.outcome == Outcome::kCancelled ||
           (r.outcome == Outcome::kSignal && (r.signal == SIGINT || r.signal == SIGTERM || r.signal == SIGHUP));
}

void workLoop(const client::WorkerClient& worker, const std::vector<Job>& jobs,
              const std::vector<std::string>& files, RunState& s) {
    for (;;) {
        if (gStop.load()) break;
        const size_t i = s.next.fetch_add(1);
        if (i >= jobs.size()) break;
        const Job& job = jobs[i];
        const JobResult r = worker.run(job.command, files[job.file], static_cast<int>(i));
        std::lock_guard<std::mutex> lock(s.mutex);
        if (interruptedBy(r)) {
            gStop.store(true);
            break;
        }
        s.pending.emplace(i, jobLine(files[job.file], r) + "\n");
        for (auto it = s.pending.begin(); it != s.pending.end() && it->first == s.nextLine; it = s.pending.erase(it)) {
            if (!s.writeFailed && !writeLine(it->second)) {
                s.writeFailed = true;
                gStop.store(true);
            }
            ++s.nextLine;
        }
        ++s.jobsDone;
        if (--s.commandsLeft[job.file] == 0) ++s.filesDone;
        ++s.counts[client::outcomeName(r.outcome)];
        if (!r.ok()) s.failures.push_back(files[job.file] + "  " + client::commandWord(r.command) + "  " + r.describe());
        s.changed.notify_all();
    }
    std::lock_guard<std::mutex> lock(s.mutex);
    --s.running;
    s.changed.notify_all();
}

std::string clock(double seconds) {
    const long s = std::lround(seconds);
    char buf[32];
    if (s >= 3600)
        std::snprintf(buf, sizeof buf, "%ld:%02ld:%02ld", s / 3600, s / 60 % 60, s % 60);
    else
        std::snprintf(buf, sizeof buf, "%ld:%02ld", s / 60, s % 60);
    return buf;
}

void drawProgress(size_t done, size_t total, double seconds) {
    constexpr int kWidth = 30;
    const double share = total ? double(done) / double(total) : 1.0;
    const int filled = static_cast<int>(share * kWidth);
    std::string bar(static_cast<size_t>(filled), '=');
    if (filled < kWidth) bar += '>' + std::string(static_cast<size_t>(kWidth - filled - 1), ' ');
    const double rate = seconds > 0 ? double(done) / seconds : 0;
    const std::string left = rate > 0 ? clock(double(total - done) / rate) + " left" : "--:-- left";
    std::fprintf(stderr, "\r\033[K[%s] %zu/%zu files  %.2f files/s  %s", bar.c_str(), done, total, rate, left.c_str());
    std::fflush(stderr);
}

}  // namespace

void printRunUsage(std::FILE* to) {
    std::fprintf(to,
                 "usage: vextool run [--jobs N] [--timeout S] [--commands analyze,fp,validate] [--resume FILE] PATH...\n"
                 "\n"
                 "Runs vexcore (from vextool's own folder) on every audio file under the PATHs: named\n"
                 "files as given, folders recursively for .ogg, .flac, .fla, .mp3, .wav and .wave, in\n"
                 "byte order of the paths. Writes one JSON line per file and command to standard output,\n"
                 "in that order: path, command, outcome (ok, status, signal, timeout, exec-failed,\n"
                 "bad-record), status (the exit status, null when the worker did not exit), ms (elapsed),\n"
                 "then the record: \"slots\" by name (analyze), \"print\" with its 7 rows and 4 semitones\n"
                 "(fp), \"decodedMs\", \"preparedMs\" and \"valid\" (validate). Output files go to $TMPDIR\n"
                 "(default /tmp) and are removed after every job.\n"
                 "\n"
                 "  --jobs N        worker processes at once, 1 to 256 (default: the number of cores);\n"
                 "                  with more than one, each worker analyses on one thread\n"
                 "  --timeout S     kill a worker after S seconds and report \"timeout\" (default 600; 0: no limit)\n"
                 "  --commands L    comma-separated commands to run on each file (default analyze,fp,validate)\n"
                 "  --resume FILE   skip every file and command that FILE, the output of an earlier run\n"
                 "                  with the same PATHs, already has a line for; write the rest\n"
                 "  --help          this text\n"
                 "\n"
                 "A progress bar goes to standard error when it is a terminal, and a summary at the end:\n"
                 "counts by outcome and the jobs that failed. Ctrl-C (or SIGTERM, SIGHUP) kills the\n"
                 "workers, writes the lines of every finished job and exits with status 130; the output\n"
                 "is then a complete JSON-lines file to give to --resume. Exit status 0 when every job\n"
                 "ran (whatever the outcomes), 1 when a PATH or the resume file cannot be read or the\n"
                 "output cannot be written, 2 for a bad command line.\n");
}

std::string jobLine(const std::string& path, const JobResult& r) {
    const bool exited = r.outcome == Outcome::kOk || r.outcome == Outcome::kExitStatus || r.outcome == Outcome::kBadRecord;
    std::string line = "{\"path\":" + json::quote(path) + ",\"command\":\"" + client::commandWord(r.command) +
                       "\",\"outcome\":\"" + client::outcomeName(r.outcome) +
                       "\",\"status\":" + (exited ? std::to_string(r.exitStatus) : "null") +
                       ",\"ms\":" + std::to_string(std::lround(r.elapsedMs));
    if (r.outcome == Outcome::kSignal) line += ",\"signal\":" + std::to_string(r.signal);
    if (!r.error.empty()) line += ",\"error\":" + json::quote(r.error);
    if (const auto* a = std::get_if<client::Analysis>(&r.record)) {
        line += ",\"slots\":{";
        for (int i = 0; i < kSlotCount; ++i)
            line += (i ? "," : "") + json::quote(kSlotTable[i].name) + ":" + std::to_string(a->slots[i]);
        line += "}";
    } else if (const auto* p = std::get_if<client::Print>(&r.record)) {
        line += ",\"print\":{\"rows\":[";
        for (int row = 0; row < PrintRecord::kRows; ++row) {
            line += row ? ",[" : "[";
            for (int c = 0; c < PrintRecord::kColumns; ++c)
                line += (c ? "," : "") + std::to_string(p->record.values[row][c]);
            line += "]";
        }
        line += "],\"semitones\":[";
        for (int k = 0; k < PrintRecord::kCounts; ++k) line += (k ? "," : "") + std::to_string(p->record.counts[k]);
        line += "]}";
    } else if (const auto* v = std::get_if<client::Validation>(&r.record)) {
        line += ",\"decodedMs\":" + std::to_string(v->decodedMs) + ",\"preparedMs\":" + std::to_string(v->preparedMs) +
                ",\"valid\":" + (v->valid() ? "true" : "false");
    }
    return line + "}";
}

int runCommand(int argc, char** argv) {
    RunOptions o;
    if (const int parsed = parseRunOptions(argc, argv, o)) return parsed == 1 ? 0 : parsed;
    std::vector<std::string> files;
    if (!collectFiles(o.paths, files)) return 1;
    std::set<std::string> done;
    if (!o.resume.empty() && !readResume(o.resume, done)) return 1;

    RunState s;
    s.commandsLeft.assign(files.size(), 0);
    std::vector<Job> jobs;
    for (size_t f = 0; f < files.size(); ++f)
        for (Command c : o.commands)
            if (!done.count(resumeKey(files[f], client::commandWord(c)))) {
                jobs.push_back({f, c});
                ++s.commandsLeft[f];
            }
    const size_t totalFiles = static_cast<size_t>(std::count_if(
        s.commandsLeft.begin(), s.commandsLeft.end(), [](int n) { return n > 0; }));

    client::WorkerClient worker(installFolder(), tempFolder());
    worker.setTimeLimit(o.timeout);
    worker.setStopFlag(&gStop);
    if (::access(worker.workerPath().c_str(), X_OK) != 0)
        std::fprintf(stderr, "vextool run: warning: %s is not an executable\n", worker.workerPath().c_str());

    struct sigaction stop;
    std::memset(&stop, 0, sizeof stop);
    stop.sa_handler = onStopSignal;
    sigemptyset(&stop.sa_mask);
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) sigaction(sig, &stop, nullptr);
    std::signal(SIGPIPE, SIG_IGN);  // a closed output is a write error, seen at the next line

    const bool progress = ::isatty(STDERR_FILENO) == 1;
    const auto start = std::chrono::steady_clock::now();
    const auto seconds = [&] {
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    };
    const int threads = static_cast<int>(std::min<size_t>(static_cast<size_t>(o.jobs), std::max<size_t>(jobs.size(), 1)));
    // Several workers at once fill the cores themselves: each analyses on one
    // thread (unless the caller chose otherwise).
    if (threads > 1) ::setenv("VEXCORE_THREADS", "1", 0);
    s.running = threads;
    std::vector<std::thread> pool;
    for (int t = 0; t < threads; ++t) pool.emplace_back(workLoop, std::cref(worker), std::cref(jobs), std::cref(files), std::ref(s));
    {
        std::unique_lock<std::mutex> lock(s.mutex);
        while (s.running > 0) {
            if (progress) drawProgress(s.filesDone, totalFiles, seconds());
            s.changed.wait_for(lock, std::chrono::milliseconds(250));
        }
    }
    for (auto& t : pool) t.join();
    // After an interruption the lines finished out of order are still whole jobs.
    for (const auto& [index, line] : s.pending)
        if (!s.writeFailed && !writeLine(line)) s.writeFailed = true;
    if (progress) std::fprintf(stderr, "\r\033[K");

    const double elapsed = seconds();
    std::fprintf(stderr, "vextool run: %zu of %zu files, %zu jobs in %.1f s (%.2f files/s)", s.filesDone, totalFiles,
                 s.jobsDone, elapsed, elapsed > 0 ? double(s.filesDone) / elapsed : 0.0);
    const size_t skipped = files.size() * o.commands.size() - jobs.size();
    if (!o.resume.empty()) std::fprintf(stderr, ", %zu jobs skipped as done in %s", skipped, o.resume.c_str());
    const char* separator = ": ";
    for (const auto& [outcome, n] : s.counts) {
        std::fprintf(stderr, "%s%d %s", separator, n, outcome.c_str());
        separator = ", ";
    }
    std::fprintf(stderr, "\n");
    if (!s.failures.empty()) {
        std::fprintf(stderr, "failed:\n");
        for (const auto& f : s.failures) std::fprintf(stderr, "  %s\n", f.c_str());
    }
    if (s.writeFailed) {
        std::fprintf(stderr, "vextool run: cannot write the output\n");
        return 1;
    }
    if (gStop.load()) {
        std::fprintf(stderr, "vextool run: interrupted after %zu of %zu jobs; rerun with --resume to finish\n",
                     s.jobsDone, jobs.size());
        return 130;
    }
    return 0;
}
