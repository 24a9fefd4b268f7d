#pragma once
#include "audio/SoundFile.h"

class SignalObj;

// The load steps shared by every format: open (and prepare, for readers that
// decode up front), size the signal, fill it, close, crop to maxMs (> 0).
// Returns false only when the reader cannot be opened or prepared.
bool loadSoundFile(SoundFile& reader, SignalObj& signal, const char* path, double maxMs,
                   bool (*prepare)(SoundFile&) = nullptr);
