#pragma once
class SignalObj;

// Load function of the MPEG audio format.
bool loadMP3File(SignalObj& signal, const char* path, double maxMs);
