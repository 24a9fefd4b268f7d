#include "io/PrintRecord.h"

#include <utility>

#include "io/DataInput.h"
#include "io/DataOutput.h"

void PrintRecord::sortCounts() {
    // Fixed exchange order, so equal bytes never move.
    static constexpr int pairs[6][2] = {{0, 1}, {0, 2}, {0, 3}, {1, 2}, {1, 3}, {2, 3}};
    for (const auto& p : pairs)
        if (counts[p[1]] > counts[p[0]]) std::swap(counts[p[0]], counts[p[1]]);
}

void PrintRecord::fill(const double* fpMatrix, const int32_t* fpCounts) {
    for (int r = 0; r < kRows; ++r)
        for (int c = 0; c < kColumns; ++c)
            values[r][c] = static_cast<int16_t>(fpMatrix[kColumns * r + c] * 32767.0);
    for (int k = 0; k < kCounts; ++k) counts[k] = static_cast<uint8_t>(fpCounts[k] & 0xFF);
    sortCounts();
}

void PrintRecord::write(DataOutput& out) const {
    out.writeByte(1);
    for (const auto& row : values)
        for (int16_t v : row) out.writeShort(v);
    for (uint8_t c : counts) out.writeByte(c);
}

void PrintRecord::readFields(DataInput& in) {
    for (auto& row : values)
        for (int16_t& v : row) v = static_cast<int16_t>(in.readShort());
    for (uint8_t& c : counts) c = static_cast<uint8_t>(in.readByte());
}

PrintRecord* PrintRecord::read(DataInput& in) {
    if (in.readByte() != 1) in.setError("Unsupported version");
    auto* record = new PrintRecord;
    record->readFields(in);
    record->sortCounts();
    return record;
}

int PrintRecord::toBytes(uint8_t* buffer) const {
    if (buffer) {
        BufferDataOutput out;
        write(out);
        std::copy(out.bytes.begin(), out.bytes.end(), buffer);
    }
    return kRecordSize;
}

bool PrintRecord::fromBytes(const uint8_t* buffer, int length) {
    if (!buffer || length != kRecordSize || buffer[0] != 1) return false;
    BufferDataInput in(buffer + 1, length - 1);
    readFields(in);  // the stored order of the counts is kept
    return true;
}

void writeAnalysisRecord(DataOutput& out, const int16_t* parameters) {
    out.writeByte(1);
    for (int i = 0; i < 35; ++i) out.writeShort(parameters[i]);
}

void writeValidationRecord(DataOutput& out, int64_t decodedMs, int64_t preparedMs) {
    out.writeByte(1);
    out.writeLong(decodedMs);
    out.writeLong(preparedMs);
}
