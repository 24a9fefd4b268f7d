#pragma once

// Process-wide stop requests. The worker never raises them; a host embedding
// the analysis can, to abandon it quickly.
extern bool gStopAnalysis;   // tested between pipeline steps and after the pipeline
extern bool gQuickShutdown;  // tested before every FFT

inline constexpr const char* kQuickShutdownMessage = "Aborting analysis to achieve quick shutdown.";
