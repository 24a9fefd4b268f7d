#pragma once
#include <cstdint>

// Exit statuses of the worker's commands. The parent reads a record only
// after status 0; the print's codes run above 1000 so that the low 8 bits of
// an exit status still tell them apart (1001 exits as 233).
namespace status {

constexpr int32_t kOk = 0;

// analyze and validate
constexpr int32_t kAnalysisFailed = 1;  // no format, undecodable, silent or corrupt
constexpr int32_t kWriteFailed = 2;     // an exception while writing (validate: or decoding)
constexpr int32_t kOpenFailed = 3;      // the output file could not be opened

// fp
constexpr int32_t kPrintTooShort = 10;
constexpr int32_t kPrintFailed = 1001;
constexpr int32_t kPrintWriteFailed = 1002;
constexpr int32_t kPrintOpenFailed = 1003;

}  // namespace status
