#pragma once
#include <sys/mman.h>

#include <cstddef>
#include <cstdint>

// Asks for large pages for the 2 MiB-aligned interior of a big buffer before
// it is first touched: a whole song then costs a few hundred page faults
// instead of tens of thousands. Only a hint, ignored where unsupported.
inline void adviseLargePages(void* p, size_t bytes) {
    constexpr uintptr_t kLargePage = uintptr_t(2) << 20;
    const auto start = reinterpret_cast<uintptr_t>(p);
    const uintptr_t begin = (start + kLargePage - 1) & ~(kLargePage - 1);
    const uintptr_t end = (start + bytes) & ~(kLargePage - 1);
    if (end > begin) ::madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
}
