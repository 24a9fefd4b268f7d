#include "support/MP3Fixtures.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "audio/mp3/MP3File.h"
#include "dsp/QuorbixError.h"
#include "support/TestFiles.h"

namespace test {

namespace {

template <class Prepare> Mp3Decode runReader(Prepare prepare) {
    Mp3Decode d;
    MP3File reader;
    reader.open("unused.mp3");
    try {
        d.ok = prepare(reader);
    } catch (const QuorbixError& e) {
        d.error = e.message();
    } catch (const char* text) {
        d.error = text;
    }
    if (d.ok) {
        d.rate = reader.sampleRate();
        d.channels = reader.isStereo() ? 2 : 1;
        d.pcm.resize(size_t(reader.sampleCount()));
        reader.readAll(d.pcm.data());
    }
    reader.close();
    return d;
}

std::vector<std::string> splitTabs(const std::string& line) {
    std::vector<std::string> fields;
    std::stringstream in(line);
    for (std::string field; std::getline(in, field, '\t');) fields.push_back(field);
    return fields;
}

}  // namespace

Mp3Decode decodeMp3File(const std::string& path) {
    return runReader([&](MP3File& r) {
        r.open(path.c_str());
        return r.prepare();
    });
}

Mp3Decode decodeMp3Bytes(const std::vector<uint8_t>& bytes) {
    return runReader([&](MP3File& r) { return r.prepareMemory(bytes.data(), bytes.size()); });
}

void expectWithinConformanceBounds(const int16_t* test, const int16_t* reference, size_t n, const std::string& label) {
    double sum = 0.0;
    int maxAbs = 0;
    for (size_t i = 0; i < n; ++i) {
        const int diff = int(test[i]) - int(reference[i]);
        sum += double(diff) * diff;
        maxAbs = std::max(maxAbs, std::abs(diff));
    }
    const double rms = n ? std::sqrt(sum / double(n)) : 0.0;
    std::printf("%-40s rms %.4f max %d over %zu\n", label.c_str(), rms, maxAbs, n);
    EXPECT_LE(rms, 0.75) << label;
    EXPECT_LE(maxAbs, 2) << label;
}

std::vector<int16_t> readPcm16(const std::string& path) {
    const std::vector<uint8_t> bytes = readBytes(path);
    std::vector<int16_t> pcm(bytes.size() / 2);
    for (size_t i = 0; i < pcm.size(); ++i) pcm[i] = int16_t(uint16_t(bytes[2 * i] | (bytes[2 * i + 1] << 8)));
    return pcm;
}

std::vector<std::map<std::string, std::string>> readTsv(const std::string& path) {
    std::vector<std::map<std::string, std::string>> rows;
    std::ifstream in(path);
    std::string line;
    if (!std::getline(in, line)) return rows;
    const std::vector<std::string> names = splitTabs(line);
    while (std::getline(in, line)) {
        if (line.empty()) continue;
        const std::vector<std::string> fields = splitTabs(line);
        std::map<std::string, std::string>& row = rows.emplace_back();
        for (size_t i = 0; i < names.size() && i < fields.size(); ++i) row[names[i]] = fields[i];
    }
    return rows;
}

}  // namespace test
