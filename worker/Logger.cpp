#include "worker/Logger.h"

#include <cstdio>
#include <ctime>

bool logEnabled = false;
const char* logFile = nullptr;

void logMessage(long when, const char* text) {
    if (!logFile || !*logFile) return;
    std::FILE* f = std::fopen(logFile, "at");
    if (!f) return;
    if (when == 0) {
        std::fprintf(f, "%s\n", text);
    } else {
        if (when < 0) when = static_cast<long>(std::time(nullptr));
        const std::time_t t = static_cast<std::time_t>(when);
        if (const char* stamp = std::ctime(&t))
            std::fprintf(f, "%s %s\n", stamp, text);  // ctime's text ends in a newline already
        else
            std::fprintf(f, "%ld\n %s\n", when, text);
    }
    std::fclose(f);
}
