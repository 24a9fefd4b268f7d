// The record reader on arbitrary bytes, from a file as the parent and
// `vextool dump` read records: FileDataInput with the analysis, print and
// validation record by the file's size, then every record kind and the
// strings regardless of size (reads past the end must only fail the stream),
// and PrintRecord's byte form.
#include <cstddef>
#include <cstdint>
#include <memory>

#include "fuzz/FuzzFile.h"
#include "io/DataInput.h"
#include "io/PrintRecord.h"

namespace {

const FuzzFile kFile(".rec");

void readAnalysis(DataInput& in) {
    in.checkVersion("analysis record", in.readByte(), 1);
    for (int i = 0; i < 35; ++i) {
        const int v = in.readShort();
        if (v < -32768 || v > 32767) __builtin_trap();
    }
}

void readValidation(DataInput& in) {
    in.checkVersion("validation record", in.readByte(), 1);
    in.readLong();
    in.readLong();
}

void readPrint(DataInput& in) {
    std::unique_ptr<PrintRecord> record(PrintRecord::read(in));
    for (int k = 1; k < PrintRecord::kCounts; ++k)
        if (record->counts[k - 1] < record->counts[k]) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (!kFile.write(data, size)) return 0;
    {
        FileDataInput in;
        if (!in.open(kFile.path())) return 0;
        if (size == 71) readAnalysis(in);
        else if (size == size_t(PrintRecord::kRecordSize)) readPrint(in);
        else if (size == 17) readValidation(in);
        // A record read whole from a file of its size never runs short.
        if ((size == 71 || size == 17 || size == size_t(PrintRecord::kRecordSize)) && in.failed() &&
            in.errorMessage() == "Too few bytes")
            __builtin_trap();
    }
    {
        FileDataInput in;
        if (!in.open(kFile.path())) return 0;
        readAnalysis(in);
        readPrint(in);
        readValidation(in);
        delete[] in.readUTF();
        delete[] in.readUTFWide();
        in.readDouble();
        in.readInt();
        in.readBoolean();
        if (size < 71 + 17 + size_t(PrintRecord::kRecordSize) && !in.failed()) __builtin_trap();
    }
    PrintRecord record;
    if (record.fromBytes(data, int(size)) != (size == size_t(PrintRecord::kRecordSize) && data[0] == 1)) __builtin_trap();
    return 0;
}
