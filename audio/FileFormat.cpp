#include "audio/FileFormat.h"

#include <strings.h>

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

// What the four formats share: a name, extensions, the library engine's
// capability flag and the load function installed at registration.
class RegisteredFormat : public Quavertone::FileFormat {
public:
    RegisteredFormat(const char* name, const char* const* extensions, bool capability)
        : name_(name), extensions_(extensions), capability_(capability) {}
    const char* name() const override { return name_; }
    const char* const* extensions() const override { return extensions_; }
    bool capability() const override { return capability_; }
    Quavertone::LoadFunction loader = nullptr;

protected:
    Quavertone::LoadFunction loadFunction() const override { return loader; }

private:
    const char* name_;
    const char* const* extensions_;
    bool capability_;
};

constexpr const char* kOggExtensions[] = {".ogg", nullptr};
constexpr const char* kFLACExtensions[] = {".flac", ".fla", nullptr};
constexpr const char* kMP3Extensions[] = {".mp3", nullptr};
constexpr const char* kWaveExtensions[] = {".wav", ".wave", nullptr};

class OggFormat : public RegisteredFormat {
public:
    OggFormat() : RegisteredFormat("Ogg Vorbis", kOggExtensions, true) {}
    bool accepts(const char* path, size_t length) const override {
        return length > 4 && endsWith(path, length, ".ogg");
    }
};

class FLACFormat : public RegisteredFormat {
public:
    FLACFormat() : RegisteredFormat("FLAC", kFLACExtensions, false) {}
    bool accepts(const char* path, size_t length) const override {
        if (length > 4 && endsWith(path, length, ".fla")) return true;
        if (length > 5 && endsWith(path, length, ".flac")) return true;
        // A track inside a FLAC file: "disc.flac#3".
        const char* dot = std::strrchr(path, '.');
        return dot && strncasecmp(dot + 1, "flac", 4) == 0 && dot[5] == '#';
    }
};

class MP3Format : public RegisteredFormat {
public:
    MP3Format() : RegisteredFormat("MP3", kMP3Extensions, true) {}
    bool accepts(const char* path, size_t length) const override {
        return length > 4 && endsWith(path, length, ".mp3");
    }
};

class WaveFormat : public RegisteredFormat {
public:
    WaveFormat() : RegisteredFormat("Wave", kWaveExtensions, true) {}
    bool accepts(const char* path, size_t length) const override {
        return (length > 4 && endsWith(path, length, ".wav")) ||
               (length > 5 && endsWith(path, length, ".wave"));
    }
};

OggFormat oggFormat;
FLACFormat flacFormat;
MP3Format mp3Format;
WaveFormat waveFormat;

// Installing the load function and joining the registry happen together, so
// a format without a loader can never be found.
void install(RegisteredFormat& format, Quavertone::LoadFunction fn) {
    format.loader = fn;
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

LoadOutcome loadSong(SignalObj& signal, const char* path, double maxMs,
                     const Quavertone::FileFormat** format) {
    const Quavertone::FileFormat* found = findFormat(path, std::strlen(path));
    if (format != nullptr) *format = found;
    if (found == nullptr) return LoadOutcome::kNoFormat;
    return found->load(signal, path, maxMs) ? LoadOutcome::kLoaded : LoadOutcome::kUndecodable;
}
