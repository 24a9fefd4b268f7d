#pragma once
#include "audio/SoundFile.h"

class SignalObj;

// The load steps shared by every format: open (and prepare, for readers that
// decode up front; they get the limit), size the signal, fill it, close, keep
// the first maxMs (> 0). Returns false only when the reader cannot be opened
// or prepared.
//
// Memory follows what the file holds and the limit keeps, not what its header
// claims: a header announcing more than the file delivers gets a signal of
// the header's duration (durationMs) whose buffer ends a little after the
// delivered values; what it leaves out would have been silence, and it is cut
// so that the silence trim finds exactly the same ends.
bool loadSoundFile(SoundFile& reader, SignalObj& signal, const char* path, double maxMs,
                   bool (*prepare)(SoundFile&, double maxMs) = nullptr);
