#include "audio/FileFormat.h"

#include <strings.h>

#include <cctype>
#include <cstring>
#include <vector>

#include "audio/FLACFile.h"
#include "audio/OggFile.h"
#include "audio/WaveFile.h"
#include "audio/mp3/MP3File.h"

namespace {

// Case-insensitive test of the name's last strlen(ext) bytes.
bool endsWith(const char* path, size_t length, const char* ext) {
    const size_t n = std::strlen(ext);
    return length >= n && strcasecmp(path + length - n, ext) == 0;
}

std::vector<const Quavertone::FileFormat*>& registry() {
    static std::vector<const Quavertone::FileFormat*> formats;
    return formats;
}

class OggFormat : public Quavertone::FileFormat {
public:
    const char* name() const override { return "Ogg Vorbis"; }
    const char* const* extensions() const override {
        static const char* const exts[] = {".ogg", nullptr};
        return exts;
    }
    bool accepts(const char* path, size_t length) const override {
        return length > 4 && endsWith(path, length, ".ogg");
    }
    bool capability() const override { return true; }
    static Quavertone::LoadFunction loader;

protected:
    Quavertone::LoadFunction loadFunction() const override { return loader; }
};

class FLACFormat : public Quavertone::FileFormat {
public:
    const char* name() const override { return "FLAC"; }
    const char* const* extensions() const override {
        static const char* const exts[] = {".flac", ".fla", nullptr};
        return exts;
    }
    bool accepts(const char* path, size_t length) const override {
        if (length > 4 && endsWith(path, length, ".fla")) return true;
        if (length > 5 && endsWith(path, length, ".flac")) return true;
        // A track inside a FLAC file: "disc.flac#3".
        const char* dot = std::strrchr(path, '.');
        return dot && strncasecmp(dot + 1, "flac", 4) == 0 && dot[5] == '#';
    }
    bool capability() const override { return false; }
    static Quavertone::LoadFunction loader;

protected:
    Quavertone::LoadFunction loadFunction() const override { return loader; }
};

class MP3Format : public Quavertone::FileFormat {
public:
    const char* name() const override { return "MP3"; }
    const char* const* extensions() const override {
        static const char* const exts[] = {".mp3", nullptr};
        return exts;
    }
    bool accepts(const char* path, size_t length) const override {
        return length > 4 && endsWith(path, length, ".mp3");
    }
    bool capability() const override { return true; }
    static Quavertone::LoadFunction loader;

protected:
    Quavertone::LoadFunction loadFunction() const override { return loader; }
};

class WaveFormat : public Quavertone::FileFormat {
public:
    const char* name() const override { return "Wave"; }
    const char* const* extensions() const override {
        static const char* const exts[] = {".wav", ".wave", nullptr};
        return exts;
    }
    bool accepts(const char* path, size_t length) const override {
        return (length > 4 && endsWith(path, length, ".wav")) ||
               (length > 5 && endsWith(path, length, ".wave"));
    }
    bool capability() const override { return true; }
    static Quavertone::LoadFunction loader;

protected:
    Quavertone::LoadFunction loadFunction() const override { return loader; }
};

Quavertone::LoadFunction OggFormat::loader = nullptr;
Quavertone::LoadFunction FLACFormat::loader = nullptr;
Quavertone::LoadFunction MP3Format::loader = nullptr;
Quavertone::LoadFunction WaveFormat::loader = nullptr;

OggFormat oggFormat;
FLACFormat flacFormat;
MP3Format mp3Format;
WaveFormat waveFormat;

// Installing the load function and joining the registry happen together, so
// a format without a loader can never be found.
template <class Format>
void install(Format& format, Quavertone::LoadFunction fn) {
    Format::loader = fn;
    for (const auto* f : registry())
        if (f == &format) return;
    registry().push_back(&format);
}

}  // namespace

bool Quavertone::FileFormat::load(SignalObj& signal, const char* path, double maxMs) const {
    const LoadFunction fn = loadFunction();
    return fn && fn(signal, path, maxMs);
}

void registerOggFormat() { install(oggFormat, loadOggFile); }
void registerFLACFormat() { install(flacFormat, loadFLACFile); }
void registerMP3Format() { install(mp3Format, loadMP3File); }
void registerWaveFormat() { install(waveFormat, loadWaveFile); }

void registerAllFormats() {
    registerOggFormat();
    registerFLACFormat();
    registerMP3Format();
    registerWaveFormat();
}

const Quavertone::FileFormat* findFormat(const char* path, size_t length) {
    if (!path) return nullptr;
    for (const auto* format : registry())
        if (format->accepts(path, length)) return format;
    return nullptr;
}
