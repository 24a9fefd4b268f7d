#pragma once
#include <cstdio>

#include "io/PrintRecord.h"

// Prints of the same recording in different codecs and bit rates score at or
// above this, prints of different songs below it. Measured on 27 real songs
// in 7 to 10 codecs and bit rates each: the same song never scored below
// 0.9886, two different songs never above 0.8582. The threshold sits at the
// middle of that gap on the scale of 1 - similarity, nearer the same-song
// side because different songs spread far wider (see the README).
constexpr double kSameSongThreshold = 0.96;

// A print with its rows scaled to unit length, ready for many comparisons.
class UnitPrint {
public:
    explicit UnitPrint(const PrintRecord& record);

    // ||A B^T||_F^2 / 7 for the two 7 x 40 row matrices: the mean squared
    // cosine of the principal angles between the subspaces the prints span.
    // 1 for the same subspace, 0 for orthogonal ones. The stored rows are
    // orthonormal only to within their 16-bit rounding, so the value is
    // clamped to [0, 1].
    double similarity(const UnitPrint& other) const;

private:
    static constexpr int kColumns = PrintRecord::kColumns;
    static constexpr int kLanes = 8;
    static constexpr int kPairs = kColumns * (kColumns + 1) / 2;
    static constexpr int kLength = (kPairs + kLanes - 1) / kLanes * kLanes;

    // ||A B^T||_F^2 = <A^T A, B^T B>: the upper triangle of A^T A (the
    // entries off the diagonal times sqrt 2), a third of the products per
    // comparison.
    alignas(32) float projection_[kLength] = {};
};

// How many of the four semitones the two prints share (as multisets).
int sharedSemitones(const PrintRecord& a, const PrintRecord& b);

// `vextool compare A B [--threshold X]` and `vextool dupes FILE.jsonl
// [--threshold X]`; argv[0] is the subcommand.
int compareCommand(int argc, char** argv);
int dupesCommand(int argc, char** argv);
void printCompareUsage(std::FILE* to);
void printDupesUsage(std::FILE* to);
