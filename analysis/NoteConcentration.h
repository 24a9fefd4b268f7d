#pragma once

class FrameData;
class FrameTracker;

// Step 13: how strongly the song's tracks concentrate on a few neighbouring
// semitones.
struct NoteConcentration {
    double voiceRange = 0.0;  // tracks of 120-700 Hz
    double wideRange = 0.0;   // tracks of 80-1500 Hz
};

// From the tracks (linked or single) whose mean frequency lies in 120-700 Hz,
// histogrammed by semitone: the three neighbouring semitones with the most
// track time, rated by their share of the tracks, how alike the mean track
// durations of any three neighbouring semitones are, how even the three are
// and their mean magnitudes; 0 without three such neighbours. hopMs is the
// spectral hop, songMs the song's duration.
double VoiceRangeConcentration(const FrameTracker& tracker, double hopMs, double songMs);
// From the tracks of 80-1500 Hz: the two semitones with the most track time,
// by their share of the song, mean track duration and mean magnitude; 0
// without tracks.
double WideRangeConcentration(const FrameTracker& tracker, double hopMs, double songMs);

// Tracks the song's 4096-sample Hamming spectra (overlap 0.5) for each range.
NoteConcentration ComputeNoteConcentration(const FrameData& spectrum);
