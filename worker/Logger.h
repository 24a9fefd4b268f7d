#pragma once

// Process-wide logging switch and file. The worker sets neither, so a worker
// run logs nothing; a host embedding the commands may set both.
extern bool logEnabled;
extern const char* logFile;

// Appends one line to logFile (opened and closed per message so each line is
// on disk when the call returns). when: 0 no time stamp, < 0 now, > 0 that time.
void logMessage(long when, const char* text);
