#pragma once
#include <cstdint>

// Computes the print of the audio file at path. Returns 0 on success, with
// fpMatrix = 280 doubles (7 rows of 40) and fpCounts = 4 ints, both new[]-ed
// for the caller to delete[]; 10 for a song too short; 1001 when the file
// cannot be decoded.
int generatePrint(const char* path, double*& fpMatrix, int32_t*& fpCounts);
