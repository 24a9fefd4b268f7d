#include "dsp/SideBySide.h"

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>

// Of the tasks that throw, the one an in-order run meets first decides the
// exception, whichever thread met it and whenever.
TEST(SideBySide, SharedTasksRunOnceAndTheFirstInOrderErrorWins) {
    for (bool twoThreads : {false, true}) {
        std::atomic<int> runs[8] = {};
        std::vector<std::function<void()>> tasks;
        std::vector<int> rank;
        for (int i = 0; i < 8; ++i) {
            tasks.push_back([&runs, i] { ++runs[i]; });
            rank.push_back(7 - i);  // listed last-in-order first
        }
        runShared(tasks, rank, twoThreads);
        for (int i = 0; i < 8; ++i) EXPECT_EQ(runs[i].load(), 1) << i;

        tasks[2] = [] { throw std::runtime_error("rank 5"); };
        tasks[6] = [] { throw std::runtime_error("rank 1"); };
        try {
            runShared(tasks, rank, twoThreads);
            ADD_FAILURE() << "nothing thrown";
        } catch (const std::runtime_error& e) {
            // One thread alone stops at its first error, the rank-5 task.
            EXPECT_EQ(std::string(e.what()), twoThreads ? "rank 1" : "rank 5");
        }
    }
}
