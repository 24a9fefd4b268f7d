#pragma once
#include <cstddef>

class SignalObj;

namespace Quavertone {

// Decodes a whole file into a signal, keeping its first maxMs (-1: no limit).
using LoadFunction = bool (*)(SignalObj& signal, const char* path, double maxMs);

// One supported sound-file format, chosen by the file name's extension.
class FileFormat {
public:
    virtual ~FileFormat() = default;

    virtual const char* name() const = 0;
    virtual const char* const* extensions() const = 0;
    virtual bool accepts(const char* path, size_t length) const = 0;
    // Tag reading belongs to the music-library engine; the worker has none.
    virtual void* tagReader(const char* /*path*/, bool /*flag*/) const { return nullptr; }
    virtual bool capability() const = 0;
    virtual void release(void* /*object*/) const {}
    bool load(SignalObj& signal, const char* path, double maxMs) const;

protected:
    virtual LoadFunction loadFunction() const = 0;
};

}  // namespace Quavertone

// The process-wide registry. Lookups try formats in registration order.
void registerOggFormat();
void registerFLACFormat();
void registerMP3Format();
void registerWaveFormat();
void registerAllFormats();  // the worker's order: Ogg Vorbis, FLAC, MP3, WAVE
const Quavertone::FileFormat* findFormat(const char* path, size_t length);

// Finds the format for path and loads the file into signal, keeping its first
// maxMs (-1: no limit). `format`, when given, gets the format tried (null
// when none accepts the path).
enum class LoadOutcome { kLoaded, kNoFormat, kUndecodable };
LoadOutcome loadSong(SignalObj& signal, const char* path, double maxMs,
                     const Quavertone::FileFormat** format = nullptr);
