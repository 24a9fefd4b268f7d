#pragma once
class SignalObj;

// Load function of the FLAC format.
bool loadFLACFile(SignalObj& signal, const char* path, double maxMs);
