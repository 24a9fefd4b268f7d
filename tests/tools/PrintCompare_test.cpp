#include <gtest/gtest.h>
#include <sys/stat.h>

#include "Encoders.h"
#include "Signals.h"
#include "TestFiles.h"
#include "tools/PrintCompare.h"

namespace {

std::string vextool(const std::vector<std::string>& args, std::string* err = nullptr, int* status = nullptr) {
    std::string out;
    const int s = test::runProgram(test::builtProgram("vextool"), args, &out, err);
    if (status) *status = s;
    return out;
}

double similarityOf(const std::string& json) {
    const size_t at = json.find("\"similarity\":");
    return at == std::string::npos ? -1.0 : std::stod(json.substr(at + 13));
}

}  // namespace

// A song, a lossy copy of it and another song: compare puts the copy above
// the threshold and the other song well below; dupes groups the two copies.
TEST(PrintCompare, CopiesMatchAndGroupOthersStayWellBelow) {
    test::TempDir dir;
    ::mkdir(dir.path("lib").c_str(), 0755);
    const auto song = test::music(44100, 30.0, 1);
    test::writeWav(dir.path("lib/a.wav"), song, 44100, 1);
    test::writeOggVorbis(dir.path("lib/a.ogg"), song, 1, 44100, 0.1f);
    test::writeWav(dir.path("lib/b.wav"), test::music(44100, 30.0, 6), 44100, 1);
    for (const char* name : {"a.wav", "a.ogg", "b.wav"})
        ASSERT_EQ(test::runVexcore({"fp", dir.path(std::string("lib/") + name), dir.path(std::string(name) + ".fp")}), 0)
            << name;

    std::string err;
    int status = -1;
    const std::string self = vextool({"compare", dir.path("a.wav.fp"), dir.path("a.wav.fp")}, &err, &status);
    ASSERT_EQ(status, 0) << err;
    EXPECT_EQ(similarityOf(self), 1.0) << self;
    EXPECT_NE(self.find("\"sameSong\":true"), std::string::npos);
    EXPECT_NE(self.find("\"sharedSemitones\":4,\"semitonesAgree\":true"), std::string::npos);
    const double lossy = similarityOf(vextool({"compare", dir.path("a.wav.fp"), dir.path("a.ogg.fp")}));
    EXPECT_GE(lossy, kSameSongThreshold);
    EXPECT_LT(lossy, 1.0);
    const double other = similarityOf(vextool({"compare", dir.path("a.wav.fp"), dir.path("b.wav.fp")}));
    EXPECT_LT(other, kSameSongThreshold - 0.2);
    EXPECT_NE(vextool({"compare", dir.path("a.wav.fp"), dir.path("b.wav.fp"), "--threshold", "0"}).find("\"sameSong\":true"),
              std::string::npos);
    vextool({"compare", dir.path("a.wav.fp"), dir.path("lib/a.wav")}, &err, &status);
    EXPECT_EQ(status, 1);
    EXPECT_NE(err.find("is no print record"), std::string::npos) << err;

    // Groups from the output of `vextool run`.
    const std::string jsonl = vextool({"run", "--commands", "fp,validate", dir.path("lib")});
    test::writeBytes(dir.path("run.jsonl"), std::vector<uint8_t>(jsonl.begin(), jsonl.end()));
    const std::string groups = vextool({"dupes", dir.path("run.jsonl")}, &err);
    EXPECT_EQ(groups.rfind("{\"group\":1,\"paths\":[\"" + dir.path("lib/a.ogg") + "\",\"" + dir.path("lib/a.wav") +
                               "\"],\"pairs\":[[0,1,0.",
                           0),
              0u)
        << groups;
    EXPECT_EQ(std::count(groups.begin(), groups.end(), '\n'), 1);
    EXPECT_NE(err.find("3 prints, 1 groups holding 2 songs at threshold 0.96"), std::string::npos) << err;
}
