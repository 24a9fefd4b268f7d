#include "worker/Commands.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>

#include "analysis/AnalysisDriver.h"
#include "analysis/SongObj.h"
#include "audio/FileFormat.h"
#include "dsp/QuorbixError.h"
#include "dsp/Rounding.h"
#include "io/DataOutput.h"
#include "io/PrintRecord.h"
#include "io/Status.h"
#include "print/Fingerprint.h"
#include "worker/Logger.h"

namespace {

void logIfEnabled(const char* text) {
    if (logEnabled) logMessage(0, text);
}

// A duration in the record: truncated toward zero to 32 bits. A header with a
// sample rate of 0 gives no finite duration, which counts as none at all.
int64_t recordedMs(double ms) { return std::isfinite(ms) ? truncToInt32(ms) : 0; }

}  // namespace

int32_t doAnalyze(const char* audioPath, const char* outPath) {
    int16_t parameters[kSlotCount] = {};
    if (!generateAnalysis(audioPath, parameters)) return status::kAnalysisFailed;

    FileDataOutput out;
    if (!out.open(outPath)) return status::kOpenFailed;
    try {
        writeAnalysisRecord(out, parameters);
        out.close();
        return status::kOk;
    } catch (...) {
        logIfEnabled("Exception saving analysis");
        return status::kWriteFailed;
    }
}

int32_t doPrint(const char* audioPath, const char* outPath) {
    double* fpMatrix = nullptr;
    int32_t* fpCounts = nullptr;
    int32_t result = status::kPrintFailed;
    try {
        result = generatePrint(audioPath, fpMatrix, fpCounts);
        if (result == status::kOk && (!fpMatrix || !fpCounts)) {
            logIfEnabled("Error in generatePrint (0)");
            result = status::kPrintFailed;
        }
    } catch (const QuorbixError&) {
        logIfEnabled("Exception in generatePrint (1)");
        result = status::kPrintFailed;
    } catch (...) {
        logIfEnabled("Exception in generatePrint (2)");
        result = status::kPrintFailed;
    }

    if (result == status::kOk) {
        auto record = std::make_unique<PrintRecord>();
        record->fill(fpMatrix, fpCounts);
        FileDataOutput out;
        if (!out.open(outPath)) {
            result = status::kPrintOpenFailed;
        } else {
            try {
                record->write(out);
                out.close();
            } catch (...) {
                logIfEnabled("Exception saving print");
                result = status::kPrintWriteFailed;
            }
        }
    }
    delete[] fpMatrix;
    delete[] fpCounts;
    return result;
}

int32_t doValidate(const char* audioPath, const char* outPath) {
    FileDataOutput out;
    if (!out.open(outPath)) return status::kOpenFailed;

    if (!findFormat(audioPath, std::strlen(audioPath))) {
        writeValidationRecord(out, 0, 0);
        out.close();
        return status::kOk;
    }

    std::unique_ptr<SongObj> song;
    try {
        song = std::make_unique<SongObj>("");
        const bool loaded = loadSong(*song, audioPath, -1) == LoadOutcome::kLoaded;
        int64_t decoded = 0, prepared = 0;
        if (loaded) {
            decoded = recordedMs(song->durationMs);
            try {
                // Only the prepared duration is recorded: its samples are never computed.
                prepared = recordedMs(song->PreparedMonoDurationMs(song->analysisRate, 2.2));
            } catch (const QuorbixError& e) {
                if (e.code() != 1) logIfEnabled("Exception in PrepareMono");
                prepared = 0;
            }
        }
        writeValidationRecord(out, decoded, prepared);
        out.close();
        return status::kOk;
    } catch (...) {
        // The stream is left unclosed: its buffered bytes are dropped and the
        // output stays as opened, which the parent never reads on status 2.
        logIfEnabled("Exception in doValidate");
        return status::kWriteFailed;
    }
}

int vexMain(int argc, char** argv) {
    registerAllFormats();
    if (argc == 4) {
        if (std::strcmp(argv[1], "analyze") == 0) return doAnalyze(argv[2], argv[3]);
        if (std::strcmp(argv[1], "fp") == 0) return doPrint(argv[2], argv[3]);
        if (std::strcmp(argv[1], "validate") == 0) return doValidate(argv[2], argv[3]);
    }
    std::printf("vexcore 1.0: acoustic analysis worker. Usage: vexcore analyze|fp|validate <audiofile> <outfile>\n");
    return 0;
}
