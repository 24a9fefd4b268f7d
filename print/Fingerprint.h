#pragma once
#include <cstdint>

class SignalObj;
class SongObj;

// Computes the print of the audio file at path (its first 135 s). Returns 0
// on success, with fpMatrix = 280 doubles (7 rows of 40) and fpCounts = 4
// ints, both new[]-ed for the caller to delete[]; 10 for a song too short;
// 1001 when no format accepts the file or it cannot be decoded. On a non-zero
// status neither array is touched. QuorbixError from the preparation
// ("Signal has silence only", "Signal is corrupt") passes to the caller.
int generatePrint(const char* path, double*& fpMatrix, int32_t*& fpCounts);

// The print of a loaded song: prepares it (mono, 44100 Hz) and fills both
// arrays as generatePrint does. Returns 0 or 10.
int computePrint(SongObj& song, double*& fpMatrix, int32_t*& fpCounts);

// The four most prominent semitones (0 = 27.5 Hz) of the long-lived tonal
// components of a prepared 44100 Hz signal, best first, 0 where none;
// fpCounts becomes a new[]-ed array of 4.
void computeDominantNotes(SignalObj& signal, int32_t*& fpCounts);
