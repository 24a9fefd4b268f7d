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
    int16_t parameters[35] = {};
    if (!generateAnalysis(audioPath, parameters)) return 1;

    int32_t status = 1;
    FileDataOutput out;
    if (!out.open(outPath)) return 3;
    try {
        writeAnalysisRecord(out, parameters);
        out.close();
        status = 0;
    } catch (...) {
        logIfEnabled("Exception saving analysis");
        status = 2;
    }
    return status;
}

int32_t doPrint(const char* audioPath, const char* outPath) {
    double* fpMatrix = nullptr;
    int32_t* fpCounts = nullptr;
    int32_t status = 1001;
    try {
        status = generatePrint(audioPath, fpMatrix, fpCounts);
        if (status == 0 && (!fpMatrix || !fpCounts)) {
            logIfEnabled("Error in generatePrint (0)");
            status = 1001;
        }
    } catch (const QuorbixError&) {
        logIfEnabled("Exception in generatePrint (1)");
        status = 1001;
    } catch (...) {
        logIfEnabled("Exception in generatePrint (2)");
        status = 1001;
    }

    if (status == 0) {
        auto record = std::make_unique<PrintRecord>();
        record->fill(fpMatrix, fpCounts);
        FileDataOutput out;
        if (!out.open(outPath)) {
            status = 1003;
        } else {
            try {
                record->write(out);
                out.close();
            } catch (...) {
                logIfEnabled("Exception saving print");
                status = 1002;
            }
        }
    }
    delete[] fpMatrix;
    delete[] fpCounts;
    return status;
}

int32_t doValidate(const char* audioPath, const char* outPath) {
    FileDataOutput out;
    if (!out.open(outPath)) return 3;

    const Quavertone::FileFormat* format = findFormat(audioPath, std::strlen(audioPath));
    if (!format) {
        writeValidationRecord(out, 0, 0);
        out.close();
        return 0;
    }

    int32_t status = 2;
    std::unique_ptr<SongObj> song;
    try {
        song = std::make_unique<SongObj>("");
        const bool loaded = format->load(*song, audioPath, -1);
        int64_t decoded = 0, prepared = 0;
        if (loaded) {
            decoded = recordedMs(song->durationMs);
            try {
                song->PrepareMono(song->analysisRate, 2.2);
                prepared = recordedMs(song->GetDurationMs());
            } catch (const QuorbixError& e) {
                if (e.code() != 1) logIfEnabled("Exception in PrepareMono");
                prepared = 0;
            }
        }
        writeValidationRecord(out, decoded, prepared);
        out.close();
        status = 0;
    } catch (...) {
        // The stream is left unclosed: its buffered bytes are dropped and the
        // output stays as opened, which the parent never reads on status 2.
        logIfEnabled("Exception in doValidate");
        status = 2;
    }
    return status;
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
