#pragma once
class SignalObj;

// Load function of the Ogg Vorbis format.
bool loadOggFile(SignalObj& signal, const char* path, double maxMs);
