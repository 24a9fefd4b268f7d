#include "audio/FLACFile.h"

// The FLAC reader is not written yet: no file of this format loads.
bool loadFLACFile(SignalObj&, const char*, double) { return false; }
