#pragma once
#include <cstdint>

// The analysis keeps a song's first ten minutes and trims silence below this level.
inline constexpr double kAnalysisLoadLimitMs = 600000.0;
inline constexpr double kAnalysisSilenceThreshold = 2.2;

// Loads, prepares and analyses the song at path and fills the 35 result slots.
// Returns false (slots unspecified) when the song cannot be analysed.
bool generateAnalysis(const char* path, int16_t* parameters);
