#pragma once
#include <functional>
#include <vector>

// Two pieces of work that share nothing they write, run side by side on the
// machine's two cores. The results are the same bits either way; only the
// wall time differs.
//
// A batch runner that keeps every core busy with workers of its own sets
// VEXCORE_THREADS=1, and then everything runs on the calling thread.
bool secondThreadWanted();

// Runs `earlier` on a thread of its own and `later` on the calling one (or
// both in that order on the calling thread when a second thread is not
// wanted or cannot be had). Both always run to their end; then the
// exception `earlier` threw, if any, else the one `later` threw, propagates:
// the error an in-order run would have met first.
void runSideBySide(const std::function<void()>& earlier, const std::function<void()>& later,
                   bool allowThread = true);

// Independent tasks on two threads, each thread taking the next task no one
// has taken yet (or all of them in turn on the calling thread). `rank` gives
// each task's place in an in-order run: when tasks throw, the exception of
// the lowest-ranked one propagates once all have ended; a thread takes no
// more tasks after one of its own threw.
void runShared(const std::vector<std::function<void()>>& tasks, const std::vector<int>& rank,
               bool allowThread = true);
