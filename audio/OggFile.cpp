#include "audio/OggFile.h"

// The Ogg Vorbis reader is not written yet: no file of this format loads.
bool loadOggFile(SignalObj&, const char*, double) { return false; }
