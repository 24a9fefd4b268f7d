#pragma once
#include <cstdint>

class DataInput;
class DataOutput;

// A fingerprint as stored: 7 rows of 40 int16 values, then 4 count bytes in
// descending order. Record layout: version byte 1, the 280 values
// big-endian row by row, the 4 count bytes (565 bytes in all).
class PrintRecord {
public:
    static constexpr int kRows = 7;
    static constexpr int kColumns = 40;
    static constexpr int kCounts = 4;
    static constexpr int kRecordSize = 1 + 2 * kRows * kColumns + kCounts;

    // fpMatrix: 280 values in [-1, 1], row by row; fpCounts: 4 semitone numbers.
    void fill(const double* fpMatrix, const int32_t* fpCounts);
    void write(DataOutput& out) const;
    // Reads a record; a version other than 1 fails the stream with
    // "Unsupported version" but the values are still read. Check in.failed().
    static PrintRecord* read(DataInput& in);
    // Writes the record into buffer when non-null; returns the size needed.
    int toBytes(uint8_t* buffer) const;
    bool fromBytes(const uint8_t* buffer, int length);

    int16_t values[kRows][kColumns] = {};
    uint8_t counts[kCounts] = {};

private:
    void readFields(DataInput& in);
    void sortCounts();
};

// The other two records: analysis (version 1, 35 int16) and validation
// (version 1, decoded and prepared durations as int64).
void writeAnalysisRecord(DataOutput& out, const int16_t* parameters);
void writeValidationRecord(DataOutput& out, int64_t decodedMs, int64_t preparedMs);
