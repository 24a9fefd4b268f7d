#include <gtest/gtest.h>

#include <cstring>

#include "audio/FileFormat.h"

TEST(FormatRegistry, ChoosesByNameInFixedOrder) {
    registerAllFormats();
    registerAllFormats();  // registering twice must not duplicate entries
    const std::pair<const char*, const char*> names[] = {
        {"song.MP3", "MP3"},       {".mp3", "none"},          {"a.wave", "Wave"},
        {".wave", "none"},         {"a.WAV", "Wave"},         {"a.wav.txt", "none"},
        {"x.ogg", "Ogg Vorbis"},   {"x.fla", "FLAC"},         {"x.Flac", "FLAC"},
        {"album.flac#2", "FLAC"},  {"album.FLAC#10", "FLAC"}, {"album.flac2", "none"},
        {"dir.flac#1/song.wav", "Wave"}, {"", "none"}};
    for (const auto& [path, name] : names) {
        const auto* f = findFormat(path, std::strlen(path));
        EXPECT_STREQ(f ? f->name() : "none", name) << path;
    }
}
