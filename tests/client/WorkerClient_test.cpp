#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <thread>

#include "Signals.h"
#include "TestFiles.h"
#include "client/WorkerClient.h"

namespace {

using client::Command;
using client::JobResult;
using client::Outcome;
using client::WorkerClient;

std::string builtFolder() { return std::filesystem::path(test::builtProgram("vexcore")).parent_path().string(); }

// A stand-in worker: a shell script named vexcore in `folder`.
void writeWorker(const std::string& folder, const std::string& body) {
    const std::string path = folder + "/vexcore";
    std::ofstream(path) << "#!/bin/sh\n" << body << "\n";
    ::chmod(path.c_str(), 0755);
}

}  // namespace

// The outcomes of runs of the real worker, and the output file gone after
// every one of them.
TEST(WorkerClient, RunsTheWorkerByTheContract) {
    test::TempDir dir;
    test::writeWav(dir.path("song.wav"), test::music(22050, 12.0, 3), 22050, 1);
    test::writeBytes(dir.path("song.xyz"), std::vector<uint8_t>(100, 1));
    const WorkerClient worker(builtFolder(), dir.dir());
    EXPECT_EQ(worker.outputPath(7), dir.dir() + "/" + std::to_string(::getpid()) + "-7.tmp");

    // A stale file of the same name is removed first: the worker does not truncate.
    test::writeBytes(worker.outputPath(1), std::vector<uint8_t>(200, 9));
    const JobResult analysis = worker.run(Command::kAnalyze, dir.path("song.wav"), 1);
    ASSERT_EQ(analysis.outcome, Outcome::kOk) << analysis.describe();
    ASSERT_EQ(test::runVexcore({"analyze", dir.path("song.wav"), dir.path("direct")}), 0);
    const auto record = test::readBytes(dir.path("direct"));
    const auto& slots = std::get<client::Analysis>(analysis.record).slots;
    for (int i = 0; i < 35; ++i) EXPECT_EQ(slots[i], int16_t(record[1 + 2 * i] << 8 | record[2 + 2 * i])) << i;

    const JobResult validation = worker.run(Command::kValidate, dir.path("song.wav"), 2);
    ASSERT_EQ(validation.outcome, Outcome::kOk) << validation.describe();
    const auto& v = std::get<client::Validation>(validation.record);
    EXPECT_EQ(v.decodedMs, 12000);
    EXPECT_TRUE(v.valid());

    const JobResult print = worker.run(Command::kPrint, dir.path("song.wav"), 3);
    ASSERT_EQ(print.outcome, Outcome::kOk) << print.describe();
    ASSERT_EQ(test::runVexcore({"fp", dir.path("song.wav"), dir.path("direct.fp")}), 0);
    std::vector<uint8_t> reread(PrintRecord::kRecordSize);  // the record as read, written again
    std::get<client::Print>(print.record).record.toBytes(reread.data());
    EXPECT_EQ(reread, test::readBytes(dir.path("direct.fp")));

    const JobResult noFormat = worker.run(Command::kAnalyze, dir.path("song.xyz"), 4);
    EXPECT_EQ(noFormat.outcome, Outcome::kExitStatus);
    EXPECT_EQ(noFormat.exitStatus, 1);

    const JobResult noWorker = WorkerClient(dir.path("nowhere"), dir.dir()).run(Command::kAnalyze, dir.path("song.wav"), 5);
    EXPECT_EQ(noWorker.outcome, Outcome::kExecFailed);
    EXPECT_EQ(noWorker.describe(), "exec failed: No such file or directory");

    for (int job = 1; job <= 5; ++job) EXPECT_FALSE(test::fileExists(worker.outputPath(job))) << job;
}

// What reaches the worker, and records that end short or carry another version.
TEST(WorkerClient, ArgumentsAndBadRecords) {
    test::TempDir dir;
    const WorkerClient worker(dir.dir(), dir.dir());
    // It fails with status 7 when the output file was not removed before the run.
    writeWorker(dir.dir(), "[ -e \"$3\" ] && exit 7\nfor a in \"$0\" \"$@\"; do echo \"$a\"; done > " +
                               dir.path("args") + "\nprintf '\\001\\000\\000' > \"$3\"");
    test::writeBytes(worker.outputPath(4), std::vector<uint8_t>(17, 1));
    const JobResult shortRecord = worker.run(Command::kValidate, "a b.wav", 4);
    const auto args = test::readBytes(dir.path("args"));
    EXPECT_EQ(std::string(args.begin(), args.end()),
              dir.dir() + "/vexcore\nvalidate\na b.wav\n" + worker.outputPath(4) + "\n");
    EXPECT_EQ(shortRecord.describe(), "bad record: short validation record");

    writeWorker(dir.dir(), "printf '\\002' > \"$3\"; head -c 70 /dev/zero >> \"$3\"");
    EXPECT_EQ(worker.run(Command::kAnalyze, "a.wav").describe(), "bad record: analysis record of version 2");
    writeWorker(dir.dir(), "printf '\\002' > \"$3\"; head -c 564 /dev/zero >> \"$3\"");
    EXPECT_EQ(worker.run(Command::kPrint, "a.wav").describe(), "bad record: print record of a version other than 1");
    // A complete record is not read after a non-zero status.
    writeWorker(dir.dir(), "printf '\\001' > \"$3\"; head -c 16 /dev/zero >> \"$3\"; exit 3");
    const JobResult failed = worker.run(Command::kValidate, "a.wav");
    EXPECT_EQ(failed.describe(), "exit status 3");
    EXPECT_TRUE(std::holds_alternative<std::monostate>(failed.record));
    writeWorker(dir.dir(), "exit 0");
    EXPECT_EQ(worker.run(Command::kPrint, "a.wav").describe(), "bad record: no output file");
    // Killed by a signal after writing a complete record.
    writeWorker(dir.dir(), "printf '\\001' > \"$3\"; head -c 16 /dev/zero >> \"$3\"; kill -9 $$");
    const JobResult killed = worker.run(Command::kValidate, "a.wav");
    EXPECT_EQ(killed.outcome, Outcome::kSignal);
    EXPECT_EQ(killed.signal, SIGKILL);
    EXPECT_TRUE(std::holds_alternative<std::monostate>(killed.record));
    EXPECT_FALSE(test::fileExists(worker.outputPath(0)));
}

// A worker that never finishes is killed at the time limit, or when the
// caller's stop flag rises.
TEST(WorkerClient, TimeLimitAndStopFlagKillAHangingWorker) {
    test::TempDir dir;
    ASSERT_EQ(::mkfifo(dir.path("stuck.wav").c_str(), 0600), 0);
    WorkerClient worker(builtFolder(), dir.dir());
    worker.setTimeLimit(0.3);
    const JobResult late = worker.run(Command::kAnalyze, dir.path("stuck.wav"), 1);
    EXPECT_EQ(late.outcome, Outcome::kTimeout);
    EXPECT_GE(late.elapsedMs, 300.0);
    EXPECT_LT(late.elapsedMs, 5000.0);

    std::atomic<bool> stop{false};
    worker.setTimeLimit(0);
    worker.setStopFlag(&stop);
    std::thread raise([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        stop = true;
    });
    const JobResult cancelled = worker.run(Command::kValidate, dir.path("stuck.wav"), 2);
    raise.join();
    EXPECT_EQ(cancelled.outcome, Outcome::kCancelled);
    EXPECT_EQ(::waitpid(-1, nullptr, WNOHANG), -1);  // no worker left behind, running or unreaped
    for (int job : {1, 2}) EXPECT_FALSE(test::fileExists(worker.outputPath(job)));
}
