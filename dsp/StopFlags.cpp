#include "dsp/StopFlags.h"

bool gStopAnalysis = false;
bool gQuickShutdown = false;
