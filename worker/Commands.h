#pragma once
#include <cstdint>

// The worker's three commands. Each returns a status code; the process exit
// status is its low 8 bits. Status 0 means a complete record was written.
int32_t doAnalyze(const char* audioPath, const char* outPath);
int32_t doPrint(const char* audioPath, const char* outPath);
int32_t doValidate(const char* audioPath, const char* outPath);

// Registers the formats and dispatches on argv[1]; anything that is not
// exactly one of the three commands with two paths prints the banner.
int vexMain(int argc, char** argv);
