// vextool: the companion of the vexcore worker.
//   vextool dump FILE                      print a result record as JSON
//   vextool prep AUDIO OUT.wav [options]   load and prepare as the commands do
//   vextool decode AUDIO OUT.wav [--max-ms N]  the signal exactly as decoded
//   vextool features AUDIO                 the analysis before the slot normalisation
//   vextool run [options] PATH...          the worker over a library, JSON lines
//   vextool compare A B                    similarity of two print records
//   vextool dupes FILE.jsonl               groups of songs with similar prints
#include <sys/stat.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "analysis/AnalysisDriver.h"
#include "analysis/AnalysisResults.h"
#include "analysis/SlotTable.h"
#include "analysis/SongObj.h"
#include "audio/FileFormat.h"
#include "audio/WaveWriter.h"
#include "dsp/QuorbixError.h"
#include "io/DataInput.h"
#include "io/PrintRecord.h"
#include "tools/PrintCompare.h"
#include "tools/RunCommand.h"

namespace {

const char* const kUsage =
    "usage: vextool dump FILE\n"
    "       vextool prep AUDIO OUT.wav [--rate 22050|44100] [--threshold T] [--max-ms N]\n"
    "       vextool decode AUDIO OUT.wav [--max-ms N]\n"
    "       vextool features AUDIO\n"
    "       vextool run [--jobs N] [--timeout S] [--commands analyze,fp,validate] [--resume FILE] PATH...\n"
    "       vextool compare A B [--threshold X]\n"
    "       vextool dupes FILE.jsonl [--threshold X]\n"
    "       vextool [SUBCOMMAND] --help\n";

int usage() {
    std::fprintf(stderr, "%s", kUsage);
    return 2;
}

// The help of the first four subcommands; run, compare and dupes have their own.
const char* const kToolHelp =
    "\n"
    "dump FILE           a result record (analysis 71, print 565, validation 17 bytes) as JSON\n"
    "prep AUDIO OUT.wav  loads and prepares the file as the worker's commands do and writes the\n"
    "                    prepared mono signal as 16-bit WAVE; prints the signal's fields as JSON\n"
    "  --rate R          22050 (the analysis, default) or 44100 (the print)\n"
    "  --threshold T     silence threshold of the preparation (default 2.2)\n"
    "  --max-ms N        keep only the first N ms of the decoded file (default: all)\n"
    "decode AUDIO OUT.wav  the signal as the reader delivers it (file rate and channels)\n"
    "  --max-ms N        as for prep\n"
    "features AUDIO      the raw feature of each slot before its normalisation, tempo and bar\n"
    "                    phase, style matches, repeat coverage and the time of each step\n"
    "run, compare, dupes: see `vextool run --help`, `vextool compare --help`, `vextool dupes --help`.\n"
    "\n"
    "Errors go to standard error with exit status 1 (2 for a bad command line).\n";

int help(const std::string& command) {
    if (command == "run") return printRunUsage(stdout), 0;
    if (command == "compare") return printCompareUsage(stdout), 0;
    if (command == "dupes") return printDupesUsage(stdout), 0;
    std::printf("%s%s", kUsage, kToolHelp);
    if (command.empty()) {
        std::printf("\n");
        printRunUsage(stdout);
        std::printf("\n");
        printCompareUsage(stdout);
        std::printf("\n");
        printDupesUsage(stdout);
    }
    return 0;
}

int fail(const std::string& message) {
    std::fprintf(stderr, "vextool: %s\n", message.c_str());
    return 1;
}

// JSON has no NaN or infinity: those become null.
std::string number(double v) {
    if (!std::isfinite(v)) return "null";
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.17g", v);
    return buf;
}

int dump(const char* path) {
    struct stat st;
    if (::stat(path, &st) != 0) return fail(std::string("cannot read ") + path);
    FileDataInput in;
    if (!in.open(path)) return fail(std::string("cannot open ") + path);
    const long size = static_cast<long>(st.st_size);
    std::string json;
    if (size == 71) {
        in.checkVersion("analysis record", in.readByte(), 1);
        int values[kSlotCount];
        for (int& v : values) v = in.readShort();
        json = "{\"record\":\"analysis\",\"version\":1,\n \"parameters\":[";
        for (int i = 0; i < kSlotCount; ++i) json += (i ? "," : "") + std::to_string(values[i]);
        json += "],\n \"slots\":[";
        for (int i = 0; i < kSlotCount; ++i)
            json += std::string(i ? ",\n  " : "\n  ") + "{\"slot\":" + std::to_string(i) +
                    ",\"feature\":" + std::to_string(kSlotTable[i].featureId) + ",\"name\":\"" +
                    kSlotTable[i].name + "\",\"value\":" + std::to_string(values[i]) + "}";
        json += "]}";
    } else if (size == PrintRecord::kRecordSize) {
        std::unique_ptr<PrintRecord> record(PrintRecord::read(in));
        json = "{\"record\":\"print\",\"version\":1,\n \"rows\":[";
        for (int r = 0; r < PrintRecord::kRows; ++r) {
            json += r ? ",\n  [" : "\n  [";
            for (int c = 0; c < PrintRecord::kColumns; ++c)
                json += (c ? "," : "") + std::to_string(record->values[r][c]);
            json += "]";
        }
        json += "],\n \"semitones\":[";
        for (int k = 0; k < PrintRecord::kCounts; ++k) json += (k ? "," : "") + std::to_string(record->counts[k]);
        json += "]}";
    } else if (size == 17) {
        in.checkVersion("validation record", in.readByte(), 1);
        const int64_t decoded = in.readLong();
        const int64_t prepared = in.readLong();
        json = "{\"record\":\"validation\",\"version\":1,\"decodedMs\":" + std::to_string(decoded) +
               ",\"preparedMs\":" + std::to_string(prepared) + ",\"valid\":" + (decoded > 9 ? "true" : "false") + "}";
    } else {
        return fail(std::string(path) + ": " + std::to_string(size) +
                    " bytes is no result record (analysis 71, print 565, validation 17)");
    }
    if (in.failed()) return fail(std::string(path) + ": " + in.errorMessage());
    std::printf("%s\n", json.c_str());
    return 0;
}

struct Options {
    int32_t rate = 22050;
    double threshold = 2.2;
    double maxMs = -1;
};

bool parseOptions(int argc, char** argv, int first, Options& o, bool prepOptions) {
    for (int i = first; i < argc; ++i) {
        const std::string a = argv[i];
        if (i + 1 >= argc) return false;
        char* end = nullptr;
        const char* v = argv[++i];
        if (a == "--max-ms") {
            o.maxMs = std::strtod(v, &end);
        } else if (prepOptions && a == "--rate") {
            o.rate = static_cast<int32_t>(std::strtol(v, &end, 10));
            if (o.rate != 22050 && o.rate != 44100) return false;
        } else if (prepOptions && a == "--threshold") {
            o.threshold = std::strtod(v, &end);
        } else {
            return false;
        }
        if (!end || *end) return false;
    }
    return true;
}

bool load(SongObj& song, const char* audio, double maxMs, std::string& error) {
    const Quavertone::FileFormat* format = nullptr;
    switch (loadSong(song, audio, maxMs, &format)) {
        case LoadOutcome::kLoaded: return true;
        case LoadOutcome::kNoFormat: error = std::string("no format reads ") + audio; break;
        case LoadOutcome::kUndecodable:
            error = std::string("cannot decode ") + audio + " as " + format->name();
            break;
    }
    return false;
}

int prep(const char* audio, const char* out, const Options& o) {
    SongObj song("");
    song.downMixOnLoad = true;
    std::string error;
    if (!load(song, audio, o.maxMs, error)) return fail(error);
    const double decodedMs = song.durationMs;
    song.Prepare(o.rate, o.threshold);
    if (!writeWaveFile(out, song.data, song.length, song.rate, 1))
        return fail(std::string("cannot write ") + out);
    std::string json = "{\"durationMs\":" + number(decodedMs) +
                       ",\"preparedDurationMs\":" + number(song.GetDurationMs()) +
                       ",\"rate\":" + std::to_string(song.rate) +
                       ",\"samples\":" + std::to_string(song.length) +
                       ",\"gain\":" + number(song.gain) + ",\"dcOffset\":" + number(song.dcOffset) +
                       ",\"stereoDifference\":" + std::to_string(song.stereoDifference);
    if (song.stereoMeasured) json += ",\"stereoCorrelation\":" + number(song.stereoCorrelation);
    json += std::string(",\"longSilenceCut\":") + (song.longSilenceCut ? "true" : "false") +
            ",\"wasStereo\":" + (song.wasStereo ? "true" : "false") + "}";
    std::printf("%s\n", json.c_str());
    return 0;
}

int decode(const char* audio, const char* out, const Options& o) {
    SongObj song("");
    std::string error;
    if (!load(song, audio, o.maxMs, error)) return fail(error);
    if (!writeWaveFile(out, song.data, song.elementCount, song.rate, song.width))
        return fail(std::string("cannot write ") + out);
    std::printf("{\"durationMs\":%s,\"rate\":%d,\"channels\":%d,\"frames\":%d}\n",
                number(song.GetDurationMs()).c_str(), song.rate, song.width, song.length);
    return 0;
}

// What a person needs to understand an analysis: the raw features before
// the slot normalisation, the rhythm behind them and where the time went.
int features(const char* audio) {
    SongObj song("");
    song.downMixOnLoad = true;
    std::string error;
    if (!load(song, audio, kAnalysisLoadLimitMs, error)) return fail(error);
    const auto start = std::chrono::steady_clock::now();
    song.Prepare(song.analysisRate, kAnalysisSilenceThreshold);
    const double prepareMs =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    song.Analyze();
    const FeatureVector f = song.Features();
    const AnalysisResults& r = song.Results();
    std::string json = "{\"preparedDurationMs\":" + number(song.GetDurationMs()) + ",\n \"features\":[";
    for (int i = 0; i < kSlotCount; ++i) {
        const SlotEntry& s = kSlotTable[i];
        json += std::string(i ? ",\n  " : "\n  ") + "{\"id\":" + std::to_string(s.featureId) + ",\"name\":\"" +
                s.name + "\",\"value\":" + number(f[s.featureId]) + ",\"slot\":" + std::to_string(i) + "}";
    }
    const TempoResults& t = r.tempo;
    json += "],\n \"tempo\":{\"bpm\":" + number(t.tempo) + ",\"phaseMs\":" + std::to_string(t.phase) +
            ",\"beatsPerBar\":" + std::to_string(t.beatsPerBar) + ",\"fallback\":" +
            (t.fallback ? "true" : "false") + "},\n";
    const StyleScores& st = r.style;
    json += " \"style\":{\"best\":{\"family\":\"" + st.bestFamily + "\",\"pattern\":\"" + st.bestPattern +
            "\",\"id\":" + std::to_string(st.bestId) + ",\"score\":" + number(st.best) +
            "},\"second\":{\"family\":\"" + st.secondFamily + "\",\"pattern\":\"" + st.secondPattern +
            "\",\"id\":" + std::to_string(st.secondId) + ",\"score\":" + number(st.second) + "}},\n";
    json += " \"repeatCoverage\":" + number(r.repeatCoverage) + ",\n \"stepMs\":{\"prepare\":" + number(prepareMs);
    for (int step = 1; step <= SongObj::kStepCount; ++step)
        if (song.StepDone(step)) json += ",\"" + std::to_string(step) + "\":" + number(song.StepMs(step));
    std::printf("%s}}\n", json.c_str());
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    registerAllFormats();
    if (argc < 2) return usage();
    const std::string command = argv[1];
    if (command == "--help" || command == "-h") return help("");
    if (argc == 3 && (std::string(argv[2]) == "--help" || std::string(argv[2]) == "-h")) return help(command);
    try {
        if (command == "run") return runCommand(argc - 1, argv + 1);
        if (command == "compare") return compareCommand(argc - 1, argv + 1);
        if (command == "dupes") return dupesCommand(argc - 1, argv + 1);
        if (command == "dump" && argc == 3) return dump(argv[2]);
        if (command == "features" && argc == 3) return features(argv[2]);
        Options o;
        if (command == "prep" && argc >= 4 && parseOptions(argc, argv, 4, o, true)) return prep(argv[2], argv[3], o);
        if (command == "decode" && argc >= 4 && parseOptions(argc, argv, 4, o, false))
            return decode(argv[2], argv[3], o);
    } catch (const QuorbixError& e) {
        return fail(e.message());
    } catch (const char* text) {
        std::string message = text;
        while (!message.empty() && message.back() == '\n') message.pop_back();
        return fail(message);
    } catch (const std::exception& e) {
        return fail(e.what());
    }
    return usage();
}
