#include "tools/PrintCompare.h"

#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <map>
#include <numeric>
#include <string>
#include <vector>

#include "client/Results.h"
#include "io/DataInput.h"
#include "tools/Json.h"

UnitPrint::UnitPrint(const PrintRecord& record) {
    double rows[PrintRecord::kRows][kColumns];
    for (int r = 0; r < PrintRecord::kRows; ++r) {
        double sum = 0;
        for (int c = 0; c < kColumns; ++c) sum += double(record.values[r][c]) * record.values[r][c];
        const double scale = sum > 0 ? 1.0 / std::sqrt(sum) : 0.0;  // a zero row spans nothing
        for (int c = 0; c < kColumns; ++c) rows[r][c] = record.values[r][c] * scale;
    }
    int k = 0;
    for (int a = 0; a < kColumns; ++a)
        for (int b = a; b < kColumns; ++b) {
            double p = 0;
            for (int r = 0; r < PrintRecord::kRows; ++r) p += rows[r][a] * rows[r][b];
            projection_[k++] = static_cast<float>(a == b ? p : p * std::sqrt(2.0));
        }
}

double UnitPrint::similarity(const UnitPrint& other) const {
    // Eight running sums, each over its own elements in order: the same
    // result whether or not the compiler vectorises the loop.
    float lane[kLanes] = {};
    for (int k = 0; k < kLength; k += kLanes)
        for (int j = 0; j < kLanes; ++j) lane[j] += projection_[k + j] * other.projection_[k + j];
    double sum = 0;
    for (float v : lane) sum += v;
    return std::clamp(sum / PrintRecord::kRows, 0.0, 1.0);
}

int sharedSemitones(const PrintRecord& a, const PrintRecord& b) {
    std::vector<int> x(a.counts, a.counts + PrintRecord::kCounts), y(b.counts, b.counts + PrintRecord::kCounts);
    std::sort(x.begin(), x.end());
    std::sort(y.begin(), y.end());
    std::vector<int> both;
    std::set_intersection(x.begin(), x.end(), y.begin(), y.end(), std::back_inserter(both));
    return static_cast<int>(both.size());
}

namespace {

bool parseThreshold(int argc, char** argv, int first, double& threshold, std::vector<std::string>& rest) {
    for (int i = first; i < argc; ++i) {
        const std::string a = argv[i];
        if (a != "--threshold") {
            rest.push_back(a);
            continue;
        }
        if (++i >= argc) return false;
        char* end = nullptr;
        threshold = std::strtod(argv[i], &end);
        if (!end || *end || end == argv[i] || !(threshold >= 0 && threshold <= 1)) return false;
    }
    return true;
}

bool wantsHelp(int argc, char** argv) {
    for (int i = 1; i < argc; ++i)
        if (std::string(argv[i]) == "--help" || std::string(argv[i]) == "-h") return true;
    return false;
}

bool readPrintFile(const std::string& path, PrintRecord& record, std::string& error) {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
        error = "cannot read " + path;
        return false;
    }
    if (st.st_size != PrintRecord::kRecordSize) {
        error = path + ": " + std::to_string(st.st_size) + " bytes is no print record (565)";
        return false;
    }
    FileDataInput in;
    client::Print print;
    if (!in.open(path.c_str()) || !print.read(in, error)) {
        error = path + ": " + (error.empty() ? "cannot open" : error);
        return false;
    }
    record = print.record;
    return true;
}

std::string semitoneList(const PrintRecord& p) {
    std::string s = "[";
    for (int k = 0; k < PrintRecord::kCounts; ++k) s += (k ? "," : "") + std::to_string(p.counts[k]);
    return s + "]";
}

std::string fixed(double v) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.6f", v);
    return buf;
}

// The print of a `vextool run` line for the fp command that succeeded.
bool printOfLine(const json::Value& line, std::string& path, PrintRecord& record) {
    const json::Value *p = line.get("path"), *command = line.get("command"), *outcome = line.get("outcome"),
                      *print = line.get("print");
    if (!p || !p->isString() || !command || command->text != "fp" || !outcome || outcome->text != "ok" || !print)
        return false;
    const json::Value *rows = print->get("rows"), *semitones = print->get("semitones");
    if (!rows || !rows->isArray() || rows->items.size() != PrintRecord::kRows || !semitones ||
        !semitones->isArray() || semitones->items.size() != PrintRecord::kCounts)
        return false;
    const auto fits = [](const json::Value& v, double low, double high) {
        return v.isNumber() && v.number >= low && v.number <= high && v.number == std::floor(v.number);
    };
    for (int r = 0; r < PrintRecord::kRows; ++r) {
        const json::Value& row = rows->items[r];
        if (!row.isArray() || row.items.size() != PrintRecord::kColumns) return false;
        for (int c = 0; c < PrintRecord::kColumns; ++c) {
            if (!fits(row.items[c], -32768, 32767)) return false;
            record.values[r][c] = static_cast<int16_t>(row.items[c].number);
        }
    }
    for (int k = 0; k < PrintRecord::kCounts; ++k) {
        if (!fits(semitones->items[k], 0, 255)) return false;
        record.counts[k] = static_cast<uint8_t>(semitones->items[k].number);
    }
    path = p->text;
    return true;
}

size_t findRoot(std::vector<size_t>& parent, size_t i) {
    while (parent[i] != i) i = parent[i] = parent[parent[i]];
    return i;
}

}  // namespace

void printCompareUsage(std::FILE* to) {
    std::fprintf(to,
                 "usage: vextool compare A B [--threshold X]\n"
                 "\n"
                 "Compares two print records (565-byte files of `vexcore fp`) and prints one JSON line:\n"
                 "\"similarity\" in [0, 1], the mean squared cosine of the principal angles between the\n"
                 "subspaces the two prints' 7 rows span (1: the same); \"sameSong\", whether it reaches\n"
                 "the threshold; the two prints' \"semitones\", how many of the four they share\n"
                 "(\"sharedSemitones\") and whether all four agree (\"semitonesAgree\").\n"
                 "\n"
                 "  --threshold X   similarity from which two prints count as the same song, 0 to 1\n"
                 "                  (default %.2f)\n"
                 "  --help          this text\n",
                 kSameSongThreshold);
}

void printDupesUsage(std::FILE* to) {
    std::fprintf(to,
                 "usage: vextool dupes FILE.jsonl [--threshold X]\n"
                 "\n"
                 "Reads the output of `vextool run` (FILE, or - for standard input), takes the prints of\n"
                 "the successful fp jobs (the last one of each path) and writes one JSON line per group\n"
                 "of songs whose prints are at least that similar, linked pair by pair: \"paths\" in file\n"
                 "order and the linking \"pairs\" (indexes into paths, similarity). Every pair is\n"
                 "compared, so the time grows with the square of the number of prints. A summary goes\n"
                 "to standard error.\n"
                 "\n"
                 "  --threshold X   similarity from which two prints count as the same song, 0 to 1\n"
                 "                  (default %.2f)\n"
                 "  --help          this text\n",
                 kSameSongThreshold);
}

int compareCommand(int argc, char** argv) {
    if (wantsHelp(argc, argv)) return printCompareUsage(stdout), 0;
    double threshold = kSameSongThreshold;
    std::vector<std::string> files;
    if (!parseThreshold(argc, argv, 1, threshold, files) || files.size() != 2) return printCompareUsage(stderr), 2;
    PrintRecord a, b;
    std::string error;
    if (!readPrintFile(files[0], a, error) || !readPrintFile(files[1], b, error)) {
        std::fprintf(stderr, "vextool: %s\n", error.c_str());
        return 1;
    }
    const double similarity = UnitPrint(a).similarity(UnitPrint(b));
    const int shared = sharedSemitones(a, b);
    std::printf("{\"similarity\":%s,\"threshold\":%s,\"sameSong\":%s,\"semitones\":[%s,%s],\"sharedSemitones\":%d,"
                "\"semitonesAgree\":%s}\n",
                fixed(similarity).c_str(), fixed(threshold).c_str(), similarity >= threshold ? "true" : "false",
                semitoneList(a).c_str(), semitoneList(b).c_str(), shared,
                shared == PrintRecord::kCounts ? "true" : "false");
    return 0;
}

int dupesCommand(int argc, char** argv) {
    if (wantsHelp(argc, argv)) return printDupesUsage(stdout), 0;
    double threshold = kSameSongThreshold;
    std::vector<std::string> files;
    if (!parseThreshold(argc, argv, 1, threshold, files) || files.size() != 1) return printDupesUsage(stderr), 2;
    std::ifstream file;
    if (files[0] != "-") {
        file.open(files[0]);
        if (!file) {
            std::fprintf(stderr, "vextool: cannot read %s\n", files[0].c_str());
            return 1;
        }
    }
    std::istream& in = files[0] == "-" ? std::cin : file;

    std::vector<std::string> paths;
    std::vector<PrintRecord> records;
    std::map<std::string, size_t> byPath;
    std::string text, path;
    size_t unreadable = 0;
    while (std::getline(in, text)) {
        json::Value line;
        PrintRecord record;
        if (!json::parse(text, line)) {
            unreadable += !text.empty();
            continue;
        }
        if (!printOfLine(line, path, record)) continue;
        const auto [it, added] = byPath.emplace(path, records.size());
        if (added) {
            paths.push_back(path);
            records.push_back(record);
        } else {
            records[it->second] = record;
        }
    }
    std::vector<UnitPrint> prints(records.begin(), records.end());

    const size_t n = prints.size();
    std::vector<size_t> parent(n);
    std::iota(parent.begin(), parent.end(), size_t(0));
    struct Link {
        size_t a, b;
        double similarity;
    };
    std::vector<Link> links;
    for (size_t i = 0; i < n; ++i)
        for (size_t j = i + 1; j < n; ++j) {
            const double s = prints[i].similarity(prints[j]);
            if (s < threshold) continue;
            links.push_back({i, j, s});
            parent[findRoot(parent, i)] = findRoot(parent, j);
        }

    // Groups in the order of their first song; songs in file order.
    std::map<size_t, std::vector<size_t>> members;  // root -> songs
    for (size_t i = 0; i < n; ++i) members[findRoot(parent, i)].push_back(i);
    std::vector<std::vector<size_t>> groups;
    for (auto& [root, songs] : members)
        if (songs.size() > 1) groups.push_back(songs);
    std::sort(groups.begin(), groups.end());
    std::vector<size_t> groupOf(n, 0), slot(n, 0);
    for (size_t g = 0; g < groups.size(); ++g)
        for (size_t k = 0; k < groups[g].size(); ++k) groupOf[groups[g][k]] = g, slot[groups[g][k]] = k;
    std::vector<std::string> pairs(groups.size());
    for (const Link& l : links)
        pairs[groupOf[l.a]] += std::string(pairs[groupOf[l.a]].empty() ? "" : ",") + "[" + std::to_string(slot[l.a]) +
                               "," + std::to_string(slot[l.b]) + "," + fixed(l.similarity) + "]";
    size_t grouped = 0;
    for (size_t g = 0; g < groups.size(); ++g) {
        std::string out = "{\"group\":" + std::to_string(g + 1) + ",\"paths\":[";
        for (size_t k = 0; k < groups[g].size(); ++k) out += (k ? "," : "") + json::quote(paths[groups[g][k]]);
        std::printf("%s],\"pairs\":[%s]}\n", out.c_str(), pairs[g].c_str());
        grouped += groups[g].size();
    }
    std::fprintf(stderr, "vextool dupes: %zu prints, %zu groups holding %zu songs at threshold %g", n,
                 groups.size(), grouped, threshold);
    if (unreadable) std::fprintf(stderr, ", %zu lines that are not JSON ignored", unreadable);
    std::fprintf(stderr, "\n");
    return 0;
}
