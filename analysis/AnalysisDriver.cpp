#include "analysis/AnalysisDriver.h"

#include <cstdlib>
#include <cstring>
#include <memory>

#include "analysis/SlotTable.h"
#include "analysis/SongObj.h"
#include "audio/FileFormat.h"
#include "dsp/QuorbixError.h"
#include "dsp/StopFlags.h"
#include "worker/Logger.h"

bool generateAnalysis(const char* path, int16_t* parameters) {
    if (path == nullptr || parameters == nullptr) return false;
    if (findFormat(path, std::strlen(path)) == nullptr) return false;

    // Owned here and released on every way out, exceptions included.
    std::unique_ptr<SongObj> song;
    try {
        song = std::make_unique<SongObj>();
        song->downMixOnLoad = true;
        if (loadSong(*song, path, kAnalysisLoadLimitMs) != LoadOutcome::kLoaded) return false;
        song->Prepare(song->analysisRate, kAnalysisSilenceThreshold);
        song->Analyze();
        if (gStopAnalysis) return false;
        FillSlots(song->Features(), parameters);
    } catch (const QuorbixError&) {
        if (logEnabled) logMessage(0, "Exception generating analysis (1)");
        return false;
    } catch (...) {
        if (logEnabled) logMessage(0, "Exception generating analysis (2)");
        return false;
    }
    return true;
}
