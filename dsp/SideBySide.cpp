#include "dsp/SideBySide.h"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <system_error>
#include <thread>

bool secondThreadWanted() {
    const char* threads = std::getenv("VEXCORE_THREADS");
    if (threads != nullptr && std::strcmp(threads, "1") == 0) return false;
    // Asked once: the answer comes from a system file.
    static const bool twoCores = std::thread::hardware_concurrency() >= 2;
    return twoCores;
}

void runSideBySide(const std::function<void()>& earlier, const std::function<void()>& later, bool allowThread) {
    if (!allowThread || !secondThreadWanted()) {
        earlier();
        later();
        return;
    }
    std::exception_ptr earlierError;
    std::thread side;
    try {
        side = std::thread([&] {
            try {
                earlier();
            } catch (...) {
                earlierError = std::current_exception();
            }
        });
    } catch (const std::system_error&) {
        earlier();
        later();
        return;
    }
    std::exception_ptr laterError;
    try {
        later();
    } catch (...) {
        laterError = std::current_exception();
    }
    side.join();
    if (earlierError) std::rethrow_exception(earlierError);
    if (laterError) std::rethrow_exception(laterError);
}

void runShared(const std::vector<std::function<void()>>& tasks, const std::vector<int>& rank, bool allowThread) {
    std::atomic<size_t> next{0};
    std::vector<std::exception_ptr> errors(tasks.size());
    auto worker = [&] {
        for (size_t i; (i = next.fetch_add(1)) < tasks.size();) {
            try {
                tasks[i]();
            } catch (...) {
                errors[i] = std::current_exception();
                return;
            }
        }
    };
    if (allowThread && tasks.size() > 1) runSideBySide(worker, worker);
    else worker();
    size_t first = tasks.size();
    for (size_t i = 0; i < tasks.size(); ++i)
        if (errors[i] && (first == tasks.size() || rank[i] < rank[first])) first = i;
    if (first < tasks.size()) std::rethrow_exception(errors[first]);
}
