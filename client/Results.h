#pragma once
#include <array>
#include <cstdint>
#include <string>
#include <variant>

#include "io/PrintRecord.h"

class DataInput;

namespace client {

// The worker's three commands, by the word its command line takes.
enum class Command { kAnalyze, kPrint, kValidate };

const char* commandWord(Command command);  // "analyze", "fp", "validate"
// False for any word other than the three.
bool parseCommand(const std::string& word, Command& command);

// The records as the parent reads them back. Each read takes the whole record
// from the stream and returns false, with the reason in `error`, when the
// stream ran short or the version byte is not 1.
struct Analysis {
    static constexpr int kSlots = 35;
    std::array<int16_t, kSlots> slots{};

    bool read(DataInput& in, std::string& error);
};

struct Print {
    PrintRecord record;

    bool read(DataInput& in, std::string& error);
};

struct Validation {
    int64_t decodedMs = 0;
    int64_t preparedMs = 0;

    // A song the library keeps: more than 9 ms decoded.
    bool valid() const { return decodedMs > 9; }
    bool read(DataInput& in, std::string& error);
};

using Record = std::variant<std::monostate, Analysis, Print, Validation>;

// Reads the record of `command` from `in` into `record`.
bool readRecord(Command command, DataInput& in, Record& record, std::string& error);

}  // namespace client
