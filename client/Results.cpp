#include "client/Results.h"

#include <memory>

#include "io/DataInput.h"

namespace client {

const char* commandWord(Command command) {
    switch (command) {
        case Command::kAnalyze: return "analyze";
        case Command::kPrint: return "fp";
        case Command::kValidate: return "validate";
    }
    return "";
}

bool parseCommand(const std::string& word, Command& command) {
    for (Command c : {Command::kAnalyze, Command::kPrint, Command::kValidate})
        if (word == commandWord(c)) {
            command = c;
            return true;
        }
    return false;
}

namespace {

// A short read is what a stream failure means first; a version byte other
// than 1 comes next (the print reader reports it on the stream itself).
bool finish(DataInput& in, const char* record, int version, std::string& error) {
    if (in.failed() && in.errorMessage() == "Unsupported version")
        error = std::string(record) + " record of a version other than 1";
    else if (in.failed())
        error = std::string("short ") + record + " record";
    else if (version != 1)
        error = std::string(record) + " record of version " + std::to_string(version);
    return error.empty();
}

}  // namespace

bool Analysis::read(DataInput& in, std::string& error) {
    const int version = in.readByte();
    for (int16_t& v : slots) v = static_cast<int16_t>(in.readShort());
    return finish(in, "analysis", version, error);
}

bool Print::read(DataInput& in, std::string& error) {
    const std::unique_ptr<PrintRecord> read(PrintRecord::read(in));
    record = *read;
    return finish(in, "print", 1, error);
}

bool Validation::read(DataInput& in, std::string& error) {
    const int version = in.readByte();
    decodedMs = in.readLong();
    preparedMs = in.readLong();
    return finish(in, "validation", version, error);
}

bool readRecord(Command command, DataInput& in, Record& record, std::string& error) {
    bool ok = false;
    switch (command) {
        case Command::kAnalyze: ok = record.emplace<Analysis>().read(in, error); break;
        case Command::kPrint: ok = record.emplace<Print>().read(in, error); break;
        case Command::kValidate: ok = record.emplace<Validation>().read(in, error); break;
    }
    if (!ok) record = std::monostate{};
    return ok;
}

}  // namespace client
