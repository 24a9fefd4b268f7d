#pragma once
#include <cstdint>

// Loads, prepares and analyses the song at path and fills the 35 result slots.
// Returns false (slots unspecified) when the song cannot be analysed.
bool generateAnalysis(const char* path, int16_t* parameters);
